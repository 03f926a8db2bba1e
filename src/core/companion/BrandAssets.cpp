#include "core/companion/BrandAssets.h"

#include "core/base/PngFile.h"

#include <QCoreApplication>

namespace {

std::optional<QImage> loadResource(const QString& name) {
    const QImage image = readPngFile(QStringLiteral(":/%1.png").arg(name));
    if (image.isNull()) {
        return std::nullopt;
    }
    return image;
}

}  // namespace

namespace BrandAssets {

const std::optional<QImage>& logo() {
    static const std::optional<QImage> image = loadResource(QStringLiteral("VELKLogo"));
    return image;
}

const std::optional<QImage>& defaultPet() {
    static const std::optional<QImage> image = loadResource(QStringLiteral("VELKPet"));
    return image;
}

QString version() {
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? QStringLiteral("Development") : version;
}

}  // namespace BrandAssets
