#include "ui/terminal/TerminalView.h"

#include "core/appearance/HexColor.h"
#include "core/appearance/Theme.h"
#include "core/services/DesktopServices.h"
#include "core/terminal/TerminalKeys.h"
#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSearch.h"
#include "core/terminal/TerminalSession.h"
#include "ui/terminal/BoxDrawing.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <span>

namespace {

constexpr quint32 kUnknownGlyph = ~0u;
constexpr char32_t kGlyphCacheLimit = 0x10000;
const QColor kDefaultTextColor = colorFromHex(u"D0DEEB");

// Code points drawn inside a glyph batch. Beyond Latin, symbols often come from a fallback
// face whose advance differs from the cell; those are drawn one by one at their own cell so
// the grid never drifts.
bool batchable(char32_t codePoint) {
    return codePoint < 0x0250;
}

QColor colorOfWord(std::uint32_t word) {
    return QColor::fromRgb(QRgb(0xFF000000u | (word & 0xFFFFFFu)));
}

// Halfway from one 0xRRGGBB colour to another, for dim text.
std::uint32_t halfway(std::uint32_t from, std::uint32_t to) {
    return ((from & 0xFEFEFE) >> 1) + ((to & 0xFEFEFE) >> 1);
}

// Attributes that draw lines or hide the text: a plain cell has none of them.
constexpr std::uint32_t kDecorationFlags =
    PackedCell::kStrikethrough | PackedCell::kOverline | PackedCell::kConceal;

}  // namespace

TerminalView::TerminalView(QWidget* parent)
    : QWidget(parent),
      m_backgroundColor(colorFromHex(u"081322")),
      m_accentColor(colorFromHex(u"00E5D0")) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);  // for the links under the pointer
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_InputMethodEnabled);  // compose, dead keys and CJK input
    connect(&m_cursorBlinkTimer, &QTimer::timeout, this, [this] {
        // After a while without typing the cursor rests, shown, as GNOME's do.
        m_cursorBlinkedOff = !m_cursorBlinkedOff && m_sinceTyping.elapsed() < kCursorBlinkForMs;
        if (!m_session || !m_session->screen().updateOpen()) {
            update();  // an open update holds this repaint as it holds the others
        }
    });
    m_frameTimer.setSingleShot(true);
    connect(&m_frameTimer, &QTimer::timeout, this, &TerminalView::frameTimerFired);
    m_blinkTimer.setInterval(kBlinkHalfPeriodMs);
    connect(&m_blinkTimer, &QTimer::timeout, this, &TerminalView::blink);
    m_sinceLastPaint.start();
    m_sinceTyping.start();
    QElapsedTimer clock;
    clock.start();
    m_clock = [clock] { return clock.elapsed(); };
    updateFonts();
    createOverlays();
}

TerminalView::~TerminalView() = default;

void TerminalView::setSession(std::shared_ptr<TerminalSession> session) {
    if (session == m_session) {
        return;
    }
    m_session = std::move(session);
    m_scrollOffset = 0;
    m_selection.clear();
    m_search->clear();  // the matches were another screen's: the open find bar searches again
    m_searchedRevision = ~quint64(0);
    update();
}

void TerminalView::setFontSize(double points) {
    if (points == m_baseFontSize || points <= 0) {
        return;
    }
    m_baseFontSize = points;
    applyZoom();
}

void TerminalView::setBackgroundColor(const QColor& color) {
    if (color != m_backgroundColor) {
        m_backgroundColor = color;
        styleOverlays();
        update();
    }
}

void TerminalView::setAccentColor(const QColor& color) {
    if (color != m_accentColor) {
        m_accentColor = color;
        styleOverlays();
        update();
    }
}

int TerminalView::scrollbackSize() const {
    return m_session ? m_session->screen().scrollbackSize() : 0;
}

void TerminalView::setScrollOffset(int lines) {
    const int clamped = std::clamp(lines, 0, scrollbackSize());
    if (clamped != m_scrollOffset) {
        m_scrollOffset = clamped;
        update();
    }
}

double TerminalView::cellWidth() const {
    return m_cellWidth;
}

int TerminalView::lineHeight() const {
    return int(std::ceil(m_fontSize * 1.5));
}

