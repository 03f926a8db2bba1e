#include "core/terminal/TerminalScreen.h"

#include "core/terminal/TerminalScreenDetail.h"

#include <algorithm>
#include <cstring>
#include <utility>

using terminal_detail::appendScalar;
using terminal_detail::blank;
using terminal_detail::kBlankCell;

// ---- Construction and access ---------------------------------------------------------------

TerminalScreen::TerminalScreen(int rows, int columns)
    : m_parser(*this), m_rows(std::max(rows, 1)), m_columns(std::max(columns, 1)) {
    blank(m_blankRow, m_columns);
    m_grid.lines.resize(std::size_t(m_rows));
    for (Line& line : m_grid.lines) {
        blankLine(line);
    }
    m_scrollBottom = m_rows - 1;
    resetTabStops(0);
}

TerminalScreen::~TerminalScreen() = default;

void TerminalScreen::blankLine(Line& line) {
    blankCells(line);
    if (line.links >= 0) [[unlikely]] {
        releaseLinks(line);
    }
}

void TerminalScreen::blankCells(Line& line) const {
    if (int(line.cells.size()) == m_columns) {
        // A copy, not a fill: copying is vectorised, filling with a 12-byte pattern is not.
        std::copy_n(m_blankRow.begin(), line.dirty, line.cells.begin());
    } else {
        blank(line.cells, m_columns);
    }
    line.marks.clear();
    line.dirty = 0;
    line.hasWide = false;
    line.wrap = Wrap::None;
}

void TerminalScreen::fillLine(Line& line, const PackedCell& fill) const {
    std::fill(line.cells.begin(), line.cells.end(), fill);
    line.dirty = m_columns;
}

void TerminalScreen::eraseLines(int first, int last) {
    const PackedCell fill = erasedCell();
    if (fill == kBlankCell) {
        if (m_freeLinkLists.size() == m_linkLists.size()) {
            // No line holds links (the usual case): nothing to look for on each line.
            for (int row = first; row <= last; ++row) {
                blankCells(lineAt(row));
            }
            return;
        }
        for (int row = first; row <= last; ++row) {
            blankLine(lineAt(row));
        }
        return;
    }
    for (int row = first; row <= last; ++row) {
        blankLine(lineAt(row));
        fillLine(lineAt(row), fill);
    }
}

std::span<const PackedCell> TerminalScreen::lineCells(int row) const {
    return lineAt(row).cells;
}

QString TerminalScreen::textOf(const Line& line, int column) {
    const PackedCell& cell = line.cells[std::size_t(column)];
    if (cell.continuation()) {
        return QString();
    }
    QString text;
    appendScalar(text, cell.codePoint());
    if (cell.hasCombining()) {
        for (const CombiningMarks& marks : line.marks) {
            if (marks.column == column) {
                text += marks.text();
                break;
            }
        }
    }
    return text;
}

TerminalCell TerminalScreen::cellOf(const Line& line, int column) const {
    const PackedCell& packed = line.cells[std::size_t(column)];
    TerminalCell cell;
    cell.text = textOf(line, column);
    cell.foreground = packed.foreground();
    cell.background = packed.background();
    cell.bold = packed.bold();
    cell.inverse = packed.inverse();
    cell.continuation = packed.continuation();
    cell.italic = packed.italic();
    cell.dim = packed.dim();
    cell.blink = packed.blink();
    cell.conceal = packed.conceal();
    cell.strikethrough = packed.strikethrough();
    cell.overline = packed.overline();
    cell.underline = packed.underline();
    cell.underlineColor = underlineColor(packed.underlineColorSlot());
    return cell;
}

std::optional<TerminalColor> TerminalScreen::underlineColor(int slot) const {
    if (slot <= 0 || slot >= int(m_underlineColors.size())) {
        return std::nullopt;
    }
    return TerminalColor::fromRgb(m_underlineColors[std::size_t(slot)]);
}

