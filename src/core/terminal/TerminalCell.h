#pragma once

#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <optional>

/// An opaque sRGB colour (alpha is always 1) as the terminal stores it.
struct TerminalColor {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;

    /// 0xRRGGBB.
    std::uint32_t rgb() const { return (std::uint32_t(red) << 16) | (green << 8) | blue; }
    static TerminalColor fromRgb(std::uint32_t rgb) {
        return {std::uint8_t(rgb >> 16), std::uint8_t(rgb >> 8), std::uint8_t(rgb)};
    }
    /// Reads a six-digit hexadecimal colour text ("F4808A", "#f4808a"); anything unparsable
    /// gives black, and only the low 24 bits of a longer number count.
    static TerminalColor fromHex(QStringView text);
    /// Six upper-case hexadecimal digits, no "#".
    QString hex() const;

    bool operator==(const TerminalColor&) const = default;
};

/// One character cell as seen from outside the screen: a plain value record.
struct TerminalCell {
    QString text =
        QStringLiteral(" ");  ///< one scalar plus any combining marks; "" when continuation
    std::optional<TerminalColor> foreground;  ///< absent: the view's default text colour
    std::optional<TerminalColor> background;  ///< absent: no fill
    bool bold = false;
    bool inverse = false;
    bool continuation = false;  ///< right half of a double-width character, never drawn

    bool operator==(const TerminalCell&) const = default;
};

QJsonObject toJson(const TerminalCell& cell);

/// The compact form in which the screen stores a cell (12 bytes). Views that draw many
/// cells read this directly instead of building a TerminalCell per cell.
///
/// Layout: `codeAndFlags` holds the code point in bits 0-20 and the flags above it; each
/// colour word is 0 when absent, or kColorPresent | 0xRRGGBB.
struct PackedCell {
    static constexpr std::uint32_t kCodeMask = 0x1FFFFF;
    static constexpr std::uint32_t kBold = 1u << 21;
    static constexpr std::uint32_t kInverse = 1u << 22;
    static constexpr std::uint32_t kContinuation = 1u << 23;
    /// Combining marks follow the code point; TerminalScreen::cellText() has them.
    static constexpr std::uint32_t kHasCombining = 1u << 24;
    static constexpr std::uint32_t kColorPresent = 1u << 24;

    std::uint32_t codeAndFlags = U' ';
    std::uint32_t foregroundWord = 0;
    std::uint32_t backgroundWord = 0;

    char32_t codePoint() const { return codeAndFlags & kCodeMask; }
    bool bold() const { return codeAndFlags & kBold; }
    bool inverse() const { return codeAndFlags & kInverse; }
    bool continuation() const { return codeAndFlags & kContinuation; }
    bool hasCombining() const { return codeAndFlags & kHasCombining; }
    std::optional<TerminalColor> foreground() const { return colorOf(foregroundWord); }
    std::optional<TerminalColor> background() const { return colorOf(backgroundWord); }

    static std::optional<TerminalColor> colorOf(std::uint32_t word) {
        if (!(word & kColorPresent)) {
            return std::nullopt;
        }
        return TerminalColor::fromRgb(word & 0xFFFFFF);
    }

    bool operator==(const PackedCell&) const = default;
};
static_assert(sizeof(PackedCell) == 12);