QSize TerminalView::fittedGrid(QSizeF size, double cellWidth, int lineHeight) {
    const int columns = cellWidth > 0 ? int((size.width() - 20) / cellWidth) : 0;
    const int rows = lineHeight > 0 ? int((size.height() - 16) / lineHeight) : 0;
    return {std::max(columns, TerminalScreen::kMinimumColumns),
            std::max(rows, TerminalScreen::kMinimumRows)};
}

void TerminalView::updateFonts() {
    // Sizes are logical pixels ("points" of the desktop the sizes were chosen on), so the
    // point size given to Qt undoes the screen's logical resolution.
    const double dpi = logicalDpiY() > 0 ? logicalDpiY() : 96.0;
    QFont& regular = m_fonts[0];
    regular = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    regular.setPointSizeF(m_fontSize * 72.0 / dpi);
    regular.setWeight(QFont::Normal);
    regular.setKerning(false);
    regular.setStyleStrategy(QFont::PreferDefault);
    for (int face = 0; face < kFaces; ++face) {
        if (face > 0) {
            m_fonts[face] = regular;
            m_fonts[face].setWeight((face & 1) ? QFont::Bold : QFont::Normal);
            m_fonts[face].setItalic(face & 2);
        }
        m_rawFonts[face] = QRawFont::fromFont(m_fonts[face]);
        m_glyphCache[face].assign(128, kUnknownGlyph);
        m_wideGlyphCache[face].clear();
    }
    const QFontMetricsF metrics(regular, this);
    m_cellWidth = metrics.horizontalAdvance(QStringLiteral("M"));
    m_ascent = metrics.ascent();
    m_lineWidth = std::max(1.0, std::round(metrics.lineWidth()));
}

quint32 TerminalView::glyphFor(char32_t codePoint, int face) {
    const QRawFont& raw = m_rawFonts[face];
    auto lookUp = [&raw](char32_t scalar) -> quint32 {
        if (!raw.isValid() || !raw.supportsCharacter(uint(scalar))) {
            return 0;
        }
        const QString text = QString::fromUcs4(&scalar, 1);
        const QList<quint32> indexes = raw.glyphIndexesForString(text);
        return indexes.size() == 1 ? indexes.front() : 0;
    };
    if (codePoint < kGlyphCacheLimit) {
        std::vector<quint32>& cache = m_glyphCache[face];
        if (codePoint >= cache.size()) {
            cache.resize(std::max<size_t>(codePoint + 1, cache.size() * 2), kUnknownGlyph);
        }
        if (cache[codePoint] == kUnknownGlyph) {
            cache[codePoint] = lookUp(codePoint);
        }
        return cache[codePoint];
    }
    auto [it, inserted] = m_wideGlyphCache[face].try_emplace(codePoint, 0);
    if (inserted) {
        it->second = lookUp(codePoint);
    }
    return it->second;
}

int TerminalView::frameIntervalMs() const {
    const QScreen* display = screen();
    const double rate = display && display->refreshRate() >= 20 ? display->refreshRate() : 60.0;
    return std::max(1, int(std::round(1000.0 / rate)));
}

void TerminalView::setClock(std::function<qint64()> milliseconds) {
    m_clock = std::move(milliseconds);
    m_updateOpenedAt = -1;
}

qint64 TerminalView::updateOpenForMs() {
    if (!m_session || !m_session->screen().updateOpen()) {
        m_updateOpenedAt = -1;
        return -1;
    }
    const qint64 now = m_clock();
    if (m_updateOpenedAt < 0) {
        m_updateOpenedAt = now;
    }
    return now - m_updateOpenedAt;
}

void TerminalView::scheduleRepaint() {
    const qint64 openFor = updateOpenForMs();
    const int delay =
        openFor >= 0 && openFor < kUpdateOpenCapMs
            ? int(kUpdateOpenCapMs - openFor)
            : int(std::max<qint64>(0, frameIntervalMs() - m_sinceLastPaint.elapsed()));
    // A pending repaint that comes sooner stands; one held for an update that has since
    // closed is brought forward.
    if (m_frameTimer.isActive() && m_frameTimer.remainingTime() <= delay) {
        return;
    }
    m_frameTimer.start(delay);
}

void TerminalView::frameTimerFired() {
    const qint64 openFor = updateOpenForMs();
    if (openFor >= 0) {
        if (openFor < kUpdateOpenCapMs) {
            m_frameTimer.start(int(kUpdateOpenCapMs - openFor));
            return;
        }
        // Held as long as allowed: the update ends here and what it drew so far shows; later
        // output paints at the frame rate until the program opens another one.
        m_session->screen().endUpdate();
        m_updateOpenedAt = -1;
    }
    update();
}

