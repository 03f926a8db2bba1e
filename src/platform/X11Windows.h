#pragma once

#include <QStringList>

#include <optional>
#include <vector>

// Top-level windows of the X11 display named by $DISPLAY, as an EWMH window manager
// publishes them. Every call opens its own connection, so any thread may use these.
namespace X11Windows {

struct Window {
    quint64 id = 0;
    qint64 pid = 0;             // _NET_WM_PID; 0 when the window does not say
    QStringList windowClasses;  // WM_CLASS instance and class names, lower case

    bool operator==(const Window&) const = default;
};

// The window the window manager marks active (_NET_ACTIVE_WINDOW); nothing without a
// display, without an EWMH window manager, or when no window is active.
std::optional<Window> activeWindow();
// The top-level window that holds the keyboard focus: the focus window or its nearest
// ancestor that names its process or class.
std::optional<Window> focusedWindow();
// The managed top-level windows (_NET_CLIENT_LIST), oldest first.
std::vector<Window> clientWindows();
// Whether an EWMH window manager runs on the display (_NET_SUPPORTING_WM_CHECK).
bool windowManagerRunning();
// Asks the window manager to activate the window (raise it and give it the focus).
bool activate(quint64 window);

}  // namespace X11Windows