QString TerminalScreen::cellText(int row, int column) const {
    return textOf(lineAt(row), column);
}

TerminalCell TerminalScreen::cell(int row, int column) const {
    return cellOf(lineAt(row), column);
}

std::vector<TerminalCell> TerminalScreen::line(int row) const {
    const Line& source = lineAt(row);
    std::vector<TerminalCell> cells;
    cells.reserve(source.cells.size());
    for (int column = 0; column < int(source.cells.size()); ++column) {
        cells.push_back(cellOf(source, column));
    }
    return cells;
}

std::vector<TerminalCell> TerminalScreen::blankLine() const {
    return std::vector<TerminalCell>(std::size_t(m_columns));
}

bool TerminalScreen::rowWrapped(int row) const {
    return lineAt(row).wrap != Wrap::None;
}

bool TerminalScreen::scrollbackLineWrapped(int index) const {
    return historyLine(index).wrap != Wrap::None;
}

std::span<const PackedCell> TerminalScreen::scrollbackLineCells(int index) const {
    const Line& line = historyLine(index);
    return std::span(line.cells).first(std::size_t(line.dirty));
}

int TerminalScreen::scrollbackLineWidth(int index) const {
    return historyLine(index).width;
}

QString TerminalScreen::scrollbackCellText(int index, int column) const {
    const Line& source = historyLine(index);
    return column < source.dirty ? textOf(source, column) : QStringLiteral(" ");
}

TerminalCell TerminalScreen::scrollbackCell(int index, int column) const {
    const Line& source = historyLine(index);
    return column < source.dirty ? cellOf(source, column) : TerminalCell{};
}

std::vector<TerminalCell> TerminalScreen::scrollbackLine(int index) const {
    const Line& source = historyLine(index);
    std::vector<TerminalCell> cells(std::size_t(source.width));
    for (int column = 0; column < source.dirty; ++column) {
        cells[std::size_t(column)] = cellOf(source, column);
    }
    return cells;
}

TerminalCell TerminalScreen::style() const {
    Line line;
    line.cells.push_back(m_style);
    TerminalCell cell = cellOf(line, 0);
    cell.text = QStringLiteral(" ");
    return cell;
}

// ---- Output ----------------------------------------------------------------------------------

void TerminalScreen::feed(QByteArrayView data) {
    feed(data, std::numeric_limits<qint64>::max());
}

qsizetype TerminalScreen::feed(QByteArrayView data, qint64 work) {
    m_workLeft = work;
    const qsizetype read = m_parser.feed(data);
    applyPendingRepeats();
    m_workLeft = std::numeric_limits<qint64>::max();
    Q_ASSERT_X(invariantViolation().isEmpty(), "TerminalScreen::feed",
               qPrintable(invariantViolation()));
    return read;
}

void TerminalScreen::feed(QStringView text) {
    m_parser.feed(text);
    applyPendingRepeats();
    Q_ASSERT_X(invariantViolation().isEmpty(), "TerminalScreen::feed",
               qPrintable(invariantViolation()));
}

void TerminalScreen::setOnResponse(std::function<void(const QString&)> callback) {
    m_onResponse = std::move(callback);
}

void TerminalScreen::respond(const QString& reply) {
    if (m_onResponse) {
        m_onResponse(reply);
    }
}

// ---- Primitives --------------------------------------------------------------------------------

void TerminalScreen::clamp() {
    m_row = std::clamp(m_row, 0, m_rows - 1);
    m_column = std::clamp(m_column, 0, m_columns - 1);
    m_pendingWrap = false;
}

void TerminalScreen::erase(int row, int from, int to) {
    if (to < from) {
        return;
    }
    Line& line = lineAt(row);
    if (to == m_columns - 1) {
        // The line's end is gone, so what follows on the next line no longer continues it.
        line.wrap = Wrap::None;
    }
    blankRange(line, from, to);
}