// ---- Blinking text -------------------------------------------------------------------------

void TerminalView::setBlinkAnimated(bool animated) {
    if (animated == m_blinkAnimated) {
        return;
    }
    m_blinkAnimated = animated;
    updateBlinkTimer();
    update();
}

std::vector<int> TerminalView::blinkingRows() const {
    std::vector<int> rows;
    if (!m_session) {
        return rows;
    }
    const TerminalScreen& screen = m_session->screen();
    const int history = screen.scrollbackSize();
    const int offset = std::min(m_scrollOffset, history);
    const int end = history + screen.rows() - offset;
    const int first = offset == 0 ? history : std::max(0, end - screen.rows());
    for (int index = first; index < end; ++index) {
        const std::span<const PackedCell> cells =
            index < history ? screen.scrollbackLineCells(index) : screen.lineCells(index - history);
        if (std::any_of(cells.begin(), cells.end(),
                        [](const PackedCell& cell) { return cell.blink(); })) {
            rows.push_back(index - first);
        }
    }
    return rows;
}

void TerminalView::updateBlinkTimer() {
    if (m_blinkAnimated && !blinkingRows().empty()) {
        if (!m_blinkTimer.isActive()) {
            m_blinkTimer.start();
        }
        return;
    }
    m_blinkTimer.stop();
    m_blinkHidden = false;
}

void TerminalView::blink() {
    const std::vector<int> rows = blinkingRows();
    if (!m_blinkAnimated || rows.empty()) {
        updateBlinkTimer();
        return;
    }
    m_blinkHidden = !m_blinkHidden;
    // Neighbouring rows merge into one rectangle.
    const int h = lineHeight();
    for (std::size_t i = 0; i < rows.size();) {
        std::size_t last = i;
        while (last + 1 < rows.size() && rows[last + 1] == rows[last] + 1) {
            ++last;
        }
        update(QRect(0, kTopMargin + h * rows[i], width(), h * (rows[last] - rows[i] + 1)));
        i = last + 1;
    }
}

// ---- Input ---------------------------------------------------------------------------------

void TerminalView::send(const QString& text) {
    if (!m_session || text.isEmpty()) {
        return;
    }
    m_session->send(text);
    Q_EMIT inputSent(text);
}

bool TerminalView::event(QEvent* event) {
    // Keep Control+letter from the window's shortcuts: in a terminal they belong to the
    // program (Control+C interrupts, it does not copy).
    if (event->type() == QEvent::ShortcutOverride && m_session) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (zoomKey(*key)) {
            event->accept();
            return true;
        }
        const Qt::KeyboardModifiers modifiers = key->modifiers();
        const bool commandLike =
            (modifiers & Qt::ControlModifier) && (modifiers & Qt::ShiftModifier);
        if (!commandLike) {
            event->accept();
            return true;
        }
        const int letter = key->key();
        if (letter == Qt::Key_V || letter == Qt::Key_C || letter == Qt::Key_A) {
            event->accept();
            return true;
        }
    }
    if (event->type() == QEvent::KeyPress) {
        // Tab and Backtab would otherwise move the focus to the next widget.
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
    }
    return QWidget::event(event);
}

bool TerminalView::runWindowShortcut(QKeyEvent* event) {
    const QKeySequence wanted(QKeyCombination(Qt::ControlModifier, Qt::Key(event->key())));
    QWidget* top = window();
    if (!top) {
        return false;
    }
    const QList<QAction*> actions = top->findChildren<QAction*>();
    for (QAction* action : actions) {
        if (action->isEnabled() && action->shortcut() == wanted) {
            action->trigger();
            return true;
        }
    }
    return false;
}

