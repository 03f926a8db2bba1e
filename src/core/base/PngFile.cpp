#include "core/base/PngFile.h"

#include <QFile>

#include <png.h>

namespace {

// Larger than any artwork the interface ships; a file claiming more is not decoded.
constexpr png_uint_32 kMaxSide = 8192;

}  // namespace

QImage readPngFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray bytes = file.readAll();
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes.constData(), size_t(bytes.size()))) {
        return {};
    }
    if (png.width > kMaxSide || png.height > kMaxSide) {
        png_image_free(&png);
        return {};
    }
    // Straight (not premultiplied) 8-bit sRGB, blue first in memory: QImage's ARGB32 on a
    // little-endian machine.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
    png.format = PNG_FORMAT_BGRA;
    QImage image(int(png.width), int(png.height), QImage::Format_ARGB32);
    if (image.isNull() ||
        !png_image_finish_read(&png, nullptr, image.bits(), image.bytesPerLine(), nullptr)) {
        png_image_free(&png);
        return {};
    }
    return image;
}
