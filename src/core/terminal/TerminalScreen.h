#pragma once

#include "core/terminal/TerminalCell.h"
#include "core/terminal/TerminalLinks.h"
#include "core/terminal/TerminalParser.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <utility>
#include <vector>

/// A (row, column) pair, 0-based.
struct TerminalPosition {
    int row = 0;
    int column = 0;
    bool operator==(const TerminalPosition&) const = default;
};

/// The in-memory model of one terminal: a grid of rows × columns cells, the cursor, a
/// scrollback of at most 2000 lines, the saved main screen while the alternate screen is
/// shown, the scroll region, the input modes, and the interpreter that turns a child
/// program's output into changes of all these (see docs/terminal-sequences.md).
///
/// Storage: cells are PackedCell values; the grid is a ring of lines, so a full-screen
/// scroll moves no line at all, and the scrollback is a ring whose evicted line buffers are
/// reused for the new blank lines, so steady output allocates nothing. Hyperlinks (OSC 8)
/// live in a bounded link table that cells reach through their line (TerminalScreenLinks.cpp).
///
/// Not thread-safe: used on the main thread only.
class TerminalScreen : private TerminalParserHandler {
public:
    static constexpr int kScrollbackLimit = 2000;
    static constexpr int kMinimumRows = 3;
    static constexpr int kMinimumColumns = 10;
    /// Combining scalars kept per cell; further ones are dropped.
    static constexpr int kMaxCombiningPerCell = 16;

    /// Requires rows >= 1 and columns >= 1 (smaller values are raised to 1).
    explicit TerminalScreen(int rows = 24, int columns = 80);
    ~TerminalScreen() override;
    TerminalScreen(const TerminalScreen&) = delete;
    TerminalScreen& operator=(const TerminalScreen&) = delete;

    int rows() const { return m_rows; }
    int columns() const { return m_columns; }

    // ---- Output -------------------------------------------------------------------------
    /// Raw output bytes in any chunking; an incomplete UTF-8 tail waits for the next call.
    void feed(QByteArrayView data);
    /// As feed(data), but stops soon after about `work` units of work (a unit is about one
    /// cell written, blanked or moved) and returns how many bytes it read; the rest is to be
    /// fed later. Always reads something of non-empty data.
    qsizetype feed(QByteArrayView data, qint64 work);
    /// Already decoded text (the session's own messages).
    void feed(QStringView text);
    /// Receives the replies to terminal queries, synchronously inside feed().
    void setOnResponse(std::function<void(const QString&)> callback);

    // ---- Cursor, modes, interpreter state -----------------------------------------------
    int row() const { return m_row; }
    int column() const { return m_column; }
    bool pendingWrap() const { return m_pendingWrap; }
    bool cursorVisible() const { return m_cursorVisible; }
    bool bracketedPaste() const { return m_bracketedPaste; }
    bool applicationCursor() const { return m_applicationCursor; }
    int scrollTop() const { return m_scrollTop; }
    int scrollBottom() const { return m_scrollBottom; }
    TerminalPosition savedCursor() const { return m_savedCursor; }
    /// True while the alternate screen is shown (the main screen is saved aside).
    bool alternateScreenActive() const { return m_alternate.has_value(); }
    /// Attributes given to newly written characters (text and continuation unused).
    TerminalCell style() const;

    // ---- Grid ---------------------------------------------------------------------------
    /// The cells of visible line `row` (0 is the top line). Valid until the next change.
    std::span<const PackedCell> lineCells(int row) const;
    /// Text of a visible cell: its scalar plus combining marks; "" for a continuation.
    QString cellText(int row, int column) const;
    TerminalCell cell(int row, int column) const;
    std::vector<TerminalCell> line(int row) const;
    /// A line of `columns` blank cells.
    std::vector<TerminalCell> blankLine() const;

