#include "core/base/PngFile.h"

#include <QImageReader>

QImage readPngFile(const QString& path) {
    QImageReader reader(path, QByteArrayLiteral("png"));
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}
