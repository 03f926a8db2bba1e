// The terminal view's text input beyond single keys: input methods, pastes and zoom.
#include "core/appearance/HexColor.h"
#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSession.h"
#include "core/terminal/TerminalWidth.h"
#include "ui/terminal/TerminalView.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethod>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace {

// The text colour cells without one of their own are drawn in.
const QColor kPreeditTextColor = colorFromHex(u"D0DEEB");

}  // namespace

// ---- Pasting -------------------------------------------------------------------------------

void TerminalView::paste() {
    pasteText(QGuiApplication::clipboard()->text());
}

void TerminalView::pasteText(const QString& text) {
    if (!m_session || text.isEmpty()) {
        return;
    }
    const bool lineBreak = text.contains(u'\n') || text.contains(u'\r');
    if (m_pasteConfirmer && lineBreak && !m_session->screen().bracketedPaste()) {
        // The question is modal: the view, its session or the program's mode may change
        // while it is open, so all of them are looked at again afterwards.
        const QPointer<TerminalView> alive(this);
        const std::shared_ptr<TerminalSession> session = m_session;
        const auto confirmer = m_pasteConfirmer;
        if (!confirmer(text) || !alive || m_session != session) {
            return;
        }
    }
    send(pasteInput(text, m_session->screen().bracketedPaste()));
}

QString TerminalView::pasteInput(const QString& text, bool bracketed) {
    // Line breaks go as CR, what Enter sends, in both modes, as VTE (pastify_string) and
    // xterm send them: programs in raw mode (editors, prompts) take CR for Enter, and the
    // tty turns it into LF for those that read lines. Other control characters pass
    // unchanged (VTE shows them as control pictures instead).
    QString body = text;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\r"));
    body.replace(u'\n', u'\r');
    if (!bracketed) {
        return body;
    }
    // A marker inside the text would end the bracket early and let the rest arrive as if
    // typed, commands and all; kitty and VTE keep the bracket whole the same way. Removing
    // one can join the text around it into a new marker, so removal repeats until none is
    // left. The 8-bit CSI spellings count too.
    static const QString markers[] = {
        QStringLiteral("\x1b[200~"),
        QStringLiteral("\x1b[201~"),
        QStringLiteral("\u009b200~"),
        QStringLiteral("\u009b201~"),
    };
    for (qsizetype before = -1; before != body.size();) {
        before = body.size();
        for (const QString& marker : markers) {
            body.remove(marker);
        }
    }
    return markers[0] + body + markers[1];
}

// ---- Zoom ----------------------------------------------------------------------------------

std::optional<int> TerminalView::zoomKey(const QKeyEvent& event) {
    // As in GNOME Terminal and Konsole. Shift is allowed where a layout needs it for the
    // key ("+" is Shift+= on US keyboards); Control+Shift+- stays Control+_ for the program.
    const Qt::KeyboardModifiers modifiers = event.modifiers() & ~Qt::KeypadModifier;
    const bool shift = modifiers & Qt::ShiftModifier;
    if ((modifiers & ~Qt::ShiftModifier) != Qt::ControlModifier) {
        return std::nullopt;
    }
    switch (event.key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            return 1;
        case Qt::Key_Minus:
            return shift ? std::nullopt : std::optional<int>(-1);
        case Qt::Key_0:
            return shift ? std::nullopt : std::optional<int>(0);
        default:
            return std::nullopt;
    }
}

bool TerminalView::handleZoomKey(const QKeyEvent& event) {
    const std::optional<int> step = zoomKey(event);
    if (!step) {
        return false;
    }
    if (*step == 0) {
        resetZoom();
    } else {
        zoomBy(*step);
    }
    return true;
}

void TerminalView::zoomBy(int steps) {
    int step = m_zoomStep;
    for (; steps > 0 && m_baseFontSize * std::pow(kZoomFactor, step) < kMaximumFontSize; --steps) {
        ++step;
    }
    for (; steps < 0 && m_baseFontSize * std::pow(kZoomFactor, step) > kMinimumFontSize; ++steps) {
        --step;
    }
    if (step != m_zoomStep) {
        m_zoomStep = step;
        applyZoom();
    }
}

void TerminalView::resetZoom() {
    if (m_zoomStep != 0) {
        m_zoomStep = 0;
        applyZoom();
    }
}

void TerminalView::applyZoom() {
    // The base size itself is never clamped: unzoomed, the view draws the theme's size.
    const double size = m_zoomStep == 0
                            ? m_baseFontSize
                            : std::clamp(m_baseFontSize * std::pow(kZoomFactor, m_zoomStep),
                                         kMinimumFontSize, kMaximumFontSize);
    if (size == m_fontSize) {
        return;
    }
    m_fontSize = size;
    updateFonts();
    update();
}

// ---- Input methods -------------------------------------------------------------------------