    // ---- Scrollback, oldest first ---------------------------------------------------------
    int scrollbackSize() const { return m_historyCount; }
    /// The width scrollback line `index` had on the grid.
    int scrollbackLineWidth(int index) const;
    /// Cells of scrollback line `index` up to its last written cell: the cells after them,
    /// up to scrollbackLineWidth(), are blank.
    std::span<const PackedCell> scrollbackLineCells(int index) const;
    QString scrollbackCellText(int index, int column) const;
    TerminalCell scrollbackCell(int index, int column) const;
    std::vector<TerminalCell> scrollbackLine(int index) const;
    /// The underline colour of PackedCell::underlineColorSlot() `slot`; absent for slot 0
    /// (the text colour). Slots stay valid for the screen's lifetime.
    std::optional<TerminalColor> underlineColor(int slot) const;

    // ---- Hyperlinks (OSC 8) ------------------------------------------------------------------
    /// Longest URI kept: a link with a longer one is not made (its cells carry none).
    static constexpr int kMaxLinkUriLength = 4096;
    /// Longest id kept; a link with a longer one is not made either.
    static constexpr int kMaxLinkIdLength = 256;
    /// The link of a visible cell; absent when it has none.
    std::optional<TerminalHyperlink> linkAt(int row, int column) const;
    /// The link of a cell of scrollback line `index`; absent when it has none.
    std::optional<TerminalHyperlink> scrollbackLinkAt(int index, int column) const;
    /// TerminalHyperlink::index of a visible cell's link, -1 when it has none: the cheap
    /// question for drawing, where cells of one link are compared.
    int linkIndex(int row, int column) const;
    int scrollbackLinkIndex(int index, int column) const;
    /// Entries of the link table in use (at most TerminalLinkTable::kCapacity).
    int linkCount() const { return m_links.liveCount(); }

    // ---- Primitives -----------------------------------------------------------------------
    /// Scrolls the scroll region up one line; the line leaving the top of the main screen
    /// enters the scrollback.
    void scrollUp();
    /// Erases cells `from` … `to` of line `row`: blank, in the current background colour;
    /// nothing when to < from.
    void erase(int row, int from, int to);
    /// Moves the cursor into the grid and clears the pending wrap.
    void clamp();
    /// Blank grid, cursor home, blank style, full scroll region, no pending wrap.
    void reset();
    /// Changes the grid size (raised to at least 3 × 10), keeping the cursor's line visible;
    /// lines leaving the top of the main screen enter the scrollback. No reflow.
    void resize(int rows, int columns);
    void switchToAlternateScreen();
    void returnFromAlternateScreen();
    /// The whole content, scrollback first, one text line per grid line, trailing
    /// whitespace removed from each line and the whole trimmed.
    QString plainText() const;
    /// The text of one grid row, trailing whitespace removed.
    QString rowText(int row) const;

    /// Checks the structural invariants (grid shape, cursor, scroll region, scrollback
    /// bound). Returns the first violation, or an empty text.
    QString invariantViolation() const;

private:
    struct CombiningMarks {
        int column = 0;
        QString text;
    };
    struct Line {
        std::vector<PackedCell> cells;
        std::vector<CombiningMarks> marks;  // at most one entry per column
        int dirty = 0;                      // cells from here on are blank, so blanking stops here
        bool hasWide = false;  // a double-width character was written since the last blank
        int width = 0;         // scrollback lines only: the width the line had on the grid
        // The line's list of links in m_linkLists, -1 for none: slot s of a cell is entry
        // s - 1, a link table index (kNoLink when free). Cells carry slots of their own line
        // only, so cells never move to another line without their slot being translated.
        // An index, not the list itself, keeps a line at 64 bytes: lines are found by
        // multiplying with their size on every character written.
        int links = -1;
    };
    /// The visible lines as a ring: logical line r is lines[(top + r) % lines.size()].
    struct Grid {
        std::vector<Line> lines;
        int top = 0;
    };
    struct SavedScreen {
        Grid grid;
        int row = 0;
        int column = 0;
    };

    /// Gathered repeats are written before they could reach this many, long before the count
    /// could overflow.
    static constexpr qint64 kPendingRepeatLimit = qint64(1) << 50;

    // TerminalParserHandler
    void printAscii(const char* text, std::size_t length) override;
    void print(const char32_t* scalars, std::size_t count) override;
    void control(char32_t character) override;
    void escape(char32_t intermediate, char32_t finalCharacter) override;
    void controlSequence(const TerminalControlSequence& sequence) override;
    void operatingSystemCommand(std::string_view text, bool truncated) override;

