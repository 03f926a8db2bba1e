// Kept apart from Qt code: Xlib's macros (None, Bool, Status…) collide with Qt names.
#include "platform/X11Windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <memory>
#include <mutex>

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;

// Failed requests on windows that vanished meanwhile are expected; the default handler
// would end the process.
int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

DisplayHandle openDisplay() {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        return nullptr;
    }
    static std::once_flag handlerInstalled;
    std::call_once(handlerInstalled, [] { XSetErrorHandler(ignoreErrors); });
    return DisplayHandle(XOpenDisplay(nullptr));
}

// The 32-bit items of a window property (Xlib hands them over as longs).
std::vector<unsigned long> cardinals(Display* display, ::Window window, const char* name,
                                     Atom type) {
    const Atom property = XInternAtom(display, name, True);
    if (property == 0) {
        return {};
    }
    Atom actualType = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, window, property, 0, 4096, False, type,
                                          &actualType, &format, &count, &remaining, &data);
    std::vector<unsigned long> items;
    if (status == Success && data && format == 32 && actualType == type) {
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        items.assign(values, values + count);
    }
    if (data) {
        XFree(data);
    }
    return items;
}

X11Windows::Window describe(Display* display, ::Window window) {
    X11Windows::Window result;
    result.id = window;
    const std::vector<unsigned long> pid = cardinals(display, window, "_NET_WM_PID", XA_CARDINAL);
    if (!pid.empty()) {
        result.pid = static_cast<qint64>(pid.front());
    }
    XClassHint hint{nullptr, nullptr};
    if (XGetClassHint(display, window, &hint)) {
        for (const char* name : {hint.res_name, hint.res_class}) {
            const QString text = QString::fromUtf8(name ? name : "").toLower();
            if (!text.isEmpty() && !result.windowClasses.contains(text)) {
                result.windowClasses.append(text);
            }
        }
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    return result;
}

bool identifies(const X11Windows::Window& window) {
    return window.pid > 0 || !window.windowClasses.isEmpty();
}

}  // namespace

namespace X11Windows {

std::optional<Window> activeWindow() {
    const DisplayHandle display = openDisplay();
    if (!display) {
        return std::nullopt;
    }
    const std::vector<unsigned long> active =
        cardinals(display.get(), DefaultRootWindow(display.get()), "_NET_ACTIVE_WINDOW", XA_WINDOW);
    if (active.empty() || active.front() == 0) {
        return std::nullopt;
    }
    return describe(display.get(), active.front());
}

std::optional<Window> focusedWindow() {
    const DisplayHandle display = openDisplay();
    if (!display) {
        return std::nullopt;
    }
    ::Window focus = 0;
    int revert = 0;
    XGetInputFocus(display.get(), &focus, &revert);
    const ::Window root = DefaultRootWindow(display.get());
    // PointerRoot (1) and None (0) name no window.
    while (focus > 1 && focus != root) {
        const Window described = describe(display.get(), focus);
        if (identifies(described)) {
            return described;
        }
        ::Window rootReturn = 0, parent = 0;
        ::Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display.get(), focus, &rootReturn, &parent, &children, &count)) {
            break;
        }
        if (children) {
            XFree(children);
        }
        focus = parent;
    }
    return std::nullopt;
}

std::vector<Window> clientWindows() {
    const DisplayHandle display = openDisplay();
    if (!display) {
        return {};
    }
    std::vector<Window> windows;
    for (unsigned long id : cardinals(display.get(), DefaultRootWindow(display.get()),
                                      "_NET_CLIENT_LIST", XA_WINDOW)) {
        windows.push_back(describe(display.get(), id));
    }
    return windows;
}

bool windowManagerRunning() {
    const DisplayHandle display = openDisplay();
    return display && !cardinals(display.get(), DefaultRootWindow(display.get()),
                                 "_NET_SUPPORTING_WM_CHECK", XA_WINDOW)
                           .empty();
}

bool activate(quint64 window) {
    const DisplayHandle display = openDisplay();
    if (!display) {
        return false;
    }
    const ::Window root = DefaultRootWindow(display.get());
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display.get(), "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;  // source: a pager, which window managers always obey
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display.get(), root, False,
                                   SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XMapRaised(display.get(), window);
    XSync(display.get(), False);
    return sent != 0;
}

}  // namespace X11Windows
