// Kept apart from every Qt file: Xlib's macros (None, Bool, Status…) collide with Qt names.
#include "platform/LinuxDesktopServices.h"

#include <X11/Xlib.h>

bool x11WithXTestReachable() {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        return false;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return false;
    }
    int opcode = 0, eventBase = 0, errorBase = 0;
    const bool hasXTest = XQueryExtension(display, "XTEST", &opcode, &eventBase, &errorBase);
    XCloseDisplay(display);
    return hasXTest;
}
