#pragma once

#include "core/terminal/TerminalSelection.h"
#include "core/terminal/TerminalUrlDetector.h"

#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QPointer>
#include <QRawFont>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class QPainter;

class QKeyEvent;
class QScrollBar;
class DesktopServices;
class TerminalFindBar;
class TerminalSearch;
class Theme;
struct TerminalHyperlink;
struct TerminalKeyModes;
class TerminalSession;

/// Draws one terminal session as a grid of monospaced cells and turns key presses, pastes
/// and wheel turns into input for it.
///
/// Drawing: cell width is the advance of "M" in the fixed-pitch system font at `fontSize`
/// (one point is one logical pixel, as on the desktop the sizes come from), line height is
/// ceil(fontSize × 1.5), the grid starts 10 px from the left and 8 px from the top, and
/// every paint fits the session's rows and columns to the view. Glyphs are drawn in batches
/// of equal colour and weight (one glyph run per batch), background fills in runs of equal
/// colour, so a full screen costs a few dozen draw calls rather than one per cell.
///
/// Repaints driven by output go through scheduleRepaint(), which paints at most once per
/// display frame however many chunks arrive. While the program holds an update open
/// (synchronized output), they wait for it to close, or for kUpdateOpenCapMs at most, when
/// the view ends the update itself. Repaints the user causes (scrolling, focus, resizing)
/// are not held.
///
/// Text with the blink attribute is hidden for half of every second while blinking is
/// animated (the desktop allows animations) and drawn steady otherwise. The blink timer runs
/// only while some shown cell blinks, and each blink repaints just the rows holding one.
///
/// Links: hovering a cell of a hyperlink the program printed underlines every cell of that
/// link, shows its address as the tooltip and the pointing-hand cursor; Control+click opens
/// it through the desktop, if its scheme is one that may open (isOpenableLink()). Addresses
/// in plain text (TerminalUrlDetector) act the same, looked for only under the pointer; a
/// printed hyperlink wins over an address in its text.
///
/// Scrollback: a thin scroll bar over the right edge shows while the view scrolls or the
/// pointer is near it, and hides a moment later. Control+Shift+F opens the find bar over
/// the top right; every match of the scrollback and the screen is highlighted, the current
/// one stronger, and the view scrolls to show the current one.
///
/// Keys: plain Control+letter goes to the program as a control character; Control+Shift+V
/// pastes, Control+Shift+C copies the selection, Control+Shift+A selects all the text, and
/// any other Control+Shift+letter runs the window's Control+letter command (the terminal's
/// stand-in for the desktop's Command key). Control with =, + or - zooms this view's text in
/// or out and Control+0 returns it to the base size; the program never sees those.
/// Shift+PageUp/PageDown/Home/End scroll the view; every other key goes to the program as
/// the screen's key modes encode it (TerminalKeys.h).
///
/// Mouse: while the program asks for mouse reports, presses, releases, motion and the wheel
/// go to it (TerminalMouse), except with Shift held. Otherwise dragging selects by cell, a
/// double click a word, a triple click a line, Shift+click extends the selection; the
/// selection is the X11 primary selection and the middle button pastes that. The wheel
/// scrolls the scrollback, or sends cursor keys on the alternate screen (alternate scroll).
/// Gaining and losing the focus is reported to programs that ask (mode 1004).
///
/// Input methods: text being composed (preedit) is drawn at the cursor, underlined, and only
/// the committed text reaches the program. Every paste goes through one path: line breaks
/// become CR, a bracketed paste cannot be ended early by markers inside it, and text with a
/// line break for a program without bracketed paste is first put to the paste confirmer.
class TerminalView : public QWidget {
    Q_OBJECT
public:
    static constexpr double kDefaultFontSize = 12.0;
    static constexpr int kLeftMargin = 10;
    static constexpr int kTopMargin = 8;
    /// Width of the overlay scroll bar at the right edge.
    static constexpr int kScrollBarWidth = 8;

    explicit TerminalView(QWidget* parent = nullptr);
    ~TerminalView() override;

    void setSession(std::shared_ptr<TerminalSession> session);
    TerminalSession* session() const { return m_session.get(); }
    /// Where Control+click opens links; none: links do not open. Must outlive the view.
    void setDesktopServices(DesktopServices* desktop) { m_desktop = desktop; }
    /// The link of the cell at `position` (in view coordinates) as shown now, scrollback
    /// included: the program's hyperlink, else an address in the text (index -1, no id);
    /// absent over a cell without either or outside the grid.
    std::optional<TerminalHyperlink> linkAt(QPointF position) const;

