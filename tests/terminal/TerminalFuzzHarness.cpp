#include "TerminalFuzzHarness.h"

#include "core/terminal/TerminalScreen.h"

#include <algorithm>

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
        if (!reply.startsWith(QLatin1String("\x1b[")) && violation.isEmpty()) {
            violation = QStringLiteral("malformed reply %1").arg(reply);
        }
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
            screen.resize(data[offset] % 70, data[offset + 1] % 220);
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
