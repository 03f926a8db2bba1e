// The interpreter half of TerminalScreen: printing, controls, escape and control sequences.
#include "core/terminal/TerminalScreen.h"

#include "core/terminal/TerminalKeys.h"
#include "core/terminal/TerminalScreenDetail.h"
#include "core/terminal/TerminalUtf8.h"
#include "core/terminal/TerminalWidth.h"

#include <algorithm>
#include <array>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

using terminal_detail::kBlankCell;

namespace {

#ifdef __SSE2__
// Writes the first count / 4 * 4 of `count` cells of ASCII `text` in one style (`flags`
// without a code point) four cells (three 16-byte stores) at a time: the style words are
// laid out once, and each four code points are spread into their lanes. Returns how many
// it wrote. Out of line: laying the words out costs about as much as writing a few cells
// one by one, so short runs (a coloured word) do not come here.
[[gnu::noinline]] int writeAsciiQuads(PackedCell* cells, const char* text, int count,
                                      std::uint32_t flags, std::uint32_t foreground,
                                      std::uint32_t background) {
    static_assert(sizeof(PackedCell) == 12);
    const auto word = [](std::uint32_t value) { return int(value); };
    const __m128i first =
        _mm_setr_epi32(word(flags), word(foreground), word(background), word(flags));
    const __m128i second =
        _mm_setr_epi32(word(foreground), word(background), word(flags), word(foreground));
    const __m128i third =
        _mm_setr_epi32(word(background), word(flags), word(foreground), word(background));
    const __m128i firstCodes = _mm_setr_epi32(-1, 0, 0, -1);
    const __m128i secondCodes = _mm_setr_epi32(0, 0, -1, 0);
    const __m128i thirdCodes = _mm_setr_epi32(0, -1, 0, 0);
    const __m128i zero = _mm_setzero_si128();
    auto* out = reinterpret_cast<unsigned char*>(cells);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        std::int32_t four;
        std::memcpy(&four, text + i, sizeof four);
        __m128i codes = _mm_unpacklo_epi8(_mm_cvtsi32_si128(four), zero);
        codes = _mm_unpacklo_epi16(codes, zero);
        const __m128i a =
            _mm_and_si128(_mm_shuffle_epi32(codes, _MM_SHUFFLE(1, 0, 0, 0)), firstCodes);
        const __m128i b =
            _mm_and_si128(_mm_shuffle_epi32(codes, _MM_SHUFFLE(0, 2, 0, 0)), secondCodes);
        const __m128i c =
            _mm_and_si128(_mm_shuffle_epi32(codes, _MM_SHUFFLE(0, 0, 3, 0)), thirdCodes);
        unsigned char* at = out + 12 * std::size_t(i);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm_or_si128(first, a));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 16), _mm_or_si128(second, b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 32), _mm_or_si128(third, c));
    }
    return i;
}
#endif

constexpr int kMaxParameterValue = TerminalParser::kMaxParameterValue;
// 512 parameter characters hold at most 513 fields.
constexpr int kMaxParameters = TerminalParser::kMaxSequenceLength + 1;

// The 16-colour palette, 0xRRGGBB.
constexpr std::array<std::uint32_t, 16> kPalette = {
    0x182538, 0xF4808A, 0x83DFC0, 0xF6D28B, 0x7AAAF7, 0xC5A0EF, 0x62DCDD, 0xD7E2EF,
    0x6B819A, 0xFFA0A8, 0xA2EECF, 0xFFE7B0, 0xA1C1FF, 0xDABEFF, 0x9AEFF0, 0xFFFFFF,
};

// Colour word (see PackedCell) of 256-colour index n; larger numbers give near-white greys.
constexpr std::uint32_t computeIndexedColorWord(int n) {
    std::uint32_t rgb = 0;
    if (n < 16) {
        rgb = kPalette[std::size_t(std::max(n, 0))];
    } else if (n < 232) {
        constexpr std::array<std::uint32_t, 6> levels = {0, 95, 135, 175, 215, 255};
        const int i = n - 16;
        rgb = (levels[std::size_t(i / 36)] << 16) | (levels[std::size_t(i / 6 % 6)] << 8) |
              levels[std::size_t(i % 6)];
    } else {
        const std::uint32_t grey = std::uint32_t(std::min((n - 232) * 10 + 8, 255));
        rgb = (grey << 16) | (grey << 8) | grey;
    }
    return PackedCell::kColorPresent | rgb;
}

constexpr auto kIndexedColorWords = [] {
    std::array<std::uint32_t, 256> words{};
    for (int n = 0; n < 256; ++n) {
        words[std::size_t(n)] = computeIndexedColorWord(n);
    }
    return words;
}();

std::uint32_t indexedColorWord(int n) {
    return n >= 0 && n < 256 ? kIndexedColorWords[std::size_t(n)] : computeIndexedColorWord(n);
}

// Replaces the colour bits of a colour word, keeping what is stored above them.
void setColor(std::uint32_t& word, std::uint32_t colorWord) {
    word = (word & ~PackedCell::kColorMask) | colorWord;
}

void setUnderline(PackedCell& style, TerminalUnderline underline) {
    style.foregroundWord = (style.foregroundWord & ~PackedCell::kUnderlineMask) |
                           (std::uint32_t(underline) << PackedCell::kUnderlineShift);
}

std::uint32_t rgbColorWord(int red, int green, int blue) {
    auto component = [](int value) { return std::uint32_t(std::clamp(value, 0, 255)); };
    return PackedCell::kColorPresent | (component(red) << 16) | (component(green) << 8) |
           component(blue);
}

// Splits parameter characters at ";" (empty fields kept). A field made only of digits is
// its value capped at 1,000,000; an empty field or one with any other character is 0.
int parseParameters(std::string_view text, int* out, int capacity) {
    int count = 0;
    int value = 0;
    bool valid = true;
    for (const char character : text) {
        if (character == ';') {
            if (count < capacity) {
                out[count++] = valid ? value : 0;
            }
            value = 0;
            valid = true;
        } else if (character >= '0' && character <= '9') {
            value = value >= kMaxParameterValue / 10
                        ? kMaxParameterValue
                        : std::min(value * 10 + (character - '0'), kMaxParameterValue);
        } else {
            valid = false;
        }
    }
    if (count < capacity) {
        out[count++] = valid ? value : 0;
    }
    return count;
}

// DEC Special Graphics: the characters 0x5F-0x7E of G0 after ESC ( 0.
constexpr std::array<char16_t, 32> kLineDrawing = {
    0x00A0, 0x25C6, 0x2592, 0x2409, 0x240C, 0x240D, 0x240A, 0x00B0, 0x00B1, 0x2424, 0x240B,
    0x2518, 0x2510, 0x250C, 0x2514, 0x253C, 0x23BA, 0x23BB, 0x2500, 0x23BC, 0x23BD, 0x251C,
    0x2524, 0x2534, 0x252C, 0x2502, 0x2264, 0x2265, 0x03C0, 0x2260, 0x00A3, 0x00B7,
};

}  // namespace