    /// Opens the find bar, or takes the focus back into it, its text selected.
    void openFindBar();
    /// Closes it, drops the highlights and gives the focus back to the terminal.
    void closeFindBar();
    /// Null until the find bar is first opened.
    TerminalFindBar* findBar() const { return m_findBar; }
    const TerminalSearch& search() const { return *m_search; }
    /// The overlay scroll bar: its value is the first shown line (0 is the oldest kept).
    QScrollBar* scrollBar() const { return m_scrollBar; }

    /// The size text is drawn at: the base size scaled by the zoom step.
    double fontSize() const { return m_fontSize; }
    /// Sets the base size (the theme's); the view's zoom step stays and scales the new base.
    void setFontSize(double points);
    /// Each zoom step scales the base size by this factor, within the size limits.
    static constexpr double kZoomFactor = 1.2;
    static constexpr double kMinimumFontSize = 6.0;
    static constexpr double kMaximumFontSize = 72.0;
    /// Steps zoomed in (positive) or out (negative) from the base size.
    int zoomStep() const { return m_zoomStep; }
    /// Zooms by `steps`; a step that would pass a size limit is not taken.
    void zoomBy(int steps);
    void resetZoom();
    QColor backgroundColor() const { return m_backgroundColor; }
    void setBackgroundColor(const QColor& color);
    void setAccentColor(const QColor& color);

    /// The text selected in the view; output that changes it ends it.
    const TerminalSelection& selection() const { return m_selection; }
    /// Characters that belong to words for a double click, besides letters and digits
    /// (TerminalSelection::kDefaultWordCharacters until set).
    void setWordCharacters(const QString& characters) { m_selection.setWordCharacters(characters); }

    /// Lines scrolled back into the scrollback; 0 shows the live screen.
    int scrollOffset() const { return m_scrollOffset; }
    /// Sets the offset, kept between 0 and the session's scrollback length.
    void setScrollOffset(int lines);

    /// Width of one cell and height of one line at the current font size.
    double cellWidth() const;
    int lineHeight() const;
    /// The grid that fits a view of `size` for cells `cellWidth` wide and `lineHeight`
    /// high: width() columns, height() rows, at least 10 columns and 3 rows.
    static QSize fittedGrid(QSizeF size, double cellWidth, int lineHeight);

    /// The bytes a key press sends in the screen's key modes, or nothing for keys that
    /// produce no input (see terminalKeyInput()); the clipboard shortcuts and the scrolling
    /// keys are handled before this.
    static QString encodeKey(const QKeyEvent& event, const TerminalKeyModes& modes);

    /// What a paste of `text` sends: CR LF and LF become CR, as the Enter key sends; when
    /// `bracketed`, the text goes between ESC [ 200 ~ and ESC [ 201 ~ with every such marker
    /// inside it removed.
    static QString pasteInput(const QString& text, bool bracketed);
    /// Asked before text with a line break is pasted to a program without bracketed paste;
    /// false cancels the paste. None: such pastes go at once.
    void setPasteConfirmer(std::function<bool(const QString& text)> confirmer) {
        m_pasteConfirmer = std::move(confirmer);
    }
    /// The text the input method is composing, drawn at the cursor and not yet sent.
    QString preeditText() const { return m_preedit; }
    /// Answers the input method: the cursor's cell, the font, and no surrounding text.
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

    /// Longest an open update holds repaints; then the view ends it and paints.
    static constexpr int kUpdateOpenCapMs = 150;
    /// Replaces the monotonic millisecond clock that times open updates (tests step their
    /// own).
    void setClock(std::function<qint64()> milliseconds);

    /// Asks for a repaint at the next display frame; requests before it are merged. While
    /// the screen holds an update open, the repaint waits for it to close or for the cap.
    void scheduleRepaint();
    /// Number of paints so far (for tests and the paint benchmark).
    quint64 paintCount() const { return m_paintCount; }
    /// Interval between display frames, from the screen's refresh rate.
    int frameIntervalMs() const;

    /// Blinking text shows for this long, then hides for as long.
    static constexpr int kBlinkHalfPeriodMs = 500;
    /// Whether blinking text blinks (true, the default) or is drawn steady.
    bool blinkAnimated() const { return m_blinkAnimated; }
    void setBlinkAnimated(bool animated);
    /// True during the half of the blink in which blinking text is hidden.
    bool blinkHidden() const { return m_blinkHidden; }
    /// True while the blink timer runs: blinking is animated and a shown cell blinks.
    bool blinkRunning() const { return m_blinkTimer.isActive(); }

public Q_SLOTS:
    /// Puts the selected text on the clipboard; nothing, leaving the clipboard as it is,
    /// when nothing is selected.
    void copy();
    /// Puts the session's whole text (scrollback included) on the clipboard.
    void copyOutput();
    /// Selects the whole text, scrollback included.
    void selectAll();
    /// Sends the clipboard's text in one piece, bracketed when the program asked for it.
    void paste();

Q_SIGNALS:
    /// Every piece of input handed to the session, as sent (mouse reports one character per
    /// byte).
    void inputSent(const QString& text);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    /// Font faces, indexed by bold | italic << 1: regular, bold, italic, bold italic.
    static constexpr int kFaces = 4;

