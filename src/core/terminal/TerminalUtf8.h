#pragma once

#include <cstdint>

/// A scalar decoded from UTF-8, and how many bytes it took; `length` is 0 when the bytes
/// were not one whole, valid sequence.
struct TerminalUtf8Scalar {
    char32_t value = 0;
    int length = 0;
};

/// Decodes the sequence whose lead byte (0x80 or above) is at `bytes`, when it is whole
/// before `end` and valid: continuation bytes 10xxxxxx, and a value that is neither an
/// overlong form nor a surrogate nor above U+10FFFF, which is what the parser's
/// byte-by-byte decoder accepts. Anything else (an invalid byte, a sequence cut by the
/// chunk's end) gives length 0 and is left to that decoder, which owns every error and
/// boundary case. Inline: the text writers call it for every character.
[[gnu::always_inline]] inline TerminalUtf8Scalar decodeTerminalUtf8(const std::uint8_t* bytes,
                                                                    const std::uint8_t* end) {
    const std::uint8_t lead = bytes[0];
    const auto available = end - bytes;
    // Three-byte sequences first: most text outside ASCII (CJK, symbols, box drawing) is
    // made of them.
    if (lead >= 0xE0) {
        if (lead <= 0xEF && available >= 3) {
            const char32_t second = bytes[1];
            const char32_t third = bytes[2];
            const char32_t value =
                (char32_t(lead & 0x0F) << 12) | ((second & 0x3F) << 6) | (third & 0x3F);
            if (((second & 0xC0) | ((third & 0xC0) << 8)) != 0x8080 || value < 0x800 ||
                value - 0xD800 < 0x800) {
                return {};
            }
            return {value, 3};
        }
        if (lead <= 0xF4 && available >= 4) {
            const char32_t second = bytes[1];
            const char32_t third = bytes[2];
            const char32_t fourth = bytes[3];
            const char32_t value = (char32_t(lead & 0x07) << 18) | ((second & 0x3F) << 12) |
                                   ((third & 0x3F) << 6) | (fourth & 0x3F);
            if (((second & 0xC0) | ((third & 0xC0) << 8) | ((fourth & 0xC0) << 16)) != 0x808080 ||
                value < 0x10000 || value > 0x10FFFF) {
                return {};
            }
            return {value, 4};
        }
        return {};
    }
    if (lead >= 0xC2 && available >= 2 && (bytes[1] & 0xC0) == 0x80) {
        return {(char32_t(lead & 0x1F) << 6) | (bytes[1] & 0x3FU), 2};
    }
    return {};
}
