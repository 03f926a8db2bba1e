// Kept apart from every other Qt file: Xlib's macros (None, Bool, Status…) collide with Qt
// names, so Xlib comes after the Qt headers and no Qt code follows it.
#include "platform/LinuxDesktopServices.h"

#include <QGuiApplication>
#include <QThread>

#include <X11/Xlib.h>

#include <optional>

namespace {

bool hasXTest(Display* display) {
    int opcode = 0, eventBase = 0, errorBase = 0;
    return XQueryExtension(display, "XTEST", &opcode, &eventBase, &errorBase) != 0;
}

// Whether the display has XTEST, asked on the application's own X connection: one round trip,
// where a connection of its own costs the server a new client and the whole set-up exchange,
// during start-up. Nothing when the application has no X connection, or off its thread, where
// Xlib calls on its connection could interleave with its own.
std::optional<bool> xtestOnApplicationDisplay() {
    // A program may run a core application only, which qGuiApp would wrongly cast.
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!application || QThread::currentThread() != application->thread()) {
        return std::nullopt;
    }
    auto* x11 = application->nativeInterface<QNativeInterface::QX11Application>();
    Display* display = x11 ? x11->display() : nullptr;
    if (!display) {
        return std::nullopt;
    }
    return hasXTest(display);
}

}  // namespace

bool x11WithXTestReachable() {
    if (const std::optional<bool> present = xtestOnApplicationDisplay()) {
        return *present;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        return false;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return false;
    }
    const bool present = hasXTest(display);
    XCloseDisplay(display);
    return present;
}
