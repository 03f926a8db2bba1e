#pragma once

#include <QColor>
#include <QString>

class Theme;

// The application's look, worked out from the theme: the palette every window uses and the
// colours `DesktopStyle` draws the widgets in (see DesktopStyle.h for the roles widgets take).
namespace AppStyle {

// Makes `DesktopStyle` the application's style and 13 px its text size. Before any widget.
void install();

// Gives the application the theme's palette, and its style the theme's colours; the windows
// repaint.
void apply(const Theme& theme);

// rgba() text of a colour, for the few widgets that keep a stylesheet of their own.
QString css(const QColor& color);

}  // namespace AppStyle
