#pragma once

#include "core/terminal/TerminalCell.h"
#include "core/terminal/TerminalCompactCells.h"
#include "core/terminal/TerminalLinks.h"
#include "core/terminal/TerminalParser.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <algorithm>
#include <array>
#include <cstdint>
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

/// A progress report of the program: state 0 none, 1 running, 2 error, 3 indeterminate,
/// 4 paused; percent 0-100.
struct TerminalProgress {
    int state = 0;
    int percent = 0;
    bool operator==(const TerminalProgress&) const = default;
};

/// Something the program did that the screen's owner may show: see
/// TerminalScreen::setOnEvent().
struct TerminalScreenEvent {
    enum class Kind {
        TitleChanged,      ///< title() changed
        DirectoryChanged,  ///< currentDirectory() changed
        ProgressChanged,   ///< progress() changed
        Notification,      ///< a desktop notification: title and body
        Bell,
        ClipboardWrite,  ///< body copied to the clipboard, when allowed
    };
    Kind kind = Kind::Bell;
    QString title;
    QString body;
};

/// How the cursor is drawn.
enum class TerminalCursorShape : std::uint8_t { Block, Underline, Bar };

/// Which mouse actions the program asked to hear about.
enum class TerminalMouseTracking : std::uint8_t { None, Clicks, Drags, Motion };

/// How mouse reports are to be encoded.
enum class TerminalMouseEncoding : std::uint8_t { Default, Utf8, Sgr };

/// The in-memory model of one terminal: a grid of rows × columns cells, the cursor, a
/// scrollback of at most scrollbackLimit() lines, the saved main screen while the alternate screen
/// is shown, the scroll region, the input modes, and the interpreter that turns a child program's
/// output into changes of all these (see docs/terminal-sequences.md).
///
/// Storage: cells are PackedCell values; the grid is a ring of lines, so a full-screen
/// scroll moves no line at all. Combining marks are kept per cell in their line, in place.
/// The scrollback is a ring (grown up to the limit) of lines stored compactly
/// (TerminalCompactCells: their written cells only, code points of one to four bytes and
/// runs of shared attributes, the marks attached) in blocks of one pool
/// (TerminalCompactPool); a line's block is reused by the line that takes its slot, so
/// filling the scrollback costs a chunk per many lines and steady output allocates little.
/// Hyperlinks (OSC 8) live in a bounded link table that cells reach through their line
/// (TerminalScreenLinks.cpp).
///
/// Not thread-safe: used on the main thread only.
class TerminalScreen : private TerminalParserHandler {
public:
    /// The scrollback limit a new screen starts with.
    static constexpr int kScrollbackLimit = 10'000;
    /// The highest scrollback limit that can be set.
    static constexpr int kMaxScrollbackLimit = 100'000;
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
    /// On: the keypad sends application sequences (DECKPAM, ESC =; ESC > turns it off).
    bool applicationKeypad() const { return m_applicationKeypad; }
    /// Pushed kitty keyboard flags each screen keeps; a further push drops the oldest.
    static constexpr int kKeyboardFlagStackDepth = 16;
    /// The kitty keyboard protocol's flags in force on the screen shown (the main and the
    /// alternate screen keep their own stacks); 0: keys are sent as xterm sends them.
    int keyboardFlags() const {
        const std::vector<std::uint8_t>& stack = m_keyboardFlags[alternateScreenActive() ? 1 : 0];
        return stack.empty() ? 0 : stack.back();
    }
    int scrollTop() const { return m_scrollTop; }
    int scrollBottom() const { return m_scrollBottom; }
    TerminalPosition savedCursor() const { return m_savedCursor; }
    /// Off: printing in the last column overwrites it instead of wrapping.
    bool autowrap() const { return m_autowrap; }
    /// On: printed characters push the rest of the line right.
    bool insertMode() const { return m_insertMode; }
    /// On: cursor addresses count from the scroll region's top line and stay inside it.
    bool originMode() const { return m_originMode; }
    bool tabStopAt(int column) const {
        return column >= 0 && column < int(m_tabStops.size()) && m_tabStops[std::size_t(column)];
    }
    TerminalCursorShape cursorShape() const { return m_cursorShape; }
    bool cursorBlinking() const { return m_cursorBlinking; }
    /// True while the program is drawing an update that should show only once complete
    /// (synchronized output).
    bool updateOpen() const { return m_updateOpen; }
    /// Ends an open update as if the program had: what a view does when one stays open
    /// too long.
    void endUpdate() { m_updateOpen = false; }
    bool focusEvents() const { return m_focusEvents; }
    TerminalMouseTracking mouseTracking() const { return m_mouseTracking; }
    TerminalMouseEncoding mouseEncoding() const { return m_mouseEncoding; }
    /// On (the default): the wheel sends cursor keys while the alternate screen is shown and
    /// no mouse tracking is on.
    bool alternateScroll() const { return m_alternateScroll; }
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
    /// True when visible line `row` was filled by writing and continues on the next line (the
    /// text wrapped there), so that changing the width re-wraps them together.
    bool rowWrapped(int row) const;