void TerminalScreen::blankRange(Line& line, int from, int to) {
    spend(to - from + 1);
    const PackedCell fill = erasedCell();
    std::fill(line.cells.begin() + from, line.cells.begin() + to + 1, fill);
    if (fill != kBlankCell) {
        line.dirty = std::max(line.dirty, to + 1);
    }
}

void TerminalScreen::eraseInDisplay(int mode) {
    spend(qint64(m_rows) * m_columns);
    switch (mode) {
        case 0:
            erase(m_row, m_column, m_columns - 1);
            eraseLines(m_row + 1, m_rows - 1);
            break;
        case 1:
            eraseLines(0, m_row - 1);
            erase(m_row, 0, m_column);
            break;
        case 2:
        case 3:
            eraseLines(0, m_rows - 1);
            if (mode == 3) {
                releaseHistoryLinks();
                historyChanged();
                // The slots keep their buffers for reuse.
                m_historyStart = 0;
                m_historyCount = 0;
            }
            break;
        default:
            break;
    }
}

void TerminalScreen::insertCharacters(int count) {
    spend(m_columns - m_column);
    Line& line = lineAt(m_row);
    const int shift = std::min(m_columns - m_column, count);
    auto begin = line.cells.begin() + m_column;
    std::move_backward(begin, line.cells.end() - shift, line.cells.end());
    const PackedCell fill = erasedCell();
    std::fill(begin, begin + shift, fill);
    if (line.dirty > m_column) {
        line.dirty = std::min(line.dirty + shift, m_columns);
    }
    if (fill != kBlankCell) {
        line.dirty = std::max(line.dirty, m_column + shift);
    }
    for (auto it = line.marks.begin(); it != line.marks.end();) {
        if (it->column >= m_column) {
            it->column += shift;
        }
        it = it->column >= m_columns ? line.marks.erase(it) : it + 1;
    }
}

void TerminalScreen::deleteCharacters(int count) {
    spend(m_columns - m_column);
    Line& line = lineAt(m_row);
    const int shift = std::min(m_columns - m_column, count);
    auto begin = line.cells.begin() + m_column;
    std::move(begin + shift, line.cells.end(), begin);
    const PackedCell fill = erasedCell();
    std::fill(line.cells.end() - shift, line.cells.end(), fill);
    if (fill != kBlankCell) {
        line.dirty = m_columns;
    }
    for (auto it = line.marks.begin(); it != line.marks.end();) {
        if (it->column >= m_column && it->column < m_column + shift) {
            it = line.marks.erase(it);
            continue;
        }
        if (it->column >= m_column + shift) {
            it->column -= shift;
        }
        ++it;
    }
}

void TerminalScreen::rotateLines(int first, int last, int shift) {
    spend(last - first + 1);
    auto reverse = [this](int from, int to) {
        while (from < to) {
            std::swap(lineAt(from++), lineAt(to--));
        }
    };
    reverse(first, first + shift - 1);
    reverse(first + shift, last);
    reverse(first, last);
}

void TerminalScreen::insertLines(int count) {
    if (m_row < m_scrollTop || m_row > m_scrollBottom) {
        return;
    }
    const int height = m_scrollBottom - m_row + 1;
    const int k = std::min(height, count);
    spend(qint64(k) * m_columns);
    // The bottom k lines of [row, scrollBottom] leave; blank lines come in at row.
    rotateLines(m_row, m_scrollBottom, height - k);
    eraseLines(m_row, m_row + k - 1);
}

void TerminalScreen::deleteLines(int count) {
    if (m_row < m_scrollTop || m_row > m_scrollBottom) {
        return;
    }
    const int height = m_scrollBottom - m_row + 1;
    const int k = std::min(height, count);
    spend(qint64(k) * m_columns);
    rotateLines(m_row, m_scrollBottom, k % height);
    eraseLines(m_scrollBottom - k + 1, m_scrollBottom);
}