void TerminalView::keyPressEvent(QKeyEvent* event) {
    if (!m_session) {
        event->ignore();
        return;
    }
    if (handleZoomKey(*event)) {
        return;
    }
    m_sinceTyping.restart();
    if (m_cursorBlinkedOff || m_cursorBlinkTimer.isActive()) {
        // Typing shows a blinking cursor and starts its blink over.
        m_cursorBlinkedOff = false;
        m_cursorBlinkTimer.stop();
        update();
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if ((modifiers & Qt::ControlModifier) && (modifiers & Qt::ShiftModifier)) {
        switch (event->key()) {
            case Qt::Key_V:
                paste();
                return;
            case Qt::Key_C:
                copy();
                return;
            case Qt::Key_A:
                selectAll();
                return;
            case Qt::Key_F:
                openFindBar();
                return;
            default:
                if (event->key() >= Qt::Key_A && event->key() <= Qt::Key_Z) {
                    if (!runWindowShortcut(event)) {
                        event->ignore();
                    }
                    return;
                }
                break;  // Control+Shift with any other key goes to the program
        }
    }
    if (scrollByKey(*event)) {
        return;
    }

    m_scrollOffset = 0;
    const QString text = encodeKey(*event, TerminalKeyModes::of(m_session->screen()));
    send(text);
    update();
}

void TerminalView::copyOutput() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(m_session ? m_session->screen().plainText() : QString());
}

void TerminalView::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    update();
    if (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ControlModifier)) {
        if (const std::optional<TerminalHyperlink> link = linkAt(event->position());
            link && m_desktop && isOpenableLink(link->uri)) {
            m_desktop->openUrl(link->uri);
            event->accept();
            return;
        }
    }
    if (pressMouse(event)) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void TerminalView::mouseMoveEvent(QMouseEvent* event) {
    m_pointer = event->position();
    updateHover();
    moveMouse(event);
    QWidget::mouseMoveEvent(event);
}

void TerminalView::leaveEvent(QEvent* event) {
    m_pointer.reset();
    updateHover();
    QWidget::leaveEvent(event);
}

void TerminalView::updateHover() {
    const std::optional<TerminalTextPosition> cell =
        m_pointer ? textPositionAt(*m_pointer) : std::nullopt;
    const std::optional<TerminalHyperlink> link = cell ? hyperlinkAt(*cell) : std::nullopt;
    // An address in the text counts only where the program put no hyperlink.
    std::optional<TerminalUrl> url;
    if (cell && !link) {
        url = TerminalUrlDetector::urlAt(m_session->screen(), *cell);
    }
    if (m_pointer && m_pointer->x() >= width() - 3 * kScrollBarWidth) {
        revealScrollBar();
    }
    const int hovered = link ? link->index : -1;
    if (hovered == m_hoveredLink && url == m_hoveredUrl) {
        return;
    }
    m_hoveredLink = hovered;
    m_hoveredUrl = url;
    if (link || url) {
        setCursor(Qt::PointingHandCursor);
        setToolTip(link ? link->uri : url->url);
    } else {
        unsetCursor();
        setToolTip(QString());
    }
    update();
}

std::optional<TerminalTextPosition> TerminalView::textPositionAt(QPointF position) const {
    if (!m_session || m_cellWidth <= 0) {
        return std::nullopt;
    }
    const TerminalScreen& screen = m_session->screen();
    const int column = int(std::floor((position.x() - kLeftMargin) / m_cellWidth));
    const int shownRow = int(std::floor((position.y() - kTopMargin) / lineHeight()));
    if (column < 0 || column >= screen.columns() || shownRow < 0 || shownRow >= screen.rows()) {
        return std::nullopt;
    }
    // As paintEvent() lays the lines out: index i < history is scrollback line i.
    const int history = screen.scrollbackSize();
    const int offset = std::min(m_scrollOffset, history);
    const int first = offset == 0 ? history : std::max(0, history - offset);
    return TerminalTextPosition{first + shownRow, column};
}

std::optional<TerminalHyperlink> TerminalView::hyperlinkAt(TerminalTextPosition cell) const {
    const TerminalScreen& screen = m_session->screen();
    const int history = screen.scrollbackSize();
    if (cell.line < history) {
        return screen.scrollbackLinkAt(cell.line, cell.column);
    }
    return screen.linkAt(cell.line - history, cell.column);
}

std::optional<TerminalHyperlink> TerminalView::hyperlinkAt(QPointF position) const {
    const std::optional<TerminalTextPosition> cell = textPositionAt(position);
    return cell ? hyperlinkAt(*cell) : std::nullopt;
}

