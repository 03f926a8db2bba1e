#include "terminal/TerminalParser.h"

namespace {

constexpr char32_t kEscape = 0x1B;
constexpr char32_t kBell = 0x07;
constexpr char32_t kReplacement = 0xFFFD;

bool isPrintableAscii(std::uint8_t byte) {
    return byte >= 0x20 && byte < 0x7F;
}

}  // namespace

void TerminalParser::feed(QByteArrayView data) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
    const auto* end = bytes + data.size();
    while (bytes < end) {
        if (m_utf8Needed == 0) {
            // Plain text is most of the output: hand whole runs of it over at once.
            if (m_state == State::Ground && isPrintableAscii(*bytes)) {
                const auto* run = bytes;
                while (bytes < end && isPrintableAscii(*bytes)) {
                    ++bytes;
                }
                m_handler.printAscii(reinterpret_cast<const char*>(run), std::size_t(bytes - run));
                continue;
            }
            const std::uint8_t byte = *bytes++;
            if (byte < 0x80) {
                scalar(byte);
            } else if (byte >= 0xC2 && byte <= 0xDF) {
                m_utf8Value = byte & 0x1F;
                m_utf8Needed = 1;
                m_utf8Length = 1;
                m_utf8Lower = 0x80;
                m_utf8Upper = 0xBF;
            } else if (byte >= 0xE0 && byte <= 0xEF) {
                m_utf8Value = byte & 0x0F;
                m_utf8Needed = 2;
                m_utf8Length = 1;
                // Overlong forms and UTF-16 surrogates are invalid from the second byte on.
                m_utf8Lower = byte == 0xE0 ? 0xA0 : 0x80;
                m_utf8Upper = byte == 0xED ? 0x9F : 0xBF;
            } else if (byte >= 0xF0 && byte <= 0xF4) {
                m_utf8Value = byte & 0x07;
                m_utf8Needed = 3;
                m_utf8Length = 1;
                m_utf8Lower = byte == 0xF0 ? 0x90 : 0x80;
                m_utf8Upper = byte == 0xF4 ? 0x8F : 0xBF;
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

void TerminalParser::resetState() {
    m_state = State::Ground;
    m_sequenceLength = 0;
    m_escapeIntermediate = 0;
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
                m_handler.print(value);
            }
            return;
        case State::Escape:
            m_state = State::Ground;
            if (value == '[') {
                m_sequenceLength = 0;
                m_state = State::ControlSequence;
            } else if (value == 'P' || value == ']' || value == '^' || value == '_') {
                m_state = State::String;
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
                TerminalControlSequence sequence;
                std::string_view parameters(m_sequence.data(), std::size_t(m_sequenceLength));
                if (!parameters.empty() && parameters.front() >= '<' && parameters.front() <= '?') {
                    sequence.marker = parameters.front();
                    parameters.remove_prefix(1);
                }
                for (const char character : parameters) {
                    if (character >= 0x20 && character <= 0x2F) {
                        sequence.hasIntermediates = true;
                        break;
                    }
                }
                sequence.parameters = parameters;
                sequence.finalCharacter = char(value);
                m_state = State::Ground;
                m_sequenceLength = 0;
                m_handler.controlSequence(sequence);
                return;
            }
            if (m_sequenceLength >= kMaxSequenceLength) {
                // Over-long: abandon it; what follows is ordinary output.
                m_state = State::Ground;
                m_sequenceLength = 0;
                return;
            }
            m_sequence[std::size_t(m_sequenceLength++)] = value < 0x80 ? char(value) : char(0xFF);
            return;
        case State::String:
            if (value == kEscape) {
                m_state = State::StringEscape;
            } else if (value == kBell) {
                m_state = State::Ground;
            }
            return;
        case State::StringEscape:
            m_state = value == '\\' ? State::Ground : State::String;
            return;
    }
}