std::uint32_t TerminalScreen::paletteColor(int index) {
    return indexedColorWord(std::clamp(index, 0, 255)) & 0xFFFFFF;
}

// ---- Printing --------------------------------------------------------------------------------

void TerminalScreen::breakWideCharacterAt(Line& line, int column) {
    if (!line.hasWide) {
        return;
    }
    PackedCell* cells = line.cells.data();
    if (cells[column].continuation()) {
        if (column > 0 && !cells[column - 1].continuation()) {
            cells[column - 1] = kBlankCell;
        }
    } else if (column + 1 < m_columns && cells[column + 1].continuation()) {
        cells[column + 1] = kBlankCell;
    }
}

void TerminalScreen::printAscii(const char* text, std::size_t length) {
    if (m_pendingRepeats != 0) [[unlikely]] {
        const bool repeats = !m_lineDrawing && m_pendingRepeats < kPendingRepeatLimit &&
                             std::all_of(text, text + length, [this](char character) {
                                 return static_cast<unsigned char>(character) == m_lastGraphic;
                             });
        if (repeats) {
            m_pendingRepeats += qint64(length);
            return;
        }
        applyPendingRepeats();
    }
    spend(qint64(length));
    if (m_lineDrawing || m_insertMode || !m_autowrap) [[unlikely]] {
        // Cell by cell: line drawing, insert mode and no wrapping all change each write.
        for (std::size_t i = 0; i < length; ++i) {
            const auto character = static_cast<unsigned char>(text[i]);
            putCell(m_lineDrawing && character >= 0x5F ? kLineDrawing[character - 0x5F] : character,
                    false);
        }
        return;
    }
    const std::uint32_t flags = m_style.codeAndFlags & ~PackedCell::kCodeMask;
    const std::uint32_t foreground = m_style.foregroundWord;
    const std::uint32_t background = m_style.backgroundWord;
    while (length > 0) {
        if (m_pendingWrap) {
            wrapToNextLine();
        }
        Line& line = lineAt(m_row);
        const int count = int(std::min<std::size_t>(std::size_t(m_columns - m_column), length));
        if (line.hasWide) {
            breakWideCharacterAt(line, m_column);
            breakWideCharacterAt(line, m_column + count - 1);
        }
        PackedCell* cell = line.cells.data() + m_column;
        int from = 0;
#ifdef __SSE2__
        if (count >= 12) [[unlikely]] {
            from = writeAsciiQuads(cell, text, count, flags, foreground, background);
        }
#endif
        for (int i = from; i < count; ++i) {
            cell[i].codeAndFlags = static_cast<unsigned char>(text[i]) | flags;
            cell[i].foregroundWord = foreground;
            cell[i].backgroundWord = background;
        }
        if (m_link != TerminalLinkTable::kNone) [[unlikely]] {
            markLink(line, m_column, m_column + count);
        }
        m_lastGraphic = static_cast<unsigned char>(text[count - 1]);
        line.dirty = std::max(line.dirty, m_column + count);
        text += count;
        length -= std::size_t(count);
        m_column += count;
        if (m_column >= m_columns) {
            m_column = m_columns - 1;
            m_pendingWrap = true;
        }
    }
}

void TerminalScreen::print(const char32_t* scalars, std::size_t count) {
    if (m_lineDrawing) [[unlikely]] {
        // ASCII in the run is drawn as line drawing characters: printAscii() takes it.
        while (count > 0) {
            std::size_t length = 0;
            if (scalars[0] < 0x80) {
                const char ascii = char(scalars[0]);
                printAscii(&ascii, 1);
                length = 1;
            } else {
                while (length < count && scalars[length] >= 0x80) {
                    ++length;
                }
                printScalars(scalars, length);
            }
            scalars += length;
            count -= length;
        }
        return;
    }
    printScalars(scalars, count);
}

// A segment of cells written straight into the cursor's line: it starts after any pending
// wrap, cutting a double-width character its first cell would split.
inline TerminalScreen::Line& TerminalScreen::beginSegment() {
    if (m_pendingWrap) {
        wrapToNextLine();
    }
    Line& line = lineAt(m_row);
    if (line.hasWide) {
        breakWideCharacterAt(line, m_column);
    }
    return line;
}

// Ends a segment written from start up to column: the right half of a double-width character
// whose left half was written over is cleared, and the cursor follows the segment.
inline void TerminalScreen::endSegment(Line& line, int start, int column, bool wide,
                                       char32_t last) {
    if (column < m_columns && line.hasWide && line.cells[std::size_t(column)].continuation()) {
        line.cells[std::size_t(column)] = kBlankCell;
    }
    line.hasWide = line.hasWide || wide;
    line.dirty = std::max(line.dirty, column);
    if (m_link != TerminalLinkTable::kNone) [[unlikely]] {
        markLink(line, start, column);
    }
    m_lastGraphic = last;
    if (column >= m_columns) {
        m_column = m_columns - 1;
        m_pendingWrap = true;
    } else {
        m_column = column;
    }
}

void TerminalScreen::printScalars(const char32_t* scalars, std::size_t count) {
    if (m_pendingRepeats != 0) [[unlikely]] {
        const bool repeats = m_pendingRepeats < kPendingRepeatLimit &&
                             std::all_of(scalars, scalars + count, [this](char32_t scalar) {
                                 return scalar == m_lastGraphic;
                             });
        if (repeats) {
            m_pendingRepeats += qint64(count);
            return;
        }
        applyPendingRepeats();
    }
    spend(qint64(count));
    if (m_insertMode || !m_autowrap) [[unlikely]] {
        for (std::size_t i = 0; i < count; ++i) {
            put(scalars[i]);
        }
        return;
    }
    // A line segment at a time, as printAscii() does: the characters that fit on the
    // cursor's line are written straight into its cells, and only the double-width
    // characters the segment's two ends cut into are repaired. Combining marks join the
    // segment's characters where they are; a mark before any of them and a double-width
    // character that does not fit in the last column go through put().
    const std::uint32_t flags = m_style.codeAndFlags & ~PackedCell::kCodeMask;
    const std::uint32_t foreground = m_style.foregroundWord;
    const std::uint32_t background = m_style.backgroundWord;
    // A local copy: the compiler cannot tell that the cells written are not m_columns.
    const int columns = m_columns;
    std::size_t i = 0;
    while (i < count) {
        const TerminalCellWidth first =
            scalars[i] < 0x300 ? TerminalCellWidth::Single : terminalCellWidth(scalars[i]);
        if (first == TerminalCellWidth::Zero ||
            (first == TerminalCellWidth::Double && m_column + 1 >= m_columns)) {
            put(scalars[i++]);
            continue;
        }
        Line& line = beginSegment();
        PackedCell* cells = line.cells.data();
        const int start = m_column;
        int column = start;
        bool wide = false;
        char32_t last = 0;
        for (; i < count && column < columns; ++i) {
            const char32_t scalar = scalars[i];
            // Below U+0300 (no combining marks yet) every character is narrow.
            const TerminalCellWidth width =
                scalar < 0x300 ? TerminalCellWidth::Single : terminalCellWidth(scalar);
            if (width == TerminalCellWidth::Single) [[likely]] {
                cells[column++] = {scalar | flags, foreground, background};
            } else if (width == TerminalCellWidth::Double && column + 1 < columns) {
                cells[column] = {scalar | flags, foreground, background};
                cells[column + 1] = {PackedCell::kContinuation | flags, foreground, background};
                column += 2;
                wide = true;
            } else if (width == TerminalCellWidth::Zero && column > start) {
                // A mark on the character this segment wrote last: the segment goes on.
                m_column = column;
                addCombining(scalar);
                continue;
            } else {
                break;
            }
            last = scalar;
        }
        if (column > start) {
            endSegment(line, start, column, wide, last);
        }
    }
}