std::optional<TerminalHyperlink> TerminalView::linkAt(QPointF position) const {
    const std::optional<TerminalTextPosition> cell = textPositionAt(position);
    if (!cell) {
        return std::nullopt;
    }
    if (std::optional<TerminalHyperlink> link = hyperlinkAt(*cell)) {
        return link;
    }
    if (std::optional<TerminalUrl> url = TerminalUrlDetector::urlAt(m_session->screen(), *cell)) {
        return TerminalHyperlink{-1, url->url, QString()};
    }
    return std::nullopt;
}

void TerminalView::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    m_sinceTyping.restart();
    reportFocus(true);
    update();
}

void TerminalView::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    reportFocus(false);
    update();
}

void TerminalView::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() == QContextMenuEvent::Mouse && reportsMouse(event->modifiers())) {
        event->accept();  // the right button went to the program
        return;
    }
    QMenu menu(this);
    menu.addAction(QStringLiteral("Copy"), this, &TerminalView::copy)
        ->setEnabled(!m_selection.isEmpty());
    menu.addAction(QStringLiteral("Copy terminal output"), this, &TerminalView::copyOutput);
    menu.addAction(QStringLiteral("Paste"), this, &TerminalView::paste);
    menu.exec(event->globalPos());
}

// ---- Drawing -------------------------------------------------------------------------------

