#include "core/terminal/TerminalParser.h"

#include "core/terminal/TerminalUtf8.h"

#include <algorithm>
#include <bit>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr char32_t kEscape = 0x1B;
constexpr char32_t kBell = 0x07;
constexpr char32_t kReplacement = 0xFFFD;

bool isPrintableAscii(std::uint8_t byte) {
    return byte >= 0x20 && byte < 0x7F;
}

// The end of the run of printable ASCII starting at `bytes`.
const std::uint8_t* printableAsciiEnd(const std::uint8_t* bytes, const std::uint8_t* end) {
#ifdef __SSE2__
    // Sixteen bytes at a time: as signed bytes, printable ASCII is above 0x1F and not 0x7F
    // (bytes from 0x80 on are negative).
    const __m128i space = _mm_set1_epi8(0x1F);
    const __m128i del = _mm_set1_epi8(0x7F);
    while (end - bytes >= 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
        const __m128i printable =
            _mm_andnot_si128(_mm_cmpeq_epi8(block, del), _mm_cmpgt_epi8(block, space));
        const unsigned mask = unsigned(_mm_movemask_epi8(printable));
        if (mask != 0xFFFF) {
            return bytes + std::countr_one(mask);
        }
        bytes += 16;
    }
#endif
    while (bytes < end && isPrintableAscii(*bytes)) {
        ++bytes;
    }
    return bytes;
}

}  // namespace

qsizetype TerminalParser::feed(QByteArrayView data) {
    const auto* begin = reinterpret_cast<const std::uint8_t*>(data.data());
    const auto* bytes = begin;
    const auto* end = bytes + data.size();
    m_paused = false;
    while (bytes < end) {
        // A pause takes effect once something has been read, so every call makes headway
        // (the first scalar of a broken UTF-8 sequence is printed before its byte is read).
        if (m_paused && bytes != begin) [[unlikely]] {
            break;
        }
        if (m_utf8Needed == 0) {
            // Plain text and control sequences are most of the output: the two fast paths
            // below take them a run of bytes at a time instead of scalar by scalar.
            if (m_state == State::Ground) {
                if (isPrintableAscii(*bytes)) {
                    const auto* run = bytes;
                    bytes = printableAsciiEnd(bytes, end);
                    m_handler.printAscii(reinterpret_cast<const char*>(run),
                                         std::size_t(bytes - run));
                    continue;
                }
                if (*bytes == kEscape && end - bytes >= 2 && bytes[1] == '[') {
                    bytes += 2;
                    startControlSequence();
                }
            }
            if (m_state == State::ControlSequence) {
                // Parameter and intermediate characters, up to the length limit. Plain
                // numbers are read on the way; locals keep the compiler from reloading the
                // members after every character stored.
                int length = m_sequenceLength;
                int value = m_parameterValue;
                int count = m_parameterCount;
                bool unusual = m_sequenceUnusual;
                char* sequence = m_sequence.data();
                int* parameters = m_parameters.data();
                while (bytes < end && length < kMaxSequenceLength) {
                    const std::uint8_t byte = *bytes;
                    if (byte >= '0' && byte <= '9') {
                        value = std::min(value * 10 + (byte - '0'), kMaxParameterValue);
                    } else if (byte == ';') {
                        parameters[count++] = value;
                        value = 0;
                    } else if (byte >= 0x20 && byte <= 0x3F) {
                        // A private marker is expected first; anything else needs a closer look.
                        unusual |= length > 0 || byte < '<';
                    } else {
                        break;
                    }
                    sequence[length++] = char(byte);
                    ++bytes;
                }
                m_sequenceLength = length;
                m_parameterValue = value;
                m_parameterCount = count;
                m_sequenceUnusual = unusual;
                if (bytes == end) {
                    break;
                }
                if (*bytes >= 0x40 && *bytes <= 0x7E) {
                    finishControlSequence(char(*bytes++));
                    continue;
                }
            }
            if (m_state == State::Ground && *bytes >= 0x80) {
                const auto* stop = m_handler.printUtf8(bytes, end);
                if (stop != bytes) {
                    bytes = stop;
                    continue;
                }
            }
            const std::uint8_t byte = *bytes++;
            if (byte < 0x80) {
                scalar(byte);
            } else if (byte >= 0xC2 && byte <= 0xDF) {
                startUtf8(byte & 0x1F, 1, 0x80, 0xBF);
            } else if (byte >= 0xE0 && byte <= 0xEF) {
                // Overlong forms and UTF-16 surrogates are invalid from the second byte on.
                startUtf8(byte & 0x0F, 2, byte == 0xE0 ? 0xA0 : 0x80, byte == 0xED ? 0x9F : 0xBF);
            } else if (byte >= 0xF0 && byte <= 0xF4) {
                startUtf8(byte & 0x07, 3, byte == 0xF0 ? 0x90 : 0x80, byte == 0xF4 ? 0x8F : 0xBF);
            } else {
                scalar(kReplacement);
            }
            continue;
        }
        const std::uint8_t byte = *bytes;
        if (byte < m_utf8Lower || byte > m_utf8Upper) {
            // The sequence so far is one invalid subpart; the byte starts afresh.
            invalidUtf8();
            continue;
        }
        ++bytes;
        m_utf8Value = (m_utf8Value << 6) | (byte & 0x3F);
        m_utf8Lower = 0x80;
        m_utf8Upper = 0xBF;
        ++m_utf8Length;
        if (--m_utf8Needed == 0) {
            m_utf8Length = 0;
            scalar(m_utf8Value);
        }
    }
    m_paused = false;
    return bytes - begin;
}