void TerminalScreen::scrollDown(int count) {
    const int height = m_scrollBottom - m_scrollTop + 1;
    const int k = std::min(height, count);
    spend(qint64(k) * m_columns);
    rotateLines(m_scrollTop, m_scrollBottom, height - k);
    eraseLines(m_scrollTop, m_scrollTop + k - 1);
}

void TerminalScreen::pushHistory(Line& line) {
    ++m_linesScrolledOff;
    if (m_scrollbackLimit == 0) {
        return;  // the caller blanks the line where it is
    }
    historyChanged();
    const int slots = int(m_history.size());
    std::size_t slot;
    if (m_historyCount < slots) {
        slot = std::size_t((m_historyStart + m_historyCount) % slots);
        ++m_historyCount;
    } else if (slots < m_scrollbackLimit) {
        // Room to grow: the ring is straightened first so the new slot comes last. It grows
        // by doubling, but never past the limit.
        std::rotate(m_history.begin(), m_history.begin() + m_historyStart, m_history.end());
        m_historyStart = 0;
        if (m_history.size() == m_history.capacity()) {
            m_history.reserve(std::min<std::size_t>(
                std::size_t(m_scrollbackLimit), std::max<std::size_t>(64, 2 * m_history.size())));
        }
        slot = m_history.size();
        m_history.emplace_back();
        ++m_historyCount;
    } else {
        // Full: the oldest line leaves and its slot (and its buffer) is reused.
        slot = std::size_t(m_historyStart);
        m_historyStart = m_historyStart + 1 == slots ? 0 : m_historyStart + 1;
    }
    // The line's written cells and marks are compacted into the slot; the links of the line
    // that left the scrollback go to the grid line, whose caller lets go of them as it
    // blanks it.
    storeLine(m_history[slot], line);
    if (m_historyPool.releasedBytes() > m_historyPool.bytes() / 2) [[unlikely]] {
        repackHistory();
    }
}

void TerminalScreen::repackHistory() {
    TerminalCompactPool pool;
    for (HistoryLine& stored : m_history) {
        stored.cells.copyInto(pool);
    }
    m_historyPool = std::move(pool);
}

// The marks go with the cells as attached words, the marks of a cell as its column, its
// length and count of scalars, then its UTF-16 units two to a word; stale entries stay
// behind.
void TerminalScreen::storeLine(HistoryLine& stored, Line& line) {
    const std::span<const PackedCell> cells = std::span(line.cells).first(std::size_t(line.dirty));
    m_markWords.clear();
    for (const CombiningMarks& marks : line.marks) {
        if (marks.column < line.dirty && cells[std::size_t(marks.column)].hasCombining()) {
            const std::size_t at = m_markWords.size();
            m_markWords.resize(at + 2 + (marks.length + 1) / 2);
            m_markWords[at] = std::uint32_t(marks.column);
            m_markWords[at + 1] = marks.length | std::uint32_t(marks.scalars) << 8;
            std::memcpy(&m_markWords[at + 2], marks.units.data(), marks.length * sizeof(char16_t));
        }
    }
    stored.cells.assign(m_historyPool, cells, m_markWords);
    stored.width = int(line.cells.size());
    std::swap(stored.links, line.links);
    stored.hasWide = line.hasWide;
    stored.wrap = line.wrap;
}

void TerminalScreen::expandLine(const HistoryLine& stored, Line& line) {
    line.cells.resize(std::size_t(stored.width));
    const int written = stored.cells.size();
    stored.cells.expandInto(line.cells.data());
    std::fill(line.cells.begin() + written, line.cells.end(), kBlankCell);
    line.marks.clear();
    const std::span<const std::uint32_t> words = stored.cells.attached();
    for (std::size_t at = 0; at < words.size();) {
        CombiningMarks& marks = line.marks.emplace_back();
        marks.column = int(words[at]);
        marks.length = std::uint8_t(words[at + 1]);
        marks.scalars = std::uint8_t(words[at + 1] >> 8);
        std::memcpy(marks.units.data(), &words[at + 2], marks.length * sizeof(char16_t));
        at += 2 + (marks.length + 1) / 2;
    }
    line.dirty = written;
    line.width = stored.width;
    line.links = stored.links;
    line.hasWide = stored.hasWide;
    line.wrap = stored.wrap;
}

