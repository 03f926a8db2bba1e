#include "appearance/HexColor.h"

#include <gtest/gtest.h>

namespace {

struct Rgb {
    int red, green, blue;
    bool operator==(const Rgb&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Rgb& rgb) {
    return out << "(" << rgb.red << ", " << rgb.green << ", " << rgb.blue << ")";
}

Rgb rgbOf(const QString& text) {
    const QColor color = colorFromHex(text);
    EXPECT_TRUE(color.isValid()) << text.toStdString();
    EXPECT_EQ(color.alpha(), 255) << text.toStdString();
    return {color.red(), color.green(), color.blue()};
}

}  // namespace

TEST(ColorFromHex, readsSixDigitsInEitherCaseAsRedGreenBlue) {
    EXPECT_EQ(rgbOf("141413"), (Rgb{0x14, 0x14, 0x13}));
    EXPECT_EQ(rgbOf("00d9ff"), (Rgb{0x00, 0xD9, 0xFF}));
    EXPECT_EQ(rgbOf("00D9FF"), (Rgb{0x00, 0xD9, 0xFF}));
}

TEST(ColorFromHex, hasNoLengthCheckShortTextsAreSmallNumbersAndLongOnesKeepTheLow24Bits) {
    EXPECT_EQ(rgbOf("FFF"), (Rgb{0, 15, 255}));
    EXPECT_EQ(rgbOf("1"), (Rgb{0, 0, 1}));
    EXPECT_EQ(rgbOf("AB141413"), (Rgb{0x14, 0x14, 0x13}));
    EXPECT_EQ(rgbOf("FFFFFFFFFFFFFFFF"), (Rgb{255, 255, 255}));
}

TEST(ColorFromHex, ignoresDecorationAroundTheDigitsOnly) {
    EXPECT_EQ(rgbOf("#141413"), (Rgb{0x14, 0x14, 0x13}));
    EXPECT_EQ(rgbOf("  #00D9FF;\n"), (Rgb{0x00, 0xD9, 0xFF}));
    EXPECT_EQ(rgbOf(QStringLiteral("\U0001F3A8 A797FF \u3000")), (Rgb{0xA7, 0x97, 0xFF}));
    EXPECT_EQ(rgbOf("+FF"), (Rgb{0, 0, 255}));
    EXPECT_EQ(rgbOf("14 14 13"), (Rgb{0, 0, 0}));
    EXPECT_EQ(rgbOf("14#1413"), (Rgb{0, 0, 0}));
}

TEST(ColorFromHex, readsAnythingUnparsableAsBlack) {
    for (const char* text : {"", "#", "zz", "GG", "0x141413", "F-F", "12345678901234567",
                             "FFFFFFFFFFFFFFFFF", "not a colour"}) {
        EXPECT_EQ(rgbOf(text), (Rgb{0, 0, 0})) << text;
    }
    // Letters around the digits are part of the number, so they make it unparsable.
    EXPECT_EQ(rgbOf(QStringLiteral("é141413")), (Rgb{0, 0, 0}));
}

TEST(HexFromColor, formatsUpperCaseDigitsWithoutNumberSign) {
    EXPECT_EQ(hexFromColor(Qt::white), "FFFFFF");
    EXPECT_EQ(hexFromColor(Qt::black), "000000");
    EXPECT_EQ(hexFromColor(QColor(0x0A, 0xBC, 0x0D)), "0ABC0D");
}

TEST(HexFromColor, truncatesEachChannelInsteadOfRounding) {
    EXPECT_EQ(hexFromColor(QColor::fromRgbF(0.999f, 0.999f, 0.999f)), "FEFEFE");
    EXPECT_EQ(hexFromColor(QColor::fromRgbF(0.5f, 0.0f, 1.0f)), "7F00FF");
}

TEST(HexFromColor, convertsOtherColourModelsToRgbAndInvalidColoursToTheFallback) {
    EXPECT_EQ(hexFromColor(QColor::fromHsv(0, 255, 255)), "FF0000");
    EXPECT_EQ(hexFromColor(QColor::fromCmyk(0, 0, 0, 0)), "FFFFFF");
    EXPECT_EQ(hexFromColor(QColor()), "00E5D0");
    // Semi-transparency is not part of the stored text.
    EXPECT_EQ(hexFromColor(QColor(0x12, 0x34, 0x56, 0x10)), "123456");
}

TEST(HexColorRoundTrip, everyStoredColourSurvivesReadingAndWritingBack) {
    // Truncation must never lose a step: every 8-bit value of each channel comes back.
    for (int value = 0; value <= 255; ++value) {
        const QString text = QString::asprintf("%02X%02X%02X", value, 255 - value, value / 2);
        ASSERT_EQ(hexFromColor(colorFromHex(text)), text);
    }
}