const std::uint8_t* TerminalScreen::printUtf8(const std::uint8_t* bytes, const std::uint8_t* end) {
    if (m_lineDrawing || m_insertMode || !m_autowrap || m_pendingRepeats != 0) [[unlikely]] {
        return TerminalParserHandler::printUtf8(bytes, end);
    }
    // printScalars() with each scalar decoded where its cells are written. At most about
    // as much per call as the decoding default takes, so a pause comes as soon.
    constexpr std::ptrdiff_t kMaxBytes = 1024;
    const std::uint8_t* limit = end - bytes > kMaxBytes ? bytes + kMaxBytes : end;
    const std::uint32_t flags = m_style.codeAndFlags & ~PackedCell::kCodeMask;
    const std::uint32_t foreground = m_style.foregroundWord;
    const std::uint32_t background = m_style.backgroundWord;
    // A local copy: the compiler cannot tell that the cells written are not m_columns.
    const int columns = m_columns;
    qint64 printed = 0;
    while (bytes < limit) {
        // The segment's first character: one that no segment can start with (a mark, a
        // double-width character with no room for it) goes through put().
        TerminalUtf8Scalar first{*bytes, 1};
        if (*bytes >= 0x80) {
            first = decodeTerminalUtf8(bytes, limit);
            if (first.length == 0) {
                break;
            }
        } else if (*bytes < 0x20 || *bytes == 0x7F) {
            break;
        }
        const TerminalCellWidth firstWidth = terminalCellWidth(first.value);
        if (firstWidth == TerminalCellWidth::Zero ||
            (firstWidth == TerminalCellWidth::Double && m_column + 1 >= m_columns)) {
            put(first.value);
            bytes += first.length;
            ++printed;
            continue;
        }
        Line& line = beginSegment();
        PackedCell* const cells = line.cells.data();
        const int start = m_column;
        // Cells are written through a pointer: fewer registers than a column and its cells.
        PackedCell* out = cells + start;
        PackedCell* const lineEnd = cells + columns;
        bool wide = false;
        // The characters that fit on the line, the first one read again; anything that
        // ends the segment is left for the loop above to look at.
        do {
            const std::uint8_t lead = *bytes;
            if (lead < 0x80) {
                if (lead < 0x20 || lead == 0x7F) {
                    break;
                }
                *out++ = {lead | flags, foreground, background};
                ++bytes;
            } else {
                const TerminalUtf8Scalar decoded = decodeTerminalUtf8(bytes, limit);
                if (decoded.length == 0) {
                    break;
                }
                const char32_t scalar = decoded.value;
                const TerminalCellWidth width = terminalCellWidth(scalar);
                if (width == TerminalCellWidth::Single) [[likely]] {
                    *out++ = {scalar | flags, foreground, background};
                } else if (width == TerminalCellWidth::Double && out + 1 < lineEnd) {
                    out[0] = {scalar | flags, foreground, background};
                    out[1] = {PackedCell::kContinuation | flags, foreground, background};
                    out += 2;
                    wide = true;
                } else if (width == TerminalCellWidth::Zero && out > cells + start) {
                    // A mark on the character this segment wrote last: the segment goes on.
                    m_column = int(out - cells);
                    addCombining(scalar);
                } else {
                    break;
                }
                bytes += decoded.length;
            }
            ++printed;
        } while (out < lineEnd && bytes < limit);
        // The first character is always written, so the segment is never empty; the last
        // character written is the last cell's, or the one before for a right half.
        const PackedCell& last = out[-1].continuation() ? out[-2] : out[-1];
        endSegment(line, start, int(out - cells), wide, last.codePoint());
    }
    spend(printed);
    return bytes;
}

void TerminalScreen::put(char32_t scalar) {
    switch (terminalCellWidth(scalar)) {
        case TerminalCellWidth::Zero:
            addCombining(scalar);
            return;
        case TerminalCellWidth::Single:
            putCell(scalar, false);
            return;
        case TerminalCellWidth::Double:
            putCell(scalar, true);
            return;
    }
}

void TerminalScreen::putCell(char32_t scalar, bool doubleWidth) {
    if (m_pendingWrap || (doubleWidth && m_column == m_columns - 1)) {
        if (m_autowrap) [[likely]] {
            wrapToNextLine();
        } else {
            // No wrapping: the character takes the last cells of the line.
            m_column = std::max(m_columns - (doubleWidth ? 2 : 1), 0);
            m_pendingWrap = false;
        }
    }
    if (m_insertMode) [[unlikely]] {
        insertForPrint(doubleWidth ? 2 : 1);
    }
    Line& line = lineAt(m_row);
    const std::uint32_t flags = m_style.codeAndFlags & ~PackedCell::kCodeMask;
    breakWideCharacterAt(line, m_column);
    line.cells[std::size_t(m_column)] = {scalar | flags, m_style.foregroundWord,
                                         m_style.backgroundWord};
    line.dirty = std::max(line.dirty, std::min(m_column + (doubleWidth ? 2 : 1), m_columns));
    if (doubleWidth && m_column + 1 < m_columns) {
        line.hasWide = true;
        breakWideCharacterAt(line, m_column + 1);
        line.cells[std::size_t(m_column + 1)] = {PackedCell::kContinuation | flags,
                                                 m_style.foregroundWord, m_style.backgroundWord};
    }
    if (m_link != TerminalLinkTable::kNone) [[unlikely]] {
        markLink(line, m_column, std::min(m_column + (doubleWidth ? 2 : 1), m_columns));
    }
    m_lastGraphic = scalar;
    m_column += doubleWidth ? 2 : 1;
    if (m_column >= m_columns) {
        m_column = m_columns - 1;
        m_pendingWrap = m_autowrap;
    }
}

void TerminalScreen::insertForPrint(int width) {
    Line& line = lineAt(m_row);
    PackedCell* cells = line.cells.data();
    if (line.hasWide) {
        // A double-width character the cursor splits goes; so does one whose right half
        // is pushed past the margin.
        if (cells[m_column].continuation()) {
            breakWideCharacterAt(line, m_column);
            cells[m_column] = kBlankCell;
        }
        const int lost = m_columns - width;
        if (lost > m_column && cells[lost].continuation()) {
            cells[lost - 1] = kBlankCell;
        }
    }
    insertCharacters(width);
}

