// The selection model over a real screen: cells and double-width characters, words and
// lines, the text of wrapped lines, and how it follows or ends with later output.
#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSelection.h"

#include <gtest/gtest.h>

namespace {

using Unit = TerminalSelection::Unit;

void feed(TerminalScreen& screen, const QString& text) {
    screen.feed(QByteArrayView(text.toUtf8()));
}

// Visible row `row` in the selection's line numbering.
TerminalTextPoint at(const TerminalScreen& screen, int row, int column) {
    return {screen.linesScrolledOff() + row, column};
}

TEST(TerminalSelection, cellsAreSelectedBetweenBoundariesAndDoubleWidthCharactersWhole) {
    TerminalScreen screen(5, 20);
    feed(screen, u"ab漢字cd"_qs);  // 漢 in columns 2-3, 字 in 4-5
    TerminalSelection selection;
    selection.start(screen, at(screen, 0, 3), false, Unit::Cell);
    EXPECT_TRUE(selection.isEmpty());  // a click selects nothing
    selection.extend(screen, at(screen, 0, 4), false);
    EXPECT_EQ(selection.text(screen), u"漢"_qs);  // started inside it: all of it
    selection.extend(screen, at(screen, 0, 4), true);
    EXPECT_EQ(selection.text(screen), u"漢字"_qs);
    EXPECT_EQ(selection.columnsOn(at(screen, 0, 0).line, 20), std::make_pair(2, 6));
    // Dragged backwards, from the right half of d past the left edge of a.
    selection.start(screen, at(screen, 0, 7), true, Unit::Cell);
    selection.extend(screen, at(screen, 0, 0), false);
    EXPECT_EQ(selection.text(screen), u"ab漢字cd"_qs);
    // Down to the start of the next line takes the line end, not the blanks before it.
    selection.start(screen, at(screen, 0, 6), false, Unit::Cell);
    selection.extend(screen, at(screen, 1, 0), false);
    EXPECT_EQ(selection.text(screen), u"cd\n"_qs);
}

TEST(TerminalSelection, wordsAndLinesFollowTheWordCharactersAndWrappedRows) {
    TerminalScreen screen(6, 20);
    feed(screen, "run /usr/bin/vim-9.0 now\r\nxx abcdefghijklmnopqrstuvwxyz yy\r\nlast");
    // Row 0 "run /usr/bin/vim-9.0", row 1 " now"; row 2 "xx abcdefghijklmnopq", row 3
    // "rstuvwxyz yy".
    TerminalSelection selection;
    selection.start(screen, at(screen, 0, 9), false, Unit::Word);
    EXPECT_EQ(selection.text(screen), "/usr/bin/vim-9.0");
    selection.extend(screen, at(screen, 1, 2), false);  // a double-click drag goes by words
    EXPECT_EQ(selection.text(screen), "/usr/bin/vim-9.0 now");
    selection.start(screen, at(screen, 3, 2), false, Unit::Word);
    EXPECT_EQ(selection.text(screen), "abcdefghijklmnopqrstuvwxyz");
    selection.start(screen, at(screen, 0, 3), false, Unit::Word);  // a blank between words
    EXPECT_EQ(selection.text(screen), " ");
    selection.setWordCharacters("-");
    selection.start(screen, at(screen, 0, 9), false, Unit::Word);
    EXPECT_EQ(selection.text(screen), "bin");

    selection.start(screen, at(screen, 1, 0), false, Unit::Line);
    EXPECT_EQ(selection.text(screen), "run /usr/bin/vim-9.0 now\n");
    selection.extend(screen, at(screen, 2, 5), false);
    EXPECT_EQ(selection.text(screen),
              "run /usr/bin/vim-9.0 now\nxx abcdefghijklmnopqrstuvwxyz yy\n");
}

TEST(TerminalSelection, aLongAddressWrappedOverRowsCopiesAsTheOneLineItWas) {
    QString url = QStringLiteral("https://example.org/auth?");
    for (int i = 0; url.size() < 300; ++i) {
        url += QStringLiteral("k%1=v%1&").arg(i);
    }
    url.truncate(300);
    TerminalScreen screen(24, 80);
    feed(screen, "$ open\r\n" + url + "\r\n$ ");
    TerminalSelection selection;
    selection.start(screen, at(screen, 1, 0), false, Unit::Cell);
    selection.extend(screen, at(screen, 4, 60), false);  // 300 = 3 × 80 + 60
    EXPECT_EQ(selection.text(screen), url);
    selection.start(screen, at(screen, 3, 10), false, Unit::Line);
    EXPECT_EQ(selection.text(screen), url + "\n");
    selection.selectAll(screen);
    EXPECT_EQ(selection.text(screen), "$ open\n" + url + "\n$");

    // A double-width character that did not fit the last column leaves padding, no text.
    TerminalScreen narrow(4, 10);
    feed(narrow, u"abcdefghi漢x"_qs);
    selection.selectAll(narrow);
    EXPECT_EQ(selection.text(narrow), u"abcdefghi漢x"_qs);
}

TEST(TerminalSelection, staysWithItsTextAsItScrollsAndEndsWhenOutputChangesIt) {
    TerminalScreen screen(4, 20);
    feed(screen, "one\r\ntwo\r\nthree");
    TerminalSelection selection;
    selection.start(screen, at(screen, 1, 0), false, Unit::Word);
    // Output elsewhere, even on the same line, and scrolling into the scrollback keep it.
    feed(screen, "\x1b[2;10Hside\x1b[3;6H\r\nfour\r\nfive\r\nsix\r\nseven");
    ASSERT_EQ(screen.scrollbackSize(), 3);
    EXPECT_FALSE(selection.follow(screen));
    EXPECT_EQ(selection.text(screen), "two");
    EXPECT_EQ(selection.begin().line, screen.linesScrolledOff() - 2);  // scrollback line 1
    // Clearing the scrollback takes its text.
    feed(screen, "\x1b[3J");
    EXPECT_TRUE(selection.follow(screen));
    EXPECT_TRUE(selection.isNone());

    // Overwriting selected cells ends it, as does a width change.
    feed(screen, "\x1b[2;1Hsix");
    selection.start(screen, at(screen, 1, 0), false, Unit::Line);
    feed(screen, "\x1b[2;1Hsix");
    EXPECT_FALSE(selection.follow(screen));  // the same text again
    feed(screen, "\x1b[2;2HX");
    EXPECT_TRUE(selection.follow(screen));
    selection.start(screen, at(screen, 0, 0), false, Unit::Line);
    screen.resize(4, 30);
    EXPECT_TRUE(selection.follow(screen));

    // Lines that a narrower width pushes into the scrollback count as scrolled off too.
    TerminalScreen narrow(3, 20);
    feed(narrow, "aaaaaaaaaaaaaaaaaaaa\r\nbbbbbbbbbbbbbbbbbbbb\r\nc");
    narrow.resize(3, 10);
    ASSERT_GT(narrow.scrollbackSize(), 0);
    EXPECT_EQ(narrow.linesScrolledOff(), narrow.scrollbackSize());
}

}  // namespace