const TerminalScreen::Line& TerminalScreen::historyLine(int index) const {
    for (const ExpandedLine& expanded : m_expanded) {
        if (expanded.index == index && expanded.generation == m_historyGeneration) {
            return expanded.line;
        }
    }
    ExpandedLine& expanded = m_expanded[std::size_t(m_nextExpanded)];
    m_nextExpanded = (m_nextExpanded + 1) % kExpandedLines;
    expanded.index = index;
    expanded.generation = m_historyGeneration;
    expandLine(m_history[historySlot(index)], expanded.line);
    return expanded.line;
}

void TerminalScreen::setScrollbackLimit(int lines) {
    lines = std::clamp(lines, 0, kMaxScrollbackLimit);
    if (lines == m_scrollbackLimit) {
        return;
    }
    historyChanged();
    // The newest lines move to a ring of just their number; the rest let go of their links
    // and their buffers.
    const int kept = std::min(m_historyCount, lines);
    std::vector<HistoryLine> newest;
    newest.reserve(std::size_t(kept));
    for (int index = m_historyCount - kept; index < m_historyCount; ++index) {
        newest.push_back(std::move(storedLine(index)));
    }
    releaseHistoryLinks();
    m_history = std::move(newest);
    repackHistory();
    m_historyStart = 0;
    m_historyCount = kept;
    m_scrollbackLimit = lines;
}

void TerminalScreen::scrollUp() {
    spend(m_columns);
    const bool toHistory = !m_alternate && m_scrollTop == 0;
    if (m_scrollTop == 0 && m_scrollBottom == m_rows - 1) {
        // Whole screen: the top line becomes the new bottom line, nothing else moves.
        Line& leaving = lineAt(0);
        if (toHistory) {
            pushHistory(leaving);
        }
        eraseLine(leaving, erasedCell());
        m_grid.top = m_grid.top + 1 == m_rows ? 0 : m_grid.top + 1;
        return;
    }
    Line& leaving = lineAt(m_scrollTop);
    if (toHistory) {
        pushHistory(leaving);
    }
    eraseLine(leaving, erasedCell());
    if (m_scrollBottom > m_scrollTop) {
        rotateLines(m_scrollTop, m_scrollBottom, 1);
    }
}

void TerminalScreen::reset() {
    spend(qint64(m_rows) * m_columns);
    for (Line& line : m_grid.lines) {
        blankLine(line);
    }
    m_grid.top = 0;
    m_row = 0;
    m_column = 0;
    m_style = PackedCell{};
    m_scrollTop = 0;
    m_scrollBottom = m_rows - 1;
    m_pendingWrap = false;
}

void TerminalScreen::prepareFreshGrid(Grid& grid) {
    for (std::size_t i = std::size_t(m_rows); i < grid.lines.size(); ++i) {
        if (grid.lines[i].links >= 0) [[unlikely]] {
            releaseLinks(grid.lines[i]);
        }
    }
    grid.lines.resize(std::size_t(m_rows));
    grid.top = 0;
}

void TerminalScreen::switchToAlternateScreen() {
    if (m_alternate) {
        return;
    }
    SavedScreen saved{std::move(m_grid), m_row, m_column};
    m_grid = std::move(m_spareGrid);
    m_spareGrid = Grid{};
    prepareFreshGrid(m_grid);
    m_alternate = std::move(saved);
    reset();
}

void TerminalScreen::returnFromAlternateScreen() {
    if (!m_alternate) {
        return;
    }
    m_spareGrid = std::move(m_grid);
    m_grid = std::move(m_alternate->grid);
    m_row = m_alternate->row;
    m_column = m_alternate->column;
    m_alternate.reset();
    m_scrollTop = 0;
    m_scrollBottom = m_rows - 1;
    clamp();
}

