#include "TerminalFuzzHarness.h"

#include "core/terminal/TerminalEventLog.h"
#include "core/terminal/TerminalScreen.h"

#include <QStringList>

#include <algorithm>
#include <vector>

namespace {

// The texts of the main screen and the scrollback as written: wrapped lines joined, without
// spaces (a blank last cell before a double-width character is padding, and re-wrapping
// moves the blanks that remain), trailing empty texts left out.
QStringList writtenTexts(const TerminalScreen& screen) {
    QStringList texts;
    QString current;
    auto add = [&](auto cellText, int width, bool wrapped) {
        for (int column = 0; column < width; ++column) {
            current += cellText(column);
        }
        if (!wrapped) {
            current.remove(QLatin1Char(' '));
            texts.append(current);
            current.clear();
        }
    };
    for (int index = 0; index < screen.scrollbackSize(); ++index) {
        add([&](int column) { return screen.scrollbackCellText(index, column); },
            screen.scrollbackLineWidth(index), screen.scrollbackLineWrapped(index));
    }
    for (int row = 0; row < screen.rows(); ++row) {
        add([&](int column) { return screen.cellText(row, column); }, screen.columns(),
            screen.rowWrapped(row));
    }
    add([](int) { return QString(); }, 0, false);  // the last line may wrap in place
    while (!texts.isEmpty() && texts.back().isEmpty()) {
        texts.removeLast();
    }
    return texts;
}

// Re-wrapping keeps the texts: those after are a run of those before, except that the first
// may have lost its start (to the scrollback limit) and the last its end (cut below the
// cursor).
bool keepsTexts(const QStringList& before, const QStringList& after) {
    const qsizetype count = after.size();
    if (count == 0) {
        return true;
    }
    for (qsizetype start = 0; start + count <= before.size(); ++start) {
        bool match = count == 1 ? before[start].contains(after[0])
                                : before[start].endsWith(after[0]) &&
                                      before[start + count - 1].startsWith(after[count - 1]);
        for (qsizetype i = 1; match && i + 1 < count; ++i) {
            match = before[start + i] == after[i];
        }
        if (match) {
            return true;
        }
    }
    return false;
}

// No double-width character is split between a line and the next one it wraps into.
QString splitWideCharacter(const TerminalScreen& screen) {
    const int last = screen.columns() - 1;
    for (int row = 0; row + 1 < screen.rows(); ++row) {
        if (screen.rowWrapped(row) && screen.cell(row + 1, 0).continuation &&
            !screen.cell(row, last).continuation) {
            return QStringLiteral("a character is split between lines %1 and %2")
                .arg(row)
                .arg(row + 1);
        }
    }
    return {};
}

// Resizes, checking on the main screen that a new width keeps the texts and the cursor on
// its character.
QString resizeChecked(TerminalScreen& screen, int rows, int columns) {
    const bool rewraps = !screen.alternateScreenActive() &&
                         std::max(columns, TerminalScreen::kMinimumColumns) != screen.columns();
    if (!rewraps) {
        screen.resize(rows, columns);
        return {};
    }
    const QStringList before = writtenTexts(screen);
    const QString cursorText =
        screen.pendingWrap() ? QString() : screen.cellText(screen.row(), screen.column());
    screen.resize(rows, columns);
    if (!keepsTexts(before, writtenTexts(screen))) {
        return QStringLiteral("re-wrapping to %1 columns lost or changed text").arg(columns);
    }
    if (!cursorText.trimmed().isEmpty() &&
        screen.cellText(screen.row(), screen.column()) != cursorText) {
        return QStringLiteral("re-wrapping moved the cursor off '%1'").arg(cursorText);
    }
    return splitWideCharacter(screen);
}

}  // namespace

namespace {

// `count` links of one character each. Variant bits: 1 no ids, 2 a line break now and then,
// 4 a few addresses only (ids then share entries).
QByteArray linkBurst(int count, int variant) {
    QByteArray bytes;
    for (int i = 0; i < count; ++i) {
        const QByteArray number = QByteArray::number((variant & 4) ? i % 5 : i);
        bytes += "\x1b]8;" + ((variant & 1) ? QByteArray() : "id=" + number) + ";http://f/" +
                 number + "\x1b\\x";
        if ((variant & 2) && i % 7 == 6) {
            bytes += "\r\n";
        }
    }
    return bytes + "\x1b]8;;\x1b\\";
}

}  // namespace