    // ---- Scrollback, oldest first ---------------------------------------------------------
    int scrollbackSize() const { return m_historyCount; }
    /// Most lines the scrollback keeps; the oldest leave first.
    int scrollbackLimit() const { return m_scrollbackLimit; }
    /// Sets the limit (kept between 0 and kMaxScrollbackLimit). A lower limit drops the oldest
    /// lines at once and frees their memory; 0 keeps no scrollback at all.
    void setScrollbackLimit(int lines);
    /// The width scrollback line `index` had on the grid.
    int scrollbackLineWidth(int index) const;
    /// Cells of scrollback line `index` up to its last written cell: the cells after them,
    /// up to scrollbackLineWidth(), are blank. The scrollback keeps its lines compact and
    /// expands a line when it is read: the span stays valid until the scrollback changes or
    /// 15 other scrollback lines have been read.
    std::span<const PackedCell> scrollbackLineCells(int index) const;
    QString scrollbackCellText(int index, int column) const;
    TerminalCell scrollbackCell(int index, int column) const;
    std::vector<TerminalCell> scrollbackLine(int index) const;
    /// As rowWrapped(), for scrollback line `index`: the next line (or visible line 0 after the
    /// newest) continues it.
    bool scrollbackLineWrapped(int index) const;
    /// Lines that ever entered the scrollback, those since dropped or cleared included: the
    /// number of visible line 0 in a numbering that stays with the text as it scrolls (line
    /// n - scrollbackSize() + i is scrollback line i). Re-wrapping renumbers.
    qint64 linesScrolledOff() const { return m_linesScrolledOff; }
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
    /// lines leaving the top of the main screen enter the scrollback. A new width re-wraps the
    /// lines of the main screen and the scrollback that wrapped (see reflow()); the alternate
    /// screen's lines are cut or padded. The history never comes back onto the grid.
    void resize(int rows, int columns);
    void switchToAlternateScreen();
    void returnFromAlternateScreen();
    /// The whole content, scrollback first, one text line per grid line, trailing
    /// whitespace removed from each line and the whole trimmed.
    QString plainText() const;
    /// The text of one grid row, trailing whitespace removed.
    QString rowText(int row) const;

    // ---- What the program reported -------------------------------------------------------
    /// Titles and icon names keep at most this many characters.
    static constexpr int kMaxTitleLength = 256;
    /// Titles saved by the title push; a further push drops the oldest.
    static constexpr int kTitleStackDepth = 10;
    /// Notification titles and bodies keep at most this many characters.
    static constexpr int kMaxNotificationLength = 1000;
    /// The window title the program set; empty until it sets one.
    QString title() const { return m_title; }
    QString iconName() const { return m_iconName; }
    int titleStackSize() const { return int(m_titleStack.size()); }
    /// The local path the program reported as its current directory; empty until reported.
    QString currentDirectory() const { return m_currentDirectory; }
    TerminalProgress progress() const { return m_progress; }
    /// Receives title, directory and progress changes, notifications, bells and clipboard
    /// writes, synchronously inside feed().
    void setOnEvent(std::function<void(const TerminalScreenEvent&)> callback);
    /// The colours (0xRRGGBB) the view paints default text, the default background and the
    /// cursor in; the screen reports them to programs that ask.
    void setDefaultColors(std::uint32_t foreground, std::uint32_t background, std::uint32_t cursor);
    std::uint32_t defaultForeground() const { return m_defaultForeground; }
    std::uint32_t defaultBackground() const { return m_defaultBackground; }
    std::uint32_t cursorColor() const { return m_cursorColor; }
    /// 0xRRGGBB of 256-colour palette entry `index` (0-255).
    static std::uint32_t paletteColor(int index);
    /// A program's clipboard write (OSC 52) carries at most this many bytes.
    static constexpr int kMaxClipboardBytes = 1 << 20;
    /// Whether clipboard writes become ClipboardWrite events; off, they are ignored. Reading
    /// the clipboard is never answered.
    void setClipboardWritesAllowed(bool allowed) { m_clipboardWritesAllowed = allowed; }
    bool clipboardWritesAllowed() const { return m_clipboardWritesAllowed; }