    void put(char32_t scalar);
    void putCell(char32_t scalar, bool doubleWidth);
    void addCombining(char32_t scalar);
    void repeatLastCharacter(int count);
    /// Writes the repeats REP and matching text have gathered (see m_pendingRepeats).
    void applyPendingRepeats() {
        if (m_pendingRepeats != 0) {
            writeRepeats(std::exchange(m_pendingRepeats, 0));
        }
    }
    /// Writes m_lastGraphic `count` times, with the cells, wraps, scrolls and scrollback lines
    /// of as many putCell() calls, a line segment at a time.
    void writeRepeats(qint64 count);
    /// Writes `count` copies of the character from the cursor on, all on the cursor's line
    /// (the caller has checked that they fit), and moves the cursor past them.
    void writeRepeatSegment(int count, bool doubleWidth);
    void wrapToNextLine();
    void lineFeed();
    void reverseIndex();
    void fullReset();
    void setMode(const int* parameters, int count, bool enable);
    void selectGraphicRendition(const int* parameters, int count);
    void selectGraphicRenditionWithSubparameters(std::string_view parameters);
    void insertCharacters(int count);
    void deleteCharacters(int count);
    void insertLines(int count);
    void deleteLines(int count);
    void scrollDown(int count);
    void eraseInDisplay(int mode);
    void respond(const QString& reply);
    /// OSC 8: "params;URI" opens a link for the characters written next, an empty URI (or
    /// one that is not kept) ends it.
    void setHyperlink(std::string_view text, bool truncated);
    /// The link table entry OSC 8 `text` opens, kNone for none; `previous` is the open one.
    int openedLink(std::string_view text, bool truncated, int previous);
    void closeLink();
    /// Gives cells `from` … `to` - 1 of `line` the open link (m_link), when the line has
    /// a slot left for it.
    void markLink(Line& line, int from, int to);
    /// The line's slot for link table entry `link`, taken now if needed; 0 when all are taken.
    int linkSlotFor(Line& line, int link);
    /// Frees the line's slots no cell uses.
    void sweepLine(Line& line);
    /// Lets go of all the line's links (it is being blanked).
    void releaseLinks(Line& line);
    /// Gives the line's list back to the pool without letting go of its links (the sweep
    /// recounts them).
    void dropLinkList(Line& line);
    std::vector<std::uint16_t>& linkListOf(const Line& line) {
        return m_linkLists[std::size_t(line.links)];
    }
    const std::vector<std::uint16_t>& linkListOf(const Line& line) const {
        return m_linkLists[std::size_t(line.links)];
    }
    void releaseHistoryLinks();
    /// Sweeps every line and recounts the table, freeing what no line lists but `open`.
    void sweepLinks(int open);
    int linkIndexOf(const Line& line, int column) const;
    std::optional<TerminalHyperlink> linkOf(const Line& line, int column) const;
    /// The first broken link invariant (table bound, slots naming live entries), or "".
    QString linkViolation() const;

    /// Counts work against the budget of feed(data, work), pausing the parser once it is used.
    void spend(qint64 work) {
        m_workLeft -= work;
        if (m_workLeft <= 0) [[unlikely]] {
            m_parser.pause();
        }
    }

