#include "ui/companion/WindowLift.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>

// Xlib last: its macros (None, Bool, Status…) collide with Qt names.
#include <X11/Xlib.h>
#include <xcb/xproto.h>

namespace {

// Enough for the steps of a few seconds: a window manager may answer some requests with no
// event at all, and those entries must not pile up.
constexpr qsizetype kRemembered = 8;

Display* x11Display() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

template <typename T>
void remember(QList<T>& list, const T& item) {
    list.append(item);
    if (list.size() > kRemembered) {
        list.removeFirst();
    }
}

}  // namespace

WindowLift::WindowLift(QWidget* window)
    : QObject(window), m_window(window), m_display(x11Display()), m_rest(window->pos()) {
    window->installEventFilter(this);
    if (m_display) {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
}

WindowLift::~WindowLift() {
    if (m_display && QCoreApplication::instance()) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

void WindowLift::rest(QPoint place) {
    m_rest = place;
    if (!m_display) {
        m_window->move(liftedPlace());
        return;
    }
    // Qt hears of the resting place as a move of its own; the lift follows past Qt. Both
    // requests are sent, in order, even where Qt skips its own because it believes the window
    // is there already.
    m_window->move(m_rest);
    placeNatively();
}

void WindowLift::setLift(int lift) {
    if (lift == m_lift) {
        return;
    }
    m_lift = lift;
    if (!m_display) {
        m_window->move(liftedPlace());
        return;
    }
    placeNatively();
}

void WindowLift::placeNatively() {
    const WId window = m_window->internalWinId();
    if (window == 0) {
        return;
    }
    const QPoint place = liftedPlace();
    remember(m_placed, place);
    // The server counts native pixels. Qt scales a screen's contents about its top-left
    // corner, which it keeps where the server has it.
    const qreal scale = m_window->devicePixelRatioF();
    const QPoint origin = m_window->screen()->geometry().topLeft();
    const QPoint native = origin + (place - origin) * scale;
    remember(m_pending, QRect(native, m_window->size() * scale));
    XMoveWindow(m_display, ::Window(window), native.x(), native.y());
    XFlush(m_display);
}

bool WindowLift::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (m_pending.isEmpty() || !m_window || eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_CONFIGURE_NOTIFY) {
        return false;
    }
    const auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
    if (configure->window != m_window->internalWinId()) {
        return false;
    }
    // Without a window manager the server reports the window's own moves in root
    // coordinates; a window manager that moved the frame for us reports them the same way in
    // a sent event. Any other event (a move of its own, a resize) is Qt's to handle.
    const QRect geometry(configure->x, configure->y, configure->width, configure->height);
    const qsizetype answered = m_pending.indexOf(geometry);
    if (answered < 0) {
        return false;
    }
    m_pending.remove(0, answered + 1);
    return true;
}

bool WindowLift::eventFilter(QObject* watched, QEvent* event) {
    // A move Qt learnt of that is not the echo of a lift (the window manager, or the user
    // through it, moved the window) gives the window a new resting place, keeping the lift.
    if (watched == m_window && event->type() == QEvent::Move && m_display) {
        const QPoint now = m_window->pos();
        if (now != m_rest && !m_placed.contains(now)) {
            m_rest = now + QPoint(0, m_lift);
        }
    }
    return false;
}
