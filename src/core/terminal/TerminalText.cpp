#include "core/terminal/TerminalText.h"

#include "core/terminal/TerminalScreen.h"

#include <algorithm>

int terminalGridStartLine(const TerminalScreen& screen) {
    return screen.scrollbackSize();
}

int terminalLineCount(const TerminalScreen& screen) {
    return screen.scrollbackSize() + screen.rows();
}

bool terminalLineWrapped(const TerminalScreen& screen, int line) {
    const int history = screen.scrollbackSize();
    if (line < 0 || line >= history + screen.rows()) {
        return false;
    }
    return line < history ? screen.scrollbackLineWrapped(line) : screen.rowWrapped(line - history);
}

TerminalText TerminalText::capture(const TerminalScreen& screen, int first, int last) {
    TerminalText captured;
    first = std::max(first, 0);
    last = std::min(last, terminalLineCount(screen) - 1);
    captured.m_firstLine = first;
    if (last < first) {
        return captured;
    }
    captured.m_lines.reserve(std::size_t(last - first + 1));
    captured.m_text.reserve(qsizetype(last - first + 1) * (screen.columns() + 1));
    for (int line = first; line <= last; ++line) {
        captured.appendLine(screen, line, line == last);
    }
    return captured;
}

TerminalText TerminalText::logicalLine(const TerminalScreen& screen, int line) {
    int first = line;
    while (first > 0 && line - first < kMaxJoinedLines && terminalLineWrapped(screen, first - 1)) {
        --first;
    }
    int last = line;
    while (last - line < kMaxJoinedLines && terminalLineWrapped(screen, last)) {
        ++last;
    }
    return capture(screen, first, last);
}

void TerminalText::appendLine(const TerminalScreen& screen, int line, bool last) {
    const int history = screen.scrollbackSize();
    const bool fromHistory = line < history;
    const std::span<const PackedCell> cells =
        fromHistory ? screen.scrollbackLineCells(line) : screen.lineCells(line - history);
    const bool wrapped =
        fromHistory ? screen.scrollbackLineWrapped(line) : screen.rowWrapped(line - history);
    // The bits that make a cell anything but one UTF-16 character of its own.
    constexpr std::uint32_t kShape =
        PackedCell::kCodeMask | PackedCell::kContinuation | PackedCell::kHasCombining;
    int count = int(cells.size());
    if (!wrapped) {
        while (count > 0 && (cells[std::size_t(count - 1)].codeAndFlags & kShape) == U' ') {
            --count;
        }
    }

    LineStart start;
    start.offset = m_text.size();
    // Plain cells (a character below the surrogates, no marks, no second half) are one
    // character each, written straight into the text. Two loops without an early exit, which
    // the compiler turns into vector code: is every cell plain, then the copy.
    std::uint32_t widest = 0;
    for (int column = 0; column < count; ++column) {
        widest = std::max(widest, cells[std::size_t(column)].codeAndFlags & kShape);
    }
    int plain = 0;
    if (widest < 0xD800) {
        m_text.resize(start.offset + count);
        char16_t* out = reinterpret_cast<char16_t*>(m_text.data()) + start.offset;
        for (int column = 0; column < count; ++column) {
            out[column] = char16_t(cells[std::size_t(column)].codeAndFlags);
        }
        plain = count;
    } else {
        while ((cells[std::size_t(plain)].codeAndFlags & kShape) < 0xD800) {
            m_text.append(QChar(char16_t(cells[std::size_t(plain)].codeAndFlags)));
            ++plain;
        }
    }
    if (plain == count) {
        start.length = count;
        start.endColumn = count;
    } else {
        std::vector<int> columns(static_cast<std::size_t>(plain));
        for (int i = 0; i < plain; ++i) {
            columns[std::size_t(i)] = i;
        }
        for (int column = plain; column < count; ++column) {
            const PackedCell& cell = cells[std::size_t(column)];
            if (cell.continuation()) {
                continue;
            }
            const qsizetype before = m_text.size();
            if (cell.hasCombining()) {
                m_text += fromHistory ? screen.scrollbackCellText(line, column)
                                      : screen.cellText(line - history, column);
            } else {
                const char32_t code = cell.codePoint();
                m_text += QString::fromUcs4(&code, 1);
            }
            columns.insert(columns.end(), std::size_t(m_text.size() - before), column);
        }
        start.length = int(m_text.size() - start.offset);
        start.endColumn = count;
        start.columns = int(m_columns.size());
        m_columns.push_back(std::move(columns));
    }
    if (!wrapped && !last) {
        m_text.append(QLatin1Char('\n'));
    }
    m_lines.push_back(start);
}

std::size_t TerminalText::lineIndexOf(qsizetype offset) const {
    const auto after = std::upper_bound(
        m_lines.begin(), m_lines.end(), offset,
        [](qsizetype value, const LineStart& line) { return value < line.offset; });
    return after == m_lines.begin() ? 0 : std::size_t(after - m_lines.begin() - 1);
}

TerminalTextPosition TerminalText::positionOf(qsizetype offset) const {
    if (m_lines.empty()) {
        return {m_firstLine, 0};
    }
    const std::size_t index = lineIndexOf(offset);
    const LineStart& line = m_lines[index];
    const qsizetype within = offset - line.offset;
    const int column = within < line.length ? columnOf(line, within) : line.endColumn;
    return {m_firstLine + int(index), column};
}

TerminalTextRange TerminalText::rangeOf(qsizetype offset, qsizetype length) const {
    TerminalTextRange range{positionOf(offset), positionOf(offset + length - 1)};
    if (m_lines.empty()) {
        return range;
    }
    // The end is where the next character of the same line starts, or the line's end.
    const LineStart& line = m_lines[std::size_t(range.end.line - m_firstLine)];
    const qsizetype next = offset + length - line.offset;
    range.end.column = next < line.length ? columnOf(line, next) : line.endColumn;
    return range;
}

qsizetype TerminalText::offsetOf(TerminalTextPosition position) const {
    const int index = position.line - m_firstLine;
    if (index < 0 || index >= int(m_lines.size()) || position.column < 0) {
        return -1;
    }
    const LineStart& line = m_lines[std::size_t(index)];
    if (line.columns < 0) {
        return position.column < line.length ? line.offset + position.column : -1;
    }
    // The last character starting at or before the cell, if the cell is one of its own.
    const std::vector<int>& columns = m_columns[std::size_t(line.columns)];
    const auto after = std::upper_bound(columns.begin(), columns.end(), position.column);
    if (after == columns.begin() || position.column >= line.endColumn) {
        return -1;
    }
    const qsizetype character = after - columns.begin() - 1;
    // Several characters (a scalar with its marks) share a cell: the first one stands for it.
    qsizetype first = character;
    while (first > 0 && columns[std::size_t(first - 1)] == columns[std::size_t(character)]) {
        --first;
    }
    return line.offset + first;
}
