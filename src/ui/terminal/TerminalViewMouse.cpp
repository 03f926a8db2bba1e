// The terminal view's mouse: reports to programs that ask for them, the selection, the
// primary selection's paste, the wheel and focus reports.
#include "ui/terminal/TerminalView.h"

#include "core/terminal/TerminalMouse.h"
#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSession.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QStyleHints>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

using MouseEvent = TerminalMouseEvent;

int buttonNumber(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton:
            return MouseEvent::Left;
        case Qt::MiddleButton:
            return MouseEvent::Middle;
        case Qt::RightButton:
            return MouseEvent::Right;
        default:
            return MouseEvent::NoButton;
    }
}

// The button a drag reports: the first one held, in xterm's order.
int heldButton(Qt::MouseButtons buttons) {
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::MiddleButton, Qt::RightButton}) {
        if (buttons & button) {
            return buttonNumber(button);
        }
    }
    return MouseEvent::NoButton;
}

int modifierBits(Qt::KeyboardModifiers modifiers) {
    return ((modifiers & Qt::ShiftModifier) ? MouseEvent::kShift : 0) |
           ((modifiers & Qt::AltModifier) ? MouseEvent::kAlt : 0) |
           ((modifiers & Qt::ControlModifier) ? MouseEvent::kControl : 0);
}

}  // namespace

TerminalView::PointerCell TerminalView::cellAt(QPointF position) const {
    const TerminalScreen& screen = m_session->screen();
    const double x = m_cellWidth > 0 ? (position.x() - kLeftMargin) / m_cellWidth : 0;
    PointerCell cell;
    cell.column = std::clamp(int(std::floor(x)), 0, screen.columns() - 1);
    // Past the last column is the right half of it; left of the grid the left half of the first.
    cell.rightHalf = x >= screen.columns() || (x >= 0 && x - cell.column >= 0.5);
    cell.row = std::clamp(int(std::floor((position.y() - kTopMargin) / lineHeight())), 0,
                          screen.rows() - 1);
    cell.line =
        screen.linesScrolledOff() - std::min(m_scrollOffset, screen.scrollbackSize()) + cell.row;
    return cell;
}

bool TerminalView::reportsMouse(Qt::KeyboardModifiers modifiers) const {
    return m_session && m_session->screen().mouseTracking() != TerminalMouseTracking::None &&
           !(modifiers & Qt::ShiftModifier);
}

void TerminalView::sendBytes(const QByteArray& bytes) {
    if (!m_session || bytes.isEmpty()) {
        return;
    }
    m_session->sendBytes(bytes);
    Q_EMIT inputSent(QString::fromLatin1(bytes));
}

bool TerminalView::pressMouse(QMouseEvent* event) {
    if (!m_session) {
        return false;
    }
    const TerminalScreen& screen = m_session->screen();
    const PointerCell at = cellAt(event->position());
    if (reportsMouse(event->modifiers())) {
        const int button = buttonNumber(event->button());
        if (button == MouseEvent::NoButton) {
            return false;
        }
        m_reportedButtons |= event->button();
        m_reportedCell = QPoint(at.column, at.row);
        sendBytes(TerminalMouse::report(screen, {MouseEvent::Kind::Press, button, at.row, at.column,
                                                 modifierBits(event->modifiers())}));
        return true;
    }
    if (event->button() == Qt::MiddleButton) {
        QClipboard* clipboard = QGuiApplication::clipboard();
        if (clipboard->supportsSelection()) {
            pasteText(clipboard->text(QClipboard::Selection));
        }
        return true;
    }
    if (event->button() != Qt::LeftButton) {
        return false;
    }
    // A press soon after a double click, where it was, is the third click: whole lines.
    const bool thirdClick =
        m_doubleClickAt &&
        event->timestamp() - m_doubleClickTime <=
            quint64(QGuiApplication::styleHints()->mouseDoubleClickInterval()) &&
        (event->position() - *m_doubleClickAt).manhattanLength() <=
            QGuiApplication::styleHints()->startDragDistance();
    m_doubleClickAt.reset();
    const TerminalTextPoint cell{at.line, at.column};
    if (thirdClick) {
        m_selection.start(screen, cell, at.rightHalf, TerminalSelection::Unit::Line);
    } else if ((event->modifiers() & Qt::ShiftModifier) && !m_selection.isNone()) {
        m_selection.extend(screen, cell, at.rightHalf);
    } else {
        m_selection.start(screen, cell, at.rightHalf, TerminalSelection::Unit::Cell);
    }
    m_selecting = true;
    update();
    return true;
}