void TerminalView::paintEvent(QPaintEvent* event) {
    ++m_paintCount;
    m_sinceLastPaint.restart();
    QPainter painter(this);
    painter.fillRect(rect(), m_backgroundColor);
    if (!m_session) {
        return;
    }

    const double w = m_cellWidth;
    const int h = lineHeight();
    const QSize grid = fittedGrid(size(), w, h);
    m_session->resize(grid.height(), grid.width());

    followSelection();
    const TerminalScreen& screen = m_session->screen();
    const int history = screen.scrollbackSize();
    m_scrollOffset = std::min(m_scrollOffset, history);
    // The line number (TerminalScreen::linesScrolledOff) of the top shown line.
    const qint64 firstLine = screen.linesScrolledOff() - m_scrollOffset;
    QColor selectionColor = m_accentColor;
    selectionColor.setAlphaF(0.35);
    syncScrollBar(history, screen.rows());

    // The shown lines: index i < history is scrollback line i, the rest are screen lines.
    const int rows = screen.rows();
    const int end = history + rows - m_scrollOffset;
    const int first = m_scrollOffset == 0 ? history : std::max(0, end - rows);

    for (GlyphBatch& batch : m_batches) {
        batch.glyphs.clear();
        batch.positions.clear();
    }
    m_batchIndex.clear();
    m_looseTexts.clear();
    m_decorations.clear();
    int usedBatches = 0;
    std::vector<BoxDrawing::Cell> boxCells;  // drawn to fill their cells, after the fills

    // Output may have moved the text under a still pointer.
    const std::optional<TerminalHyperlink> hovered =
        m_pointer ? hyperlinkAt(*m_pointer) : std::optional<TerminalHyperlink>();
    const int hoveredLink = hovered ? hovered->index : -1;

    const QRgb viewBackground = m_backgroundColor.rgb() & 0xFFFFFF;
    const std::uint32_t defaultText = kDefaultTextColor.rgb() & 0xFFFFFF;
    // A blink repaints only the rows holding blinking text; the others are left as they are.
    const QRect dirty = event->rect();
    const bool hideBlinking = m_blinkAnimated && m_blinkHidden;

    for (int index = first; index < end; ++index) {
        const int shownRow = index - first;
        const bool fromHistory = index < history;
        const std::span<const PackedCell> cells =
            fromHistory ? screen.scrollbackLineCells(index) : screen.lineCells(index - history);
        const double y = double(h) * shownRow + kTopMargin;
        const double baseline = y + m_ascent;
        if (y >= dirty.bottom() + 1 || y + h <= dirty.top()) {
            continue;
        }

        // Background fills merge into runs of one colour.
        std::uint32_t runColor = 0;
        int runStart = -1;
        auto flushRun = [&](int endColumn) {
            if (runStart >= 0) {
                // Whole-pixel edges: solid integer rectangles take the raster engine's fast
                // fill path, and neighbouring runs meet without seams.
                const int x0 = int(std::lround(w * runStart)) + kLeftMargin;
                const int x1 = int(std::lround(w * endColumn)) + kLeftMargin;
                painter.fillRect(QRect(x0, int(y), x1 - x0, h), colorOfWord(runColor));
                runStart = -1;
            }
        };

        const int count = int(cells.size());
        for (int column = 0; column < count; ++column) {
            const PackedCell& cell = cells[column];
            if (cell.continuation()) {
                // The right half of a wide character: its fill belongs to the first half only.
                flushRun(column);
                continue;
            }
            std::uint32_t textRgb;
            std::optional<std::uint32_t> fill;
            if (cell.inverse()) {
                textRgb = (cell.backgroundWord & PackedCell::kColorPresent)
                              ? (cell.backgroundWord & 0xFFFFFF)
                              : viewBackground;
                fill = (cell.foregroundWord & PackedCell::kColorPresent)
                           ? (cell.foregroundWord & 0xFFFFFF)
                           : defaultText;
            } else {
                textRgb = (cell.foregroundWord & PackedCell::kColorPresent)
                              ? (cell.foregroundWord & 0xFFFFFF)
                              : defaultText;
                if (cell.backgroundWord & PackedCell::kColorPresent) {
                    fill = cell.backgroundWord & 0xFFFFFF;
                }
            }
            if (fill) {
                if (runStart >= 0 && runColor != *fill) {
                    flushRun(column);
                }
                if (runStart < 0) {
                    runStart = column;
                    runColor = *fill;
                }
            } else {
                flushRun(column);
            }

            if (hideBlinking && cell.blink()) [[unlikely]] {
                continue;  // the background stays; text and lines blink
            }
            const double x = w * column + kLeftMargin;
            if (cell.dim()) {
                textRgb = halfway(textRgb, fill ? *fill : viewBackground);
            }
            if ((cell.codeAndFlags & kDecorationFlags) ||
                (cell.foregroundWord & PackedCell::kUnderlineMask)) [[unlikely]] {
                if (cell.conceal()) {
                    continue;
                }
                // A double-width character's lines span both of its cells.
                const double right =
                    x + (column + 1 < count && cells[column + 1].continuation() ? 2 * w : w);
                using Kind = Decoration::Kind;
                if (const TerminalUnderline underline = cell.underline();
                    underline != TerminalUnderline::None) {
                    const std::optional<TerminalColor> color =
                        screen.underlineColor(cell.underlineColorSlot());
                    decorate(Kind(int(underline) - 1), color ? color->rgb() : textRgb, x, right,
                             baseline);
                }
                if (cell.strikethrough()) {
                    decorate(Kind::Strike, textRgb, x, right, baseline);
                }
                if (cell.overline()) {
                    decorate(Kind::Over, textRgb, x, right, baseline);
                }
            }
            if (hoveredLink >= 0 && cell.linkSlot() != 0) [[unlikely]] {
                const int link = fromHistory ? screen.scrollbackLinkIndex(index, column)
                                             : screen.linkIndex(index - history, column);
                if (link == hoveredLink) {
                    const double right =
                        x + (column + 1 < count && cells[column + 1].continuation() ? 2 * w : w);
                    decorate(Decoration::Kind::Single, textRgb, x, right, baseline);
                }
            }

            const char32_t code = cell.codePoint();
            if (code == U' ' && !cell.hasCombining()) {
                continue;
            }
            if (BoxDrawing::covers(code) && !cell.hasCombining()) {
                boxCells.push_back({QRectF(x, y, w, h), code, colorOfWord(textRgb)});
                continue;
            }
            const int face = (cell.bold() ? 1 : 0) | (cell.italic() ? 2 : 0);
            const quint32 glyph =
                (!cell.hasCombining() && batchable(code)) ? glyphFor(code, face) : 0;
            if (glyph == 0) {
                const QString text = fromHistory ? screen.scrollbackCellText(index, column)
                                                 : screen.cellText(index - history, column);
                m_looseTexts.push_back({QPointF(x, baseline), text, colorOfWord(textRgb), face});
                continue;
            }
            const quint64 key = quint64(textRgb) | (quint64(face) << 32);
            auto [it, inserted] = m_batchIndex.try_emplace(key, usedBatches);
            if (inserted) {
                if (usedBatches == int(m_batches.size())) {
                    m_batches.emplace_back();
                }
                m_batches[usedBatches].color = colorOfWord(textRgb);
                m_batches[usedBatches].face = face;
                ++usedBatches;
            }
            GlyphBatch& batch = m_batches[it->second];
            batch.glyphs.append(glyph);
            // Whole-pixel pen positions: one cached rendering per glyph instead of one per
            // sub-pixel offset, and crisper text.
            batch.positions.append(QPointF(std::round(x), std::round(baseline)));
        }
        flushRun(count);
        // The selection tints the fills; the text is drawn over it.
        if (const auto [from, to] = m_selection.columnsOn(firstLine + shownRow, screen.columns());
            from < to) {
            const int x0 = int(std::lround(w * from)) + kLeftMargin;
            const int x1 = int(std::lround(w * to)) + kLeftMargin;
            painter.fillRect(QRect(x0, int(y), x1 - x0, h), selectionColor);
        }
    }
    paintFindOverlays(painter, first, end);

    // Text over the fills: one glyph run per colour and face.
    QGlyphRun run;
    for (int i = 0; i < usedBatches; ++i) {
        const GlyphBatch& batch = m_batches[i];
        run.setRawFont(m_rawFonts[batch.face]);
        run.setGlyphIndexes(batch.glyphs);
        run.setPositions(batch.positions);
        painter.setPen(batch.color);
        painter.drawGlyphRun(QPointF(0, 0), run);
    }
    for (const BoxDrawing::Cell& box : boxCells) {
        BoxDrawing::draw(painter, box.rect, box.code, box.color);
    }
    for (const LooseText& loose : m_looseTexts) {
        painter.setFont(m_fonts[loose.face]);
        painter.setPen(loose.color);
        painter.drawText(loose.baseline, loose.text);
    }
    drawDecorations(painter);

    // The cursor, over the character, which shows through it. It blinks when the program
    // asks for it, the view has the focus and the desktop lets cursors blink, at the
    // desktop's rate.
    const int flashTime = QApplication::cursorFlashTime();
    const bool blinks = screen.cursorBlinking() && hasFocus() && flashTime > 0 &&
                        (m_cursorBlinkedOff || m_sinceTyping.elapsed() < kCursorBlinkForMs);
    if (!blinks) {
        m_cursorBlinkTimer.stop();
        m_cursorBlinkedOff = false;
    } else if (!m_cursorBlinkTimer.isActive()) {
        m_cursorBlinkTimer.start(flashTime / 2);
    }
    if (m_scrollOffset == 0 && screen.cursorVisible() && m_session->running() &&
        !m_cursorBlinkedOff) {
        QColor block = m_accentColor;
        block.setAlphaF(hasFocus() ? 0.6 : 0.22);
        QRectF cursor(w * screen.column() + kLeftMargin, double(h) * screen.row() + kTopMargin, w,
                      h);
        const double thickness = std::max(2.0, std::round(h * 0.12));
        if (screen.cursorShape() == TerminalCursorShape::Underline) {
            cursor.setTop(cursor.bottom() - thickness);
        } else if (screen.cursorShape() == TerminalCursorShape::Bar) {
            cursor.setWidth(std::min(thickness, w));
        }
        painter.fillRect(cursor, block);
    }
    drawPreedit(painter);
    followCursorForInputMethod();

    if (m_scrollOffset >= 1) {
        QFont labelFont = QApplication::font();
        labelFont.setPointSizeF(10.0 * 72.0 / (logicalDpiY() > 0 ? logicalDpiY() : 96.0));
        painter.setFont(labelFont);
        const QString label = QStringLiteral("Scrollback · %1 lines").arg(m_scrollOffset);
        const QFontMetricsF metrics(labelFont, this);
        const QRectF box(12, height() - 20, metrics.horizontalAdvance(label), metrics.height());
        painter.fillRect(box, m_backgroundColor);
        painter.setPen(m_accentColor);
        painter.drawText(QPointF(box.left(), box.top() + metrics.ascent()), label);
    }
    updateBlinkTimer();
}

