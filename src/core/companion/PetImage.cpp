#include "core/companion/PetImage.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

namespace PetImage {

namespace {

const QString kTooManyBytes = QStringLiteral("Choose an image smaller than 10 MB.");
const QString kNotAnImage = QStringLiteral("This image could not be opened. Try a PNG or JPEG.");
const QString kTooManyPixels =
    QStringLiteral("Choose an image no larger than 8192 pixels on either side.");
const QString kNotDecodable =
    QStringLiteral("This image could not be opened. Try a PNG or JPEG smaller than 8192 pixels.");

bool withinPixelLimit(int side) {
    return side >= 1 && side <= kMaximumPixels;
}

// Checks every image of the file by the sizes its header declares, before anything is
// decoded. A format that cannot tell the size without decoding is refused.
Result<void> checkDeclaredSizes(const QByteArray& bytes) {
    QByteArray data = bytes;  // QBuffer needs a non-const array; this is a shallow copy
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (!reader.canRead()) {
        return Error::invalid(kNotAnImage);
    }
    const int count = reader.imageCount();
    if (count < 1) {
        return Error::invalid(kNotAnImage);
    }
    for (int index = 0; index < count; ++index) {
        if (index > 0 && !reader.jumpToImage(index)) {
            return Error{Error::Kind::Limit, kTooManyPixels};  // the size cannot be read
        }
        const QSize size = reader.size();
        if (!withinPixelLimit(size.width()) || !withinPixelLimit(size.height())) {
            return Error{Error::Kind::Limit, kTooManyPixels};
        }
    }
    return {};
}

}  // namespace

QImage decode(const QByteArray& bytes) {
    QImage image;
    if (!image.loadFromData(bytes)) {
        return {};
    }
    // The display size is the device-independent size: pixels divided by the image's
    // device pixel ratio, which is 1 for a plain file whatever resolution it declares.
    const QSizeF display = image.deviceIndependentSize();
    if (!(display.width() > 0 && display.height() > 0) || display.width() > kMaximumPixels ||
        display.height() > kMaximumPixels) {
        return {};
    }
    return image;
}

Result<Loaded> load(const QString& path) {
    const QFileInfo info(path);
    if (info.size() > kMaximumFileBytes) {
        return Error{Error::Kind::Limit, kTooManyBytes};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return Error{Error::Kind::System, file.errorString()};
    }
    // Read at most one byte past the limit: a file that grew since the size check is
    // still refused without being read whole.
    QByteArray bytes = file.read(kMaximumFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        return Error{Error::Kind::System, file.errorString()};
    }
    if (bytes.size() > kMaximumFileBytes) {
        return Error{Error::Kind::Limit, kTooManyBytes};
    }
    if (Result<void> sizes = checkDeclaredSizes(bytes); !sizes) {
        return sizes.error();
    }
    QImage image = decode(bytes);
    if (image.isNull()) {
        return Error::invalid(kNotDecodable);
    }
    return Loaded{std::move(image), std::move(bytes)};
}

}  // namespace PetImage