void TerminalScreen::writeRepeatsInMode(int count) {
    const bool doubleWidth = terminalCellWidth(m_lastGraphic) == TerminalCellWidth::Double;
    const int width = doubleWidth ? 2 : 1;
    while (count > 0) {
        if (m_pendingWrap) {
            wrapToNextLine();
        }
        const int room = (m_columns - m_column) / width;
        if (room == 0) {
            // A double-width character in the last column: putCell() wraps it, or without
            // wrapping moves it back a cell.
            spend(1);
            putCell(m_lastGraphic, doubleWidth);
            --count;
        } else if (m_column == 0 && m_autowrap && room * width == m_columns && count > room) {
            // Whole lines from the left edge (insert mode, as auto-wrap is on): inserting a
            // line's worth pushes all of the line out, which is what writing over it does, so
            // the plain writer takes them, skipping lines that could never show. The last line
            // is left to the runs.
            const int whole = (count - 1) / room * room;
            writeRepeats(whole);
            count -= whole;
        } else {
            const int run = std::min(count, room);
            writeRepeatRun(run, doubleWidth);
            count -= run;
        }
        if (!m_autowrap && m_column + width >= m_columns) {
            // Without wrapping every further character lands on the same last cells: the
            // last of them is all that shows.
            count = std::min(count, 1);
        }
    }
}

void TerminalScreen::writeRepeatRun(int count, bool doubleWidth) {
    const int cells = count * (doubleWidth ? 2 : 1);
    spend(cells);
    Line& line = lineAt(m_row);
    if (m_insertMode) {
        // One shift for the whole run, rather than one per character.
        insertForPrint(cells);
    } else if (line.hasWide) {
        breakWideCharacterAt(line, m_column);
        breakWideCharacterAt(line, m_column + cells - 1);
    }
    const std::uint32_t flags = m_style.codeAndFlags & ~PackedCell::kCodeMask;
    const PackedCell head{m_lastGraphic | flags, m_style.foregroundWord, m_style.backgroundWord};
    const PackedCell tail{PackedCell::kContinuation | flags, m_style.foregroundWord,
                          m_style.backgroundWord};
    PackedCell* cell = line.cells.data() + m_column;
    for (int i = 0; i < cells; ++i) {
        cell[i] = doubleWidth && i % 2 == 1 ? tail : head;
    }
    if (m_link != TerminalLinkTable::kNone) [[unlikely]] {
        markLink(line, m_column, m_column + cells);
    }
    line.hasWide = line.hasWide || doubleWidth;
    line.dirty = std::max(line.dirty, m_column + cells);
    m_column += cells;
    if (m_column >= m_columns) {
        m_column = m_columns - 1;
        m_pendingWrap = m_autowrap;
    }
}

void TerminalScreen::addCombining(char32_t scalar) {
    // The mark belongs to the character written last: left of the cursor, or under it while
    // a wrap is pending in the last column; a double-width character owns its right half.
    int column = m_pendingWrap ? m_column : m_column - 1;
    if (column < 0) {
        return;
    }
    Line& line = lineAt(m_row);
    if (line.cells[std::size_t(column)].continuation() && column > 0) {
        --column;
    }
    PackedCell& cell = line.cells[std::size_t(column)];
    auto entry =
        std::find_if(line.marks.begin(), line.marks.end(),
                     [column](const CombiningMarks& marks) { return marks.column == column; });
    if (entry == line.marks.end()) {
        if (line.marks.capacity() == 0) {
            line.marks.reserve(4);  // a line with marks mostly has a few
        }
        entry = line.marks.insert(line.marks.end(), CombiningMarks{});
        entry->column = column;
    } else if (!cell.hasCombining()) {
        // Left over from a character since overwritten.
        entry->length = 0;
        entry->scalars = 0;
    }
    cell.codeAndFlags |= PackedCell::kHasCombining;
    line.dirty = std::max(line.dirty, column + 1);
    // The cap keeps hostile output from growing a cell without bound.
    if (entry->scalars == kMaxCombiningPerCell) {
        return;
    }
    ++entry->scalars;
    if (scalar < 0x10000) {
        entry->units[entry->length++] = char16_t(scalar);
    } else {
        const char32_t value = scalar - 0x10000;
        entry->units[entry->length++] = char16_t(0xD800 + (value >> 10));
        entry->units[entry->length++] = char16_t(0xDC00 + (value & 0x3FF));
    }
}

void TerminalScreen::repeatLastCharacter(int count) {
    if (m_lastGraphic == 0) {
        return;
    }
    if (m_insertMode || !m_autowrap) [[unlikely]] {
        // Never more than one screenful per sequence, as below.
        writeRepeatsInMode(std::min(count, m_rows * m_columns));
        return;
    }
    if (m_pendingRepeats >= kPendingRepeatLimit) {
        applyPendingRepeats();
    }
    // Never more than one screenful per sequence.
    m_pendingRepeats += std::min<qint64>(count, qint64(m_rows) * m_columns);
}

void TerminalScreen::writeRepeats(qint64 count) {
    const char32_t scalar = m_lastGraphic;
    const bool doubleWidth = terminalCellWidth(scalar) == TerminalCellWidth::Double;
    const int width = doubleWidth ? 2 : 1;
    // Characters on a line that starts at the left edge.
    const int perLine = doubleWidth ? std::max(m_columns / 2, 1) : m_columns;
    // The cells a segment copies: the character, and its right half for a double-width one.
    const std::uint32_t flags = m_style.codeAndFlags & ~PackedCell::kCodeMask;
    const PackedCell head{scalar | flags, m_style.foregroundWord, m_style.backgroundWord};
    const PackedCell tail{PackedCell::kContinuation | flags, m_style.foregroundWord,
                          m_style.backgroundWord};
    m_repeatRow.resize(std::size_t(std::min<qint64>(m_columns, count * width)));
    for (std::size_t column = 0; column < m_repeatRow.size(); ++column) {
        m_repeatRow[column] = doubleWidth && column % 2 == 1 ? tail : head;
    }

    // The rest of the cursor's line, unless the first character already wraps.
    if (!m_pendingWrap && !(doubleWidth && m_column == m_columns - 1)) {
        const int room = doubleWidth ? (m_columns - m_column) / 2 : m_columns - m_column;
        const int first = int(std::min<qint64>(count, room));
        writeRepeatSegment(first, doubleWidth);
        count -= first;
    }
    if (count == 0) {
        return;
    }
    // Every further line starts with a wrap and holds perLine characters, the last one the
    // remainder.
    qint64 lines = (count + perLine - 1) / perLine;
    const int last = int(count - (lines - 1) * perLine);
    auto writeLine = [&] {
        wrapToNextLine();
        writeRepeatSegment(lines == 1 ? last : perLine, doubleWidth);
        --lines;
    };
    // Down to the bottom of the scroll region, or of the screen below it, without scrolling.
    while (lines > 0 && m_row != m_scrollBottom && m_row < m_rows - 1) {
        writeLine();
    }
    if (lines == 0) {
        return;
    }
    if (m_row != m_scrollBottom) {
        // On the last line, below the scroll region: each line rewrites it from the left
        // edge, so a full line and then the last one leave what all of them would.
        lines = std::min<qint64>(lines, 2);
    } else {
        // Each line scrolls the region up. A line that leaves the region and then the
        // scrollback (or, with no scrollback, just the region) before the end never shows,
        // and neither does a line it pushed out: only the lines that can show are written.
        const bool toHistory = !m_alternate && m_scrollTop == 0;
        const qint64 shown =
            qint64(m_scrollBottom - m_scrollTop + 1) + (toHistory ? m_scrollbackLimit : 0);
        lines = std::min(lines, shown);
    }
    while (lines > 0) {
        writeLine();
    }
}

