#include "core/appearance/HexColor.h"

#include <gtest/gtest.h>

#include <vector>

TEST(ColorFromHex, readsTheDigitsAsRedGreenBlueAndAnythingUnparsableAsBlack) {
    // Six digits in either case; no length check (short texts are small numbers, long ones
    // keep the low 24 bits); decoration around the digits is ignored.
    std::vector<std::pair<QString, QRgb>> rows = {
        {"141413", 0x141413},
        {"00d9ff", 0x00D9FF},
        {"00D9FF", 0x00D9FF},
        {"FFF", 0x000FFF},
        {"1", 0x000001},
        {"AB141413", 0x141413},
        {"FFFFFFFFFFFFFFFF", 0xFFFFFF},
        {"#141413", 0x141413},
        {"  #00D9FF;\n", 0x00D9FF},
        {QStringLiteral("\U0001F3A8 A797FF \u3000"), 0xA797FF},
        {"+FF", 0x0000FF}};
    // Decoration inside the digits, and letters touching them (part of the number), make
    // the text unparsable.
    for (const char* text : {"14 14 13", "14#1413", "\u00e9141413", "", "#", "zz", "GG", "0x141413",
                             "F-F", "12345678901234567", "FFFFFFFFFFFFFFFFF", "not a colour"}) {
        rows.emplace_back(QString::fromUtf8(text), 0);
    }
    for (const auto& [text, rgb] : rows) {
        SCOPED_TRACE(text.toStdString());
        const QColor color = colorFromHex(text);
        EXPECT_TRUE(color.isValid());
        EXPECT_EQ(color.rgba(), 0xFF000000u | rgb);
    }
}

TEST(HexFromColor, writesUpperCaseDigitsTruncatingEachChannel) {
    // Channels are truncated, not rounded; invalid colours give the fallback;
    // semi-transparency is not part of the text.
    const std::vector<std::pair<QColor, QString>> rows = {
        {Qt::white, "FFFFFF"},
        {Qt::black, "000000"},
        {QColor(0x0A, 0xBC, 0x0D), "0ABC0D"},
        {QColor::fromRgbF(0.999f, 0.999f, 0.999f), "FEFEFE"},
        {QColor::fromRgbF(0.5f, 0.0f, 1.0f), "7F00FF"},
        {QColor(), "00E5D0"},
        {QColor(0x12, 0x34, 0x56, 0x10), "123456"}};
    for (const auto& [color, hex] : rows) {
        EXPECT_EQ(hexFromColor(color), hex);
    }
    // Truncation must never lose a step: every 8-bit value of each channel comes back.
    for (int value = 0; value <= 255; ++value) {
        const QString text = QString::asprintf("%02X%02X%02X", value, 255 - value, value / 2);
        ASSERT_EQ(hexFromColor(colorFromHex(text)), text);
    }
}