const std::uint8_t* TerminalParserHandler::printUtf8(const std::uint8_t* bytes,
                                                     const std::uint8_t* end) {
    // Non-ASCII text decoded in batches: whole, valid sequences only. Anything else (an
    // invalid byte, a sequence cut by the chunk's end, ASCII) stops the run and is left to
    // the byte-by-byte decoder, which owns every error and boundary case.
    // Short stretches of printable ASCII between them (spaces, the ASCII letters of a word)
    // join the run rather than cost a call of their own; a long one is left to the ASCII
    // fast path.
    constexpr std::ptrdiff_t kLongAscii = 32;
    char32_t run[256];
    std::size_t count = 0;
    while (bytes < end && count < std::size(run)) {
        if (bytes[0] < 0x80) {
            const std::ptrdiff_t room = std::min<std::ptrdiff_t>(
                {end - bytes, kLongAscii, std::ptrdiff_t(std::size(run) - count)});
            std::ptrdiff_t length = 0;
            while (length < room && isPrintableAscii(bytes[length])) {
                run[count + std::size_t(length)] = bytes[length];
                ++length;
            }
            if (length == 0 || length == kLongAscii) {
                break;
            }
            count += std::size_t(length);
            bytes += length;
            continue;
        }
        const TerminalUtf8Scalar decoded = decodeTerminalUtf8(bytes, end);
        if (decoded.length == 0) {
            break;
        }
        run[count++] = decoded.value;
        bytes += decoded.length;
    }
    if (count > 0) {
        print(run, count);
    }
    return bytes;
}

// A lead byte: `needed` continuation bytes follow, the first of them within [lower, upper].
void TerminalParser::startUtf8(char32_t value, int needed, std::uint8_t lower, std::uint8_t upper) {
    m_utf8Value = value;
    m_utf8Needed = needed;
    m_utf8Length = 1;
    m_utf8Lower = lower;
    m_utf8Upper = upper;
}

void TerminalParser::invalidUtf8() {
    m_utf8Needed = 0;
    m_utf8Length = 0;
    m_utf8Lower = 0x80;
    m_utf8Upper = 0xBF;
    scalar(kReplacement);
}

