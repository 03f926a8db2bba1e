#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Image files for the pet image tests, made in memory.
namespace companion_test {

QByteArray encodeImage(const QImage& image, const char* format);
QImage solidImage(int width, int height);
// A valid PNG padded with a private ancillary chunk to exactly totalBytes bytes.
QByteArray pngOfExactSize(qint64 totalBytes);

}  // namespace companion_test
