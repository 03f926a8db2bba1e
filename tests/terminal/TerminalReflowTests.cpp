// Re-wrapping on a width change: the text, attributes, cursor, double-width characters,
// line breaks, hyperlinks and scrollback bound through narrowing and widening.
#include "core/terminal/TerminalScreen.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <set>

namespace {

void feed(TerminalScreen& screen, const QByteArray& bytes) {
    screen.feed(QByteArrayView(bytes));
}

// Every line, scrollback first, as cells; the blank lines at the end left out.
std::vector<std::vector<TerminalCell>> physicalLines(const TerminalScreen& screen) {
    std::vector<std::vector<TerminalCell>> lines;
    for (int index = 0; index < screen.scrollbackSize(); ++index) {
        lines.push_back(screen.scrollbackLine(index));
    }
    for (int row = 0; row < screen.rows(); ++row) {
        lines.push_back(screen.line(row));
    }
    const auto blank = [](const std::vector<TerminalCell>& line) {
        return std::all_of(line.begin(), line.end(),
                           [](const TerminalCell& cell) { return cell == TerminalCell{}; });
    };
    while (!lines.empty() && blank(lines.back())) {
        lines.pop_back();
    }
    return lines;
}

// The texts as the program wrote them: wrapped lines joined, each trimmed. A blank last cell
// before a double-width character that starts the next line is padding, not text.
QStringList logicalLines(const TerminalScreen& screen) {
    std::vector<std::pair<QStringList, bool>> rows;
    for (int index = 0; index < screen.scrollbackSize(); ++index) {
        QStringList cells;
        for (int column = 0; column < screen.scrollbackLineWidth(index); ++column) {
            cells.append(screen.scrollbackCellText(index, column));
        }
        rows.emplace_back(cells, screen.scrollbackLineWrapped(index));
    }
    for (int row = 0; row < screen.rows(); ++row) {
        QStringList cells;
        for (int column = 0; column < screen.columns(); ++column) {
            cells.append(screen.cellText(row, column));
        }
        rows.emplace_back(cells, screen.rowWrapped(row));
    }
    QStringList lines;
    QString current;
    for (std::size_t index = 0; index < rows.size(); ++index) {
        QStringList cells = rows[index].first;
        const bool wrapped = rows[index].second;
        if (wrapped && index + 1 < rows.size() && cells.back() == QLatin1String(" ") &&
            rows[index + 1].first.size() > 1 && rows[index + 1].first.at(1).isEmpty()) {
            cells.removeLast();
        }
        current += cells.join(QString());
        if (!wrapped) {
            lines.append(current.trimmed());
            current.clear();
        }
    }
    lines.append(current.trimmed());
    while (!lines.isEmpty() && lines.back().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

// Every double-width character sits whole on one line.
bool wideCharactersWhole(const TerminalScreen& screen) {
    for (int row = 0; row < screen.rows(); ++row) {
        for (int column = 0; column < screen.columns(); ++column) {
            const TerminalCell cell = screen.cell(row, column);
            const bool head = column + 1 < screen.columns() &&
                              screen.cell(row, column + 1).continuation && !cell.continuation;
            if (cell.continuation && (column == 0 || screen.cell(row, column - 1).continuation)) {
                return false;
            }
            if (!cell.continuation && !head && cell.text.size() == 1 &&
                cell.text.at(0).unicode() >= 0x4E00 && cell.text.at(0).unicode() < 0xA000) {
                return false;
            }
        }
    }
    return true;
}

const QByteArray kParagraph =
    "The quick brown fox \x1b[31;4:3;58;5;2mjumps\x1b[m over the lazy dog while the "
    "terminal window changes its width";

TEST(TerminalReflow, narrowingAndWideningRewrapsWrappedTextOnlyAndRoundTripsExactly) {
    TerminalScreen screen(6, 20);
    feed(screen, "first line\r\n" + kParagraph + "\r\nexactly twenty cells\r\n\r\nafter");
    const QStringList text = logicalLines(screen);
    ASSERT_EQ(text, QStringList({"first line",
                                 QString::fromLatin1("The quick brown fox jumps over the lazy "
                                                     "dog while the terminal window changes its "
                                                     "width"),
                                 "exactly twenty cells", "", "after"}));
    const auto original = physicalLines(screen);
    ASSERT_GT(screen.scrollbackSize(), 0);  // part of the paragraph is in the scrollback

    // At each width: the same texts, no line longer than the width, the attributes on
    // "jumps" wherever it went. The line that filled the width exactly and ended with a
    // line break does not join the next one.
    for (const int columns : {13, 37, 11, 80, 20}) {
        SCOPED_TRACE(columns);
        screen.resize(6, columns);
        EXPECT_EQ(logicalLines(screen), text);
        EXPECT_EQ(screen.invariantViolation(), QString());
        bool found = false;
        for (const auto& line : physicalLines(screen)) {
            for (const TerminalCell& cell : line) {
                if (cell.text == QLatin1String("j") && cell.underline == TerminalUnderline::Curly) {
                    EXPECT_EQ(cell.foreground, TerminalColor::fromHex(u"F4808A"));
                    EXPECT_TRUE(cell.underlineColor.has_value());
                    found = true;
                }
            }
        }
        EXPECT_TRUE(found);
    }
    // Back at the first width, every cell is where it was.
    EXPECT_EQ(physicalLines(screen), original);
    EXPECT_EQ(screen.rowText(screen.row()), QStringLiteral("after"));
    EXPECT_EQ(screen.column(), 5);
}

TEST(TerminalReflow, theCursorStaysOnItsCharacterAndAPendingWrapContinuesTheText) {
    // On a character inside a wrapped paragraph.
    TerminalScreen screen(8, 20);
    feed(screen, "0123456789abcdefghijKLMNOPQRSTUVWXYZ!?\x1b[2;5H");
    ASSERT_EQ(screen.cellText(1, 4), QStringLiteral("O"));
    for (const int columns : {11, 30, 14, 20}) {
        screen.resize(8, columns);
        EXPECT_EQ(screen.cellText(screen.row(), screen.column()), QStringLiteral("O")) << columns;
    }

    // After text that filled the line: typing goes on right after it at any width, and the
    // cursor keeps waiting in the last column when the text fills the new width too.
    TerminalScreen prompt(4, 20);
    feed(prompt, "$ 234567890123456789");
    ASSERT_TRUE(prompt.pendingWrap());
    prompt.resize(4, 10);
    EXPECT_TRUE(prompt.pendingWrap());
    EXPECT_EQ(prompt.row(), 1);
    EXPECT_EQ(prompt.column(), 9);
    prompt.resize(4, 25);
    EXPECT_FALSE(prompt.pendingWrap());
    EXPECT_EQ(prompt.column(), 20);
    feed(prompt, "X");
    EXPECT_EQ(prompt.rowText(0), QStringLiteral("$ 234567890123456789X"));

    // After a prompt's trailing space, which is no content but still where typing goes.
    TerminalScreen shell(4, 20);
    feed(shell, "one\r\n$ ");
    shell.resize(4, 12);
    EXPECT_EQ(shell.row(), 1);
    EXPECT_EQ(shell.column(), 2);
    feed(shell, "ls");
    EXPECT_EQ(shell.rowText(1), QStringLiteral("$ ls"));
}

TEST(TerminalReflow, doubleWidthCharactersNeverSplitAndTheirPaddingIsNoText) {
    TerminalScreen screen(6, 11);
    // 10 narrow cells, then a wide character that wraps early, leaving padding in column 10.
    feed(screen, QByteArray("abcdefghij") + "\xe4\xb8\xad\xe6\x96\x87xy\xe4\xb8\xad");
    ASSERT_TRUE(screen.rowWrapped(0));
    const QStringList text = logicalLines(screen);
    ASSERT_EQ(text, QStringList({QString::fromUtf8("abcdefghij中文xy中")}));
    for (const int columns : {10, 13, 12, 15, 30, 11}) {
        SCOPED_TRACE(columns);
        screen.resize(6, columns);
        EXPECT_EQ(logicalLines(screen), text);
        EXPECT_TRUE(wideCharactersWhole(screen));
    }
    screen.resize(6, 30);
    EXPECT_EQ(screen.rowText(0), QString::fromUtf8("abcdefghij中文xy中"));

    // The padding column is blanked even when it held a character before.
    TerminalScreen overwritten(4, 11);
    feed(overwritten, QByteArray("abcdefghijk\r") + "0123456789\xe4\xb8\xad");
    EXPECT_EQ(overwritten.rowText(0), QStringLiteral("0123456789"));
    overwritten.resize(4, 20);
    EXPECT_EQ(overwritten.rowText(0), QString::fromUtf8("0123456789中"));
    // Written over later, the padding column is text again.
    overwritten.resize(4, 11);
    feed(overwritten, "\x1b[1;11HZ");
    overwritten.resize(4, 20);
    EXPECT_EQ(overwritten.rowText(0), QString::fromUtf8("0123456789Z中"));
}

TEST(TerminalReflow, lineBreaksAndErasedEndsKeepLinesApart) {
    // Which lines continue on the next one: writing past the end does; a line feed from the
    // line, erasing its end, or erasing it does not.
    TerminalScreen screen(8, 10);
    feed(screen,
         "0123456789wrapped\r\n"    // rows 0-1: wraps
         "0123456789\r\nbreak\r\n"  // rows 2-3: filled exactly, then a line break
         "0123456789erased\x1b[A\x1b[6G\x1b[K\x1b[B\r\n"  // rows 4-5: end of row 4 erased
         "0123456789fed\x1b[A\n");                        // rows 6-7: a line feed from row 6
    const bool expected[] = {true, false, false, false, false, false, false, false};
    for (int row = 0; row < 8; ++row) {
        EXPECT_EQ(screen.rowWrapped(row), expected[row]) << row;
    }
    screen.resize(8, 40);
    EXPECT_EQ(logicalLines(screen), QStringList({"0123456789wrapped", "0123456789", "break",
                                                 "01234", "erased", "0123456789", "fed"}));
}

TEST(TerminalReflow, theScrollbackRewrapsWithinItsLimit) {
    TerminalScreen screen(5, 20);
    screen.setScrollbackLimit(2000);
    // 2100 texts of 30 cells: two lines each at 20 columns.
    for (int i = 0; i < 2100; ++i) {
        feed(screen, QByteArray::number(i).rightJustified(30, '.') + "\r\n");
    }
    ASSERT_EQ(screen.scrollbackSize(), 2000);
    screen.resize(5, 10);  // three lines each: the oldest leave
    EXPECT_EQ(screen.scrollbackSize(), 2000);
    EXPECT_EQ(screen.scrollbackLineWidth(0), 10);
    screen.resize(5, 40);  // one line each
    EXPECT_LE(screen.scrollbackSize(), 2000);
    EXPECT_EQ(screen.invariantViolation(), QString());
    const QStringList text = logicalLines(screen);
    // The newest texts are whole and in order; the oldest kept may have lost its start.
    ASSERT_GT(text.size(), 600);
    EXPECT_EQ(text.back(), QString::number(2099).rightJustified(30, QLatin1Char('.')));
    EXPECT_EQ(text[text.size() - 600], QString::number(1500).rightJustified(30, QLatin1Char('.')));
    for (int index = 0; index < screen.scrollbackSize(); ++index) {
        EXPECT_EQ(screen.scrollbackLineWidth(index), 40);
    }
}

TEST(TerminalReflow, theAlternateScreenIsCutWhileTheMainScreenBehindItRewraps) {
    TerminalScreen screen(4, 20);
    feed(screen, "main text that wraps here\x1b[?1049h0123456789ABCDEFGHIJ");
    screen.resize(4, 10);
    EXPECT_EQ(screen.rowText(0), QStringLiteral("0123456789"));
    screen.resize(4, 20);
    EXPECT_EQ(screen.rowText(0), QStringLiteral("0123456789"));
    screen.resize(4, 12);
    feed(screen, "\x1b[?1049l");
    EXPECT_EQ(logicalLines(screen), QStringList({"main text that wraps here"}));
    EXPECT_EQ(screen.rowText(0), QStringLiteral("main text th"));
    EXPECT_EQ(screen.row(), 2);
    EXPECT_EQ(screen.column(), 1);
}

QByteArray linked(const QByteArray& uri, const QByteArray& text, const QByteArray& id = {}) {
    return "\x1b]8;" + (id.isEmpty() ? QByteArray() : "id=" + id) + ";" + uri + "\x1b\\" + text +
           "\x1b]8;;\x1b\\";
}

// The linked characters of the scrollback and the screen, in order, each link's address
// written before its first cell and again wherever another entry follows: a link that
// comes apart into two entries, or loses a cell, shows.
QString linkedText(const TerminalScreen& screen) {
    QString text;
    int previous = -1;
    auto add = [&](const std::optional<TerminalHyperlink>& link, const QString& cell) {
        if (!link) {
            return;
        }
        if (link->index != previous) {
            text += QLatin1Char('[') + link->uri + QLatin1Char(']');
            previous = link->index;
        }
        text += cell;
    };
    for (int index = 0; index < screen.scrollbackSize(); ++index) {
        for (int column = 0; column < screen.scrollbackLineWidth(index); ++column) {
            add(screen.scrollbackLinkAt(index, column), screen.scrollbackCellText(index, column));
        }
    }
    for (int row = 0; row < screen.rows(); ++row) {
        for (int column = 0; column < screen.columns(); ++column) {
            add(screen.linkAt(row, column), screen.cellText(row, column));
        }
    }
    return text;
}

// The link table entries the cells use.
int linksShown(const TerminalScreen& screen) {
    std::set<int> indexes;
    for (int index = 0; index < screen.scrollbackSize(); ++index) {
        for (int column = 0; column < screen.scrollbackLineWidth(index); ++column) {
            indexes.insert(screen.scrollbackLinkIndex(index, column));
        }
    }
    for (int row = 0; row < screen.rows(); ++row) {
        for (int column = 0; column < screen.columns(); ++column) {
            indexes.insert(screen.linkIndex(row, column));
        }
    }
    indexes.erase(-1);
    return int(indexes.size());
}

TEST(TerminalReflow, hyperlinksStayOnTheirCharactersAndTheLinkTableKeepsCount) {
    // A link wrapped over lines, sharing its last line with another link and a double-width
    // character, and links on lines of their own, one of them in the scrollback.
    TerminalScreen screen(3, 20);
    feed(screen, linked("http://z/", "top") + "\r\nsee " +
                     linked("http://x/doc", "0123456789abcdefghijklmn", "doc") + " and " +
                     linked("file:///tmp/", "\xe4\xb8\xadyy") + "\r\n" +
                     linked("http://y/", "last") + " line");
    const QString text = linkedText(screen);
    ASSERT_EQ(text,
              QString::fromUtf8(
                  "[http://z/]top[http://x/doc]0123456789abcdefghijklmn[file:///tmp/]\xe4\xb8\xad"
                  "yy[http://y/]last"));
    ASSERT_GT(screen.scrollbackSize(), 0);
    ASSERT_EQ(screen.linkCount(), 4);
    for (const int columns : {13, 10, 31, 11, 20}) {
        SCOPED_TRACE(columns);
        screen.resize(3, columns);
        EXPECT_EQ(linkedText(screen), text);
        EXPECT_EQ(screen.linkCount(), 4);
        EXPECT_EQ(screen.invariantViolation(), QString());
    }

    // Lines re-wrapped past the scrollback limit take their links out of the table.
    TerminalScreen scrolled(3, 20);
    for (int i = 0; i < TerminalScreen::kScrollbackLimit + 3; ++i) {
        feed(scrolled, linked("http://l/" + QByteArray::number(i), "abcdefghijklmnop") + "\r\n");
    }
    ASSERT_EQ(scrolled.linkCount(), linksShown(scrolled));
    scrolled.resize(3, 10);  // two lines each: the older half leaves
    EXPECT_LT(scrolled.linkCount(), TerminalScreen::kScrollbackLimit / 2 + 10);
    EXPECT_EQ(scrolled.linkCount(), linksShown(scrolled));
    scrolled.resize(3, 40);
    EXPECT_EQ(scrolled.linkCount(), linksShown(scrolled));
    EXPECT_EQ(scrolled.invariantViolation(), QString());
    // A link written after re-wrapping gets an entry of its own.
    feed(scrolled, linked("http://new/", "n"));
    EXPECT_EQ(linkedText(scrolled).right(14), QStringLiteral("[http://new/]n"));
}

}  // namespace
