// Finding things in a screen's text: addresses under the pointer, the find bar's matches over
// scrollback and wraps, and a scrollback limit changed while lines are kept.
#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSearch.h"
#include "core/terminal/TerminalUrlDetector.h"

#include <gtest/gtest.h>

namespace {

QStringList addressesIn(const QString& text) {
    QStringList addresses;
    for (const TerminalUrlDetector::Found& found : TerminalUrlDetector::find(text)) {
        addresses.append(text.mid(found.offset, found.length));
    }
    return addresses;
}

// A screen that has printed lines "line 0" … "line count-1" and then `tail`.
void printLines(TerminalScreen& screen, int count) {
    QByteArray output;
    for (int i = 0; i < count; ++i) {
        output += "line " + QByteArray::number(i) + "\r\n";
    }
    screen.feed(QByteArrayView(output));
}

TEST(TerminalUrlDetector, findsTheListedSchemesWithoutTheProseAroundThem) {
    const std::pair<const char*, QStringList> cases[] = {
        {"see https://example.com/a?b=1&c=2#d.", {"https://example.com/a?b=1&c=2#d"}},
        {"HTTP://EXAMPLE.COM, then http://x.org/y;", {"HTTP://EXAMPLE.COM", "http://x.org/y"}},
        {"(see https://a.b/x).", {"https://a.b/x"}},
        {"https://en.wikipedia.org/wiki/C_(language)",
         {"https://en.wikipedia.org/wiki/C_(language)"}},
        {"[doc](https://a.b/doc) and {https://a.b/c}", {"https://a.b/doc", "https://a.b/c"}},
        {"'https://a.b/q' \"https://a.b/r\" <https://a.b/s>!?",
         {"https://a.b/q", "https://a.b/r", "https://a.b/s"}},
        {"file:///tmp/report.txt: written", {"file:///tmp/report.txt"}},
        {"mail mailto:dev@example.com.", {"mailto:dev@example.com"}},
        // Other schemes, schemes inside a word and bare schemes are not addresses.
        {"ftp://a.b ssh://h javascript:alert(1) git+https://a.b xhttp://a.b", {}},
        {"https:// and mailto: alone", {}},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(addressesIn(QString::fromUtf8(text)), expected) << text;
    }
}

TEST(TerminalUrlDetector, anAddressCutByTheLineEndIsFoundWholeFromEitherPart) {
    TerminalScreen screen(4, 20);
    // 12 + 22 characters: the address wraps after its 8th character onto the next line.
    screen.feed(QByteArrayView("open this: https://example.com/long/path now"));
    ASSERT_TRUE(screen.rowWrapped(0));
    const TerminalUrl expected{QStringLiteral("https://example.com/long/path"), {{0, 11}, {1, 20}}};
    EXPECT_EQ(TerminalUrlDetector::urlAt(screen, {0, 12}), expected);
    EXPECT_EQ(TerminalUrlDetector::urlAt(screen, {1, 19}), expected);
    EXPECT_EQ(TerminalUrlDetector::urlAt(screen, {0, 5}), std::nullopt);
    EXPECT_EQ(TerminalUrlDetector::urlAt(screen, {2, 5}), std::nullopt);
    // Pushed into the scrollback it is still one address.
    screen.feed(QByteArrayView("\r\n\r\n\r\n\r\n"));
    ASSERT_EQ(screen.scrollbackSize(), 3);
    EXPECT_EQ(TerminalUrlDetector::urlAt(screen, {1, 3}), expected);
}

TEST(TerminalSearch, findsAMarkerFarBackCountsAndStepsAroundWrapping) {
    TerminalScreen screen(24, 80);
    screen.setScrollbackLimit(10'000);
    printLines(screen, 2000);
    screen.feed(QByteArrayView("the Marker is here\r\n"));
    printLines(screen, 9000);
    const int history = screen.scrollbackSize();
    ASSERT_EQ(history, 10'000);

    TerminalSearch search;
    const TerminalTextPosition bottom{history + screen.rows(), 0};
    search.search(screen, QStringLiteral("marker"), {}, bottom);
    ASSERT_EQ(search.matches().size(), 1u);
    const TerminalTextRange marker = search.matches()[0];
    EXPECT_EQ(marker.start.column, 4);
    EXPECT_EQ(marker.end.column, 10);
    // 9000 lines and the cursor's empty line follow it.
    EXPECT_EQ(history + screen.rows() - marker.start.line, 9002);
    EXPECT_EQ(search.summary(), QStringLiteral("1 of 1"));
    const int offset = TerminalSearch::offsetShowing(marker.start.line, screen.rows(), history, 0);
    EXPECT_GE(marker.start.line, history - offset);
    EXPECT_LT(marker.start.line, history - offset + screen.rows());

    search.search(screen, QStringLiteral("Marker"), {false, true}, bottom);
    EXPECT_EQ(search.matches().size(), 1u);
    search.search(screen, QStringLiteral("MARKER"), {false, true}, bottom);
    EXPECT_EQ(search.summary(), QStringLiteral("No matches"));

    search.search(screen, QStringLiteral(R"(^line 99\d$)"), {true, false}, bottom);
    ASSERT_EQ(search.matches().size(), 20u);  // 990-999 of both printings: ^ and $ are lines'
    EXPECT_EQ(search.current(), 19);          // the newest above the bottom
    search.next();
    EXPECT_EQ(search.summary(), QStringLiteral("1 of 20"));
    search.previous();
    search.previous();
    EXPECT_EQ(search.summary(), QStringLiteral("19 of 20"));

    search.search(screen, QStringLiteral("line ("), {true, false}, bottom);
    EXPECT_TRUE(search.matches().empty());
    EXPECT_TRUE(search.summary().startsWith(QStringLiteral("Invalid pattern")));
}

TEST(TerminalSearch, aMatchRunsOverAWrapAndPlainPatternsAreLiteral) {
    TerminalScreen screen(5, 10);
    screen.feed(QByteArrayView("0123456ERROR-free a.c\r\nabc"));
    TerminalSearch search;
    search.search(screen, QStringLiteral("error"), {}, {});
    ASSERT_EQ(search.matches().size(), 1u);
    EXPECT_EQ(search.matches()[0], (TerminalTextRange{{0, 7}, {1, 2}}));
    search.search(screen, QStringLiteral("a.c"), {}, {});
    EXPECT_EQ(search.matches().size(), 1u);  // not "abc"
    search.search(screen, QStringLiteral("a.c"), {true, false}, {});
    EXPECT_EQ(search.matches().size(), 2u);

    // The text is kept for the same revision of the screen, and taken again for a new one.
    search.search(screen, QStringLiteral("abc"), {}, {}, 7);
    screen.feed(QByteArrayView(" abc"));
    search.search(screen, QStringLiteral("ab"), {}, {}, 7);
    EXPECT_EQ(search.matches().size(), 1u);
    search.search(screen, QStringLiteral("ab"), {}, {}, 8);
    EXPECT_EQ(search.matches().size(), 2u);
}

TEST(TerminalScreenScrollbackLimit, changesAtRunTimeKeepingTheNewestLines) {
    TerminalScreen screen(3, 20);
    EXPECT_EQ(screen.scrollbackLimit(), TerminalScreen::kScrollbackLimit);
    screen.setScrollbackLimit(2000);
    printLines(screen, 3000);
    ASSERT_EQ(screen.scrollbackSize(), 2000);

    screen.setScrollbackLimit(100);
    ASSERT_EQ(screen.scrollbackSize(), 100);
    // 0 … 2997 went up, 2998 and 2999 show above the cursor's line.
    EXPECT_TRUE(screen.plainText().startsWith(QStringLiteral("line 2898\nline 2899\n")));
    printLines(screen, 1);  // the ring is full: the oldest leaves
    EXPECT_EQ(screen.scrollbackSize(), 100);
    EXPECT_EQ(screen.invariantViolation(), QString());

    screen.setScrollbackLimit(500);
    printLines(screen, 1000);
    EXPECT_EQ(screen.scrollbackSize(), 500);
    EXPECT_EQ(screen.invariantViolation(), QString());

    screen.setScrollbackLimit(0);
    printLines(screen, 10);
    EXPECT_EQ(screen.scrollbackSize(), 0);
    EXPECT_EQ(screen.rowText(1), QStringLiteral("line 9"));
    screen.setScrollbackLimit(TerminalScreen::kMaxScrollbackLimit + 1);
    EXPECT_EQ(screen.scrollbackLimit(), TerminalScreen::kMaxScrollbackLimit);
}

}  // namespace
