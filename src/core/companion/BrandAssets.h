#pragma once

#include <QImage>
#include <QString>

#include <optional>

// VELK's built-in artwork and version, read from the application's resources. Images are
// loaded once, on first use; a missing resource gives no image.
namespace BrandAssets {

const std::optional<QImage>& logo();
const std::optional<QImage>& defaultPet();
// The application version, or "Development" when none is set.
QString version();

}  // namespace BrandAssets