    /// Checks the structural invariants (grid shape, cursor, scroll region, scrollback
    /// bound, title and title stack bounds). Returns the first violation, or an empty text.
    QString invariantViolation() const;

private:
    /// The combining marks of one cell, held in place: a cell's marks never allocate.
    struct CombiningMarks {
        int column = 0;
        std::uint8_t length = 0;   // UTF-16 units used
        std::uint8_t scalars = 0;  // at most kMaxCombiningPerCell
        std::array<char16_t, 2 * kMaxCombiningPerCell> units;
        QStringView text() const { return {units.data(), qsizetype(length)}; }
    };
    /// How a line ends: with a line break of the program's, or with writing that went on
    /// at the start of the next line. A double-width character that did not fit in the last
    /// column wraps early, leaving that column as padding that is no part of the text.
    enum class Wrap : std::uint8_t { None, Full, BeforeWide };
    struct Line {
        std::vector<PackedCell> cells;
        // At most one entry per column. An entry whose cell lost kHasCombining is stale.
        std::vector<CombiningMarks> marks;
        int dirty = 0;  // cells from here on are blank, so blanking stops here
        int width = 0;  // scrollback lines only: the width the line had on the grid
        // The line's list of links in m_linkLists, -1 for none: slot s of a cell is entry
        // s - 1, a link table index (kNoLink when free). Cells carry slots of their own line
        // only, so cells never move to another line without their slot being translated
        // (re-wrapping does so), and a line is moved, never copied. An index, not the list
        // itself, keeps a line at 64 bytes: lines are found by multiplying with their size on
        // every character written.
        int links = -1;
        bool hasWide = false;    // a double-width character was written since the last blank
        Wrap wrap = Wrap::None;  // set by writing past the end, cleared by a line feed or erase

        Line() = default;
        // A line left behind by a move lists no links: they went with the cells.
        Line(Line&& other) noexcept { *this = std::move(other); }
        Line& operator=(Line&& other) noexcept {
            cells = std::move(other.cells);
            marks = std::move(other.marks);
            dirty = other.dirty;
            width = other.width;
            links = std::exchange(other.links, -1);
            hasWide = other.hasWide;
            wrap = other.wrap;
            return *this;
        }
        Line(const Line&) = delete;
        Line& operator=(const Line&) = delete;
    };
    static_assert(sizeof(Line) == 64);
    /// A scrollback line as stored: its written cells compacted (the cells after them, up
    /// to `width`, are blank) with its combining marks attached to them (see storeLine()),
    /// and what else Line keeps. Readers see it as a Line through historyLine(), which
    /// expands it.
    struct HistoryLine {
        TerminalCompactCells cells;
        int width = 0;
        int links = -1;  // as Line::links; a line left behind by a move lists none
        bool hasWide = false;
        Wrap wrap = Wrap::None;

        HistoryLine() = default;
        HistoryLine(HistoryLine&& other) noexcept { *this = std::move(other); }
        HistoryLine& operator=(HistoryLine&& other) noexcept {
            cells = std::move(other.cells);
            width = other.width;
            links = std::exchange(other.links, -1);
            hasWide = other.hasWide;
            wrap = other.wrap;
            return *this;
        }
    };
    /// Scrollback lines expanded for reading, the most recent few: spans and Line
    /// references handed out stay valid until the scrollback changes, or until this many
    /// other lines have been read.
    static constexpr int kExpandedLines = 16;
    struct ExpandedLine {
        int index = -1;
        std::uint64_t generation = 0;
        Line line;
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
    /// Decodes, measures and writes in one pass, as printScalars() would write the same
    /// scalars; the modes that change each write leave it to the decoding default.
    const std::uint8_t* printUtf8(const std::uint8_t* bytes, const std::uint8_t* end) override;
    void control(char32_t character) override;
    void escape(char32_t intermediate, char32_t finalCharacter) override;
    void controlSequence(const TerminalControlSequence& sequence) override;
    void operatingSystemCommand(QStringView text, bool bellTerminated) override;