void TerminalScreen::refit(Grid& grid, int& cursorRow, bool saveHistory, int rows, int columns) {
    std::rotate(grid.lines.begin(), grid.lines.begin() + grid.top, grid.lines.end());
    grid.top = 0;
    const int drop = std::max(cursorRow - rows + 1, 0);
    if (drop > 0) {
        const int leaving = std::min<int>(drop, int(grid.lines.size()));
        for (int i = 0; i < leaving; ++i) {
            Line& line = grid.lines[std::size_t(i)];
            if (saveHistory) {
                pushHistory(line);  // it now holds the line that left the scrollback, if any
            }
            if (line.links >= 0) [[unlikely]] {
                releaseLinks(line);
            }
        }
        grid.lines.erase(grid.lines.begin(), grid.lines.begin() + leaving);
    }
    for (Line& line : grid.lines) {
        line.cells.resize(std::size_t(columns), kBlankCell);
        line.dirty = std::min(line.dirty, columns);
        std::erase_if(line.marks,
                      [columns](const CombiningMarks& marks) { return marks.column >= columns; });
    }
    if (int(grid.lines.size()) > rows) {
        for (std::size_t i = std::size_t(rows); i < grid.lines.size(); ++i) {
            if (grid.lines[i].links >= 0) [[unlikely]] {
                releaseLinks(grid.lines[i]);
            }
        }
        grid.lines.resize(std::size_t(rows));
    }
    while (int(grid.lines.size()) < rows) {
        Line line;
        blank(line.cells, columns);
        grid.lines.push_back(std::move(line));
    }
    cursorRow -= drop;
}

void TerminalScreen::resize(int rows, int columns) {
    const int newRows = std::max(rows, kMinimumRows);
    const int newColumns = std::max(columns, kMinimumColumns);
    if (newRows == m_rows && newColumns == m_columns) {
        return;
    }
    // A new width re-wraps the main screen, wherever it is; the alternate screen is cut.
    const bool rewrap = newColumns != m_columns;
    if (m_alternate) {
        refit(m_grid, m_row, false, newRows, newColumns);
        if (rewrap) {
            bool pendingWrap = false;
            reflow(m_alternate->grid, m_alternate->row, m_alternate->column, pendingWrap, newRows,
                   newColumns);
        } else {
            refit(m_alternate->grid, m_alternate->row, true, newRows, newColumns);
            m_alternate->column = std::min(newColumns - 1, m_alternate->column);
        }
    } else if (rewrap) {
        reflow(m_grid, m_row, m_column, m_pendingWrap, newRows, newColumns);
    } else {
        refit(m_grid, m_row, true, newRows, newColumns);
    }
    if (m_alternate || !rewrap) {
        m_column = std::min(newColumns - 1, m_column);
        m_pendingWrap = false;
    }
    m_rows = newRows;
    m_columns = newColumns;
    blank(m_blankRow, m_columns);
    // Stops kept where they still fit; new columns get the default ones.
    const int oldColumns = int(m_tabStops.size());
    m_tabStops.resize(std::size_t(newColumns));
    if (newColumns > oldColumns) {
        resetTabStops(oldColumns);
    }
    m_column = std::min(newColumns - 1, m_column);
    m_scrollTop = 0;
    m_scrollBottom = newRows - 1;
}

void TerminalScreen::appendLineText(QString& text, const Line& line) {
    const qsizetype lineStart = text.size();
    // Cells after `dirty` are blank, and trailing blanks are cut below anyway.
    for (int column = 0; column < line.dirty; ++column) {
        const PackedCell& cell = line.cells[std::size_t(column)];
        if (cell.continuation()) {
            continue;
        }
        if (cell.hasCombining()) {
            text += textOf(line, column);
        } else {
            appendScalar(text, cell.codePoint());
        }
    }
    qsizetype end = text.size();
    while (end > lineStart && text.at(end - 1).isSpace()) {
        --end;
    }
    text.truncate(end);
}

