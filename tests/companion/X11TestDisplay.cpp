#include "X11TestDisplay.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <memory>

namespace x11_test {
namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;

DisplayHandle open() {
    return DisplayHandle(XOpenDisplay(nullptr));
}

std::vector<unsigned long> longs(Display* display, ::Window window, const char* name, Atom type) {
    Atom actualType = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> values;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 4096, False, type,
                           &actualType, &format, &count, &after, &data) == Success &&
        data && format == 32) {
        const auto* items = reinterpret_cast<const unsigned long*>(data);
        values.assign(items, items + count);
    }
    if (data) {
        XFree(data);
    }
    return values;
}

}  // namespace

std::vector<quint64> stackingOrder() {
    const DisplayHandle display = open();
    if (!display) {
        return {};
    }
    const std::vector<unsigned long> windows = longs(
        display.get(), DefaultRootWindow(display.get()), "_NET_CLIENT_LIST_STACKING", XA_WINDOW);
    return {windows.begin(), windows.end()};
}

QStringList windowStates(quint64 window) {
    const DisplayHandle display = open();
    QStringList names;
    if (!display) {
        return names;
    }
    for (unsigned long atom : longs(display.get(), window, "_NET_WM_STATE", XA_ATOM)) {
        if (char* name = XGetAtomName(display.get(), atom)) {
            names.append(QString::fromLatin1(name));
            XFree(name);
        }
    }
    return names;
}

std::optional<quint64> cardinal(quint64 window, const char* property) {
    const DisplayHandle display = open();
    const std::vector<unsigned long> values =
        display ? longs(display.get(), window, property, XA_CARDINAL)
                : std::vector<unsigned long>();
    return values.empty() ? std::nullopt : std::optional(quint64(values.front() & 0xFFFFFFFFUL));
}

QPoint windowOrigin(quint64 window) {
    const DisplayHandle display = open();
    if (!display) {
        return {};
    }
    int x = 0, y = 0;
    ::Window child = 0;
    XTranslateCoordinates(display.get(), window, DefaultRootWindow(display.get()), 0, 0, &x, &y,
                          &child);
    return {x, y};
}

std::shared_ptr<void> ownSystemTray() {
    DisplayHandle display = open();
    if (!display) {
        return nullptr;
    }
    const ::Window window =
        XCreateSimpleWindow(display.get(), DefaultRootWindow(display.get()), 0, 0, 1, 1, 0, 0, 0);
    const Atom selection = XInternAtom(display.get(), "_NET_SYSTEM_TRAY_S0", False);
    XSetSelectionOwner(display.get(), selection, window, CurrentTime);
    if (XGetSelectionOwner(display.get(), selection) != window) {
        return nullptr;
    }
    XFlush(display.get());
    return std::shared_ptr<void>(display.release(),
                                 [](void* owner) { XCloseDisplay(static_cast<Display*>(owner)); });
}

void movePointer(QPoint position) {
    const DisplayHandle display = open();
    if (display) {
        XTestFakeMotionEvent(display.get(), -1, position.x(), position.y(), CurrentTime);
        XFlush(display.get());
    }
}

void pressButton(bool down) {
    const DisplayHandle display = open();
    if (display) {
        XTestFakeButtonEvent(display.get(), 1, down ? True : False, CurrentTime);
        XFlush(display.get());
    }
}

}  // namespace x11_test