    struct GlyphBatch {
        QColor color;
        int face = 0;
        QList<quint32> glyphs;
        QList<QPointF> positions;
    };
    struct LooseText {
        QPointF baseline;
        QString text;
        QColor color;
        int face = 0;
    };
    /// A line under, through or over a run of neighbouring cells of one colour.
    struct Decoration {
        enum class Kind { Single, Double, Curly, Dotted, Dashed, Strike, Over };
        Kind kind = Kind::Single;
        std::uint32_t rgb = 0;
        double left = 0;
        double right = 0;
        double baseline = 0;
    };

    void send(const QString& text);
    /// The one way pasted text reaches the program (see pasteInput() and the confirmer).
    void pasteText(const QString& text);
    /// The zoom step a key press asks for (+1, -1, or 0 for the base size), if it is one of
    /// the zoom keys.
    static std::optional<int> zoomKey(const QKeyEvent& event);
    /// Zooms for a zoom key and returns true; false for any other key.
    bool handleZoomKey(const QKeyEvent& event);
    void applyZoom();
    /// The cursor's cell in view coordinates.
    QRect cursorCell() const;
    /// Draws the input method's preedit text over the cells from the cursor on.
    void drawPreedit(QPainter& painter);
    /// Tells the input method where the cursor went, when it moved since it was last told.
    void followCursorForInputMethod();

    // Mouse reports and the selection (TerminalViewMouse.cpp).
    /// The cell under a point of the view, kept inside the grid.
    struct PointerCell {
        int row = 0;  // shown row
        int column = 0;
        qint64 line = 0;  // in the screen's line numbering (TerminalScreen::linesScrolledOff)
        bool rightHalf = false;
    };
    PointerCell cellAt(QPointF position) const;
    /// Whether mouse input with these modifiers goes to the program (Shift keeps it here).
    bool reportsMouse(Qt::KeyboardModifiers modifiers) const;
    void sendBytes(const QByteArray& bytes);
    /// A press the view handles (reported or selecting or pasting); false leaves it be.
    bool pressMouse(QMouseEvent* event);
    void moveMouse(QMouseEvent* event);
    void reportFocus(bool focused);
    /// Offers the selection as the X11 primary selection.
    void publishSelection();
    /// Ends the selection when output changed the text under it.
    void followSelection();
    void updateFonts();
    /// Glyph index of a code point in one of the kFaces faces; 0 when the face lacks it.
    quint32 glyphFor(char32_t codePoint, int face);
    /// Adds a decoration of the cells from `left` to `right`, extending the previous one when
    /// they meet.
    void decorate(Decoration::Kind kind, std::uint32_t rgb, double left, double right,
                  double baseline);
    void drawDecorations(QPainter& painter) const;
    bool runWindowShortcut(QKeyEvent* event);
    /// Shift+Page Up / Page Down / Home / End scroll the view a page, to the oldest line
    /// or back to the live screen; true when the key was one of them.
    bool scrollByKey(const QKeyEvent& event);
    /// The view rows (0 at the top) showing a cell with the blink attribute, in order.
    std::vector<int> blinkingRows() const;
    /// Runs the blink timer while blinking is animated and something shown blinks; stops it
    /// (showing blinking text again) otherwise.
    void updateBlinkTimer();
    /// One half period: hides or shows blinking text again and repaints the rows holding it.
    void blink();
    int scrollbackSize() const;
    /// Follows the pointer: the hovered link's cursor, tooltip and underline.
    void updateHover();
    /// The cell at `position` in TerminalTextPosition numbering, as shown now.
    std::optional<TerminalTextPosition> textPositionAt(QPointF position) const;
    /// The program's hyperlink of a cell, absent when it has none.
    std::optional<TerminalHyperlink> hyperlinkAt(TerminalTextPosition cell) const;
    std::optional<TerminalHyperlink> hyperlinkAt(QPointF position) const;
    // Find bar, matches and scroll bar (TerminalViewFind.cpp).
    void runSearch(bool scrollToCurrent);
    void stepMatch(bool forward);
    void showCurrentMatch();
    /// Highlights the matches on lines first … end - 1 and underlines the hovered address;
    /// between the cell fills and the text.
    void paintFindOverlays(QPainter& painter, int first, int end);
    /// Sets the scroll bar to the shown lines; shows it when the offset moved.
    void syncScrollBar(int history, int rows);
    void revealScrollBar();
    void createOverlays();
    void styleOverlays();
    /// How long the screen's update has been open as far as the view has seen, or -1 when
    /// none is.
    qint64 updateOpenForMs();
    void frameTimerFired();

