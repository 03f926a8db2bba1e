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

/// How a cell's text is underlined.
enum class TerminalUnderline : std::uint8_t { None, Single, Double, Curly, Dotted, Dashed };

/// One character cell as seen from outside the screen: a plain value record.
struct TerminalCell {
    QString text =
        QStringLiteral(" ");  ///< one scalar plus any combining marks; "" when continuation
    std::optional<TerminalColor> foreground;  ///< absent: the view's default text colour
    std::optional<TerminalColor> background;  ///< absent: no fill
    bool bold = false;
    bool inverse = false;
    bool continuation = false;  ///< right half of a double-width character, never drawn
    bool italic = false;
    bool dim = false;
    bool blink = false;
    bool conceal = false;  ///< the text is not drawn
    bool strikethrough = false;
    bool overline = false;
    TerminalUnderline underline = TerminalUnderline::None;
    std::optional<TerminalColor> underlineColor;  ///< absent: the text colour

    bool operator==(const TerminalCell&) const = default;
};

/// The cell as a JSON object: text, bold, inverse and continuation always; the colours and
/// the other attributes only when set, so a plain cell gives the same object as always.
QJsonObject toJson(const TerminalCell& cell);

/// The compact form in which the screen stores a cell (12 bytes). Views that draw many
/// cells read this directly instead of building a TerminalCell per cell.
///
/// Layout: `codeAndFlags` holds the code point in bits 0-20 and the flags above it. The low
/// 25 bits of each colour word are the colour: 0 when absent, or kColorPresent | 0xRRGGBB
/// (kColorMask selects them). Above the colour, the foreground word holds the underline
/// style and the background word the underline colour's slot in the screen's table
/// (TerminalScreen::underlineColor()), 0 for the text colour.
///
/// The hyperlink slot (0: no link, 1-31: an entry of the line's own list of links, which
/// points into the screen's link table; TerminalScreen::linkAt() follows it) takes the top
/// bit of `codeAndFlags` as its high bit and bits 28-31 of the foreground word as the rest.
/// A slot only means something on the line the cell is on.
struct PackedCell {
    static constexpr std::uint32_t kCodeMask = 0x1FFFFF;
    // Flags of codeAndFlags.
    static constexpr std::uint32_t kBold = 1u << 21;
    static constexpr std::uint32_t kInverse = 1u << 22;
    static constexpr std::uint32_t kContinuation = 1u << 23;
    /// Combining marks follow the code point; TerminalScreen::cellText() has them.
    static constexpr std::uint32_t kHasCombining = 1u << 24;
    static constexpr std::uint32_t kItalic = 1u << 25;
    static constexpr std::uint32_t kDim = 1u << 26;
    static constexpr std::uint32_t kBlink = 1u << 27;
    static constexpr std::uint32_t kConceal = 1u << 28;
    static constexpr std::uint32_t kStrikethrough = 1u << 29;
    static constexpr std::uint32_t kOverline = 1u << 30;
    // Colour words.
    static constexpr std::uint32_t kColorPresent = 1u << 24;
    static constexpr std::uint32_t kColorMask = kColorPresent | 0xFFFFFF;
    static constexpr int kUnderlineShift = 25;  // foreground word: TerminalUnderline, 3 bits
    static constexpr std::uint32_t kUnderlineMask = 7u << kUnderlineShift;
    static constexpr int kUnderlineColorShift = 25;  // background word: table slot, 7 bits
    static constexpr std::uint32_t kUnderlineColorMask = 0x7Fu << kUnderlineColorShift;
    static constexpr int kUnderlineColorSlots = 128;  // slot 0 is the text colour
    // Hyperlink slot.
    static constexpr std::uint32_t kLinkSlotHigh = 1u << 31;  // codeAndFlags
    static constexpr int kLinkSlotShift = 28;                 // foreground word: low 4 bits
    static constexpr std::uint32_t kLinkSlotMask = 0xFu << kLinkSlotShift;
    static constexpr int kLinkSlots = 32;  // slot 0 is no link

    std::uint32_t codeAndFlags = U' ';
    std::uint32_t foregroundWord = 0;
    std::uint32_t backgroundWord = 0;

    char32_t codePoint() const { return codeAndFlags & kCodeMask; }
    bool bold() const { return codeAndFlags & kBold; }
    bool inverse() const { return codeAndFlags & kInverse; }
    bool continuation() const { return codeAndFlags & kContinuation; }
    bool hasCombining() const { return codeAndFlags & kHasCombining; }
    bool italic() const { return codeAndFlags & kItalic; }
    bool dim() const { return codeAndFlags & kDim; }
    bool blink() const { return codeAndFlags & kBlink; }
    bool conceal() const { return codeAndFlags & kConceal; }
    bool strikethrough() const { return codeAndFlags & kStrikethrough; }
    bool overline() const { return codeAndFlags & kOverline; }
    TerminalUnderline underline() const {
        return TerminalUnderline((foregroundWord & kUnderlineMask) >> kUnderlineShift);
    }
    int underlineColorSlot() const {
        return int((backgroundWord & kUnderlineColorMask) >> kUnderlineColorShift);
    }
    int linkSlot() const {
        return int(foregroundWord >> kLinkSlotShift) | int((codeAndFlags >> 31) << 4);
    }
    /// Replaces the link slot (0 … kLinkSlots - 1).
    void setLinkSlot(int slot) {
        foregroundWord =
            (foregroundWord & ~kLinkSlotMask) | ((std::uint32_t(slot) & 0xF) << kLinkSlotShift);
        codeAndFlags = (codeAndFlags & ~kLinkSlotHigh) | (std::uint32_t(slot >> 4) << 31);
    }
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
