#include "terminal/TerminalScreen.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

void feed(TerminalScreen& screen, const char* bytes) {
    screen.feed(QByteArrayView(bytes));
}

std::optional<TerminalColor> rgb(std::uint32_t value) {
    return TerminalColor::fromRgb(value);
}

// ---- Buffer primitives ----------------------------------------------------------------------

TEST(TerminalScreenBuffer, aFreshScreenIsBlankWithTheCursorHome) {
    TerminalScreen screen(5, 20);
    EXPECT_EQ(screen.rows(), 5);
    EXPECT_EQ(screen.columns(), 20);
    EXPECT_EQ(screen.plainText(), QString());
    EXPECT_EQ(screen.cell(4, 19), TerminalCell{});
    EXPECT_EQ(screen.scrollBottom(), 4);
    EXPECT_TRUE(screen.cursorVisible());
    EXPECT_FALSE(screen.bracketedPaste());
    EXPECT_FALSE(screen.applicationCursor());
    EXPECT_EQ(screen.invariantViolation(), QString());
}

TEST(TerminalScreenBuffer, shrinkingKeepsTheCursorLineVisibleAndMovesTheTopIntoHistory) {
    TerminalScreen screen(5, 20);
    feed(screen, "one\r\ntwo\r\nthree\r\nfour\r\nfive");
    screen.resize(3, 20);
    EXPECT_EQ(screen.plainText(), QStringLiteral("one\ntwo\nthree\nfour\nfive"));
    EXPECT_EQ(screen.scrollbackSize(), 2);
    EXPECT_EQ(screen.scrollbackCellText(0, 0), QStringLiteral("o"));
    EXPECT_EQ(screen.scrollbackCellText(1, 0), QStringLiteral("t"));
    EXPECT_TRUE(screen.rowText(screen.row()).startsWith(QStringLiteral("five")));
}

TEST(TerminalScreenBuffer, resizeRaisesSmallSizesAndIgnoresTheCurrentSize) {
    TerminalScreen screen(5, 20);
    screen.resize(8, 30);
    EXPECT_EQ(screen.rows(), 8);
    EXPECT_EQ(screen.columns(), 30);
    for (int row = 0; row < 8; ++row) {
        EXPECT_EQ(screen.lineCells(row).size(), 30u);
    }
    screen.resize(2, 5);
    EXPECT_EQ(screen.rows(), 3);
    EXPECT_EQ(screen.columns(), 10);

    feed(screen, "0123456789");
    ASSERT_TRUE(screen.pendingWrap());
    screen.resize(3, 10);
    EXPECT_TRUE(screen.pendingWrap());
    screen.resize(4, 10);
    EXPECT_FALSE(screen.pendingWrap());
}

TEST(TerminalScreenBuffer, growingAddsBlankLinesAndNeverPullsBackHistory) {
    TerminalScreen screen(3, 10);
    feed(screen, "a\r\nb\r\nc\r\nd");
    ASSERT_EQ(screen.scrollbackSize(), 1);
    screen.resize(6, 10);
    EXPECT_EQ(screen.scrollbackSize(), 1);
    EXPECT_EQ(screen.rowText(0), QStringLiteral("b"));
    EXPECT_EQ(screen.rowText(2), QStringLiteral("d"));
    EXPECT_EQ(screen.rowText(5), QString());
    EXPECT_EQ(screen.row(), 2);
}

TEST(TerminalScreenBuffer, narrowingCutsLinesWithoutReflowAndWideningPads) {
    TerminalScreen screen(3, 12);
    feed(screen, "abcdefghij\xe4\xb8\xad");  // a CJK character in the last two columns
    screen.resize(3, 11);
    EXPECT_EQ(screen.cellText(0, 10), QString::fromUtf8("\xe4\xb8\xad"));
    EXPECT_EQ(screen.column(), 10);
    screen.resize(3, 20);
    EXPECT_EQ(screen.rowText(0), QString::fromUtf8("abcdefghij\xe4\xb8\xad"));
    EXPECT_EQ(screen.lineCells(1).size(), 20u);
}

