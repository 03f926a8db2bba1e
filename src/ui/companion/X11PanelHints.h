#pragma once

#include <QtGlobal>

// Window-manager hints of the companion's floating windows on X11: shown on every virtual
// desktop and left out of the task bar and pager. Does nothing on other platforms.
namespace X11PanelHints {

// Call before the window is first shown.
void applyTo(quintptr nativeWindow);

// Whether translucent windows are drawn translucent: false only on an X11 display without
// a compositing manager, where their transparent parts show black.
bool translucencyWorks();

}  // namespace X11PanelHints
