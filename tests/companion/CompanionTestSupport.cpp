#include "CompanionTestSupport.h"

#include <QBuffer>
#include <QImageWriter>
#include <QtEndian>

#include <zlib.h>

namespace companion_test {

QByteArray encodeImage(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image)) {
        return {};
    }
    return bytes;
}

QImage solidImage(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(QColor(0, 217, 255, 200));
    return image;
}

QByteArray pngOfExactSize(qint64 totalBytes) {
    const QByteArray png = encodeImage(solidImage(4, 4), "PNG");
    const qint64 chunkOverhead = 12;  // length, type and CRC
    const qint64 iendSize = 12;
    const qint64 padding = totalBytes - png.size() - chunkOverhead;
    if (padding < 0) {
        return {};
    }
    // "vlKp": lowercase first letter = ancillary, so decoders skip it.
    QByteArray chunk(4, '\0');
    qToBigEndian<quint32>(quint32(padding), chunk.data());
    QByteArray typeAndData = QByteArrayLiteral("vlKp") + QByteArray(padding, 'x');
    const quint32 crc =
        crc32(0, reinterpret_cast<const Bytef*>(typeAndData.constData()), uInt(typeAndData.size()));
    QByteArray crcBytes(4, '\0');
    qToBigEndian<quint32>(crc, crcBytes.data());
    chunk += typeAndData + crcBytes;
    return png.left(png.size() - iendSize) + chunk + png.right(iendSize);
}

}  // namespace companion_test
