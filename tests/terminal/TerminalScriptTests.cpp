// Script-driven screen tests. Each file in tests/terminal/scripts is a small program: output
// to feed, then the cells, cursor, modes and replies expected. Every script runs three ways:
// each feed whole, each feed byte by byte, and each feed cut in two at every position, so
// a sequence or character split across chunks is always covered.
//
// Commands (one per line, "#" starts a comment):
//   screen R C                 a new R × C screen (default 24 × 80)
//   feed BYTES | text TEXT     output as raw bytes / as decoded text
//   resize R C | size R C      change / expect the grid size
//   row N TEXT                 visible row N, trailing blanks trimmed
//   cell R C key=value …       text="…" fg=RRGGBB|none bg=… bold=0|1 inverse=0|1 cont=0|1
//                              italic dim blink conceal strike overline (0|1)
//                              ul=none|single|double|curly|dotted|dashed ulc=RRGGBB|none
//   hcell I C key=value …      as for cell, of scrollback line I
//   cursor R C | wrap 0|1 | region TOP BOTTOM
//   style key=value …          as for cell (all but text and cont)
//   modes key=value …          cursorVisible bracketedPaste applicationCursor alternate
//                              autowrap insert origin blink updateOpen focus altScroll (0|1)
//                              shape=block|underline|bar mouse=none|clicks|drags|motion
//                              mouseEncoding=default|utf8|sgr
//   keymodes key=value …       cursor keypad (application modes, 0|1) flags=N (the kitty
//                              keyboard flags in force)
//   key MODS+KEY BYTES         the input a key sends in the screen's modes: KEY is a key's
//                              name (Up, Home, F5, Enter …), a character, or space; MODS
//                              any of shift alt ctrl super kp (keypad) numlock
//   tabs COLUMN …              the tab stops, in order
//   replies BYTES              the replies sent since the last check, concatenated
//                              ({version} stands for VELK's version)
//   colors FG BG CURSOR        set the default colours (RRGGBB)
//   title TEXT | icon TEXT | titles N (saved titles) | directory TEXT | progress STATE PERCENT
//   events E|E…                the events since the last check: title, directory,
//                              progress, bell, note:TITLE:BODY, copy:TEXT (an empty line:
//                              none)
//   clipboard on|off           allow or refuse the program's clipboard writes
//   plain TEXT | scrollback N | history I TEXT (scrollback line I, trimmed)
//   link R C URI|none          the hyperlink of visible cell (R, C); hlink I C …: scrollback
//   linkid R C ID              the id the link of cell (R, C) was given ("" when none)
//   samelink R C R2 C2 0|1     whether two visible cells carry the same link (both have one)
//   links N                    entries of the screen's link table in use
//   mouse KIND BUTTON R C MODS BYTES
//                              what reports a mouse event to the program (KIND press,
//                              release or motion; BUTTON 0-7; MODS shift+alt+ctrl or -);
//                              no BYTES: nothing
//   focus in|out BYTES         what reports the focus to the program
// Escapes in BYTES and TEXT: \e \r \n \t \b \a \\ \s (a space) \xNN \u{HEX} (as UTF-8).
// After every command the screen's invariants must hold.
#include "core/terminal/TerminalKeys.h"
#include "core/terminal/TerminalMouse.h"
#include "core/terminal/TerminalScreen.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <utility>