void TerminalView::decorate(Decoration::Kind kind, std::uint32_t rgb, double left, double right,
                            double baseline) {
    if (!m_decorations.empty()) {
        Decoration& last = m_decorations.back();
        if (last.kind == kind && last.rgb == rgb && last.baseline == baseline &&
            std::abs(last.right - left) < 0.5) {
            last.right = right;
            return;
        }
    }
    m_decorations.push_back({kind, rgb, left, right, baseline});
}

void TerminalView::drawDecorations(QPainter& painter) const {
    if (m_decorations.empty()) {
        return;
    }
    const double t = m_lineWidth;
    // Underlines sit just below the baseline, inside the line's descent.
    const double under = std::round(std::max(t, m_ascent * 0.12));
    using Kind = Decoration::Kind;
    for (const Decoration& line : m_decorations) {
        const QColor color = colorOfWord(line.rgb);
        const double width = line.right - line.left;
        const double top = std::round(line.baseline) + under;
        switch (line.kind) {
            case Kind::Single:
                painter.fillRect(QRectF(line.left, top, width, t), color);
                break;
            case Kind::Double:
                painter.fillRect(QRectF(line.left, top, width, t), color);
                painter.fillRect(QRectF(line.left, top + 2 * t, width, t), color);
                break;
            case Kind::Curly: {
                // One wave per cell, its crests t above and below the underline.
                QPainterPath wave(QPointF(line.left, top + t / 2));
                const double half = m_cellWidth / 2;
                double x = line.left;
                for (int step = 0; x < line.right - 0.5; ++step) {
                    const double next = std::min(x + half, line.right);
                    const double crest = top + t / 2 + (step % 2 == 0 ? -1.5 * t : 1.5 * t);
                    wave.quadTo(QPointF((x + next) / 2, crest), QPointF(next, top + t / 2));
                    x = next;
                }
                painter.save();
                painter.setRenderHint(QPainter::Antialiasing);
                painter.setPen(QPen(color, t));
                painter.setBrush(Qt::NoBrush);
                painter.drawPath(wave);
                painter.restore();
                break;
            }
            case Kind::Dotted:
            case Kind::Dashed: {
                // Dots are t long with t gaps; dashes 3t with 2t gaps.
                const double on = line.kind == Kind::Dotted ? t : 3 * t;
                const double off = line.kind == Kind::Dotted ? t : 2 * t;
                for (double x = line.left; x < line.right; x += on + off) {
                    painter.fillRect(QRectF(x, top, std::min(on, line.right - x), t), color);
                }
                break;
            }
            case Kind::Strike:
                painter.fillRect(
                    QRectF(line.left, std::round(line.baseline - m_ascent * 0.3), width, t), color);
                break;
            case Kind::Over:
                painter.fillRect(QRectF(line.left, std::round(line.baseline - m_ascent), width, t),
                                 color);
                break;
        }
    }
}