TEST(TerminalScreenBuffer, historyKeepsExactlyTheNewest2000Lines) {
    TerminalScreen screen(5, 10);
    feed(screen, "\x1b[H\x1b[2J1\r\n2\r\n3\r\n4\r\n5\r\n6");
    ASSERT_EQ(screen.scrollbackSize(), 1);
    EXPECT_EQ(screen.scrollbackCellText(0, 0), QStringLiteral("1"));

    for (int i = 7; i <= 2600; ++i) {
        screen.feed(QByteArray("\r\n" + QByteArray::number(i)));
    }
    EXPECT_EQ(screen.scrollbackSize(), 2000);
    // Lines 1 … 2595 have left the 5-line screen; the newest 2000 of them remain.
    EXPECT_EQ(screen.scrollbackLine(0)[0].text + screen.scrollbackLine(0)[1].text +
                  screen.scrollbackLine(0)[2].text,
              QStringLiteral("596"));
    EXPECT_EQ(screen.scrollbackCellText(1999, 0) + screen.scrollbackCellText(1999, 1) +
                  screen.scrollbackCellText(1999, 2) + screen.scrollbackCellText(1999, 3),
              QStringLiteral("2595"));
    EXPECT_EQ(screen.invariantViolation(), QString());
}

TEST(TerminalScreenBuffer, linesLeavingARegionOrTheAlternateScreenNeverReachHistory) {
    TerminalScreen screen(5, 10);
    feed(screen, "\x1b[2;5r\x1b[5;1H\n\n\nx");
    EXPECT_EQ(screen.scrollbackSize(), 0);
    feed(screen, "\x1b[r\x1b[?1049h\x1b[5;1H\n\n\n\x1b[?1049l");
    EXPECT_EQ(screen.scrollbackSize(), 0);
}

TEST(TerminalScreenBuffer, historyLinesKeepTheWidthTheyHad) {
    TerminalScreen screen(3, 10);
    feed(screen, "a\r\nb\r\nc\r\n");
    screen.resize(3, 15);
    feed(screen, "d\r\ne\r\n");
    ASSERT_EQ(screen.scrollbackSize(), 3);
    EXPECT_EQ(screen.scrollbackLineWidth(0), 10);
    EXPECT_EQ(screen.scrollbackLineWidth(2), 15);
    EXPECT_EQ(screen.scrollbackLine(2).size(), 15u);
    EXPECT_EQ(screen.scrollbackCell(2, 14), TerminalCell{});
    EXPECT_EQ(screen.scrollbackCellText(0, 0), QStringLiteral("a"));
}

TEST(TerminalScreenBuffer, plainTextTrimsLinesAndShowsWideCharactersOnce) {
    TerminalScreen screen(4, 20);
    feed(screen, "\r\n  indented   \r\n\r\n\xe4\xb8\xad\xe6\x96\x87 end  ");
    EXPECT_EQ(screen.plainText(), QString::fromUtf8("indented\n\n\xe4\xb8\xad\xe6\x96\x87 end"));
}

// ---- Alternate screen -----------------------------------------------------------------------

TEST(TerminalScreenAlternate, theMainScreenReturnsAfterTheAlternateOne) {
    TerminalScreen screen(5, 20);
    feed(screen, "hello\x1b[2;3HX\x1b[31mR\x1b[0m");
    EXPECT_EQ(screen.cellText(1, 2), QStringLiteral("X"));
    EXPECT_EQ(screen.cell(1, 3).foreground, rgb(0xF4808A));
    EXPECT_EQ(screen.cell(0, 0).foreground, std::nullopt);
    feed(screen, "\x1b[?1049hother");
    EXPECT_TRUE(screen.alternateScreenActive());
    EXPECT_EQ(screen.rowText(0), QStringLiteral("other"));
    feed(screen, "\x1b[?1049l");
    EXPECT_FALSE(screen.alternateScreenActive());
    EXPECT_EQ(screen.cellText(0, 0), QStringLiteral("h"));
    EXPECT_EQ(screen.row(), 1);
    EXPECT_EQ(screen.column(), 4);
}

