#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>

// The product's mark and version text.
namespace BrandAssets {

// The application's version text, or "Development" when the build carries none.
QString version();

// The orbit logo: a ring around a planet, drawn in the accent colour.
QPixmap logo(int size, const QColor& accent);

}  // namespace BrandAssets
