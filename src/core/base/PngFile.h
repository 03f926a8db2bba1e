#pragma once

#include <QImage>
#include <QString>

// Reads a PNG file (or resource) with Qt's built-in reader only. Left to guess the format, the
// first image a process reads makes Qt load every image-format plugin, with its libraries, to
// ask each whether it reads the file: tens of milliseconds on a cold start, for a format Qt
// reads itself. A file that is not a readable PNG gives a null image.
QImage readPngFile(const QString& path);