QString runTerminalFuzzInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return {};
    }
    // The constructor accepts any size from 1 × 1 on; resize raises to 3 × 10.
    TerminalScreen screen(1 + data[0] % 60, 1 + data[1] % 140);
    QString violation;
    screen.setOnResponse([&violation](const QString& reply) {
        // Control sequences, colour reports and the version; never anything else.
        const bool known = reply.startsWith(QLatin1String("\x1b[")) ||
                           reply.startsWith(QLatin1String("\x1b]")) ||
                           reply.startsWith(QLatin1String("\x1bP>|VELK "));
        if (!known && violation.isEmpty()) {
            violation = QStringLiteral("malformed reply %1").arg(reply);
        }
    });
    // Events go to a log as a session keeps them, on a clock that advances 100 ms per event:
    // just within the rate limit, so the log fills to its capacity.
    screen.setClipboardWritesAllowed(data[0] & 1);
    TerminalEventLog events;
    qint64 clock = 0;
    screen.setOnEvent([&](const TerminalScreenEvent& event) {
        const bool clipboard = event.kind == TerminalScreenEvent::Kind::ClipboardWrite;
        if (clipboard && !screen.clipboardWritesAllowed() && violation.isEmpty()) {
            violation = QStringLiteral("a clipboard write while not allowed");
        }
        const qsizetype limit = clipboard ? TerminalScreen::kMaxClipboardBytes
                                          : 2 * TerminalScreen::kMaxNotificationLength;
        if ((event.title.size() > limit || event.body.size() > limit) && violation.isEmpty()) {
            violation = QStringLiteral("an event text of %1 and %2 units")
                            .arg(event.title.size())
                            .arg(event.body.size());
        }
        clock += 100;
        events.add({TerminalEvent::Kind::Bell, event.title, event.body, {}}, clock);
    });
    std::size_t offset = 2;
    int bursts = 0;
    while (offset < size && violation.isEmpty()) {
        const std::uint8_t operation = data[offset++];
        if (operation >= 0xE8 && operation <= 0xEF) {
            // A burst of links, enough to fill the link table that short inputs never reach.
            if (offset + 1 > size) {
                break;
            }
            // Two per input are enough to fill it, and keep the input quick to run.
            if (++bursts <= 2) {
                screen.feed(QByteArrayView(linkBurst((data[offset] + 1) * 16, operation & 7)));
            }
            offset += 1;
        } else if (operation >= 0xF0 && operation <= 0xF7) {
            if (offset + 2 > size) {
                break;
            }
            violation = resizeChecked(screen, data[offset] % 70, data[offset + 1] % 220);
            offset += 2;
        } else {
            const std::size_t length = std::min<std::size_t>(size - offset, (operation & 0x3F) + 1);
            const char* chunk = reinterpret_cast<const char*>(data + offset);
            if (operation >= 0xF8) {
                screen.feed(QStringView(QString::fromUtf8(chunk, qsizetype(length))));
            } else if (operation >= 0x80 && operation < 0xC0) {
                // With a small work limit, the way a session feeds: the rest comes later.
                const QByteArrayView bytes(chunk, qsizetype(length));
                for (qsizetype fed = 0; fed < bytes.size() && violation.isEmpty();) {
                    const qsizetype read =
                        screen.feed(bytes.sliced(fed), 1 + (operation & 0x0F) * 8);
                    if (read <= 0) {
                        violation = QStringLiteral("a limited feed read nothing");
                    }
                    fed += read;
                }
            } else {
                screen.feed(QByteArrayView(chunk, qsizetype(length)));
            }
            offset += length;
        }
        if (violation.isEmpty()) {
            violation = screen.invariantViolation();
        }
        if (violation.isEmpty() && screen.scrollbackSize() > TerminalScreen::kScrollbackLimit) {
            violation = QStringLiteral("scrollback over its limit");
        }
        if (violation.isEmpty() && screen.linkCount() > TerminalLinkTable::kCapacity) {
            violation = QStringLiteral("link table over its limit");
        }
        if (violation.isEmpty() && int(events.events().size()) > TerminalEventLog::kCapacity) {
            violation = QStringLiteral("%1 events kept").arg(events.events().size());
        }
    }
    if (violation.isEmpty()) {
        // Every public view of every cell must be readable.
        for (int row = 0; row < screen.rows(); ++row) {
            for (int column = 0; column < screen.columns(); ++column) {
                const std::optional<TerminalHyperlink> link = screen.linkAt(row, column);
                if (link && (link->uri.isEmpty() || link->index != screen.linkIndex(row, column))) {
                    return QStringLiteral("cell (%1, %2) has a broken link").arg(row).arg(column);
                }
                const TerminalCell cell = screen.cell(row, column);
                if (cell.continuation != cell.text.isEmpty()) {
                    return QStringLiteral("cell (%1, %2) has text '%3' and continuation %4")
                        .arg(row)
                        .arg(column)
                        .arg(cell.text)
                        .arg(cell.continuation);
                }
            }
        }
        (void)screen.plainText();
    }
    return violation;
}
