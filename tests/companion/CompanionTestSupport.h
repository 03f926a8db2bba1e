#pragma once

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

// Image files for the pet image tests, made in memory.
namespace companion_test {

inline QImage solidImage(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(QColor(0, 217, 255, 200));
    return image;
}

// The image as a file of the format; empty when Qt has no writer for it.
inline QByteArray encodeImage(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    return QImageWriter(&buffer, format).write(image) ? bytes : QByteArray();
}

// A valid PNG padded after its end chunk, which decoders stop at, to exactly totalBytes.
inline QByteArray pngOfExactSize(qint64 totalBytes) {
    const QByteArray png = encodeImage(solidImage(4, 4), "PNG");
    return png + QByteArray(totalBytes - png.size(), '\0');
}

}  // namespace companion_test
