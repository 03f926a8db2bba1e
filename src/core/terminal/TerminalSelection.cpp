#include "core/terminal/TerminalSelection.h"

#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalScreenDetail.h"

#include <QChar>

#include <algorithm>
#include <cctype>
#include <span>

namespace {

using Point = TerminalTextPoint;

// One line of the scrollback or the screen, found by its number.
struct TextLine {
    const TerminalScreen* screen = nullptr;  // none: the line does not exist (any more)
    int row = 0;                             // a visible row, or
    int index = -1;                          // a scrollback line
    std::span<const PackedCell> cells;       // cells past these are blank
    int width = 0;
    bool wrapped = false;

    explicit operator bool() const { return screen != nullptr; }
    PackedCell cell(int column) const {
        return column >= 0 && column < int(cells.size()) ? cells[std::size_t(column)]
                                                         : PackedCell{};
    }
    // The first cell of the character covering `column`.
    int leading(int column) const {
        return column > 0 && cell(column).continuation() ? column - 1 : column;
    }
    int characterWidth(int column) const { return cell(column + 1).continuation() ? 2 : 1; }
    void appendText(QString& text, int column) const {
        const PackedCell packed = cell(column);
        if (packed.hasCombining()) {
            text += index >= 0 ? screen->scrollbackCellText(index, column)
                               : screen->cellText(row, column);
        } else {
            terminal_detail::appendScalar(text, packed.codePoint());
        }
    }
};

TextLine textLine(const TerminalScreen& screen, qint64 number) {
    const qint64 top = screen.linesScrolledOff();
    const qint64 first = top - screen.scrollbackSize();
    TextLine line;
    if (number < first || number >= top + screen.rows()) {
        return line;
    }
    line.screen = &screen;
    if (number < top) {
        line.index = int(number - first);
        line.cells = screen.scrollbackLineCells(line.index);
        line.width = screen.scrollbackLineWidth(line.index);
        line.wrapped = screen.scrollbackLineWrapped(line.index);
    } else {
        line.row = int(number - top);
        line.cells = screen.lineCells(line.row);
        line.width = screen.columns();
        line.wrapped = screen.rowWrapped(line.row);
    }
    return line;
}

bool isBlank(const PackedCell& cell) {
    return cell.codePoint() == U' ' && !cell.hasCombining() && !cell.continuation();
}

// Whether the last cell of wrapped `line` is the padding left where a double-width
// character did not fit and went on to the next line: no part of the text.
bool endsInPadding(const TerminalScreen& screen, qint64 number, const TextLine& line) {
    return line.wrapped && isBlank(line.cell(line.width - 1)) &&
           textLine(screen, number + 1).cell(1).continuation();
}

enum class CharacterClass { Blank, Word, Other };

}  // namespace

TerminalSelection::TerminalSelection()
    : m_wordCharacters(QStringView(kDefaultWordCharacters).toString()) {}

void TerminalSelection::start(const TerminalScreen& screen, TerminalTextPoint cell, bool rightHalf,
                              Unit unit) {
    m_active = true;
    m_unit = unit;
    m_columns = screen.columns();
    std::tie(m_anchorBegin, m_anchorEnd) = rangeAt(screen, cell, rightHalf);
    update(screen, m_anchorBegin, m_anchorEnd);
}

void TerminalSelection::extend(const TerminalScreen& screen, TerminalTextPoint cell,
                               bool rightHalf) {
    if (!m_active) {
        start(screen, cell, rightHalf, Unit::Cell);
        return;
    }
    const auto [begin, end] = rangeAt(screen, cell, rightHalf);
    update(screen, std::min(begin, m_anchorBegin), std::max(end, m_anchorEnd));
}

void TerminalSelection::selectAll(const TerminalScreen& screen) {
    const qint64 top = screen.linesScrolledOff();
    int last = screen.rows() - 1;
    while (last > 0 && screen.rowText(last).isEmpty()) {
        --last;
    }
    m_active = true;
    m_unit = Unit::Line;
    m_columns = screen.columns();
    m_anchorBegin = {top - screen.scrollbackSize(), 0};
    m_anchorEnd = {top + last, screen.columns()};
    update(screen, m_anchorBegin, m_anchorEnd);
}

void TerminalSelection::clear() {
    m_active = false;
    m_unit = Unit::Cell;
    m_anchorBegin = m_anchorEnd = m_begin = m_end = {};
    m_text.clear();
}

