#pragma once

#include "core/base/Result.h"

#include <QByteArray>
#include <QImage>
#include <QString>

// Reading a user-chosen pet image, with the limits the companion enforces before it shows
// anything: the file size, the number of images in the file, every image's pixel size, and
// that it decodes.
namespace PetImage {

inline constexpr qint64 kMaximumFileBytes = 10'000'000;
inline constexpr int kMaximumPixels = 8192;

struct Loaded {
    QImage image;
    QByteArray bytes;  // the file exactly as read
};

// The loaded image, or the message that explains the failure.
Result<Loaded> load(const QString& path);

// Decodes stored bytes; a null image when they are not a usable image.
QImage decode(const QByteArray& bytes);

}  // namespace PetImage