void TerminalView::moveMouse(QMouseEvent* event) {
    if (!m_session) {
        return;
    }
    const PointerCell at = cellAt(event->position());
    if (m_selecting) {
        if (event->buttons() & Qt::LeftButton) {
            m_selection.extend(m_session->screen(), {at.line, at.column}, at.rightHalf);
            update();
        }
        return;
    }
    // A drag that began as reports goes on as reports, whatever the modifiers are now.
    if ((!m_reportedButtons && !reportsMouse(event->modifiers())) ||
        m_reportedCell == QPoint(at.column, at.row)) {
        return;  // programs hear of motion from cell to cell only
    }
    const QByteArray report = TerminalMouse::report(
        m_session->screen(), {MouseEvent::Kind::Motion, heldButton(event->buttons()), at.row,
                              at.column, modifierBits(event->modifiers())});
    if (!report.isEmpty()) {
        m_reportedCell = QPoint(at.column, at.row);
        sendBytes(report);
    }
}

void TerminalView::mouseReleaseEvent(QMouseEvent* event) {
    if (m_session && (m_reportedButtons & event->button())) {
        m_reportedButtons &= ~event->button();
        const PointerCell at = cellAt(event->position());
        sendBytes(TerminalMouse::report(
            m_session->screen(), {MouseEvent::Kind::Release, buttonNumber(event->button()), at.row,
                                  at.column, modifierBits(event->modifiers())}));
        event->accept();
        return;
    }
    if (m_selecting && event->button() == Qt::LeftButton) {
        m_selecting = false;
        publishSelection();
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void TerminalView::mouseDoubleClickEvent(QMouseEvent* event) {
    // Qt sends a double click in place of the second press.
    if (!m_session || event->button() != Qt::LeftButton || reportsMouse(event->modifiers())) {
        mousePressEvent(event);
        return;
    }
    const PointerCell at = cellAt(event->position());
    m_selection.start(m_session->screen(), {at.line, at.column}, at.rightHalf,
                      TerminalSelection::Unit::Word);
    m_selecting = true;
    m_doubleClickAt = event->position();
    m_doubleClickTime = event->timestamp();
    event->accept();
    update();
}

void TerminalView::wheelEvent(QWheelEvent* event) {
    event->accept();
    // With Shift the wheel always scrolls here.
    if (m_session && !(event->modifiers() & Qt::ShiftModifier)) {
        const TerminalScreen& screen = m_session->screen();
        const bool programTakesWheel = screen.mouseTracking() != TerminalMouseTracking::None ||
                                       (screen.alternateScreenActive() && screen.alternateScroll());
        if (programTakesWheel) {
            // One report (or one set of cursor keys) per notch of 120 units; fine-grained
            // wheels add up to notches.
            const double notches = event->angleDelta().y() / 120.0 + m_wheelNotchRemainder;
            const int whole = int(std::trunc(notches));
            m_wheelNotchRemainder = notches - whole;
            const PointerCell at = cellAt(event->position());
            const MouseEvent turn{MouseEvent::Kind::Press,
                                  whole > 0 ? MouseEvent::WheelUp : MouseEvent::WheelDown, at.row,
                                  at.column, modifierBits(event->modifiers())};
            for (int i = 0; i < std::abs(whole); ++i) {
                sendBytes(TerminalMouse::report(screen, turn));
            }
            return;
        }
    }
    // One notch (120 units) is three lines. Fine-grained wheels and touchpads send
    // fractions of a notch; the remainder is kept so slow scrolling still moves.
    const double lines = event->angleDelta().y() / 120.0 * 3.0 + m_wheelRemainder;
    const int whole = int(std::trunc(lines));
    m_wheelRemainder = lines - whole;
    m_scrollOffset = std::clamp(m_scrollOffset + whole, 0, scrollbackSize());
    update();
}

void TerminalView::reportFocus(bool focused) {
    if (m_session) {
        sendBytes(TerminalMouse::focusReport(m_session->screen(), focused));
    }
}

// ---- Selection -----------------------------------------------------------------------------

void TerminalView::followSelection() {
    if (m_session && m_selection.follow(m_session->screen())) {
        m_selecting = false;
    }
}

void TerminalView::publishSelection() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!m_session || !clipboard->supportsSelection() || m_selection.isEmpty()) {
        return;
    }
    const QString text = m_selection.text(m_session->screen());
    if (!text.isEmpty()) {
        clipboard->setText(text, QClipboard::Selection);
    }
}

void TerminalView::copy() {
    if (!m_session) {
        return;
    }
    followSelection();
    const QString text = m_selection.text(m_session->screen());
    if (!text.isEmpty()) {
        QGuiApplication::clipboard()->setText(text);
    }
}

void TerminalView::selectAll() {
    if (!m_session) {
        return;
    }
    m_selection.selectAll(m_session->screen());
    publishSelection();
    update();
}