// ---- NativeTerminal ------------------------------------------------------------------------

NativeTerminal::NativeTerminal(std::shared_ptr<TerminalSession> session, Theme& theme,
                               DesktopServices* desktop, QWidget* parent)
    : QWidget(parent), m_session(std::move(session)), m_theme(theme), m_view(new TerminalView) {
    m_view->setDesktopServices(desktop);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    setFocusProxy(m_view);
    m_view->setSession(m_session);
    if (m_session) {
        TerminalView* view = m_view;
        auto repaint = [view] { view->scheduleRepaint(); };
        connect(m_session.get(), &TerminalSession::revisionChanged, m_view, repaint);
        connect(m_session.get(), &TerminalSession::runningChanged, m_view, repaint);
        connect(m_session.get(), &TerminalSession::exitCodeChanged, m_view, repaint);
        // The session only hands on writes the user allowed; of those, only the session being
        // typed in may set the clipboard, not one running unseen in another pane.
        connect(m_session.get(), &TerminalSession::clipboardWriteRequested, m_view,
                [view](const QString& text) {
                    if (view->hasFocus() && view->isActiveWindow()) {
                        QGuiApplication::clipboard()->setText(text);
                    }
                });
    }
    connect(&m_theme, &Theme::changed, this, &NativeTerminal::applyTheme);
    applyTheme();
    connect(&m_theme, &Theme::animationsEnabledChanged, this,
            &NativeTerminal::followAnimationSetting);
    followAnimationSetting();
}

void NativeTerminal::applyTheme() {
    m_view->setFontSize(m_theme.fontSize());
    m_view->setBackgroundColor(m_theme.codeBackground());
    m_view->setAccentColor(colorFromHex(m_theme.accentHex()));
    if (m_session) {
        // Programs that ask for the terminal's colours get the ones painted.
        m_session->setColors(kDefaultTextColor.rgb(), colorFromHex(m_theme.backgroundHex()).rgb(),
                             colorFromHex(m_theme.accentHex()).rgb());
    }
    m_view->update();
}

void NativeTerminal::followAnimationSetting() {
    m_view->setBlinkAnimated(m_theme.animationsEnabled());
}
