// What the scripts in tests/terminal/scripts cannot say: the primitives called directly,
// the history's bounds and the cell values.
#include "core/terminal/TerminalScreen.h"

#include <gtest/gtest.h>

#include <QSysInfo>

#include <random>

namespace {

void feed(TerminalScreen& screen, const char* bytes) {
    screen.feed(QByteArrayView(bytes));
}

// Everything a screen shows as numbers: cursor, pending wrap, every cell of the scrollback
// (with its width) and of the grid. Combining marks are compared through plainText().
std::vector<std::uint32_t> contents(const TerminalScreen& screen) {
    std::vector<std::uint32_t> numbers = {
        std::uint32_t(screen.row()), std::uint32_t(screen.column()),
        std::uint32_t(screen.pendingWrap()), std::uint32_t(screen.scrollbackSize())};
    auto append = [&numbers](std::span<const PackedCell> cells) {
        numbers.push_back(std::uint32_t(cells.size()));
        for (const PackedCell& cell : cells) {
            numbers.insert(numbers.end(),
                           {cell.codeAndFlags, cell.foregroundWord, cell.backgroundWord});
        }
    };
    for (int index = 0; index < screen.scrollbackSize(); ++index) {
        numbers.push_back(std::uint32_t(screen.scrollbackLineWidth(index)));
        append(screen.scrollbackLineCells(index));
    }
    for (int row = 0; row < screen.rows(); ++row) {
        append(screen.lineCells(row));
    }
    return numbers;
}

TEST(TerminalScreenHistory, keepsExactlyTheNewest2000LinesAtTheWidthOfTheGrid) {
    TerminalScreen screen(3, 10);
    screen.setScrollbackLimit(2000);
    feed(screen, "a\r\nb\r\nc\r\n");
    screen.resize(3, 15);  // the scrollback is re-wrapped to the new width
    feed(screen, "d\r\ne\r\n");
    ASSERT_EQ(screen.scrollbackSize(), 3);
    EXPECT_EQ(screen.scrollbackLineWidth(0), 15);
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

// Lines keep every bit of every cell in the scrollback, whatever their characters (one, two
// and four bytes wide), styles, colours, underline colours, links, double-width halves and
// combining marks (one, two, one outside the BMP, and those of a character since written
// over), and a line reads as it did on the grid before it scrolled off.
TEST(TerminalScreenHistory, aLineReadsFromTheScrollbackAsItDidOnTheGrid) {
    TerminalScreen screen(6, 30);
    feed(
        screen,
        "plain ascii text\r\n"
        "caf\xc3\xa9 \xe2\x86\x92 \x1b[1;31mred\x1b[0m \x1b[48;5;21mfill\x1b[K\x1b[0m\r\n"
        "\xe4\xb8\xad\xe6\x96\x87 e\xcc\x81 \xf0\x9f\x98\x80 \x1b[4:3;58;2;1;2;3mcurly\x1b[0m"
        " a\xcc\x88\xcc\xa3 x\xf0\x9d\x85\xa7\xcc\x81 o\xcc\x81\x1b[Du\xcc\x82 o\xcc\x81\x1b[Dv\r\n"
        "\x1b]8;;http://a/\x1b\\link\x1b]8;;\x1b\\ \x1b[7;9mflags\x1b[0m\x1b[3G\xe4\xb8\xad\r\n"
        "\x1b[44m\x1b[K\x1b[0m\r\n"
        "012345678901234567890123456789");
    std::vector<std::vector<PackedCell>> grid;
    std::vector<QString> texts;
    std::vector<std::optional<TerminalHyperlink>> links;
    for (int row = 0; row < screen.rows(); ++row) {
        const std::span<const PackedCell> cells = screen.lineCells(row);
        grid.emplace_back(cells.begin(), cells.end());
        for (int column = 0; column < screen.columns(); ++column) {
            texts.push_back(screen.cellText(row, column));
            links.push_back(screen.linkAt(row, column));
        }
    }
    feed(screen, "\x1b[6;1H\n\n\n\n\n\n");
    ASSERT_EQ(screen.scrollbackSize(), 6);
    for (int index = 0; index < 6; ++index) {
        SCOPED_TRACE(index);
        const std::span<const PackedCell> kept = screen.scrollbackLineCells(index);
        std::vector<PackedCell> cells(kept.begin(), kept.end());
        cells.resize(std::size_t(screen.scrollbackLineWidth(index)));
        EXPECT_EQ(cells, grid[std::size_t(index)]);
        for (int column = 0; column < screen.columns(); ++column) {
            const std::size_t at = std::size_t(index * screen.columns() + column);
            EXPECT_EQ(screen.scrollbackCellText(index, column), texts[at]);
            EXPECT_EQ(screen.scrollbackLinkAt(index, column), links[at]);
        }
    }
    EXPECT_EQ(screen.scrollbackCellText(2, 16), QStringLiteral("a\u0308\u0323"));
    EXPECT_EQ(screen.scrollbackCellText(2, 18), QString::fromUtf8("x\xf0\x9d\x85\xa7\xcc\x81"));
    EXPECT_EQ(screen.scrollbackCellText(2, 20), QStringLiteral("u\u0302"));
    EXPECT_EQ(screen.scrollbackCellText(2, 22), QStringLiteral("v"));
    EXPECT_EQ(screen.invariantViolation(), QString());
}

// Once the scrollback is full each new line takes the memory of the line that leaves, or
// of one that left before: lines of every length and kind of character, stored over and
// over, still read back as written, also after a lower limit has moved them and after
// lines growing for long have left so much memory behind that the scrollback moves anew.
TEST(TerminalScreenHistory, aFullScrollbackReusesMemoryWithoutMixingLines) {
    const char* const pieces[] = {"a",
                                  "\xc3\xa9",
                                  "\xe4\xb8\xad",
                                  "\xf0\x9f\x98\x80",
                                  "e\xcc\x81\xcc\x82",
                                  "\x1b[31mr\x1b[0m"};
    std::mt19937 random(20261208);
    std::vector<QByteArray> lines;
    TerminalScreen screen(3, 40);
    screen.setScrollbackLimit(30);
    // Lines of up to `most` pieces; of exactly `most` wide characters when `growing`.
    auto write = [&](int count, int most = 18, bool growing = false) {
        for (int i = 0; i < count; ++i) {
            QByteArray line = QByteArray::number(lines.size()) + ":";
            for (int pieceCount = growing ? most : int(random() % most); pieceCount > 0;
                 --pieceCount) {
                line += pieces[growing ? 3 : random() % std::size(pieces)];
            }
            lines.push_back(line);
            screen.feed(QByteArrayView(line + "\r\n"));
        }
    };
    // Each kept line holds what it leaves on a grid of its own. The grid keeps the newest
    // two lines.
    auto expectKept = [&](int kept) {
        ASSERT_EQ(screen.scrollbackSize(), kept);
        for (int index = 0; index < kept; ++index) {
            SCOPED_TRACE(index);
            TerminalScreen alone(3, 40);
            alone.feed(QByteArrayView(lines[lines.size() - 2 - std::size_t(kept - index)]));
            const std::span<const PackedCell> stored = screen.scrollbackLineCells(index);
            std::vector<PackedCell> cells(stored.begin(), stored.end());
            cells.resize(std::size_t(screen.scrollbackLineWidth(index)));
            const std::span<const PackedCell> expected = alone.lineCells(0);
            ASSERT_EQ(cells, std::vector<PackedCell>(expected.begin(), expected.end()));
            for (int column = 0; column < 40; ++column) {
                ASSERT_EQ(screen.scrollbackCellText(index, column), alone.cellText(0, column));
            }
        }
    };
    write(300);
    expectKept(30);
    screen.setScrollbackLimit(12);
    expectKept(12);
    write(50);
    expectKept(12);
    screen.setScrollbackLimit(100);
    for (int most = 1; most <= 17; most += 2) {
        write(100, most, true);
    }
    expectKept(100);
    EXPECT_EQ(screen.invariantViolation(), QString());
}

// Text written in one piece leaves exactly what it leaves written a character at a time:
// runs of narrow and double-width characters, combining marks, double-width characters
// written over by halves, wraps, insert mode, no auto-wrap, line drawing, repeats and
// invalid or cut UTF-8.
TEST(TerminalScreenFeed, textWrittenWholeLeavesWhatItLeavesACharacterAtATime) {
    const std::vector<QByteArray> fragments = {"caf\xc3\xa9 na\xc3\xafve",
                                               "\xe4\xb8\xad\xe6\x96\x87",
                                               "e\xcc\x81\xcc\x82",
                                               "\xf0\x9f\x98\x80",
                                               "\xe2\x86\x92\xe2\x94\x82\xe2\x80\xa6",
                                               "abc",
                                               "\r\n",
                                               "\x1b[3D",
                                               "\x1b[1;9H",
                                               "\x1b[2;1H",
                                               "\x1b[4h",
                                               "\x1b[4l",
                                               "\x1b[?7l",
                                               "\x1b[?7h",
                                               "\x1b[1;32m",
                                               "\x1b[0m",
                                               "\xef\xbd\x86\xef\xbd\x95",
                                               "\xcc\x81",
                                               "\x1b(0",
                                               "\x1b(B",
                                               "qx",
                                               "\xc0\xaf\xed\xa0\x80\xff",
                                               "\xe4\xb8",
                                               "\x1b[2b"};
    std::mt19937 random(20261207);
    for (int trial = 0; trial < 400; ++trial) {
        const int columns = 2 + int(random() % 12);
        QByteArray text;
        for (int count = 1 + int(random() % 30); count > 0; --count) {
            text += fragments[random() % fragments.size()];
        }
        TerminalScreen whole(3, columns);
        whole.feed(QByteArrayView(text));
        TerminalScreen byByte(3, columns);
        for (const char byte : text) {
            byByte.feed(QByteArrayView(&byte, 1));
        }
        ASSERT_EQ(contents(whole), contents(byByte)) << trial << " " << text.toStdString();
        ASSERT_EQ(whole.plainText(), byByte.plainText()) << trial;
        ASSERT_EQ(whole.invariantViolation(), QString());
    }
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
    EXPECT_EQ(toJson(cell).value(QStringLiteral("foreground")).toString(),
              QStringLiteral("FF0014"));
    EXPECT_FALSE(toJson(TerminalCell{}).contains(QStringLiteral("background")));
    // The attributes beyond bold and inverse appear only when set.
    EXPECT_EQ(toJson(TerminalCell{}).size(), 4);
    cell.italic = true;
    cell.underline = TerminalUnderline::Curly;
    cell.underlineColor = TerminalColor{0, 0, 255};
    const QJsonObject styled = toJson(cell);
    EXPECT_TRUE(styled.value(QStringLiteral("italic")).toBool());
    EXPECT_FALSE(styled.contains(QStringLiteral("dim")));
    EXPECT_EQ(styled.value(QStringLiteral("underline")).toString(), QStringLiteral("curly"));
    EXPECT_EQ(styled.value(QStringLiteral("underlineColor")).toString(), QStringLiteral("0000FF"));

    // Surrounding characters are ignored and the low 24 bits kept.
    EXPECT_EQ(TerminalColor::fromHex(u" #f4808a "), (TerminalColor{0xF4, 0x80, 0x8A}));
    EXPECT_EQ(TerminalColor::fromHex(u"FFF"), (TerminalColor{0, 0x0F, 0xFF}));
    EXPECT_EQ(TerminalColor::fromHex(u"12F4808A"), (TerminalColor{0xF4, 0x80, 0x8A}));
    EXPECT_EQ(TerminalColor::fromHex(u"zz"), (TerminalColor{0, 0, 0}));
}

TEST(TerminalScreenValues, underlineColoursBeyondTheTableTakeTheNearestOneKept) {
    TerminalScreen screen(3, 200);
    for (int red = 0; red < 130; ++red) {
        screen.feed(QByteArrayView(QStringLiteral("\x1b[58;2;%1;0;0mx").arg(red).toLatin1()));
    }
    EXPECT_EQ(screen.cell(0, 0).underlineColor, (TerminalColor{0, 0, 0}));
    EXPECT_EQ(screen.cell(0, 126).underlineColor, (TerminalColor{126, 0, 0}));
    EXPECT_EQ(screen.cell(0, 129).underlineColor, (TerminalColor{126, 0, 0}));
}

TEST(TerminalScreenValues, endlessCombiningMarksCannotGrowACellWithoutBound) {
    TerminalScreen screen(3, 10);
    screen.feed(QByteArrayView("a" + QByteArray("\xcc\x81").repeated(10000)));  // U+0301
    EXPECT_EQ(screen.cellText(0, 0).size(), 1 + TerminalScreen::kMaxCombiningPerCell);
    feed(screen, "\rb\xcc\x82");
    EXPECT_EQ(screen.cellText(0, 0), QStringLiteral("b\u0302"));
}

TEST(TerminalScreenFeed, aWorkLimitStopsCostlyOutputEarlyAndTheRestFedLaterLeavesTheSame) {
    // Each repeat rewrites a screenful (some 4,000 cells written or blanked) for 11 bytes.
    const QByteArray flood = QByteArray("a\x1b[1000000bb\x1b[1000000b").repeated(200);
    TerminalScreen whole(24, 80);
    whole.feed(QByteArrayView(flood));
    TerminalScreen limited(24, 80);
    int calls = 0;
    for (qsizetype fed = 0; fed < flood.size(); ++calls) {
        const qsizetype read = limited.feed(QByteArrayView(flood).sliced(fed), 10'000);
        ASSERT_GT(read, 0);
        fed += read;
    }
    EXPECT_GE(calls, flood.size() / 44);  // no more than four repeats per call
    EXPECT_EQ(contents(limited), contents(whole));

    // Repeats of one character cost the lines they leave once per call, however many.
    const QByteArray same = QByteArray("a\x1b[1000000b").repeated(5000);
    EXPECT_EQ(limited.feed(QByteArrayView(same), 10'000), same.size());
    whole.feed(QByteArrayView(same));
    EXPECT_EQ(contents(limited), contents(whole));
}

// REP n must leave exactly what printing its character min(n, rows × columns) more times
// leaves, from any state: random sizes (one column included), cursor positions, pending
// wraps, double-width characters and their halves split by deletions, scroll regions, the
// alternate screen and line drawing, runs of repeats long enough to fill the scrollback
// several times, and every way of cutting the output into chunks.
TEST(TerminalScreenRepeat, writesWhatPrintingTheCharacterAsOftenWrites) {
    const std::vector<QByteArray> fragments = {
        "x",
        "\u4E2D",
        "\u00E9",
        "e\u0301",
        "\U0001F600",
        "abcdefg",
        "\r\n",
        "\r",
        "\x1b[2D",
        "\x1b[3G",
        "\x1b[2;3H",
        "\x1b[1;99H",
        "\x1b[9;2H",
        "\x1b[2P",
        "\x1b[3@",
        "\x1b[K",
        "\x1b[2;3r",
        "\x1b[1;2r",
        "\x1b[3;9r",
        "\x1b[r",
        "\x1b[?1049h",
        "\x1b[?1049l",
        "\x1b(0",
        "\x1b(B",
        "\x1b[1;31m",
        "\x1b[0m",
        "\x1b[2J",
        "\x1b[L",
        "\x1b[1;99Ha",
        "\x1b[1;99H\u4E2D",
        "\u6587\u6587\u6587\u6587\u6587\u6587\u6587\u6587\x1b[H\x1b[5C"};
    const std::vector<QString> characters = {QStringLiteral("a"), QStringLiteral("\u4E2D"),
                                             QStringLiteral("\u00E9"),
                                             QStringLiteral("\U0001F600")};
    std::mt19937 random(20261207);
    auto below = [&random](int limit) { return int(random() % std::uint32_t(limit)); };
    for (int trial = 0; trial < 3000; ++trial) {
        const int rows = 1 + below(6);
        const int columns = 1 + below(11);
        QByteArray prefix;
        for (int count = below(9); count > 0; --count) {
            prefix += fragments[std::size_t(below(int(fragments.size())))];
        }
        const QString character = characters[std::size_t(below(int(characters.size())))];
        const QByteArray characterBytes = character.toUtf8();
        // The character, then repeats, now and then with the character printed in between.
        QByteArray run = characterBytes;
        qint64 printed = 1;
        const bool longRun = trial % 25 == 0;
        const int repeats = longRun ? 300 + below(600) : 1 + below(6);
        const int counts[] = {0,
                              1,
                              2,
                              columns - 1,
                              columns,
                              columns + 1,
                              rows * columns - 1,
                              rows * columns,
                              1000000,
                              below(60)};
        for (int i = 0; i < repeats; ++i) {
            const int count = counts[below(int(std::size(counts)))];
            run += "\x1b[" + QByteArray::number(count) + "b";
            printed += std::min<qint64>(std::max(count, 1), qint64(rows) * columns);
            for (int again = below(4) - 1; again > 0; --again) {
                run += characterBytes;
                ++printed;
            }
        }
        const QByteArray suffix = "Z\u0301\x1b[6n";

        TerminalScreen repeated(rows, columns);
        TerminalScreen written(rows, columns);
        QByteArray repeatedReplies;
        QByteArray writtenReplies;
        repeated.setOnResponse([&](const QString& reply) { repeatedReplies += reply.toUtf8(); });
        written.setOnResponse([&](const QString& reply) { writtenReplies += reply.toUtf8(); });
        const QByteArray output = prefix + run + suffix;
        for (qsizetype offset = 0; offset < output.size();) {
            const qsizetype piece = std::min<qsizetype>(
                output.size() - offset, !longRun && below(3) == 0 ? 1 + below(40) : output.size());
            repeated.feed(QByteArrayView(output.constData() + offset, piece));
            offset += piece;
        }
        written.feed(QByteArrayView(prefix));
        written.feed(QStringView(character.repeated(printed)));
        written.feed(QByteArrayView(suffix));

        const std::string where = "trial " + std::to_string(trial) + ": " + std::to_string(rows) +
                                  " x " + std::to_string(columns) + ", " +
                                  output.toPercentEncoding().toStdString();
        ASSERT_EQ(repeated.invariantViolation(), QString()) << where;
        ASSERT_EQ(contents(repeated), contents(written)) << where;
        ASSERT_EQ(repeated.plainText(), written.plainText()) << where;
        ASSERT_EQ(repeatedReplies, writtenReplies) << where;
    }
}

TEST(TerminalScreenDirectory, aFileUrlNamingThisMachineIsTakenAndAnyOtherHostIsNot) {
    TerminalScreen screen;
    const QString host = QSysInfo::machineHostName();
    ASSERT_FALSE(host.isEmpty());
    screen.feed(QByteArrayView(("\x1b]7;file://" + host.toUpper() + "/srv/app\a").toUtf8()));
    EXPECT_EQ(screen.currentDirectory(), QStringLiteral("/srv/app"));
    screen.feed(QByteArrayView(("\x1b]7;file://" + host + ".evil/etc\a").toUtf8()));
    screen.feed(QByteArrayView(("\x1b]7;file://x" + host + "/etc\a").toUtf8()));
    EXPECT_EQ(screen.currentDirectory(), QStringLiteral("/srv/app"));
}

}  // namespace

namespace {

QByteArray linked(const QByteArray& uri, const QByteArray& text, const QByteArray& id = {}) {
    return "\x1b]8;" + (id.isEmpty() ? QByteArray() : "id=" + id) + ";" + uri + "\x1b\\" + text +
           "\x1b]8;;\x1b\\";
}

// The address of the cell's link, "none" without one.
std::string uriAt(const TerminalScreen& screen, int row, int column) {
    const std::optional<TerminalHyperlink> link = screen.linkAt(row, column);
    return link ? link->uri.toStdString() : "none";
}

}  // namespace

TEST(TerminalScreenLinks, theTableStaysBoundedAndLinksWrittenOverOrScrolledAwayMakeRoom) {
    constexpr int kCapacity = TerminalLinkTable::kCapacity;
    // The first cell of each line rewritten with ever new links, more than the table holds
    // before the lines are swept: it never holds more than it may, and every new link still
    // gets an entry, those written over making room.
    TerminalScreen rewritten(100, 20);
    for (int i = 0; i < 4 * kCapacity; ++i) {
        const QByteArray uri = "http://h/" + QByteArray::number(i);
        const int row = i % 100;
        rewritten.feed(QStringLiteral("\x1b[%1H").arg(row + 1).toLatin1() +
                       linked(uri, "x", QByteArray::number(i % 3)));
        ASSERT_EQ(uriAt(rewritten, row, 0), uri.toStdString()) << i;
        ASSERT_LE(rewritten.linkCount(), kCapacity);
    }
    EXPECT_EQ(rewritten.invariantViolation(), QString());

    // A new link on every line: lines leaving the scrollback take their links along, and
    // the scrollback keeps the links of the lines it holds.
    TerminalScreen scrolled(5, 20);
    scrolled.setScrollbackLimit(2000);
    for (int i = 0; i < 2000 + 3 * kCapacity; ++i) {
        scrolled.feed(linked("http://l/" + QByteArray::number(i), "line") + "\r\n");
        ASSERT_LE(scrolled.linkCount(), kCapacity);
    }
    const int last = 2000 + 3 * kCapacity - 1;
    EXPECT_EQ(uriAt(scrolled, 3, 0), "http://l/" + std::to_string(last));
    const std::optional<TerminalHyperlink> oldest = scrolled.scrollbackLinkAt(0, 3);
    ASSERT_TRUE(oldest);
    EXPECT_EQ(oldest->uri.toStdString(), "http://l/" + std::to_string(last - 4 - 1999));
    EXPECT_EQ(scrolled.invariantViolation(), QString());

    // Every entry held by cells: further links get none (and nothing breaks) until the cells
    // are erased, and then the next link has one again.
    TerminalScreen full(24, 80);
    for (int i = 0; i < kCapacity + 100; ++i) {
        full.feed(linked("http://f/" + QByteArray::number(i), "x"));
        if (i % 30 == 29) {
            full.feed("\r\n");
        }
    }
    EXPECT_EQ(full.linkCount(), kCapacity);
    EXPECT_EQ(uriAt(full, full.row(), full.column() - 1), "none");
    EXPECT_EQ(full.invariantViolation(), QString());
    full.feed("\x1b[H\x1b[2J\x1b[3J" + linked("http://after/", "y"));
    EXPECT_EQ(uriAt(full, 0, 0), "http://after/");
    EXPECT_EQ(full.linkCount(), 1);
}

TEST(TerminalScreenLinks, aLinkLongerThanTheLimitIsNotMadeAndLinksGoWithAResizedLine) {
    TerminalScreen screen(3, 40);
    const QByteArray longest = "http://h/" + QByteArray(TerminalScreen::kMaxLinkUriLength - 9, 'a');
    screen.feed(linked(longest, "a") + linked(longest + "b", "b") +
                linked("http://h/" + QByteArray(10000, 'c'), "c") + linked("http://ok/", "d"));
    EXPECT_EQ(uriAt(screen, 0, 0), longest.toStdString());
    EXPECT_EQ(uriAt(screen, 0, 1), "none");
    EXPECT_EQ(uriAt(screen, 0, 2), "none");  // cut by the parser: not made either
    EXPECT_EQ(uriAt(screen, 0, 3), "http://ok/");
    const QByteArray longestId(TerminalScreen::kMaxLinkIdLength, 'i');
    screen.feed(linked("http://i/", "e", longestId) + linked("http://i/", "f", longestId + "i"));
    EXPECT_EQ(uriAt(screen, 0, 4), "http://i/");
    EXPECT_EQ(uriAt(screen, 0, 5), "none");

    // Narrowing cuts linked cells off; the others keep their link.
    screen.feed("\x1b[1;30H" + linked("http://cut/", "z"));
    screen.resize(3, 20);
    EXPECT_EQ(uriAt(screen, 0, 3), "http://ok/");
    EXPECT_EQ(screen.invariantViolation(), QString());
}

TEST(TerminalScreenLinks, onlyWebMailAndLocalFileAddressesOpen) {
    const std::pair<const char*, bool> cases[] = {
        {"https://example.com/a?b=c#d", true},
        {"HTTP://example.com", true},
        {"mailto:someone@example.com", true},
        {"file:///home/user/notes.txt", true},
        {"file://localhost/etc/hosts", true},
        {"file://some-other-machine.example/etc/passwd", false},
        {"http:///no-host", false},
        {"javascript:alert(1)", false},
        {"ssh://host", false},
        {"data:text/html,hi", false},
        {"not a url", false},
    };
    for (const auto& [uri, openable] : cases) {
        EXPECT_EQ(isOpenableLink(QString::fromLatin1(uri)), openable) << uri;
    }
    const QString here = QStringLiteral("file://%1/tmp").arg(QSysInfo::machineHostName());
    EXPECT_TRUE(isOpenableLink(here)) << qPrintable(here);
}

TEST(TerminalScreenClipboard, takesAWriteOfUpTo1MiBAndNoLongerOneFedAsASessionFeedsIt) {
    constexpr qsizetype kLimit = TerminalScreen::kMaxClipboardBytes;
    // At the limit; one byte over (same base64 length); far over (cut by the parser).
    for (const qsizetype size : {kLimit, kLimit + 1, 3 * kLimit}) {
        TerminalScreen screen(3, 20);
        screen.setClipboardWritesAllowed(true);
        std::vector<QString> copied;
        screen.setOnEvent([&copied](const TerminalScreenEvent& event) {
            if (event.kind == TerminalScreenEvent::Kind::ClipboardWrite) {
                copied.push_back(event.body);
            }
        });
        const QByteArray output = "\x1b]52;c;" + QByteArray(size, 'x').toBase64() + "\x1b\\after";
        for (qsizetype at = 0; at < output.size(); at += 65536) {
            screen.feed(
                QByteArrayView(output).sliced(at, std::min<qsizetype>(65536, output.size() - at)));
        }
        ASSERT_EQ(copied.size(), size == kLimit ? 1u : 0u) << size;
        if (size == kLimit) {
            EXPECT_TRUE(copied.front() == QString(kLimit, QLatin1Char('x')));
        }
        EXPECT_EQ(screen.rowText(0), QStringLiteral("after")) << size;
    }
}
