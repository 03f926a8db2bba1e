// What the scripts in tests/terminal/scripts cannot say: the primitives called directly,
// the history's bounds and the cell values.
#include "terminal/TerminalScreen.h"

#include <gtest/gtest.h>

namespace {

void feed(TerminalScreen& screen, const char* bytes) {
    screen.feed(QByteArrayView(bytes));
}

TEST(TerminalScreenHistory, keepsExactlyTheNewest2000LinesEachWithTheWidthItHad) {
    TerminalScreen screen(3, 10);
    feed(screen, "a\r\nb\r\nc\r\n");
    screen.resize(3, 15);
    feed(screen, "d\r\ne\r\n");
    ASSERT_EQ(screen.scrollbackSize(), 3);
    EXPECT_EQ(screen.scrollbackLineWidth(0), 10);
    EXPECT_EQ(screen.scrollbackLineWidth(2), 15);
    EXPECT_EQ(screen.scrollbackLine(2).size(), 15u);
    EXPECT_EQ(screen.scrollbackCell(2, 14), TerminalCell{});

    for (int i = 4; i <= 2600; ++i) {
        screen.feed(QByteArray(QByteArray::number(i) + "\r\n"));
    }
    EXPECT_EQ(screen.scrollbackSize(), 2000);
    // 2600 lines have left the screen, the last of them 2598; the newest 2000 remain.
    const auto historyText = [&](int index) {
        QString text;
        for (const TerminalCell& cell : screen.scrollbackLine(index)) {
            text += cell.text;
        }
        return text.trimmed();
    };
    EXPECT_EQ(historyText(0), QStringLiteral("599"));
    EXPECT_EQ(historyText(1999), QStringLiteral("2598"));
    EXPECT_EQ(screen.invariantViolation(), QString());
}

TEST(TerminalScreenPrimitives, resetEraseAndScrollUpTouchOnlyWhatTheySay) {
    TerminalScreen screen(4, 10);
    feed(screen, "1\r\n2\r\n3\r\n4\r\nabcdef\x1b[?2004h\x1b[?1h\x1b[2;3H\x1b[s\x1b[1;31m\x1b[1;2r");
    // Erase with a reversed range does nothing.
    screen.erase(3, 4, 2);
    EXPECT_EQ(screen.rowText(3), QStringLiteral("abcdef"));
    screen.erase(3, 2, 4);
    EXPECT_EQ(screen.rowText(3), QStringLiteral("ab   f"));

    // Reset clears the grid but keeps the modes, the history and the saved cursor.
    screen.reset();
    EXPECT_EQ(screen.plainText(), QStringLiteral("1"));
    EXPECT_EQ(screen.scrollbackSize(), 1);
    EXPECT_TRUE(screen.bracketedPaste());
    EXPECT_TRUE(screen.applicationCursor());
    EXPECT_EQ(screen.savedCursor(), (TerminalPosition{1, 2}));
    EXPECT_EQ(screen.style(), TerminalCell{});
    EXPECT_EQ(screen.scrollBottom(), 3);
    EXPECT_EQ(screen.row(), 0);

    // Scrolling up moves only the region and leaves the cursor where it is.
    feed(screen, "a\r\nb\r\nc\r\nd\x1b[2;3r\x1b[4;2H");
    screen.scrollUp();
    EXPECT_EQ(screen.plainText(), QStringLiteral("1\na\nc\n\nd"));
    EXPECT_EQ(screen.row(), 3);
    EXPECT_EQ(screen.column(), 1);
    EXPECT_EQ(screen.scrollbackSize(), 1);
}

TEST(TerminalScreenValues, cellsConvertToJsonAndColoursReadHexText) {
    TerminalCell cell;
    cell.text = QStringLiteral("e\u0301");
    cell.foreground = TerminalColor{255, 0, 20};
    cell.bold = true;
    EXPECT_EQ(terminalCellFromJson(toJson(cell)), cell);
    EXPECT_EQ(toJson(cell).value(QStringLiteral("foreground")).toString(),
              QStringLiteral("FF0014"));
    EXPECT_FALSE(toJson(TerminalCell{}).contains(QStringLiteral("background")));
    EXPECT_EQ(terminalCellFromJson(toJson(TerminalCell{})), TerminalCell{});

    // Surrounding characters are ignored and the low 24 bits kept.
    EXPECT_EQ(TerminalColor::fromHex(u" #f4808a "), (TerminalColor{0xF4, 0x80, 0x8A}));
    EXPECT_EQ(TerminalColor::fromHex(u"FFF"), (TerminalColor{0, 0x0F, 0xFF}));
    EXPECT_EQ(TerminalColor::fromHex(u"12F4808A"), (TerminalColor{0xF4, 0x80, 0x8A}));
    EXPECT_EQ(TerminalColor::fromHex(u"zz"), (TerminalColor{0, 0, 0}));
}

TEST(TerminalScreenValues, endlessCombiningMarksCannotGrowACellWithoutBound) {
    TerminalScreen screen(3, 10);
    screen.feed(QByteArrayView("a" + QByteArray("\xcc\x81").repeated(10000)));  // U+0301
    EXPECT_EQ(screen.cellText(0, 0).size(), 1 + TerminalScreen::kMaxCombiningPerCell);
    feed(screen, "\rb\xcc\x82");
    EXPECT_EQ(screen.cellText(0, 0), QStringLiteral("b\u0302"));
}

}  // namespace