    /// print() without line drawing: ASCII in the run is printed as it is.
    void printScalars(const char32_t* scalars, std::size_t count);
    Line& beginSegment();
    void endSegment(Line& line, int start, int column, bool wide, char32_t last);
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
    /// A sequence with intermediate characters: DECSCUSR and DECRQM.
    void intermediateSequence(const TerminalControlSequence& sequence);
    /// The modes of CSI h / CSI l (no private marker).
    void setAnsiMode(const int* parameters, int count, bool enable);
    void setOriginMode(bool enable);
    /// CSI ? u, CSI > u, CSI < u, CSI = u: the kitty keyboard flags' query, push, pop and set.
    void keyboardFlagsSequence(char marker, const int* parameters, int count);
    /// Answers DECRQM for private mode `mode` (`isPrivate`) or ANSI mode `mode`.
    void reportMode(int mode, bool isPrivate);
    /// 1 set, 2 reset, 0 not recognised, as DECRQM reports it.
    int modeState(int mode, bool isPrivate) const;
    /// Row `row` of a cursor address: counted from the scroll region in origin mode.
    int addressedRow(int row) const {
        return m_originMode ? std::clamp(m_scrollTop + row, m_scrollTop, m_scrollBottom) : row;
    }
    /// Row `row`, kept inside the scroll region in origin mode.
    int keptInRegion(int row) const {
        return m_originMode ? std::clamp(row, m_scrollTop, m_scrollBottom) : row;
    }
    void saveCursor();
    void restoreCursor();
    void tabForward(int count);
    void tabBackward(int count);
    void clearTabStops(int mode);
    /// Default stops, every 8 columns, from column `from` on.
    void resetTabStops(int from);
    /// Printing in insert mode: makes room for `width` cells at the cursor.
    void insertForPrint(int width);
    /// Writes `count` repeats in insert mode or with auto-wrap off, which writeRepeats()
    /// does not know: as many putCell() calls would, a run per line.
    void writeRepeatsInMode(int count);
    /// Writes `count` repeats from the cursor on, all on the cursor's line (the caller has
    /// checked that they fit), inserting them in insert mode, and moves the cursor past them.
    void writeRepeatRun(int count, bool doubleWidth);
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
    /// one that is not kept) ends it. `command` is the whole text, "8;" included.
    void hyperlinkCommand(QStringView command);
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
    /// Frees the slots of list `list` not in `used` (bit s: slot s is used).
    void sweepLinkList(int list, std::uint32_t used);
    /// Lets go of all the line's links (it is being blanked).
    void releaseLinks(Line& line);
    /// Lets go of the links of list `list` (no line names it any more) and frees it.
    void releaseLinkList(int list);
    /// Appends the link table index of each of the line's first `count` cells (kNoLink for
    /// none): what a cell's slot means, to take along to another line.
    void appendLinkIndexes(const Line& line, int count, std::vector<std::uint16_t>& indexes) const;
    /// Gives the line's first `count` cells, copied from other lines, slots of this line for
    /// the table indexes `indexes` (kNoLink: no link). The line's `dirty` must cover them.
    void relinkCells(Line& line, const std::uint16_t* indexes, int count);
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
    /// The first list of links neither used nor free, or entry whose count is not the number
    /// of lines listing it (`listSeen`: the lists lines name), or "".
    QString referenceViolation(const std::vector<bool>& listSeen) const;
    void emitEvent(TerminalScreenEvent::Kind kind, QString title = {}, QString body = {});
    void setTitle(const QString& title);
    /// CSI 22 / 23 t: pushes or pops the title.
    void windowOperation(const int* parameters, int count);
    void setCurrentDirectoryFromUrl(QStringView url);
    void consoleCommand(QStringView text);
    void kittyNotification(QStringView text);
    void colorQuery(int code, QStringView text, bool bellTerminated);
    void paletteQuery(QStringView text, bool bellTerminated);
    /// XTVERSION: the terminal's name and version.
    void reportVersion();
    void clipboardCommand(QStringView text);
    /// The bounds of the title, the title stack, the icon name and the keyboard flag stacks;
    /// see invariantViolation().
    QString reportedStateViolation() const;

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
    /// Moves the scrollback's lines into a new pool, leaving behind the memory of blocks
    /// released and never taken again (lines that grew left theirs for bigger ones).
    void repackHistory();
    /// Scrollback line `index`, expanded (see kExpandedLines).
    const Line& historyLine(int index) const;
    HistoryLine& storedLine(int index) { return m_history[historySlot(index)]; }
    /// Stores `line` in `stored`, taking its links (`stored`'s go to `line`) and copying
    /// its marks.
    void storeLine(HistoryLine& stored, Line& line);
    /// Expands `stored` into `line` (cells up to its width) with its marks; `line` names
    /// the same list of links but does not own it.
    static void expandLine(const HistoryLine& stored, Line& line);
    /// Marks every expanded scrollback line out of date.
    void historyChanged() { ++m_historyGeneration; }
    std::size_t historySlot(int index) const {
        std::size_t slot = std::size_t(m_historyStart + index);
        return slot >= m_history.size() ? slot - m_history.size() : slot;
    }
    void refit(Grid& grid, int& cursorRow, bool saveHistory, int rows, int columns);
    /// Re-wraps the scrollback and `grid`, the main screen, to `columns`: each run of lines
    /// joined by wraps becomes one text, cut again at the new width, without its trailing
    /// blank cells and without splitting a double-width character. The grid starts where
    /// the first cell of its top line went and reaches down to the cursor; what does not fit
    /// leaves the top for the scrollback. The cursor stays on its character.
    void reflow(Grid& grid, int& cursorRow, int& cursorColumn, bool& pendingWrap, int rows,
                int columns);
    void prepareFreshGrid(Grid& grid);
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
    // The blocks of the scrollback's compact lines; made anew when lines are dropped, or
    // when released blocks come to half of it, so that their memory goes.
    TerminalCompactPool m_historyPool;
    // A ring of slots, grown one at a time up to m_scrollbackLimit: scrollback line i is slot
    // (m_historyStart + i) % m_history.size().
    std::vector<HistoryLine> m_history;
    mutable std::array<ExpandedLine, kExpandedLines> m_expanded;
    mutable int m_nextExpanded = 0;
    std::uint64_t m_historyGeneration = 1;
    int m_historyStart = 0;
    int m_historyCount = 0;
    qint64 m_linesScrolledOff = 0;
    int m_scrollbackLimit = kScrollbackLimit;