void TerminalParser::feed(QStringView text) {
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = text[i].unicode();
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < size) {
            const char16_t low = text[i + 1].unicode();
            if (low >= 0xDC00 && low <= 0xDFFF) {
                scalar(0x10000 + ((char32_t(unit) - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            scalar(kReplacement);
        } else if (m_state == State::Ground && unit >= 0x20 && unit < 0x7F) {
            const char ascii = char(unit);
            m_handler.printAscii(&ascii, 1);
        } else {
            scalar(unit);
        }
    }
}

void TerminalParser::scalar(char32_t value) {
    switch (m_state) {
        case State::Ground:
            if (value == kEscape) {
                m_state = State::Escape;
            } else if (value < 0x20 || value == 0x7F) {
                m_handler.control(value);
            } else if (value < 0x7F) {
                const char ascii = char(value);
                m_handler.printAscii(&ascii, 1);
            } else {
                m_handler.print(&value, 1);
            }
            return;
        case State::Escape:
            m_state = State::Ground;
            if (value == '[') {
                startControlSequence();
            } else if (value == 'P' || value == ']' || value == '^' || value == '_') {
                m_state = State::String;
                m_inCommand = value == ']';
                m_command.clear();
                m_commandLimit = kMaxCommandLength;
            } else if (value >= 0x20 && value <= 0x2F) {
                // ESC ( ESC ) ESC # ESC % ESC SP …: the next scalar completes the sequence.
                m_escapeIntermediate = value;
                m_state = State::EscapeIntermediate;
            } else if (value != kEscape) {
                m_handler.escape(0, value);
            }
            return;
        case State::EscapeIntermediate:
            m_state = State::Ground;
            m_handler.escape(m_escapeIntermediate, value);
            m_escapeIntermediate = 0;
            return;
        case State::ControlSequence:
            if (value >= 0x40 && value <= 0x7E) {
                finishControlSequence(char(value));
                return;
            }
            if (m_sequenceLength >= kMaxSequenceLength) {
                // Over-long: abandon it; what follows is ordinary output.
                m_state = State::Ground;
                m_sequenceLength = 0;
                return;
            }
            // Only the fast path reads numbers on the way: this sequence is read again at its end.
            m_sequenceUnusual = true;
            m_sequence[std::size_t(m_sequenceLength++)] = value < 0x80 ? char(value) : char(0xFF);
            return;
        case State::String:
            if (value == kEscape) {
                m_state = State::StringEscape;
            } else if (value == kBell) {
                finishString(true);
            } else {
                stringScalar(value);
            }
            return;
        case State::StringEscape:
            if (value == '\\') {
                finishString(false);
            } else {
                m_state = State::String;
            }
            return;
    }
}

void TerminalParser::stringScalar(char32_t value) {
    if (!m_inCommand || m_command.size() >= m_commandLimit) {
        return;
    }
    if (value >= 0x10000) {
        // A pair that would not fit whole is dropped whole.
        if (m_command.size() + 2 <= m_commandLimit) {
            const char32_t scalars[1] = {value};
            m_command += QString::fromUcs4(scalars, 1);
        }
        return;
    }
    m_command += QChar(char16_t(value));
    if (m_command.size() == 3 && QStringView(m_command) == u"52;") {
        m_commandLimit = kMaxClipboardCommandLength;
    } else if (m_command.size() == 2 && QStringView(m_command) == u"8;") {
        m_commandLimit = kMaxHyperlinkCommandLength;
    }
}

void TerminalParser::finishString(bool bellTerminated) {
    m_state = State::Ground;
    if (!m_inCommand) {
        return;
    }
    m_inCommand = false;
    m_handler.operatingSystemCommand(m_command, bellTerminated);
    m_command.clear();
}

void TerminalParser::startControlSequence() {
    m_state = State::ControlSequence;
    m_sequenceLength = 0;
    m_sequenceUnusual = false;
    m_parameterValue = 0;
    m_parameterCount = 0;
}

void TerminalParser::finishControlSequence(char finalCharacter) {
    TerminalControlSequence sequence;
    std::string_view parameters(m_sequence.data(), std::size_t(m_sequenceLength));
    if (!parameters.empty() && parameters.front() >= '<' && parameters.front() <= '?') {
        sequence.marker = parameters.front();
        parameters.remove_prefix(1);
    }
    if (m_sequenceUnusual) {
        sequence.parameterCount = 0;
        for (const char character : parameters) {
            if (character >= 0x20 && character <= 0x2F) {
                sequence.hasIntermediates = true;
            } else if (character == ':') {
                sequence.hasSubparameters = true;
            }
        }
    } else {
        m_parameters[std::size_t(m_parameterCount++)] = m_parameterValue;
        sequence.parameterValues = m_parameters.data();
        sequence.parameterCount = m_parameterCount;
    }
    sequence.parameters = parameters;
    sequence.finalCharacter = finalCharacter;
    m_state = State::Ground;
    m_sequenceLength = 0;
    m_handler.controlSequence(sequence);
}
