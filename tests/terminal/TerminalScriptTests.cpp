// Script-driven screen tests. Each file in tests/terminal/scripts is a small program: output
// to feed, then the cells, cursor, modes and replies expected. Every script runs three ways:
// each feed whole, each feed byte by byte, and each feed cut in two at every position, so
// a sequence or character split across chunks is always covered.
//
// Commands (one per line, "#" starts a comment):
//   screen R C                 a new R × C screen (default 24 × 80)
//   feed BYTES | text TEXT     output as raw bytes / as decoded text
//   resize R C
//   row N TEXT                 visible row N, trailing blanks trimmed
//   cell R C key=value …       text="…" fg=RRGGBB|none bg=… bold=0|1 inverse=0|1 cont=0|1
//   cursor R C | wrap 0|1 | region TOP BOTTOM
//   style key=value …          as for cell (fg, bg, bold, inverse)
//   modes key=value …          cursorVisible bracketedPaste applicationCursor alternate
//   replies BYTES              the replies sent since the last check, concatenated
//   plain TEXT | scrollback N | history I TEXT (scrollback line I, trimmed)
// Escapes in BYTES and TEXT: \e \r \n \t \b \a \\ \s (a space) \xNN \u{HEX} (as UTF-8).
#include "terminal/TerminalScreen.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <memory>

namespace {

QByteArray unescape(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        if (utf8[i] != '\\' || i + 1 >= utf8.size()) {
            out += utf8[i];
            continue;
        }
        const char code = utf8[++i];
        switch (code) {
            case 'e':
                out += '\x1b';
                break;
            case 'r':
                out += '\r';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'b':
                out += '\b';
                break;
            case 'a':
                out += '\a';
                break;
            case 's':
                out += ' ';
                break;
            case 'x':
                out += char(utf8.mid(i + 1, 2).toInt(nullptr, 16));
                i += 2;
                break;
            case 'u': {
                const qsizetype close = utf8.indexOf('}', i);
                const char32_t scalar =
                    char32_t(utf8.mid(i + 2, close - i - 2).toUInt(nullptr, 16));
                out += QString::fromUcs4(&scalar, 1).toUtf8();
                i = close;
                break;
            }
            default:
                out += code;
                break;
        }
    }
    return out;
}

QString historyText(const TerminalScreen& screen, int index) {
    QString text;
    for (int column = 0; column < int(screen.scrollbackLineCells(index).size()); ++column) {
        text += screen.scrollbackCellText(index, column);
    }
    while (text.endsWith(QLatin1Char(' '))) {
        text.chop(1);
    }
    return text;
}

std::optional<TerminalColor> colorValue(const QString& value) {
    if (value == QLatin1String("none")) {
        return std::nullopt;
    }
    return TerminalColor::fromHex(value);
}

QString describe(const std::optional<TerminalColor>& color) {
    return color ? color->hex() : QStringLiteral("none");
}

