#pragma once

#include <QtGlobal>

// Window-manager hints of the companion's floating windows on X11: shown on every virtual
// desktop and left out of the task bar and pager. Does nothing on other platforms.
namespace X11PanelHints {

// Call before the window is first shown.
void applyTo(quintptr nativeWindow);

}  // namespace X11PanelHints