TEST(TerminalScreenAlternate, aSecondSwitchKeepsTheFirstSavedScreen) {
    TerminalScreen screen(3, 10);
    feed(screen, "main\x1b[?47hfirst\x1b[?1047hsecond\x1b[?1047l");
    EXPECT_EQ(screen.rowText(0), QStringLiteral("main"));
    feed(screen, "\x1b[?1049l");  // already on the main screen: nothing happens
    EXPECT_EQ(screen.rowText(0), QStringLiteral("main"));
}

TEST(TerminalScreenAlternate, theStyleOfTheAlternateScreenStaysInForceAfterReturning) {
    TerminalScreen screen(3, 10);
    feed(screen, "\x1b[?1049h\x1b[1m\x1b[?1049lx");
    EXPECT_TRUE(screen.cell(0, 0).bold);
}

TEST(TerminalScreenAlternate, resizingRefitsTheSavedMainScreenToo) {
    TerminalScreen screen(5, 20);
    feed(screen, "1\r\n2\r\n3\r\n4\r\n5 and more text\x1b[?1049h");
    screen.resize(3, 10);
    EXPECT_EQ(screen.scrollbackSize(), 2);
    feed(screen, "\x1b[?1049l");
    EXPECT_EQ(screen.row(), 2);
    EXPECT_EQ(screen.column(), 9);
    EXPECT_EQ(screen.rowText(2), QStringLiteral("5 and more"));
    EXPECT_EQ(screen.invariantViolation(), QString());
}

TEST(TerminalScreenAlternate, fullResetDropsTheSavedScreenAndTheModes) {
    TerminalScreen screen(5, 20);
    feed(screen,
         "\x1b[?1h\x1b[?25l\x1b[?2004h\x1b[?1049h\x1b"
         "cRESET\x1b[?1049l");
    EXPECT_FALSE(screen.applicationCursor());
    EXPECT_FALSE(screen.bracketedPaste());
    EXPECT_TRUE(screen.cursorVisible());
    EXPECT_TRUE(screen.plainText().endsWith(QStringLiteral("RESET")));
}

// ---- Primitives called directly ------------------------------------------------------------

TEST(TerminalScreenPrimitives, resetClearsTheGridButKeepsModesHistoryAndSavedCursor) {
    TerminalScreen screen(3, 10);
    feed(screen, "1\r\n2\r\n3\r\n4\x1b[?2004h\x1b[?1h\x1b[2;3H\x1b[s\x1b[1;31m\x1b[1;2rx");
    screen.reset();
    EXPECT_EQ(screen.plainText(), QStringLiteral("1"));
    EXPECT_EQ(screen.scrollbackSize(), 1);
    EXPECT_TRUE(screen.bracketedPaste());
    EXPECT_TRUE(screen.applicationCursor());
    EXPECT_EQ(screen.savedCursor(), (TerminalPosition{1, 2}));
    EXPECT_EQ(screen.style(), TerminalCell{});
    EXPECT_EQ(screen.scrollBottom(), 2);
    EXPECT_EQ(screen.row(), 0);
}

TEST(TerminalScreenPrimitives, eraseWithAReversedRangeDoesNothing) {
    TerminalScreen screen(3, 10);
    feed(screen, "abcdef");
    screen.erase(0, 4, 2);
    EXPECT_EQ(screen.rowText(0), QStringLiteral("abcdef"));
    screen.erase(0, 2, 4);
    EXPECT_EQ(screen.rowText(0), QStringLiteral("ab   f"));
}

