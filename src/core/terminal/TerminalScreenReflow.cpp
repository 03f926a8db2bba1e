// Re-wrapping the main screen and the scrollback when the width changes.
#include "core/terminal/TerminalScreen.h"

#include "core/terminal/TerminalScreenDetail.h"

#include <algorithm>
#include <utility>

using terminal_detail::kBlankCell;

namespace {

// A cell that draws nothing, whatever its text colour: trailing ones are no content.
bool drawsNothing(const PackedCell& cell) {
    constexpr std::uint32_t kVisibleFlags = PackedCell::kInverse | PackedCell::kContinuation |
                                            PackedCell::kHasCombining | PackedCell::kStrikethrough |
                                            PackedCell::kOverline;
    return cell.codePoint() == U' ' && !(cell.codeAndFlags & kVisibleFlags) &&
           !(cell.backgroundWord & PackedCell::kColorPresent) &&
           !(cell.foregroundWord & PackedCell::kUnderlineMask);
}

// Where a cell of a re-wrapped text went: the new line (counted over everything laid out)
// and the column on it.
struct Placement {
    int line = 0;
    int column = 0;
};

}  // namespace

void TerminalScreen::reflow(Grid& grid, int& cursorRow, int& cursorColumn, bool& pendingWrap,
                            int rows, int columns) {
    // The source lines in order: the scrollback, then the grid down to its last line with
    // something drawn or the cursor's line (and the lines that line wraps into). The blank
    // lines below are made again at the end.
    int lastGridLine = cursorRow;
    for (int row = int(grid.lines.size()) - 1; row > lastGridLine; --row) {
        const Line& line = lineOf(grid, row);
        if (!std::all_of(line.cells.begin(), line.cells.begin() + line.dirty, drawsNothing)) {
            lastGridLine = row;
        }
    }
    while (lastGridLine + 1 < int(grid.lines.size()) &&
           lineOf(grid, lastGridLine).wrap != Wrap::None) {
        ++lastGridLine;
    }
    // Scrollback lines are expanded one at a time, as the loop below reaches them.
    historyChanged();
    const int firstGridSource = m_historyCount;
    std::vector<Line> gridSources;
    gridSources.reserve(std::size_t(lastGridLine + 1));
    for (int row = 0; row <= lastGridLine; ++row) {
        gridSources.push_back(std::move(lineOf(grid, row)));
    }
    const std::size_t sourceCount = std::size_t(firstGridSource) + gridSources.size();
    Line expanded;
    auto sourceLine = [&](std::size_t next) -> Line& {
        if (next >= std::size_t(firstGridSource)) {
            return gridSources[next - std::size_t(firstGridSource)];
        }
        HistoryLine& stored = storedLine(int(next));
        expandLine(stored, expanded);
        expanded.links = std::exchange(stored.links, -1);
        stored.cells.clear(m_historyPool);  // its memory is not needed any more
        return expanded;
    };
    const int cursorSource = firstGridSource + cursorRow;

    std::vector<Line> laid;  // the new lines, scrollback and grid alike
    laid.reserve(sourceCount);
    std::vector<PackedCell> text;       // one text: the cells of a run of wrapped lines
    std::vector<CombiningMarks> marks;  // their columns counted from the text's start
    // While a text holds links: the link table index of each of its cells, as slots only
    // mean something on their own line; and the lists of links of its lines, let go of once
    // the new lines hold their links.
    std::vector<std::uint16_t> textLinks;
    std::vector<int> textLinkLists;
    Placement cursor;
    int gridTop = -1;  // the new line where the old grid's top line starts

    // Copying a blank line is vectorised, filling with a 12-byte pattern is not.
    const std::vector<PackedCell> blankRow(std::size_t(columns), kBlankCell);
    auto newLine = [&laid, &blankRow, columns]() -> Line& {
        Line& line = laid.emplace_back();
        line.cells = blankRow;
        line.width = columns;
        return line;
    };

    for (std::size_t next = 0; next < sourceCount;) {
        // Join a run of lines: every one but the last wrapped into the next.
        text.clear();
        marks.clear();
        textLinks.clear();
        textLinkLists.clear();
        bool linked = false;
        int cursorOffset = -1;
        int gridTopOffset = -1;
        bool hasWide = false;
        for (;;) {
            Line& source = sourceLine(next);
            const int width = int(source.cells.size());
            const int offset = int(text.size());
            if (int(next) == cursorSource) {
                cursorOffset = offset + cursorColumn + (pendingWrap ? 1 : 0);
            }
            if (int(next) == firstGridSource) {
                gridTopOffset = offset;
            }
            // The padding before an early wrap is left out, unless written over since.
            const bool padded =
                source.wrap == Wrap::BeforeWide && source.cells.back() == kBlankCell;
            const int taken = source.wrap == Wrap::None ? source.dirty : width - (padded ? 1 : 0);
            text.insert(text.end(), source.cells.begin(), source.cells.begin() + taken);
            if (source.links >= 0 || linked) [[unlikely]] {
                if (!linked) {
                    textLinks.assign(std::size_t(offset), kNoLink);
                    linked = true;
                }
                appendLinkIndexes(source, taken, textLinks);
                if (source.links >= 0) {
                    textLinkLists.push_back(std::exchange(source.links, -1));
                }
            }
            for (CombiningMarks& entry : source.marks) {
                if (entry.column < taken &&
                    source.cells[std::size_t(entry.column)].hasCombining()) {
                    marks.push_back(entry);
                    marks.back().column += offset;
                }
            }
            const bool wrapped = source.wrap != Wrap::None;
            hasWide = hasWide || source.hasWide;
            if (&source != &expanded) {
                source = Line{};  // its memory is not needed any more
            }
            ++next;
            if (!wrapped || next == sourceCount) {
                break;
            }
        }
        std::sort(marks.begin(), marks.end(), [](const CombiningMarks& a, const CombiningMarks& b) {
            return a.column < b.column;
        });
        int length = int(text.size());
        while (length > 0 && drawsNothing(text[std::size_t(length - 1)])) {
            --length;
        }

        // Cut it again at the new width, a line at a time; a double-width character that
        // would start in the last column goes on to the next line.
        const int firstLine = int(laid.size());
        Line* line = &newLine();
        int column = 0;  // where the text ends on the last line
        std::size_t nextMark = 0;
        Placement cursorPlace{-1, 0};
        Placement gridTopPlace{-1, 0};
        for (int index = 0;;) {
            int count = std::min(columns, length - index);
            if (index + count < length && text[std::size_t(index + count)].continuation() &&
                !text[std::size_t(index + count - 1)].continuation()) {
                --count;
            }
            std::copy_n(text.begin() + index, count, line->cells.begin());
            line->hasWide = hasWide;
            if (linked) [[unlikely]] {
                line->dirty = count;
                relinkCells(*line, textLinks.data() + index, count);
            }
            const int lineIndex = int(laid.size()) - 1;
            if (cursorOffset >= index && cursorOffset < index + count) {
                cursorPlace = {lineIndex, cursorOffset - index};
            }
            if (gridTopOffset >= index && gridTopOffset < index + count) {
                gridTopPlace = {lineIndex, gridTopOffset - index};
            }
            for (; nextMark < marks.size() && marks[nextMark].column < index + count; ++nextMark) {
                line->marks.push_back(marks[nextMark]);
                line->marks.back().column -= index;
            }
            index += count;
            column = count;
            if (index >= length) {
                break;
            }
            line->wrap = count < columns ? Wrap::BeforeWide : Wrap::Full;
            line->dirty = count;
            line = &newLine();
        }
        line->dirty = column;
        for (const int list : textLinkLists) {
            releaseLinkList(list);
        }
        // Past the text, offsets count blank cells from where it ended.
        auto pastEnd = [&](int offset) {
            const int cells = column + offset - length;
            return Placement{int(laid.size()) - 1 + cells / columns, cells % columns};
        };
        if (cursorOffset >= 0) {
            if (cursorPlace.line < 0) {
                cursorPlace = pastEnd(cursorOffset);
            }
            // A pending wrap stays pending when the cursor comes back to the last column;
            // elsewhere the cursor stands where the next character goes.
            const bool stillPending = pendingWrap && cursorPlace.column == 0 &&
                                      cursorPlace.line > firstLine && cursorOffset >= length;
            if (stillPending) {
                cursorPlace = {cursorPlace.line - 1, columns - 1};
            }
            pendingWrap = stillPending;
            // The cursor's line reaches down to it, the lines before wrapping into it.
            while (int(laid.size()) - 1 < cursorPlace.line) {
                laid.back().wrap = Wrap::Full;
                newLine();
            }
            cursor = cursorPlace;
        }
        if (gridTopOffset >= 0) {
            if (gridTopPlace.line < 0) {
                gridTopPlace = pastEnd(gridTopOffset);
            }
            gridTop = std::min(gridTopPlace.line, int(laid.size()) - 1);
        }
    }

    // The grid starts at its old top line, lower when the lines down to the cursor (and,
    // room permitting, the written lines below it) need it; what is above goes to the
    // scrollback, what is below the grid is cut.
    const int lastNeeded = std::min(int(laid.size()) - 1, cursor.line + rows - 1);
    const int gridStart = std::min(std::max(gridTop, lastNeeded - rows + 1), cursor.line);
    const int historyCount = std::min(gridStart, m_scrollbackLimit);
    // Lines that are dropped let go of their links: the old grid's lines below the text, and
    // (at the end) the new lines beyond the scrollback limit or below the grid. Lines moved
    // away list none.
    auto releaseDropped = [this](std::vector<Line>& lines) {
        for (Line& line : lines) {
            if (line.links >= 0) [[unlikely]] {
                releaseLinks(line);
            }
        }
    };
    releaseHistoryLinks();
    releaseDropped(grid.lines);
    m_history.clear();
    m_history.shrink_to_fit();
    m_historyPool = TerminalCompactPool{};
    m_history.resize(std::size_t(historyCount));
    for (int index = 0; index < historyCount; ++index) {
        Line& line = laid[std::size_t(gridStart - historyCount + index)];
        storeLine(m_history[std::size_t(index)], line);
        line = Line{};
    }
    m_historyStart = 0;
    // Lines the narrower width pushed into the scrollback count as scrolled off, so that
    // the visible lines keep numbers above the scrollback's.
    m_linesScrolledOff += std::max(0, historyCount - m_historyCount);
    m_historyCount = historyCount;

    grid.lines.clear();
    grid.top = 0;
    for (int index = gridStart; index < gridStart + rows; ++index) {
        if (index < int(laid.size())) {
            grid.lines.push_back(std::move(laid[std::size_t(index)]));
        } else {
            Line& line = grid.lines.emplace_back();
            line.cells.assign(std::size_t(columns), kBlankCell);
        }
    }
    releaseDropped(laid);
    cursorRow = cursor.line - gridStart;
    cursorColumn = cursor.column;
}