// key=value pairs; values may be quoted ("…" with the escapes above).
QList<QPair<QString, QString>> attributes(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral(R"re((\w+)=("(?:[^"\\]|\\.)*"|\S+))re"));
    QList<QPair<QString, QString>> result;
    auto matches = pattern.globalMatch(text);
    while (matches.hasNext()) {
        const auto match = matches.next();
        QString value = match.captured(2);
        if (value.startsWith(QLatin1Char('"'))) {
            value = QString::fromUtf8(unescape(value.mid(1, value.size() - 2)));
        }
        result.append({match.captured(1), value});
    }
    return result;
}

enum class Split { Whole, ByteByByte, AtPosition };

struct ScriptRun {
    Split split = Split::Whole;
    int position = 0;  // for AtPosition
    QString label() const {
        switch (split) {
            case Split::Whole:
                return QStringLiteral("fed whole");
            case Split::ByteByByte:
                return QStringLiteral("fed byte by byte");
            case Split::AtPosition:
                return QStringLiteral("fed cut at byte %1").arg(position);
        }
        return {};
    }
};

void checkCell(const QString& where, const TerminalCell& cell, const QString& expectations) {
    for (const auto& [key, value] : attributes(expectations)) {
        if (key == QLatin1String("text")) {
            EXPECT_EQ(cell.text, value) << qPrintable(where);
        } else if (key == QLatin1String("fg")) {
            EXPECT_EQ(describe(cell.foreground), describe(colorValue(value))) << qPrintable(where);
        } else if (key == QLatin1String("bg")) {
            EXPECT_EQ(describe(cell.background), describe(colorValue(value))) << qPrintable(where);
        } else if (key == QLatin1String("bold")) {
            EXPECT_EQ(cell.bold, value == QLatin1String("1")) << qPrintable(where);
        } else if (key == QLatin1String("inverse")) {
            EXPECT_EQ(cell.inverse, value == QLatin1String("1")) << qPrintable(where);
        } else if (key == QLatin1String("cont")) {
            EXPECT_EQ(cell.continuation, value == QLatin1String("1")) << qPrintable(where);
        } else {
            ADD_FAILURE() << qPrintable(where) << ": unknown cell key " << qPrintable(key);
        }
    }
}

void feedSplit(TerminalScreen& screen, const QByteArray& bytes, const ScriptRun& run) {
    switch (run.split) {
        case Split::Whole:
            screen.feed(QByteArrayView(bytes));
            break;
        case Split::ByteByByte:
            for (const char byte : bytes) {
                screen.feed(QByteArrayView(&byte, 1));
            }
            break;
        case Split::AtPosition: {
            const qsizetype cut = std::min<qsizetype>(run.position, bytes.size());
            screen.feed(QByteArrayView(bytes.constData(), cut));
            screen.feed(QByteArrayView(bytes.constData() + cut, bytes.size() - cut));
            break;
        }
    }
}

void runScript(const QString& name, const QStringList& lines, const ScriptRun& run) {
    auto screen = std::make_unique<TerminalScreen>();
    QByteArray replies;
    auto connect = [&replies](TerminalScreen& target) {
        target.setOnResponse([&replies](const QString& reply) { replies += reply.toUtf8(); });
    };
    connect(*screen);
    for (int number = 0; number < lines.size(); ++number) {
        const QString line = lines[number].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        const QString where =
            QStringLiteral("%1:%2 (%3)").arg(name).arg(number + 1).arg(run.label());
        const qsizetype space = line.indexOf(QLatin1Char(' '));
        const QString command = line.left(space < 0 ? line.size() : space);
        const QString rest = space < 0 ? QString() : line.mid(space + 1);
        const QStringList words = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (command == QLatin1String("screen")) {
            screen =
                std::make_unique<TerminalScreen>(words.value(0).toInt(), words.value(1).toInt());
            connect(*screen);
            replies.clear();
        } else if (command == QLatin1String("feed")) {
            feedSplit(*screen, unescape(rest), run);
        } else if (command == QLatin1String("text")) {
            screen->feed(QStringView(QString::fromUtf8(unescape(rest))));
        } else if (command == QLatin1String("resize")) {
            screen->resize(words.value(0).toInt(), words.value(1).toInt());
        } else if (command == QLatin1String("row")) {
            const int row = words.value(0).toInt();
            const QString expected =
                QString::fromUtf8(unescape(rest.mid(words.value(0).size() + 1)));
            EXPECT_EQ(screen->rowText(row), expected) << qPrintable(where);
        } else if (command == QLatin1String("history")) {
            const int index = words.value(0).toInt();
            ASSERT_LT(index, screen->scrollbackSize()) << qPrintable(where);
            const QString expected =
                QString::fromUtf8(unescape(rest.mid(words.value(0).size() + 1)));
            EXPECT_EQ(historyText(*screen, index), expected) << qPrintable(where);
        } else if (command == QLatin1String("cell")) {
            const int row = words.value(0).toInt();
            const int column = words.value(1).toInt();
            checkCell(where, screen->cell(row, column), rest);
        } else if (command == QLatin1String("style")) {
            checkCell(where, screen->style(), rest);
        } else if (command == QLatin1String("cursor")) {
            EXPECT_EQ(screen->row(), words.value(0).toInt()) << qPrintable(where);
            EXPECT_EQ(screen->column(), words.value(1).toInt()) << qPrintable(where);
        } else if (command == QLatin1String("wrap")) {
            EXPECT_EQ(screen->pendingWrap(), words.value(0) == QLatin1String("1"))
                << qPrintable(where);
        } else if (command == QLatin1String("region")) {
            EXPECT_EQ(screen->scrollTop(), words.value(0).toInt()) << qPrintable(where);
            EXPECT_EQ(screen->scrollBottom(), words.value(1).toInt()) << qPrintable(where);
        } else if (command == QLatin1String("modes")) {
            for (const auto& [key, value] : attributes(rest)) {
                const bool expected = value == QLatin1String("1");
                if (key == QLatin1String("cursorVisible")) {
                    EXPECT_EQ(screen->cursorVisible(), expected) << qPrintable(where);
                } else if (key == QLatin1String("bracketedPaste")) {
                    EXPECT_EQ(screen->bracketedPaste(), expected) << qPrintable(where);
                } else if (key == QLatin1String("applicationCursor")) {
                    EXPECT_EQ(screen->applicationCursor(), expected) << qPrintable(where);
                } else if (key == QLatin1String("alternate")) {
                    EXPECT_EQ(screen->alternateScreenActive(), expected) << qPrintable(where);
                } else {
                    ADD_FAILURE() << qPrintable(where) << ": unknown mode " << qPrintable(key);
                }
            }
        } else if (command == QLatin1String("replies")) {
            EXPECT_EQ(replies, unescape(rest)) << qPrintable(where);
            replies.clear();
        } else if (command == QLatin1String("plain")) {
            EXPECT_EQ(screen->plainText(), QString::fromUtf8(unescape(rest))) << qPrintable(where);
        } else if (command == QLatin1String("scrollback")) {
            EXPECT_EQ(screen->scrollbackSize(), words.value(0).toInt()) << qPrintable(where);
        } else {
            FAIL() << qPrintable(where) << ": unknown command " << qPrintable(command);
        }
        EXPECT_EQ(screen->invariantViolation(), QString()) << qPrintable(where);
    }
}

QString scriptFolder() {
    return QStringLiteral(VELK_SOURCE_DIR "/tests/terminal/scripts");
}

std::vector<std::string> scriptNames() {
    std::vector<std::string> names;
    for (const QString& name :
         QDir(scriptFolder()).entryList({QStringLiteral("*.test")}, QDir::Files, QDir::Name)) {
        names.push_back(name.toStdString());
    }
    return names;
}

class TerminalScript : public ::testing::TestWithParam<std::string> {};

TEST_P(TerminalScript, givesTheExpectedScreenHoweverTheOutputIsChunked) {
    const QString name = QString::fromStdString(GetParam());
    QFile file(scriptFolder() + QLatin1Char('/') + name);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(name);
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    int longestFeed = 0;
    for (const QString& line : lines) {
        if (line.trimmed().startsWith(QLatin1String("feed "))) {
            longestFeed = std::max<int>(longestFeed, unescape(line.trimmed().mid(5)).size());
        }
    }
    runScript(name, lines, {Split::Whole, 0});
    if (HasFailure()) {
        return;  // one report is enough
    }
    runScript(name, lines, {Split::ByteByByte, 0});
    for (int position = 1; position < longestFeed && !HasFailure(); ++position) {
        runScript(name, lines, {Split::AtPosition, position});
    }
}

INSTANTIATE_TEST_SUITE_P(Scripts, TerminalScript, ::testing::ValuesIn(scriptNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param.substr(0, info.param.find('.'));
                             for (char& character : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(character))) {
                                     character = '_';
                                 }
                             }
                             return name;
                         });

}  // namespace
