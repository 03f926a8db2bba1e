#include "core/companion/BrandAssets.h"

#include <QCoreApplication>
#include <QImageReader>

namespace {

std::optional<QImage> loadResource(const QString& name) {
    // Read as PNG by Qt's own reader: left to guess, the first image read loads every image
    // format plugin to ask whether it reads this file, which costs the first window frame.
    QImageReader reader(QStringLiteral(":/%1.png").arg(name), "png");
    reader.setAutoDetectImageFormat(false);
    const QImage image = reader.read();
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
