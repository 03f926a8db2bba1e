#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

// Icons come from the Adwaita symbolic set installed with the desktop (package
// adwaita-icon-theme). The views name icons by the symbol names the product uses
// ("square.grid.2x2", "folder.badge.plus", …); this maps them to the packaged SVG files and
// tints them, since symbolic icons are single-colour shapes.
namespace Icons {

// The packaged SVG file for a symbol name; empty when the name is unknown or the icon set is
// not installed.
QString filePath(const QString& symbolName);

// The symbol drawn in `color` at `size` logical pixels; a null pixmap when it is missing.
// Each file is drawn once per size, and kept between runs (IconCache), so asking again, in
// any colour, is cheap.
QPixmap pixmap(const QString& symbolName, const QColor& color, int size = 16);
QIcon icon(const QString& symbolName, const QColor& color, int size = 16);

}  // namespace Icons