    int m_row = 0;
    int m_column = 0;
    bool m_pendingWrap = false;
    bool m_cursorVisible = true;
    bool m_bracketedPaste = false;
    bool m_applicationCursor = false;
    bool m_applicationKeypad = false;
    // The kitty keyboard flags of the main and the alternate screen: the pushed entries, the
    // last one in force.
    std::array<std::vector<std::uint8_t>, 2> m_keyboardFlags;
    int m_scrollTop = 0;
    int m_scrollBottom = 0;
    TerminalPosition m_savedCursor;
    // What DECSC keeps besides the position (as xterm: not auto-wrap).
    struct SavedCursorState {
        PackedCell style;
        bool originMode = false;
        bool lineDrawing = false;
    };
    SavedCursorState m_savedState;
    bool m_autowrap = true;
    bool m_insertMode = false;
    bool m_originMode = false;
    std::vector<bool> m_tabStops;
    TerminalCursorShape m_cursorShape = TerminalCursorShape::Block;
    bool m_cursorBlinking = false;
    bool m_updateOpen = false;
    bool m_focusEvents = false;
    TerminalMouseTracking m_mouseTracking = TerminalMouseTracking::None;
    TerminalMouseEncoding m_mouseEncoding = TerminalMouseEncoding::Default;
    bool m_alternateScroll = true;
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
    std::vector<PackedCell> m_repeatRow;     // a line of the repeated cells to copy from
    std::vector<std::uint32_t> m_markWords;  // storeLine()'s marks on their way into a slot
    static constexpr std::uint16_t kNoLink = 0xFFFF;
    TerminalLinkTable m_links;
    std::vector<std::vector<std::uint16_t>> m_linkLists;  // see Line::links
    std::vector<int> m_freeLinkLists;
    int m_link = TerminalLinkTable::kNone;  // the link new characters get
    // New entries asked for since the table was last swept (see sweepLinks()).
    int m_linkRequestsSinceSweep = 0;
    qint64 m_workLeft = std::numeric_limits<qint64>::max();  // see spend()
    std::function<void(const QString&)> m_onResponse;

    QString m_title;
    QString m_iconName;
    std::vector<QString> m_titleStack;  // oldest first
    QString m_currentDirectory;
    TerminalProgress m_progress;
    std::uint32_t m_defaultForeground = 0xD0DEEB;
    std::uint32_t m_defaultBackground = 0x081322;
    std::uint32_t m_cursorColor = 0x00E5D0;
    std::function<void(const TerminalScreenEvent&)> m_onEvent;
    bool m_clipboardWritesAllowed = false;
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
