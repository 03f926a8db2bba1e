// Kept apart from other Qt code: Xlib's macros (None, Bool, Status…) collide with Qt names.
#include "ui/companion/X11PanelHints.h"

#include <QByteArray>
#include <QGuiApplication>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <vector>

namespace X11PanelHints {

void applyTo(quintptr nativeWindow) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    if (!display || nativeWindow == 0) {
        return;
    }
    // Qt's own connection: these requests reach the server after the window's creation.
    const ::Window window = ::Window(nativeWindow);
    const unsigned long allDesktops = 0xFFFFFFFFUL;
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_DESKTOP", False), XA_CARDINAL,
                    32, PropModeReplace, reinterpret_cast<const unsigned char*>(&allDesktops), 1);
    // Qt merges its own states (above, stays on top) into this list when it maps the window.
    std::vector<Atom> states = {XInternAtom(display, "_NET_WM_STATE_STICKY", False),
                                XInternAtom(display, "_NET_WM_STATE_SKIP_TASKBAR", False),
                                XInternAtom(display, "_NET_WM_STATE_SKIP_PAGER", False)};
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_STATE", False), XA_ATOM, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(states.data()),
                    int(states.size()));
    XFlush(display);
}

bool translucencyWorks() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    if (!display) {
        return true;
    }
    // A compositing manager owns the selection _NET_WM_CM_S<screen number>.
    const QByteArray selection = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(display));
    return XGetSelectionOwner(display, XInternAtom(display, selection.constData(), False)) != 0;
}

}  // namespace X11PanelHints