void TerminalScreen::writeRepeatSegment(int count, bool doubleWidth) {
    Line& line = lineAt(m_row);
    const int start = m_column;
    const int width = doubleWidth ? 2 : 1;
    const int cells = std::min(count * width, m_columns - start);
    spend(cells);
    if (!line.hasWide) {
        // No double-width character on the line, so no write splits one: a plain copy.
        std::copy_n(m_repeatRow.begin(), cells, line.cells.begin() + start);
        line.hasWide = doubleWidth && start + 1 < m_columns;
    } else {
        // As putCell() does, cell by cell: each write may blank half of a character it splits.
        const PackedCell head = m_repeatRow[0];
        int column = start;
        for (int i = 0; i < count; ++i) {
            breakWideCharacterAt(line, column);
            line.cells[std::size_t(column)] = head;
            if (doubleWidth && column + 1 < m_columns) {
                breakWideCharacterAt(line, column + 1);
                line.cells[std::size_t(column + 1)] = m_repeatRow[1];
            }
            column += width;
        }
    }
    if (m_link != TerminalLinkTable::kNone) [[unlikely]] {
        markLink(line, start, start + cells);
    }
    line.dirty = std::max(line.dirty, start + cells);
    m_column = start + count * width;
    if (m_column >= m_columns) {
        m_column = m_columns - 1;
        m_pendingWrap = true;
    }
}

// ---- Controls and escapes ------------------------------------------------------------------

void TerminalScreen::wrapToNextLine() {
    Line& line = lineAt(m_row);
    if (m_pendingWrap) {
        line.wrap = Wrap::Full;
    } else {
        // A double-width character is wrapping early from the last column, which is left
        // blank: padding, not text.
        line.wrap = Wrap::BeforeWide;
        breakWideCharacterAt(line, m_column);
        line.cells[std::size_t(m_column)] = kBlankCell;
    }
    m_column = 0;
    m_pendingWrap = false;
    if (m_row == m_scrollBottom) {
        scrollUp();
    } else {
        m_row = std::min(m_row + 1, m_rows - 1);
    }
}

void TerminalScreen::lineFeed() {
    lineAt(m_row).wrap = Wrap::None;
    m_pendingWrap = false;
    if (m_row == m_scrollBottom) {
        scrollUp();
    } else {
        m_row = std::min(m_row + 1, m_rows - 1);
    }
}

void TerminalScreen::reverseIndex() {
    if (m_row != m_scrollTop) {
        m_row = std::max(m_row - 1, 0);
    } else {
        scrollDown(1);
    }
}

void TerminalScreen::control(char32_t character) {
    applyPendingRepeats();
    spend(1);
    switch (character) {
        case 0x08:  // BS
            m_column = std::max(m_column - 1, 0);
            m_pendingWrap = false;
            break;
        case 0x09:  // HT
            tabForward(1);
            break;
        case 0x0A:  // LF
        case 0x0B:  // VT
        case 0x0C:  // FF
            lineFeed();
            break;
        case 0x0D:  // CR
            m_column = 0;
            m_pendingWrap = false;
            break;
        case 0x07:  // BEL
            emitEvent(TerminalScreenEvent::Kind::Bell);
            break;
        default:  // the other controls are ignored
            break;
    }
}

void TerminalScreen::escape(char32_t intermediate, char32_t finalCharacter) {
    applyPendingRepeats();
    spend(1);
    if (intermediate == '(') {
        // SCS — designate G0: "0" is DEC Special Graphics, anything else plain ASCII.
        m_lineDrawing = finalCharacter == '0';
        return;
    }
    if (intermediate != 0) {
        return;  // G1-G3 designations, DECALN, character-set announcements: not supported
    }
    switch (finalCharacter) {
        case '7':  // DECSC
            saveCursor();
            break;
        case '8':  // DECRC
            restoreCursor();
            break;
        case 'H':  // HTS
            m_tabStops[std::size_t(m_column)] = true;
            break;
        case 'D':  // IND
            lineFeed();
            break;
        case 'E':  // NEL
            m_column = 0;
            lineFeed();
            break;
        case 'M':  // RI
            reverseIndex();
            break;
        case 'c':  // RIS
            fullReset();
            break;
        case '=':  // DECKPAM
            m_applicationKeypad = true;
            break;
        case '>':  // DECKPNM
            m_applicationKeypad = false;
            break;
        default:
            break;
    }
}

void TerminalScreen::fullReset() {
    if (m_alternate) {
        // The main screen behind the alternate one goes, and its links with it.
        for (Line& line : m_alternate->grid.lines) {
            if (line.links >= 0) [[unlikely]] {
                releaseLinks(line);
            }
        }
    }
    m_alternate.reset();
    reset();
    m_savedCursor = {};
    m_cursorVisible = true;
    m_bracketedPaste = false;
    m_applicationCursor = false;
    m_applicationKeypad = false;
    for (std::vector<std::uint8_t>& stack : m_keyboardFlags) {
        stack.clear();
    }
    m_lineDrawing = false;
    m_lastGraphic = 0;
    m_savedState = {};
    m_autowrap = true;
    m_insertMode = false;
    m_originMode = false;
    resetTabStops(0);
    m_cursorShape = TerminalCursorShape::Block;
    m_cursorBlinking = false;
    m_updateOpen = false;
    m_focusEvents = false;
    m_mouseTracking = TerminalMouseTracking::None;
    m_mouseEncoding = TerminalMouseEncoding::Default;
    m_alternateScroll = true;
    closeLink();
}

// ---- Control sequences ---------------------------------------------------------------------