namespace {

QByteArray unescape(const QString& text) {
    static const char kCodes[] = "ernbtas";
    static const char kBytes[] = "\x1b\r\n\b\t\a ";
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        if (utf8[i] != '\\' || i + 1 >= utf8.size()) {
            out += utf8[i];
            continue;
        }
        const char code = utf8[++i];
        if (const char* simple = std::strchr(kCodes, code); simple && code) {
            out += kBytes[simple - kCodes];
        } else if (code == 'x') {
            out += char(utf8.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        } else if (code == 'u') {
            const qsizetype close = utf8.indexOf('}', i);
            const char32_t scalar = char32_t(utf8.mid(i + 2, close - i - 2).toUInt(nullptr, 16));
            out += QString::fromUcs4(&scalar, 1).toUtf8();
            i = close;
        } else {
            out += code;
        }
    }
    return out;
}

QString historyText(const TerminalScreen& screen, int index) {
    QString text;
    for (const TerminalCell& cell : screen.scrollbackLine(index)) {
        text += cell.text;
    }
    return text.remove(QRegularExpression(QStringLiteral(" +$")));
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

// The key press a "key" command names, e.g. "ctrl+shift+Up", "alt+a", "kp+numlock++".
TerminalKeyPress keyPress(const QString& chord) {
    // In TerminalKey's order.
    static const QStringList kNames = {
        "Text",  "Up",     "Down",   "Right",  "Left",     "Home",      "End",
        "Begin", "Insert", "Delete", "PageUp", "PageDown", "F1",        "F2",
        "F3",    "F4",     "F5",     "F6",     "F7",       "F8",        "F9",
        "F10",   "F11",    "F12",    "Enter",  "Tab",      "Backspace", "Escape"};
    static const std::map<QString, int> kModifiers = {{"shift", TerminalModifier::Shift},
                                                      {"alt", TerminalModifier::Alt},
                                                      {"ctrl", TerminalModifier::Control},
                                                      {"super", TerminalModifier::Super}};
    QStringList words = chord.split(QLatin1Char('+'));
    if (chord.endsWith(QLatin1String("++")) || chord == QLatin1String("+")) {
        words = chord.chopped(chord == QLatin1String("+") ? 1 : 2).split(QLatin1Char('+'));
        words.removeAll(QString());
        words.append(QStringLiteral("+"));
    }
    TerminalKeyPress press;
    const QString name = words.takeLast();
    for (const QString& word : words) {
        if (word == QLatin1String("kp")) {
            press.keypad = true;
        } else if (word == QLatin1String("numlock")) {
            press.numLock = true;
        } else {
            press.modifiers |= kModifiers.at(word);
        }
    }
    if (const qsizetype index = kNames.indexOf(name); index > 0) {
        press.key = TerminalKey(index);
    } else {
        const QString character = name == QLatin1String("space") ? QStringLiteral(" ") : name;
        press.base = character.toUcs4().value(0);
        // The layout's Shift: upper-case letters.
        press.text = press.modifiers & TerminalModifier::Shift ? character.toUpper() : character;
    }
    return press;
}

QString flag(bool value) {
    return QString::number(int(value));
}

QString pair(int first, int second) {
    return QStringLiteral("%1 %2").arg(first).arg(second);
}

// Checks key=value expectations against the values named by `actual`.
void expectValues(const std::string& where, const std::map<QString, QString>& actual,
                  const QString& expectations) {
    for (auto [key, value] : attributes(expectations)) {
        ASSERT_TRUE(actual.count(key)) << where << ": unknown key " << qPrintable(key);
        if ((key == "fg" || key == "bg" || key == "ulc") && value != "none") {
            value = TerminalColor::fromHex(value).hex();
        }
        EXPECT_EQ(actual.at(key).toStdString(), value.toStdString())
            << where << ", " << qPrintable(key);
    }
}

void expectCell(const std::string& where, const TerminalCell& cell, const QString& expectations) {
    static const char* const kUnderlines[] = {"none",  "single", "double",
                                              "curly", "dotted", "dashed"};
    expectValues(where,
                 {{"text", cell.text},
                  {"fg", describe(cell.foreground)},
                  {"bg", describe(cell.background)},
                  {"bold", flag(cell.bold)},
                  {"inverse", flag(cell.inverse)},
                  {"cont", flag(cell.continuation)},
                  {"italic", flag(cell.italic)},
                  {"dim", flag(cell.dim)},
                  {"blink", flag(cell.blink)},
                  {"conceal", flag(cell.conceal)},
                  {"strike", flag(cell.strikethrough)},
                  {"overline", flag(cell.overline)},
                  {"ul", QLatin1String(kUnderlines[std::size_t(cell.underline)])},
                  {"ulc", describe(cell.underlineColor)}},
                 expectations);
}

// How each feed is cut: kWhole, kByteByByte, or in two at byte `cut`.
constexpr int kWhole = -1;
constexpr int kByteByByte = 0;

void feedCut(TerminalScreen& screen, const QByteArray& bytes, int cut) {
    if (cut == kByteByByte) {
        for (const char byte : bytes) {
            screen.feed(QByteArrayView(&byte, 1));
        }
        return;
    }
    const qsizetype first = cut == kWhole ? bytes.size() : std::min<qsizetype>(cut, bytes.size());
    screen.feed(QByteArrayView(bytes.constData(), first));
    screen.feed(QByteArrayView(bytes.constData() + first, bytes.size() - first));
}

void runScript(const QString& name, const QStringList& lines, int cut) {
    const QString how = cut == kWhole        ? QStringLiteral("fed whole")
                        : cut == kByteByByte ? QStringLiteral("fed byte by byte")
                                             : QStringLiteral("fed cut at byte %1").arg(cut);
    auto screen = std::make_unique<TerminalScreen>();
    QByteArray replies;
    QStringList events;
    auto connect = [&replies, &events](TerminalScreen& target) {
        target.setOnResponse([&replies](const QString& reply) { replies += reply.toUtf8(); });
        target.setOnEvent([&events](const TerminalScreenEvent& event) {
            static const char* const kKinds[] = {"title", "directory", "progress",
                                                 "note",  "bell",      "copy"};
            QString text = QLatin1String(kKinds[int(event.kind)]);
            if (event.kind == TerminalScreenEvent::Kind::Notification) {
                text += QLatin1Char(':') + event.title + QLatin1Char(':') + event.body;
            } else if (event.kind == TerminalScreenEvent::Kind::ClipboardWrite) {
                // Long texts as their size and ends.
                text +=
                    QLatin1Char(':') + (event.body.size() <= 40 ? event.body
                                                                : QStringLiteral("%1…%2…%3")
                                                                      .arg(event.body.left(3))
                                                                      .arg(event.body.size())
                                                                      .arg(event.body.right(3)));
            }
            events.append(text);
        });
    };
    connect(*screen);
    for (int number = 0; number < lines.size(); ++number) {
        const QString line = lines[number].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        const std::string where =
            QStringLiteral("%1:%2 (%3)").arg(name).arg(number + 1).arg(how).toStdString();
        const qsizetype space = line.indexOf(QLatin1Char(' '));
        const QString command = line.left(space < 0 ? line.size() : space);
        const QString rest = space < 0 ? QString() : line.mid(space + 1);
        const QStringList words = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const int first = words.value(0).toInt();
        const int second = words.value(1).toInt();
        // Checks compare what they read from the screen with the rest of their line.
        std::optional<QString> actual;
        QString expected = QString::fromUtf8(unescape(rest));
        if (command == "screen") {
            screen = std::make_unique<TerminalScreen>(first, second);
            connect(*screen);
            replies.clear();
            events.clear();
        } else if (command == "feed") {
            feedCut(*screen, unescape(rest), cut);
        } else if (command == "text") {
            screen->feed(QStringView(expected));
        } else if (command == "resize") {
            screen->resize(first, second);
        } else if (command == "cell") {
            expectCell(where, screen->cell(first, second), rest);
        } else if (command == "hcell") {
            ASSERT_LT(first, screen->scrollbackSize()) << where;
            expectCell(where, screen->scrollbackCell(first, second), rest);
        } else if (command == "style") {
            expectCell(where, screen->style(), rest);
        } else if (command == "modes") {
            static const char* const kShapes[] = {"block", "underline", "bar"};
            static const char* const kTracking[] = {"none", "clicks", "drags", "motion"};
            static const char* const kEncodings[] = {"default", "utf8", "sgr"};
            expectValues(where,
                         {{"cursorVisible", flag(screen->cursorVisible())},
                          {"bracketedPaste", flag(screen->bracketedPaste())},
                          {"applicationCursor", flag(screen->applicationCursor())},
                          {"alternate", flag(screen->alternateScreenActive())},
                          {"autowrap", flag(screen->autowrap())},
                          {"insert", flag(screen->insertMode())},
                          {"origin", flag(screen->originMode())},
                          {"blink", flag(screen->cursorBlinking())},
                          {"updateOpen", flag(screen->updateOpen())},
                          {"focus", flag(screen->focusEvents())},
                          {"altScroll", flag(screen->alternateScroll())},
                          {"shape", QLatin1String(kShapes[std::size_t(screen->cursorShape())])},
                          {"mouse", QLatin1String(kTracking[std::size_t(screen->mouseTracking())])},
                          {"mouseEncoding",
                           QLatin1String(kEncodings[std::size_t(screen->mouseEncoding())])}},
                         rest);
        } else if (command == "keymodes") {
            expectValues(where,
                         {{"cursor", flag(screen->applicationCursor())},
                          {"keypad", flag(screen->applicationKeypad())},
                          {"flags", QString::number(screen->keyboardFlags())}},
                         rest);
        } else if (command == "tabs") {
            QStringList stops;
            for (int column = 0; column < screen->columns(); ++column) {
                if (screen->tabStopAt(column)) {
                    stops.append(QString::number(column));
                }
            }
            actual = stops.join(QLatin1Char(' '));
        } else if (command == "size") {
            actual = pair(screen->rows(), screen->columns());
        } else if (command == "cursor") {
            actual = pair(screen->row(), screen->column());
        } else if (command == "region") {
            actual = pair(screen->scrollTop(), screen->scrollBottom());
        } else if (command == "wrap") {
            actual = flag(screen->pendingWrap());
        } else if (command == "scrollback") {
            actual = QString::number(screen->scrollbackSize());
        } else if (command == "plain") {
            actual = screen->plainText();
        } else if (command == "link" || command == "hlink" || command == "linkid") {
            const std::optional<TerminalHyperlink> link =
                command == "hlink" ? screen->scrollbackLinkAt(first, second)
                                   : screen->linkAt(first, second);
            expected = QString::fromUtf8(unescape(rest.section(QLatin1Char(' '), 2)));
            actual = !link ? QStringLiteral("none") : command == "linkid" ? link->id : link->uri;
        } else if (command == "samelink") {
            const int a = screen->linkIndex(first, second);
            const int b = screen->linkIndex(words.value(2).toInt(), words.value(3).toInt());
            expected = words.value(4);
            actual = flag(a >= 0 && a == b);
        } else if (command == "links") {
            actual = QString::number(screen->linkCount());
        } else if (command == "mouse") {
            static const QStringList kKinds{"press", "release", "motion"};
            TerminalMouseEvent event{TerminalMouseEvent::Kind(kKinds.indexOf(words.value(0))),
                                     words.value(1).toInt(), words.value(2).toInt(),
                                     words.value(3).toInt(), 0};
            const QString modifiers = words.value(4);
            event.modifiers = (modifiers.contains("shift") ? TerminalMouseEvent::kShift : 0) |
                              (modifiers.contains("alt") ? TerminalMouseEvent::kAlt : 0) |
                              (modifiers.contains("ctrl") ? TerminalMouseEvent::kControl : 0);
            expected = QString::fromLatin1(unescape(rest.section(QLatin1Char(' '), 5)));
            actual = QString::fromLatin1(TerminalMouse::report(*screen, event));
        } else if (command == "focus") {
            expected = QString::fromLatin1(unescape(rest.section(QLatin1Char(' '), 1)));
            actual =
                QString::fromLatin1(TerminalMouse::focusReport(*screen, words.value(0) == "in"));
        } else if (command == "replies") {
            actual = QString::fromUtf8(std::exchange(replies, {}));
            expected.replace(QLatin1String("{version}"), QLatin1String(VELK_VERSION));
        } else if (command == "key") {
            expected = QString::fromUtf8(unescape(rest.section(QLatin1Char(' '), 1)));
            actual = terminalKeyInput(keyPress(words.value(0)), TerminalKeyModes::of(*screen));
        } else if (command == "colors") {
            screen->setDefaultColors(words.value(0).toUInt(nullptr, 16),
                                     words.value(1).toUInt(nullptr, 16),
                                     words.value(2).toUInt(nullptr, 16));
        } else if (command == "clipboard") {
            screen->setClipboardWritesAllowed(rest == "on");
        } else if (command == "title") {
            actual = screen->title();
        } else if (command == "icon") {
            actual = screen->iconName();
        } else if (command == "titles") {
            actual = QString::number(screen->titleStackSize());
        } else if (command == "directory") {
            actual = screen->currentDirectory();
        } else if (command == "progress") {
            actual = pair(screen->progress().state, screen->progress().percent);
        } else if (command == "events") {
            actual = std::exchange(events, {}).join(QLatin1Char('|'));
        } else if (command == "row" || command == "history") {
            // The text after the row or history line number.
            expected = QString::fromUtf8(unescape(rest.mid(words.value(0).size() + 1)));
            if (command == "row") {
                actual = screen->rowText(first);
            } else {
                ASSERT_LT(first, screen->scrollbackSize()) << where;
                actual = historyText(*screen, first);
            }
        } else {
            FAIL() << where << ": unknown command " << qPrintable(command);
        }
        if (actual) {
            EXPECT_EQ(actual->toStdString(), expected.toStdString()) << where;
        }
        EXPECT_EQ(screen->invariantViolation(), QString()) << where;
    }
}

const QString kFolder = QStringLiteral(VELK_SOURCE_DIR "/tests/terminal/scripts/");

std::vector<std::string> scriptNames() {
    std::vector<std::string> names;
    for (const QString& name : QDir(kFolder).entryList({QStringLiteral("*.test")}, QDir::Files)) {
        names.push_back(name.toStdString());
    }
    return names;
}

class TerminalScript : public ::testing::TestWithParam<std::string> {};

TEST_P(TerminalScript, givesTheExpectedScreenHoweverTheOutputIsChunked) {
    const QString name = QString::fromStdString(GetParam());
    const QStringList lines =
        QString::fromUtf8(testing_support::readFile(kFolder + name)).split(QLatin1Char('\n'));
    ASSERT_GT(lines.size(), 1) << qPrintable(name);
    int longestFeed = 0;
    for (const QString& line : lines) {
        if (line.trimmed().startsWith(QLatin1String("feed "))) {
            longestFeed = std::max<int>(longestFeed, unescape(line.trimmed().mid(5)).size());
        }
    }
    // One report is enough: stop at the first way of feeding that fails.
    for (int cut = kWhole; cut < longestFeed && !HasFailure(); ++cut) {
        runScript(name, lines, cut);
    }
}

INSTANTIATE_TEST_SUITE_P(Scripts, TerminalScript, ::testing::ValuesIn(scriptNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param.substr(0, info.param.find('.'));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