QString TerminalScreen::plainText() const {
    QString text;
    for (int index = 0; index < m_historyCount; ++index) {
        appendLineText(text, historyLine(index));
        text.append(QLatin1Char('\n'));
    }
    for (int row = 0; row < m_rows; ++row) {
        appendLineText(text, lineAt(row));
        text.append(QLatin1Char('\n'));
    }
    return text.trimmed();
}

QString TerminalScreen::rowText(int row) const {
    QString text;
    if (row >= 0 && row < m_rows) {
        appendLineText(text, lineAt(row));
    }
    return text;
}

QString TerminalScreen::invariantViolation() const {
    auto gridViolation = [this](const Grid& grid, const char* name) -> QString {
        if (int(grid.lines.size()) != m_rows || grid.top < 0 || grid.top >= m_rows) {
            return QStringLiteral("%1 has %2 lines for %3 rows")
                .arg(QLatin1String(name))
                .arg(grid.lines.size())
                .arg(m_rows);
        }
        for (const Line& line : grid.lines) {
            if (int(line.cells.size()) != m_columns) {
                return QStringLiteral("%1 has a line of %2 cells for %3 columns")
                    .arg(QLatin1String(name))
                    .arg(line.cells.size())
                    .arg(m_columns);
            }
        }
        return {};
    };
    if (QString violation = gridViolation(m_grid, "the grid"); !violation.isEmpty()) {
        return violation;
    }
    if (m_row < 0 || m_row >= m_rows || m_column < 0 || m_column >= m_columns) {
        return QStringLiteral("cursor (%1, %2) outside %3 x %4")
            .arg(m_row)
            .arg(m_column)
            .arg(m_rows)
            .arg(m_columns);
    }
    if (m_scrollTop < 0 || m_scrollTop > m_scrollBottom || m_scrollBottom >= m_rows) {
        return QStringLiteral("scroll region %1-%2 with %3 rows")
            .arg(m_scrollTop)
            .arg(m_scrollBottom)
            .arg(m_rows);
    }
    if (int(m_tabStops.size()) != m_columns) {
        return QStringLiteral("%1 tab stop places for %2 columns")
            .arg(m_tabStops.size())
            .arg(m_columns);
    }
    if (m_historyCount < 0 || m_historyCount > m_scrollbackLimit ||
        m_historyCount > int(m_history.size())) {
        return QStringLiteral("scrollback holds %1 lines").arg(m_historyCount);
    }
    for (int index = 0; index < m_historyCount; ++index) {
        const HistoryLine& line = m_history[historySlot(index)];
        if (line.cells.size() > line.width) {
            return QStringLiteral("scrollback line %1 holds %2 cells for a width of %3")
                .arg(index)
                .arg(line.cells.size())
                .arg(line.width);
        }
    }
    // Blanking stops at `dirty`, so nothing may be written after it.
    for (int row = 0; row < m_rows; ++row) {
        const Line& line = lineAt(row);
        for (int column = line.dirty; column < m_columns; ++column) {
            if (line.cells[std::size_t(column)] != kBlankCell) {
                return QStringLiteral("line %1 has a written cell at %2 after its end %3")
                    .arg(row)
                    .arg(column)
                    .arg(line.dirty);
            }
        }
    }
    if (m_alternate) {
        if (QString violation = gridViolation(m_alternate->grid, "the saved main screen");
            !violation.isEmpty()) {
            return violation;
        }
        if (m_alternate->row < 0 || m_alternate->row >= m_rows || m_alternate->column < 0 ||
            m_alternate->column >= m_columns) {
            return QStringLiteral("saved main cursor (%1, %2) outside the grid")
                .arg(m_alternate->row)
                .arg(m_alternate->column);
        }
    }
    if (QString violation = reportedStateViolation(); !violation.isEmpty()) {
        return violation;
    }
    return linkViolation();
}