void TerminalScreen::controlSequence(const TerminalControlSequence& sequence) {
    if (sequence.finalCharacter != 'b') {
        applyPendingRepeats();
    }
    spend(1);
    if (sequence.hasIntermediates) {
        intermediateSequence(sequence);
        return;
    }
    const char finalCharacter = sequence.finalCharacter;
    if (finalCharacter == 'm' && sequence.marker == 0 && sequence.hasSubparameters) {
        selectGraphicRenditionWithSubparameters(sequence.parameters);
        return;
    }
    std::array<int, kMaxParameters> parsed;
    const int* parameters = sequence.parameterValues;
    int count = sequence.parameterCount;
    if (count == 0) {
        count = parseParameters(sequence.parameters, parsed.data(), kMaxParameters);
        parameters = parsed.data();
    }
    const int first = parameters[0];
    const int n = std::max(first, 1);

    if (sequence.marker == '?') {
        switch (finalCharacter) {
            case 'h':  // DECSET
                setMode(parameters, count, true);
                break;
            case 'l':  // DECRST
                setMode(parameters, count, false);
                break;
            case 'n':  // DSR, private form: answered like the plain report
                break;
            case 'u':  // kitty keyboard flags query
                keyboardFlagsSequence('?', parameters, count);
                return;
            default:
                return;  // XTQMODKEYS, …: ignored
        }
        if (finalCharacter != 'n') {
            return;
        }
    } else if (sequence.marker == '>') {
        if (finalCharacter == 'c') {  // secondary DA, answered like the primary one
            respond(QStringLiteral("\x1b[?1;2c"));
        } else if (finalCharacter == 'q' && first == 0 && count == 1) {  // XTVERSION
            reportVersion();
        } else if (finalCharacter == 'u') {  // kitty keyboard flags push
            keyboardFlagsSequence('>', parameters, count);
        }
        return;  // modifyOtherKeys …: ignored
    } else if (sequence.marker != 0) {
        if (finalCharacter == 'u') {  // kitty keyboard flags pop ("<") and set ("=")
            keyboardFlagsSequence(sequence.marker, parameters, count);
        }
        return;
    }

    switch (finalCharacter) {
        case 'A':  // CUU
            m_row = keptInRegion(m_row - n);
            clamp();
            break;
        case 'B':  // CUD
        case 'e':  // VPR
            m_row = keptInRegion(m_row + n);
            clamp();
            break;
        case 'C':  // CUF
        case 'a':  // HPR
            m_column += n;
            clamp();
            break;
        case 'D':  // CUB
            m_column -= n;
            clamp();
            break;
        case 'E':  // CNL
            m_row = keptInRegion(m_row + n);
            m_column = 0;
            clamp();
            break;
        case 'F':  // CPL
            m_row = keptInRegion(m_row - n);
            m_column = 0;
            clamp();
            break;
        case 'G':  // CHA
        case '`':  // HPA
            m_column = n - 1;
            clamp();
            break;
        case 'd':  // VPA
            m_row = addressedRow(n - 1);
            clamp();
            break;
        case 'H':  // CUP
        case 'f':  // HVP
            m_row = addressedRow(n - 1);
            m_column = count == 1 ? 0 : std::max(parameters[1], 1) - 1;
            clamp();
            break;
        case 'J':  // ED
            eraseInDisplay(first);
            break;
        case 'K':  // EL
            if (first == 0) {
                erase(m_row, m_column, m_columns - 1);
            } else if (first == 1) {
                erase(m_row, 0, m_column);
            } else {
                erase(m_row, 0, m_columns - 1);
            }
            break;
        case 'X':  // ECH
            erase(m_row, m_column, std::min(m_column + n - 1, m_columns - 1));
            break;
        case '@':  // ICH
            insertCharacters(n);
            break;
        case 'P':  // DCH
            deleteCharacters(n);
            break;
        case 'L':  // IL
            insertLines(n);
            break;
        case 'M':  // DL
            deleteLines(n);
            break;
        case 'S':  // SU
            for (int i = std::min(m_rows, n); i > 0; --i) {
                scrollUp();
            }
            break;
        case 'T':  // SD
            scrollDown(std::min(m_rows, n));
            break;
        case 'b':  // REP
            repeatLastCharacter(n);
            break;
        case 'm':  // SGR
            selectGraphicRendition(parameters, count);
            break;
        case 's':  // SCOSC, kept as DECSC
            saveCursor();
            break;
        case 'u':  // SCORC, restored as DECRC
            restoreCursor();
            break;
        case 'h':  // SM
            setAnsiMode(parameters, count, true);
            break;
        case 'l':  // RM
            setAnsiMode(parameters, count, false);
            break;
        case 'I':  // CHT
            tabForward(n);
            break;
        case 'Z':  // CBT
            tabBackward(n);
            break;
        case 'g':  // TBC
            clearTabStops(first);
            break;
        case 'r': {  // DECSTBM
            const int top = n;
            const int bottom = count >= 2 && parameters[1] > 0 ? parameters[1] : m_rows;
            const int last = std::min(std::max(bottom, 1) - 1, m_rows - 1);
            if (top - 1 < last) {
                m_scrollTop = top - 1;
                m_scrollBottom = last;
                m_row = addressedRow(0);
                m_column = 0;
                // The cursor moved home: a wrap pending from the old position is void.
                m_pendingWrap = false;
            }
            break;
        }
        case 'n':  // DSR
            if (first == 5) {
                respond(QStringLiteral("\x1b[0n"));
            } else if (first == 6) {
                respond(QStringLiteral("\x1b[%1;%2R")
                            .arg(m_row + 1 - (m_originMode ? m_scrollTop : 0))
                            .arg(m_column + 1));
            }
            break;
        case 'c':  // DA
            respond(QStringLiteral("\x1b[?1;2c"));
            break;
        case 't':  // window operations
            windowOperation(parameters, count);
            break;
        default:
            break;
    }
}

void TerminalScreen::setMode(const int* parameters, int count, bool enable) {
    for (int i = 0; i < count; ++i) {
        switch (parameters[i]) {
            case 1:  // DECCKM
                m_applicationCursor = enable;
                break;
            case 66:  // DECNKM, the mode form of DECKPAM / DECKPNM
                m_applicationKeypad = enable;
                break;
            case 25:  // DECTCEM
                m_cursorVisible = enable;
                break;
            case 2004:
                m_bracketedPaste = enable;
                break;
            case 6:  // DECOM
                setOriginMode(enable);
                break;
            case 7:  // DECAWM
                m_autowrap = enable;
                m_pendingWrap = m_pendingWrap && enable;
                break;
            case 12:
                m_cursorBlinking = enable;
                break;
            case 2026:
                m_updateOpen = enable;
                break;
            case 1004:
                m_focusEvents = enable;
                break;
            case 1000:
            case 1002:
            case 1003: {
                // One tracking level at a time; resetting any of them ends tracking.
                const int level = parameters[i] == 1000 ? 1 : parameters[i] == 1002 ? 2 : 3;
                m_mouseTracking = TerminalMouseTracking(enable ? level : 0);
                break;
            }
            case 1005:
            case 1006: {
                // One encoding at a time; resetting one that is not in use changes nothing.
                const auto encoding = parameters[i] == 1005 ? TerminalMouseEncoding::Utf8
                                                            : TerminalMouseEncoding::Sgr;
                if (enable) {
                    m_mouseEncoding = encoding;
                } else if (m_mouseEncoding == encoding) {
                    m_mouseEncoding = TerminalMouseEncoding::Default;
                }
                break;
            }
            case 1007:
                m_alternateScroll = enable;
                break;
            case 47:
            case 1047:
            case 1049:
                if (enable) {
                    if (!m_alternate) {
                        m_keyboardFlags[1].clear();  // a fresh alternate screen starts legacy
                    }
                    switchToAlternateScreen();
                } else {
                    returnFromAlternateScreen();
                }
                break;
            default:
                break;
        }
    }
}