    Line& lineAt(int row);
    const Line& lineAt(int row) const;
    static Line& lineOf(Grid& grid, int row);
    static const Line& lineOf(const Grid& grid, int row);
    void blankLine(Line& line);
    /// blankLine() for a line that holds no links.
    void blankCells(Line& line) const;
    /// The cell that erasing, inserting, deleting and scrolling leave: blank, with the
    /// current background colour and no other attribute.
    PackedCell erasedCell() const {
        return {U' ', 0, m_style.backgroundWord & PackedCell::kColorMask};
    }
    /// Blanks a whole line with `fill`, the erasedCell() of the moment (callers erasing
    /// many lines read it once).
    void eraseLine(Line& line, const PackedCell& fill) {
        blankLine(line);
        if (fill != PackedCell{}) [[unlikely]] {
            fillLine(line, fill);
        }
    }
    /// Fills every cell of a line with `fill`, which is not blank.
    void fillLine(Line& line, const PackedCell& fill) const;
    /// Erases grid lines first … last (none when last < first) as eraseLine() does.
    void eraseLines(int first, int last);
    void blankRange(Line& line, int from, int to);
    /// Sets the underline colour of new characters from a colour word (0: the text colour).
    void setUnderlineColor(std::uint32_t colorWord);
    /// Sets the colour of SGR 38 (text), 48 (background) or 58 (underline).
    void setExtendedColor(int code, std::uint32_t colorWord);
    /// Rotates lines first … last of the grid so that line first + shift comes first.
    void rotateLines(int first, int last, int shift);
    void pushHistory(Line& line);
    const Line& historyLine(int index) const;
    void refit(Grid& grid, int& cursorRow, bool saveHistory, int rows, int columns);
    void prepareFreshGrid(Grid& grid) const;
    static QString textOf(const Line& line, int column);
    static void appendLineText(QString& text, const Line& line);
    TerminalCell cellOf(const Line& line, int column) const;
    /// Blanks the other half of a double-width character that a write to `column` splits.
    void breakWideCharacterAt(Line& line, int column);

    TerminalParser m_parser;
    int m_rows = 0;
    int m_columns = 0;
    std::vector<PackedCell> m_blankRow;  // a blank line of the current width to copy from
    Grid m_grid;
    Grid m_spareGrid;  // the other screen's buffers, kept for the next switch
    std::optional<SavedScreen> m_alternate;
    std::vector<Line> m_history;  // ring of kScrollbackLimit slots once used
    int m_historyStart = 0;
    int m_historyCount = 0;

    int m_row = 0;
    int m_column = 0;
    bool m_pendingWrap = false;
    bool m_cursorVisible = true;
    bool m_bracketedPaste = false;
    bool m_applicationCursor = false;
    int m_scrollTop = 0;
    int m_scrollBottom = 0;
    TerminalPosition m_savedCursor;
    PackedCell m_style;  // code point unused
    // 0xRRGGBB of each underline colour slot in use; slot 0 is the text colour. Cells in the
    // grid and the scrollback keep their slots, so entries are never replaced.
    std::vector<std::uint32_t> m_underlineColors{0};
    bool m_lineDrawing = false;
    char32_t m_lastGraphic = 0;  // for REP
    // Repeats of m_lastGraphic not written yet. Within one feed, REP and text made only of
    // that character add up here, and anything else writes them first, so a flood of
    // repeats costs one run of lines however many sequences it holds.
    qint64 m_pendingRepeats = 0;
    std::vector<PackedCell> m_repeatRow;  // a line of the repeated cells to copy from
    static constexpr std::uint16_t kNoLink = 0xFFFF;
    TerminalLinkTable m_links;
    std::vector<std::vector<std::uint16_t>> m_linkLists;  // see Line::links
    std::vector<int> m_freeLinkLists;
    int m_link = TerminalLinkTable::kNone;  // the link new characters get
    // New entries asked for since the table was last swept (see sweepLinks()).
    int m_linkRequestsSinceSweep = 0;
    qint64 m_workLeft = std::numeric_limits<qint64>::max();  // see spend()
    std::function<void(const QString&)> m_onResponse;
};

// Line lookups sit on the hot path of every printed character: inline for both source files.
inline TerminalScreen::Line& TerminalScreen::lineOf(Grid& grid, int row) {
    std::size_t index = std::size_t(grid.top + row);
    if (index >= grid.lines.size()) {
        index -= grid.lines.size();
    }
    return grid.lines[index];
}

inline const TerminalScreen::Line& TerminalScreen::lineOf(const Grid& grid, int row) {
    std::size_t index = std::size_t(grid.top + row);
    if (index >= grid.lines.size()) {
        index -= grid.lines.size();
    }
    return grid.lines[index];
}

inline TerminalScreen::Line& TerminalScreen::lineAt(int row) {
    return lineOf(m_grid, row);
}

inline const TerminalScreen::Line& TerminalScreen::lineAt(int row) const {
    return lineOf(m_grid, row);
}
