#include "core/terminal/TerminalCell.h"

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
    return object;
}