void TerminalScreen::keyboardFlagsSequence(char marker, const int* parameters, int count) {
    std::vector<std::uint8_t>& stack = m_keyboardFlags[m_alternate ? 1 : 0];
    // Flags this terminal does not honour are never recorded, so the query reports what
    // keys will really send.
    const auto flags = std::uint8_t(parameters[0] & kSupportedKeyboardFlags);
    switch (marker) {
        case '?':
            respond(QStringLiteral("\x1b[?%1u").arg(keyboardFlags()));
            break;
        case '>':
            if (int(stack.size()) == kKeyboardFlagStackDepth) {
                stack.erase(stack.begin());
            }
            stack.push_back(flags);
            break;
        case '<': {
            const int pops = std::min(std::max(parameters[0], 1), int(stack.size()));
            stack.resize(stack.size() - std::size_t(pops));
            break;
        }
        case '=': {
            // Mode 1 (the default) replaces the flags in force, 2 adds to them, 3 takes away.
            const int mode = count >= 2 && parameters[1] != 0 ? parameters[1] : 1;
            if (stack.empty()) {
                stack.push_back(0);
            }
            std::uint8_t& top = stack.back();
            top = mode == 1   ? flags
                  : mode == 2 ? std::uint8_t(top | flags)
                  : mode == 3 ? std::uint8_t(top & ~flags)
                              : top;
            break;
        }
        default:
            break;
    }
}

void TerminalScreen::setAnsiMode(const int* parameters, int count, bool enable) {
    for (int i = 0; i < count; ++i) {
        if (parameters[i] == 4) {  // IRM
            m_insertMode = enable;
        }
    }
}

void TerminalScreen::setOriginMode(bool enable) {
    m_originMode = enable;
    m_row = addressedRow(0);
    m_column = 0;
    m_pendingWrap = false;
}

void TerminalScreen::saveCursor() {
    m_savedCursor = {m_row, m_column};
    m_savedState = {m_style, m_originMode, m_lineDrawing};
}

void TerminalScreen::restoreCursor() {
    m_row = m_savedCursor.row;
    m_column = m_savedCursor.column;
    m_style = m_savedState.style;
    m_originMode = m_savedState.originMode;
    m_lineDrawing = m_savedState.lineDrawing;
    clamp();
}

void TerminalScreen::resetTabStops(int from) {
    m_tabStops.resize(std::size_t(m_columns));
    for (int column = from; column < m_columns; ++column) {
        m_tabStops[std::size_t(column)] = column % 8 == 0;
    }
}

void TerminalScreen::tabForward(int count) {
    for (; count > 0 && m_column < m_columns - 1; --count) {
        do {
            ++m_column;
        } while (m_column < m_columns - 1 && !m_tabStops[std::size_t(m_column)]);
    }
}

void TerminalScreen::tabBackward(int count) {
    for (; count > 0 && m_column > 0; --count) {
        do {
            --m_column;
        } while (m_column > 0 && !m_tabStops[std::size_t(m_column)]);
    }
    m_pendingWrap = false;
}

void TerminalScreen::clearTabStops(int mode) {
    if (mode == 0) {
        m_tabStops[std::size_t(m_column)] = false;
    } else if (mode == 3) {
        std::fill(m_tabStops.begin(), m_tabStops.end(), false);
    }
}

void TerminalScreen::intermediateSequence(const TerminalControlSequence& sequence) {
    // The parameters end with the intermediate characters.
    const std::string_view text = sequence.parameters;
    const std::size_t digitsEnd = text.find_first_of(" !\"#$%&'()*+,-./");
    if (digitsEnd == std::string_view::npos) {
        return;
    }
    const std::string_view intermediates = text.substr(digitsEnd);
    int value = 0;
    parseParameters(text.substr(0, digitsEnd), &value, 1);
    if (sequence.finalCharacter == 'q' && intermediates == " " && sequence.marker == 0) {
        // DECSCUSR: 0 and 1 blinking block, 2 steady block, 3/4 underline, 5/6 bar.
        if (value <= 6) {
            static constexpr TerminalCursorShape kShapes[] = {
                TerminalCursorShape::Block,     TerminalCursorShape::Block,
                TerminalCursorShape::Block,     TerminalCursorShape::Underline,
                TerminalCursorShape::Underline, TerminalCursorShape::Bar,
                TerminalCursorShape::Bar};
            m_cursorShape = kShapes[value];
            m_cursorBlinking = value <= 1 || value % 2 == 1;
        }
    } else if (sequence.finalCharacter == 'p' && intermediates == "$" &&
               (sequence.marker == 0 || sequence.marker == '?')) {
        reportMode(value, sequence.marker == '?');
    }
}

int TerminalScreen::modeState(int mode, bool isPrivate) const {
    auto state = [](bool set) { return set ? 1 : 2; };
    if (!isPrivate) {
        return mode == 4 ? state(m_insertMode) : 0;
    }
    switch (mode) {
        case 1:
            return state(m_applicationCursor);
        case 66:
            return state(m_applicationKeypad);
        case 6:
            return state(m_originMode);
        case 7:
            return state(m_autowrap);
        case 12:
            return state(m_cursorBlinking);
        case 25:
            return state(m_cursorVisible);
        case 47:
        case 1047:
        case 1049:
            return state(alternateScreenActive());
        case 1000:
            return state(m_mouseTracking == TerminalMouseTracking::Clicks);
        case 1002:
            return state(m_mouseTracking == TerminalMouseTracking::Drags);
        case 1003:
            return state(m_mouseTracking == TerminalMouseTracking::Motion);
        case 1004:
            return state(m_focusEvents);
        case 1005:
            return state(m_mouseEncoding == TerminalMouseEncoding::Utf8);
        case 1006:
            return state(m_mouseEncoding == TerminalMouseEncoding::Sgr);
        case 1007:
            return state(m_alternateScroll);
        case 2004:
            return state(m_bracketedPaste);
        case 2026:
            return state(m_updateOpen);
        default:
            return 0;
    }
}

void TerminalScreen::reportMode(int mode, bool isPrivate) {
    respond(QStringLiteral("\x1b[%1%2;%3$y")
                .arg(isPrivate ? QStringLiteral("?") : QString())
                .arg(mode)
                .arg(modeState(mode, isPrivate)));
}

