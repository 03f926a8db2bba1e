#pragma once

#include <QColor>
#include <QString>

class Theme;

// The application's stylesheet, generated from the theme's derived colours. Widgets opt
// into roles through object names and dynamic properties:
//   #Sidebar, #Header, #StatusBar, #Notice       the window's frame parts
//   [card="true"]                                a raised surface with a border
//   [role="title"|"headline"|"muted"|"pill"|"badge"|"accent"]   text roles
//   QPushButton[primary="true"]                  the accent-filled main action
//   QPushButton[segment="true"]                  one choice of a segmented picker
//   QToolButton[nav="true"]                      a sidebar page entry (checked = selected)
namespace AppStyle {

QString styleSheet(const Theme& theme);

// rgba() text of a colour, for stylesheets.
QString css(const QColor& color);

}  // namespace AppStyle