TEST(TerminalScreenPrimitives, scrollUpMovesOnlyTheRegionAndLeavesTheCursor) {
    TerminalScreen screen(4, 10);
    feed(screen, "a\r\nb\r\nc\r\nd\x1b[2;3r\x1b[4;2H");
    screen.scrollUp();
    EXPECT_EQ(screen.rowText(0), QStringLiteral("a"));
    EXPECT_EQ(screen.rowText(1), QStringLiteral("c"));
    EXPECT_EQ(screen.rowText(2), QString());
    EXPECT_EQ(screen.rowText(3), QStringLiteral("d"));
    EXPECT_EQ(screen.row(), 3);
    EXPECT_EQ(screen.column(), 1);
    EXPECT_EQ(screen.scrollbackSize(), 0);
}

TEST(TerminalScreenPrimitives, aOneByOneScreenStillTakesEveryKindOfOutput) {
    TerminalScreen screen(1, 1);
    feed(screen, "ab\xe4\xb8\xad\u0301\r\n\x1b[5@\x1b[5L\x1b[2b\x1b[?1049h\xe4\xb8\xad\x1b[?1049l");
    EXPECT_EQ(screen.invariantViolation(), QString());
    EXPECT_EQ(screen.scrollbackSize(), 4);
}

// ---- Values and hostile input ---------------------------------------------------------------

TEST(TerminalScreenValues, cellsConvertToJsonAndBack) {
    TerminalCell cell;
    cell.text = QStringLiteral("e\u0301");
    cell.foreground = TerminalColor{255, 0, 20};
    cell.bold = true;
    cell.continuation = false;
    EXPECT_EQ(terminalCellFromJson(toJson(cell)), cell);
    EXPECT_EQ(toJson(cell).value(QStringLiteral("foreground")).toString(),
              QStringLiteral("FF0014"));
    EXPECT_FALSE(toJson(TerminalCell{}).contains(QStringLiteral("background")));
    EXPECT_EQ(terminalCellFromJson(toJson(TerminalCell{})), TerminalCell{});
}

TEST(TerminalScreenValues, hexColourTextIgnoresSurroundingCharactersAndKeepsTheLow24Bits) {
    EXPECT_EQ(TerminalColor::fromHex(u" #f4808a "), (TerminalColor{0xF4, 0x80, 0x8A}));
    EXPECT_EQ(TerminalColor::fromHex(u"FFF"), (TerminalColor{0, 0x0F, 0xFF}));
    EXPECT_EQ(TerminalColor::fromHex(u"12F4808A"), (TerminalColor{0xF4, 0x80, 0x8A}));
    EXPECT_EQ(TerminalColor::fromHex(u"zz"), (TerminalColor{0, 0, 0}));
}

TEST(TerminalScreenValues, endlessCombiningMarksCannotGrowACellWithoutBound) {
    TerminalScreen screen(3, 10);
    QByteArray marks = "a";
    for (int i = 0; i < 10000; ++i) {
        marks += "\xcc\x81";  // U+0301
    }
    screen.feed(QByteArrayView(marks));
    EXPECT_EQ(screen.cellText(0, 0).size(), 1 + TerminalScreen::kMaxCombiningPerCell);
    feed(screen, "\rb\xcc\x82");
    EXPECT_EQ(screen.cellText(0, 0), QStringLiteral("b\u0302"));
}

TEST(TerminalScreenValues, thePackedViewAgreesWithTheCellView) {
    TerminalScreen screen(3, 10);
    feed(screen, "\x1b[1;7;38;5;196;48;2;1;2;3mX\xe4\xb8\xad");
    const std::span<const PackedCell> cells = screen.lineCells(0);
    EXPECT_EQ(cells[0].codePoint(), U'X');
    EXPECT_TRUE(cells[0].bold());
    EXPECT_TRUE(cells[0].inverse());
    EXPECT_EQ(cells[0].foreground(), screen.cell(0, 0).foreground);
    EXPECT_EQ(cells[0].background(), rgb(0x010203));
    EXPECT_TRUE(cells[2].continuation());
    EXPECT_EQ(screen.cell(0, 2).text, QString());
}

}  // namespace