void TerminalScreen::setUnderlineColor(std::uint32_t colorWord) {
    int slot = 0;
    if (colorWord != 0) {
        const std::uint32_t rgb = colorWord & 0xFFFFFF;
        const auto found = std::find(m_underlineColors.begin() + 1, m_underlineColors.end(), rgb);
        if (found != m_underlineColors.end()) {
            slot = int(found - m_underlineColors.begin());
        } else if (int(m_underlineColors.size()) < PackedCell::kUnderlineColorSlots) {
            slot = int(m_underlineColors.size());
            m_underlineColors.push_back(rgb);
        } else {
            // Every slot is taken: the nearest colour stands in.
            auto distance = [rgb](std::uint32_t other) {
                int sum = 0;
                for (const int shift : {16, 8, 0}) {
                    const int delta = int((rgb >> shift) & 0xFF) - int((other >> shift) & 0xFF);
                    sum += delta * delta;
                }
                return sum;
            };
            slot = 1;
            for (int i = 2; i < int(m_underlineColors.size()); ++i) {
                if (distance(m_underlineColors[std::size_t(i)]) <
                    distance(m_underlineColors[std::size_t(slot)])) {
                    slot = i;
                }
            }
        }
    }
    m_style.backgroundWord = (m_style.backgroundWord & ~PackedCell::kUnderlineColorMask) |
                             (std::uint32_t(slot) << PackedCell::kUnderlineColorShift);
}

void TerminalScreen::selectGraphicRendition(const int* parameters, int count) {
    for (int i = 0; i < count; ++i) {
        const int code = parameters[i];
        const int following = count - i - 1;
        switch (code) {
            case 0:
                m_style = PackedCell{};
                break;
            case 1:
                m_style.codeAndFlags |= PackedCell::kBold;
                break;
            case 2:
                m_style.codeAndFlags |= PackedCell::kDim;
                break;
            case 3:
                m_style.codeAndFlags |= PackedCell::kItalic;
                break;
            case 4:
                setUnderline(m_style, TerminalUnderline::Single);
                break;
            case 5:
                m_style.codeAndFlags |= PackedCell::kBlink;
                break;
            case 7:
                m_style.codeAndFlags |= PackedCell::kInverse;
                break;
            case 8:
                m_style.codeAndFlags |= PackedCell::kConceal;
                break;
            case 9:
                m_style.codeAndFlags |= PackedCell::kStrikethrough;
                break;
            case 21:
                setUnderline(m_style, TerminalUnderline::Double);
                break;
            case 22:
                m_style.codeAndFlags &= ~(PackedCell::kBold | PackedCell::kDim);
                break;
            case 23:
                m_style.codeAndFlags &= ~PackedCell::kItalic;
                break;
            case 24:
                setUnderline(m_style, TerminalUnderline::None);
                break;
            case 25:
                m_style.codeAndFlags &= ~PackedCell::kBlink;
                break;
            case 27:
                m_style.codeAndFlags &= ~PackedCell::kInverse;
                break;
            case 28:
                m_style.codeAndFlags &= ~PackedCell::kConceal;
                break;
            case 29:
                m_style.codeAndFlags &= ~PackedCell::kStrikethrough;
                break;
            case 39:
                setColor(m_style.foregroundWord, 0);
                break;
            case 49:
                setColor(m_style.backgroundWord, 0);
                break;
            case 53:
                m_style.codeAndFlags |= PackedCell::kOverline;
                break;
            case 55:
                m_style.codeAndFlags &= ~PackedCell::kOverline;
                break;
            case 59:
                setUnderlineColor(0);
                break;
            case 38:
            case 48:
            case 58: {
                std::uint32_t word = 0;
                if (following >= 2 && parameters[i + 1] == 5) {
                    word = indexedColorWord(parameters[i + 2]);
                    i += 2;
                } else if (following >= 4 && parameters[i + 1] == 2) {
                    word = rgbColorWord(parameters[i + 2], parameters[i + 3], parameters[i + 4]);
                    i += 4;
                }
                setExtendedColor(code, word);
                break;
            }
            default:
                if (code >= 30 && code <= 37) {
                    setColor(m_style.foregroundWord, indexedColorWord(code - 30));
                } else if (code >= 90 && code <= 97) {
                    setColor(m_style.foregroundWord, indexedColorWord(code - 82));
                } else if (code >= 40 && code <= 47) {
                    setColor(m_style.backgroundWord, indexedColorWord(code - 40));
                } else if (code >= 100 && code <= 107) {
                    setColor(m_style.backgroundWord, indexedColorWord(code - 92));
                }
                break;
        }
    }
}

void TerminalScreen::setExtendedColor(int code, std::uint32_t colorWord) {
    if (code == 38) {
        setColor(m_style.foregroundWord, colorWord);
    } else if (code == 48) {
        setColor(m_style.backgroundWord, colorWord);
    } else {
        setUnderlineColor(colorWord);
    }
}

// SGR with ":"-separated sub-parameters (ITU T.416 colours such as 38:2::255:0:0 or
// 58:5:196, underline styles such as 4:3). A field with sub-parameters stands alone; the others are
// read as usual.
void TerminalScreen::selectGraphicRenditionWithSubparameters(std::string_view parameters) {
    std::array<int, kMaxParameters> plain;
    int plainCount = 0;
    std::size_t start = 0;
    while (start <= parameters.size()) {
        std::size_t end = parameters.find(';', start);
        if (end == std::string_view::npos) {
            end = parameters.size();
        }
        const std::string_view field = parameters.substr(start, end - start);
        if (field.find(':') == std::string_view::npos) {
            parseParameters(field, &plain[std::size_t(plainCount++)], 1);
        } else {
            selectGraphicRendition(plain.data(), plainCount);
            plainCount = 0;
            std::array<int, 8> parts{};
            int partCount = 0;
            std::size_t partStart = 0;
            while (partStart <= field.size() && partCount < int(parts.size())) {
                std::size_t partEnd = field.find(':', partStart);
                if (partEnd == std::string_view::npos) {
                    partEnd = field.size();
                }
                parseParameters(field.substr(partStart, partEnd - partStart),
                                &parts[std::size_t(partCount++)], 1);
                partStart = partEnd + 1;
            }
            const int code = parts[0];
            if (code == 38 || code == 48 || code == 58) {
                std::uint32_t word = 0;
                if (parts[1] == 5 && partCount >= 3) {
                    word = indexedColorWord(parts[2]);
                } else if (parts[1] == 2 && partCount >= 6) {  // 38:2:colourspace:r:g:b
                    word = rgbColorWord(parts[3], parts[4], parts[5]);
                } else if (parts[1] == 2 && partCount == 5) {  // 38:2:r:g:b
                    word = rgbColorWord(parts[2], parts[3], parts[4]);
                }
                setExtendedColor(code, word);
            } else if (code == 4) {
                // 4:0 … 4:5: none, single, double, curly, dotted, dashed; others change nothing.
                if (parts[1] >= 0 && parts[1] <= int(TerminalUnderline::Dashed)) {
                    setUnderline(m_style, TerminalUnderline(parts[1]));
                }
            } else {
                // Only the main code counts.
                selectGraphicRendition(&code, 1);
            }
        }
        start = end + 1;
    }
    selectGraphicRendition(plain.data(), plainCount);
}