std::pair<TerminalTextPoint, TerminalTextPoint> TerminalSelection::rangeAt(
    const TerminalScreen& screen, TerminalTextPoint cell, bool rightHalf) const {
    switch (m_unit) {
        case Unit::Cell: {
            const Point boundary{cell.line, cell.column + (rightHalf ? 1 : 0)};
            return {boundary, boundary};
        }
        case Unit::Line: {
            // The whole line as printed: up over the rows it wrapped from, down over those it
            // wrapped onto, and its line end.
            qint64 top = cell.line;
            while (textLine(screen, top - 1).wrapped) {
                --top;
            }
            qint64 bottom = cell.line;
            while (textLine(screen, bottom).wrapped && textLine(screen, bottom + 1)) {
                ++bottom;
            }
            return {{top, 0}, {bottom + 1, 0}};
        }
        case Unit::Word:
            break;
    }
    auto classOf = [this](const PackedCell& packed) {
        const char32_t code = packed.codePoint();
        if (isBlank(packed)) {
            return CharacterClass::Blank;
        }
        const bool word = code < 0x80 ? (std::isalnum(int(code)) != 0)
                                      : (QChar::isLetterOrNumber(code) || QChar::isMark(code));
        return word || (code < 0x10000 && m_wordCharacters.contains(QChar(char16_t(code))))
                   ? CharacterClass::Word
                   : CharacterClass::Other;
    };
    TextLine line = textLine(screen, cell.line);
    if (!line) {
        return {cell, cell};
    }
    Point begin{cell.line, line.leading(cell.column)};
    const CharacterClass kind = classOf(line.cell(begin.column));
    Point end{cell.line, begin.column + line.characterWidth(begin.column)};
    if (kind == CharacterClass::Other) {
        return {begin, end};
    }
    // Words go on over the ends of lines that wrapped.
    TextLine at = line;
    while (true) {
        Point previous{begin.line, begin.column - 1};
        TextLine previousLine = at;
        if (previous.column < 0) {
            previousLine = textLine(screen, begin.line - 1);
            if (!previousLine.wrapped) {
                break;
            }
            previous = {begin.line - 1, previousLine.width - 1};
        }
        previous.column = previousLine.leading(previous.column);
        if (classOf(previousLine.cell(previous.column)) != kind) {
            break;
        }
        begin = previous;
        at = previousLine;
    }
    at = line;
    while (true) {
        Point next = end;
        TextLine nextLine = at;
        if (next.column >= at.width) {
            if (!at.wrapped || !(nextLine = textLine(screen, end.line + 1))) {
                break;
            }
            next = {end.line + 1, 0};
        }
        if (classOf(nextLine.cell(next.column)) != kind) {
            break;
        }
        end = {next.line, next.column + nextLine.characterWidth(next.column)};
        at = nextLine;
    }
    return {begin, end};
}

void TerminalSelection::update(const TerminalScreen& screen, TerminalTextPoint begin,
                               TerminalTextPoint end) {
    // A boundary inside a double-width character moves out to take all of it (an empty
    // selection has nothing to take).
    if (begin < end) {
        if (const TextLine line = textLine(screen, begin.line)) {
            begin.column = line.leading(std::min(begin.column, line.width));
        }
        if (const TextLine line = textLine(screen, end.line);
            line && end.column < line.width && line.cell(end.column).continuation()) {
            ++end.column;
        }
    }
    m_begin = begin;
    m_end = std::max(begin, end);
    m_text = text(screen);
}

std::pair<int, int> TerminalSelection::columnsOn(qint64 line, int width) const {
    if (!m_active || line < m_begin.line || line > m_end.line) {
        return {0, 0};
    }
    const int first = line == m_begin.line ? std::min(m_begin.column, width) : 0;
    const int last = line == m_end.line ? std::min(m_end.column, width) : width;
    return {first, std::max(first, last)};
}

QString TerminalSelection::text(const TerminalScreen& screen) const {
    QString text;
    if (!m_active || isEmpty()) {
        return text;
    }
    for (qint64 number = m_begin.line; number <= m_end.line; ++number) {
        const TextLine line = textLine(screen, number);
        if (!line) {
            continue;
        }
        const auto [from, to] = columnsOn(number, line.width);
        const qsizetype start = text.size();
        const bool padded = endsInPadding(screen, number, line);
        for (int column = from; column < to; ++column) {
            if (!line.cell(column).continuation() && !(padded && column == line.width - 1)) {
                line.appendText(text, column);
            }
        }
        const bool lineEndSelected = number < m_end.line;
        if (lineEndSelected && line.wrapped) {
            continue;  // the text goes on on the next line
        }
        // The blanks after a line's last character are no part of its text.
        bool restBlank = true;
        for (int column = to; column < line.width && restBlank; ++column) {
            restBlank = isBlank(line.cell(column));
        }
        if (lineEndSelected || (restBlank && !line.wrapped)) {
            qsizetype end = text.size();
            while (end > start && text.at(end - 1) == QLatin1Char(' ')) {
                --end;
            }
            text.truncate(end);
        }
        if (lineEndSelected) {
            text += QLatin1Char('\n');
        }
    }
    return text;
}

bool TerminalSelection::follow(const TerminalScreen& screen) {
    if (!m_active || (screen.columns() == m_columns && text(screen) == m_text)) {
        return false;
    }
    clear();
    return true;
}
