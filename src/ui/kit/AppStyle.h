#pragma once

#include <QColor>
#include <QString>

class Theme;

// The application's stylesheet, generated from the theme's derived colours. Widgets opt
// into roles through object names and dynamic properties, set before they join the window:
// a widget's own setStyleSheet() gives it a style of its own and every polish of it and its
// children then matches against every sheet above it, which is what the window's start-up
// cannot afford. For the same reason no rule picks labels by an ancestor ("#StatusBar QLabel"):
// every label of the window would test each of its ancestors against it.
//   #Sidebar, #Header, #StatusBar, #Notice       the window's frame parts
//   #HeaderTitle, #StatusDot                     the current page's name, the status light
//   [card="true"]                                a raised surface with a border
//   [role="title"|"headline"|"muted"|"pill"|"badge"|"accent"|"status"]   text roles
//   QPushButton[primary="true"]                  the accent-filled main action
//   QPushButton[segment="true"]                  one choice of a segmented picker
//   QPushButton[bare="true"]                     a clickable row: no fill, border or padding
//   QToolButton[nav="true"]                      a sidebar page entry (checked = selected)
namespace AppStyle {

QString styleSheet(const Theme& theme);

// rgba() text of a colour, for stylesheets.
QString css(const QColor& color);

}  // namespace AppStyle