QRect TerminalView::cursorCell() const {
    if (!m_session) {
        return QRect(kLeftMargin, kTopMargin, int(std::ceil(m_cellWidth)), lineHeight());
    }
    const TerminalScreen& screen = m_session->screen();
    return QRect(int(std::lround(m_cellWidth * screen.column())) + kLeftMargin,
                 lineHeight() * screen.row() + kTopMargin, int(std::ceil(m_cellWidth)),
                 lineHeight());
}

void TerminalView::inputMethodEvent(QInputMethodEvent* event) {
    if (!m_session) {
        event->ignore();
        return;
    }
    m_preedit = event->preeditString();
    m_preeditCursor = -1;
    for (const QInputMethodEvent::Attribute& attribute : event->attributes()) {
        if (attribute.type == QInputMethodEvent::Cursor) {
            m_preeditCursor = attribute.length > 0 ? attribute.start : -1;
        }
    }
    const QString commit = event->commitString();
    if (!commit.isEmpty() || !m_preedit.isEmpty()) {
        m_scrollOffset = 0;  // as typing does
        m_sinceTyping.restart();
    }
    send(commit);
    event->accept();
    update();
}

QVariant TerminalView::inputMethodQuery(Qt::InputMethodQuery query) const {
    switch (query) {
        case Qt::ImEnabled:
            return testAttribute(Qt::WA_InputMethodEnabled);
        case Qt::ImCursorRectangle:
            return cursorCell();
        case Qt::ImFont:
            return m_fonts[0];
        case Qt::ImInputItemClipRectangle:
            return rect();
        case Qt::ImHints:
            return int(Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText | Qt::ImhMultiLine);
        // The program owns the line being edited and the view cannot read it back, so the
        // input method is told of no text around the cursor.
        case Qt::ImSurroundingText:
        case Qt::ImCurrentSelection:
        case Qt::ImTextBeforeCursor:
        case Qt::ImTextAfterCursor:
            return QString();
        case Qt::ImCursorPosition:
        case Qt::ImAnchorPosition:
        case Qt::ImAbsolutePosition:
            return 0;
        case Qt::ImReadOnly:
            return false;
        default:
            return QWidget::inputMethodQuery(query);
    }
}

void TerminalView::followCursorForInputMethod() {
    const QRect cell = cursorCell();
    if (cell == m_inputMethodCursor) {
        return;
    }
    m_inputMethodCursor = cell;
    // Without the focus nothing is composed here; focusing asks for the position anyway.
    if (hasFocus()) {
        QGuiApplication::inputMethod()->update(Qt::ImCursorRectangle);
    }
}

void TerminalView::drawPreedit(QPainter& painter) {
    if (m_preedit.isEmpty() || !m_session) {
        return;
    }
    const TerminalScreen& screen = m_session->screen();
    const double w = m_cellWidth;
    const int h = lineHeight();
    int row = screen.row();
    int column = screen.column();
    std::optional<QPointF> caret;
    painter.setFont(m_fonts[0]);
    painter.setPen(kPreeditTextColor);

    // One cluster is a character with the zero-width marks after it, one or two cells wide
    // as on the grid; a cluster that does not fit the row goes on the next.
    const QList<uint> scalars = m_preedit.toUcs4();
    qsizetype offset = 0;  // UTF-16 position of scalars[i] in m_preedit
    for (qsizetype i = 0; i < scalars.size();) {
        const qsizetype clusterStart = offset;
        QString cluster;
        int cells = 0;
        do {
            const char32_t scalar = scalars[i];
            cluster.append(QString::fromUcs4(&scalar, 1));
            offset += QChar::requiresSurrogates(scalar) ? 2 : 1;
            const auto width = terminalCellWidth(scalar);
            cells = std::max(cells, int(width));
            ++i;
        } while (i < scalars.size() && terminalCellWidth(scalars[i]) == TerminalCellWidth::Zero);
        cells = std::max(cells, 1);
        if (column + cells > screen.columns() && column > 0) {
            ++row;
            column = 0;
        }
        const QRectF box(w * column + kLeftMargin, double(h) * row + kTopMargin, w * cells, h);
        if (m_preeditCursor >= 0 && m_preeditCursor <= clusterStart && !caret) {
            caret = box.topLeft();
        }
        painter.fillRect(box, m_backgroundColor);
        painter.drawText(QPointF(box.left(), box.top() + m_ascent), cluster);
        // Underlined as the desktop marks text being composed.
        painter.fillRect(QRectF(box.left(), std::round(box.top() + m_ascent) + m_lineWidth,
                                box.width(), m_lineWidth),
                         kPreeditTextColor);
        column += cells;
    }
    if (m_preeditCursor >= 0 && !caret) {
        caret = QPointF(w * column + kLeftMargin, double(h) * row + kTopMargin);
    }
    if (caret) {
        painter.fillRect(QRectF(*caret, QSizeF(std::max(2.0, std::round(h * 0.08)), h)),
                         m_accentColor);
    }
}