    std::shared_ptr<TerminalSession> m_session;
    DesktopServices* m_desktop = nullptr;
    std::optional<QPointF> m_pointer;         // over the view
    int m_hoveredLink = -1;                   // link table index under the pointer
    std::optional<TerminalUrl> m_hoveredUrl;  // the address in the text under the pointer
    double m_fontSize = kDefaultFontSize;
    double m_baseFontSize = kDefaultFontSize;
    int m_zoomStep = 0;
    std::function<bool(const QString&)> m_pasteConfirmer;
    QString m_preedit;
    int m_preeditCursor = -1;   // in m_preedit; -1 hides the input method's caret
    QRect m_inputMethodCursor;  // as last reported to the input method
    QColor m_backgroundColor;
    QColor m_accentColor;
    int m_scrollOffset = 0;
    double m_wheelRemainder = 0;
    double m_wheelNotchRemainder = 0;  // of wheel turns that go to the program

    TerminalSelection m_selection;
    bool m_selecting = false;              // the left button drags the selection
    Qt::MouseButtons m_reportedButtons;    // pressed and reported, release pending
    std::optional<QPoint> m_reportedCell;  // (column, shown row) of the last report
    std::optional<QPointF> m_doubleClickAt;
    quint64 m_doubleClickTime = 0;  // event timestamp

    QFont m_fonts[kFaces];
    QRawFont m_rawFonts[kFaces];
    double m_cellWidth = 0;
    double m_ascent = 0;
    double m_lineWidth = 1;                     // of underlines and the other decorations
    std::vector<quint32> m_glyphCache[kFaces];  // code points below 0x10000; ~0u = not looked up
    std::unordered_map<char32_t, quint32> m_wideGlyphCache[kFaces];

    // Reused between paints so a steady flood allocates nothing.
    std::vector<GlyphBatch> m_batches;
    std::unordered_map<quint64, int> m_batchIndex;
    std::vector<LooseText> m_looseTexts;
    std::vector<Decoration> m_decorations;

    QTimer m_blinkTimer;  // runs while shown text blinks
    bool m_blinkAnimated = true;
    bool m_blinkHidden = false;

    static constexpr qint64 kCursorBlinkForMs = 10'000;  // after the last key or focus
    QTimer m_cursorBlinkTimer;                           // runs while the cursor blinks
    bool m_cursorBlinkedOff = false;
    QElapsedTimer m_sinceTyping;
    QTimer m_frameTimer;
    QElapsedTimer m_sinceLastPaint;
    std::function<qint64()> m_clock;  // milliseconds
    qint64 m_updateOpenedAt = -1;     // on m_clock, when the view first saw the open update
    quint64 m_paintCount = 0;

    std::unique_ptr<TerminalSearch> m_search;
    TerminalFindBar* m_findBar = nullptr;
    quint64 m_searchedRevision = 0;  // the session's revision the matches were found in
    QTimer m_researchTimer;          // searches again after output, at most this often
    QScrollBar* m_scrollBar = nullptr;
    QTimer m_scrollBarHideTimer;
    int m_shownOffset = 0;  // the offset the scroll bar last showed
};

/// Embeds a TerminalView for one session and keeps it current: every published change of
/// the session (revision, running, exit code) schedules a repaint, and theme changes set the
/// view's font size, background and accent colours, the colours the session reports to
/// programs, and whether blinking text blinks. The program's clipboard writes reach the
/// clipboard while the view has the focus.
class NativeTerminal : public QWidget {
    Q_OBJECT
public:
    // The theme must outlive the terminal.
    NativeTerminal(std::shared_ptr<TerminalSession> session, Theme& theme,
                   DesktopServices* desktop = nullptr, QWidget* parent = nullptr);

    TerminalView* view() const { return m_view; }
    TerminalSession* session() const { return m_session.get(); }

private:
    void applyTheme();
    void followAnimationSetting();

    std::shared_ptr<TerminalSession> m_session;
    Theme& m_theme;
    TerminalView* m_view;
};
