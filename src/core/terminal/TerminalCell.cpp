#include "core/terminal/TerminalCell.h"

#include <utility>

TerminalColor TerminalColor::fromHex(QStringView text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && !text[start].isLetterOrNumber()) {
        ++start;
    }
    while (end > start && !text[end - 1].isLetterOrNumber()) {
        --end;
    }
    bool ok = false;
    const qulonglong value = text.mid(start, end - start).toULongLong(&ok, 16);
    return fromRgb(ok ? std::uint32_t(value & 0xFFFFFF) : 0);
}

QString TerminalColor::hex() const {
    return QStringLiteral("%1%2%3")
        .arg(red, 2, 16, QLatin1Char('0'))
        .arg(green, 2, 16, QLatin1Char('0'))
        .arg(blue, 2, 16, QLatin1Char('0'))
        .toUpper();
}

QJsonObject toJson(const TerminalCell& cell) {
    QJsonObject object{{QStringLiteral("text"), cell.text},
                       {QStringLiteral("bold"), cell.bold},
                       {QStringLiteral("inverse"), cell.inverse},
                       {QStringLiteral("continuation"), cell.continuation}};
    if (cell.foreground) {
        object.insert(QStringLiteral("foreground"), cell.foreground->hex());
    }
    if (cell.background) {
        object.insert(QStringLiteral("background"), cell.background->hex());
    }
    const std::pair<const char*, bool> flags[] = {{"italic", cell.italic},
                                                  {"dim", cell.dim},
                                                  {"blink", cell.blink},
                                                  {"conceal", cell.conceal},
                                                  {"strikethrough", cell.strikethrough},
                                                  {"overline", cell.overline}};
    for (const auto& [key, set] : flags) {
        if (set) {
            object.insert(QLatin1String(key), true);
        }
    }
    if (cell.underline != TerminalUnderline::None) {
        static const char* const kStyles[] = {"none",  "single", "double",
                                              "curly", "dotted", "dashed"};
        object.insert(QStringLiteral("underline"),
                      QLatin1String(kStyles[std::size_t(cell.underline)]));
    }
    if (cell.underlineColor) {
        object.insert(QStringLiteral("underlineColor"), cell.underlineColor->hex());
    }
    return object;
}
