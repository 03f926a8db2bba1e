#pragma once

#include <QPoint>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

// Questions to the X server and pointer actions for the floating-window tests, on the
// display named by $DISPLAY. Kept apart from Qt code because of Xlib's macros.
namespace x11_test {

// The managed windows from bottom to top (_NET_CLIENT_LIST_STACKING).
std::vector<quint64> stackingOrder();
// The atom names in the window's _NET_WM_STATE.
QStringList windowStates(quint64 window);
// A 32-bit cardinal property of the window.
std::optional<quint64> cardinal(quint64 window, const char* property);
// The window's top-left corner on the root window.
QPoint windowOrigin(quint64 window);

// Stands in for a system tray: owns the tray selection of screen 0 while the returned handle
// lives, so that applications see a tray (icons asking to dock are not shown). Null when
// the selection could not be taken.
std::shared_ptr<void> ownSystemTray();

// Pointer actions through the XTEST extension.
void movePointer(QPoint position);
void pressButton(bool down);

}  // namespace x11_test
