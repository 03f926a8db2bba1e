#pragma once

#include <QImage>
#include <QString>

// Reads a PNG file (or resource) with libpng directly. Any read through Qt's image readers
// first lists the image-format plugins, opening each plugin file to read its description:
// on a cold start, ten files read from the disk before the window can show, for a format the
// application decodes itself. A file that is not a readable PNG gives a null image.
QImage readPngFile(const QString& path);
