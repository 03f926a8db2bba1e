// Kept apart from every Qt file: Xlib's macros (None, Bool, Status…) collide with Qt names.
#include "platform/LinuxDesktopServices.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

bool x11WithXTestReachable() {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        return false;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return false;
    }
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    const bool hasXTest = XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor);
    XCloseDisplay(display);
    return hasXTest;
}
