#include "core/appearance/HexColor.h"

#include <QChar>

#include <cstdint>
#include <optional>

namespace {

// Letters, digits and the combining marks that belong to them; everything else around the
// digits ("#", blanks, quotes) is decoration and is stripped.
bool isLetterOrDigit(char32_t codePoint) {
    switch (QChar::category(codePoint)) {
        case QChar::Letter_Uppercase:
        case QChar::Letter_Lowercase:
        case QChar::Letter_Titlecase:
        case QChar::Letter_Modifier:
        case QChar::Letter_Other:
        case QChar::Mark_NonSpacing:
        case QChar::Mark_SpacingCombining:
        case QChar::Mark_Enclosing:
        case QChar::Number_DecimalDigit:
        case QChar::Number_Letter:
        case QChar::Number_Other:
            return true;
        default:
            return false;
    }
}

// The code point that starts at `index`, and how many UTF-16 units it takes.
std::pair<char32_t, qsizetype> codePointAt(QStringView text, qsizetype index) {
    const QChar unit = text[index];
    if (unit.isHighSurrogate() && index + 1 < text.size() && text[index + 1].isLowSurrogate()) {
        return {QChar::surrogateToUcs4(unit, text[index + 1]), 2};
    }
    return {unit.unicode(), 1};
}

// The code point that ends just before `end`, and how many UTF-16 units it takes.
std::pair<char32_t, qsizetype> codePointBefore(QStringView text, qsizetype end) {
    const QChar unit = text[end - 1];
    if (unit.isLowSurrogate() && end >= 2 && text[end - 2].isHighSurrogate()) {
        return {QChar::surrogateToUcs4(text[end - 2], unit), 2};
    }
    return {unit.unicode(), 1};
}

QStringView trimmedToLettersAndDigits(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end) {
        const auto [codePoint, length] = codePointAt(text, begin);
        if (isLetterOrDigit(codePoint)) {
            break;
        }
        begin += length;
    }
    while (end > begin) {
        const auto [codePoint, length] = codePointBefore(text, end);
        if (isLetterOrDigit(codePoint)) {
            break;
        }
        end -= length;
    }
    return text.sliced(begin, end - begin);
}

// Strict parse: hexadecimal digits only, no sign, no "0x", no inner blanks, and nothing
// for a number that does not fit in 64 bits.
std::optional<std::uint64_t> parseHex64(QStringView digits) {
    if (digits.isEmpty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const QChar unit : digits) {
        const char16_t c = unit.unicode();
        std::uint64_t digit = 0;
        if (c >= u'0' && c <= u'9') {
            digit = c - u'0';
        } else if (c >= u'a' && c <= u'f') {
            digit = c - u'a' + 10;
        } else if (c >= u'A' && c <= u'F') {
            digit = c - u'A' + 10;
        } else {
            return std::nullopt;
        }
        if (value > (UINT64_MAX >> 4)) {
            return std::nullopt;
        }
        value = (value << 4) | digit;
    }
    return value;
}

}  // namespace

QColor colorFromHex(QStringView text) {
    const std::uint64_t value = parseHex64(trimmedToLettersAndDigits(text)).value_or(0);
    return QColor(int((value >> 16) & 0xFF), int((value >> 8) & 0xFF), int(value & 0xFF));
}

QString hexFromColor(const QColor& color) {
    const QColor srgb = color.toRgb();
    if (!srgb.isValid()) {
        return QStringLiteral("00E5D0");
    }
    // QColor keeps 16 bits per channel; scaling those integers by 255/65535 with an integer
    // division is the exact truncation of channel × 255, free of floating-point rounding.
    const QRgba64 channels = srgb.rgba64();
    const auto to8Bits = [](quint16 channel) { return int(quint32(channel) * 255u / 65535u); };
    return QString::asprintf("%02X%02X%02X", to8Bits(channels.red()), to8Bits(channels.green()),
                             to8Bits(channels.blue()));
}
