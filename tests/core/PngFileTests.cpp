// PNG artwork decoded without Qt's image readers must come out as Qt itself would read it.

#include "core/base/PngFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <utility>

#include <gtest/gtest.h>

TEST(PngFile, readsWhatQtWritesAndRefusesWhatIsNotAWholePng) {
    QImage original(7, 5, QImage::Format_ARGB32);  // odd sizes: rows are not padded alike
    for (int y = 0; y < original.height(); ++y) {
        for (int x = 0; x < original.width(); ++x) {
            original.setPixel(x, y, qRgba(30 * x, 50 * y, 200 - 20 * x, 255 - 40 * y));
        }
    }
    QTemporaryDir folder;
    const QString png = folder.filePath("art.png");
    ASSERT_TRUE(original.save(png, "PNG"));

    const QImage read = readPngFile(png);
    ASSERT_EQ(read.size(), original.size());
    EXPECT_EQ(read.convertToFormat(QImage::Format_ARGB32), original)
        << "every channel in place, straight alpha kept";

    QFile whole(png);
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    const QString cut = folder.filePath("cut.png");
    const QString text = folder.filePath("notes.png");
    for (const auto& [file, contents] : {std::pair{cut, bytes.left(bytes.size() / 2)},
                                         std::pair{text, QByteArray("not an image\n")}}) {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(contents);
        out.close();
        EXPECT_TRUE(readPngFile(file).isNull()) << file.toStdString();
    }
    EXPECT_TRUE(readPngFile(folder.filePath("missing.png")).isNull());
}
