#pragma once

// Small helpers shared by the screen's source files.

#include "core/terminal/TerminalCell.h"

#include <QString>

#include <vector>

namespace terminal_detail {

inline constexpr PackedCell kBlankCell{};

inline void appendScalar(QString& text, char32_t scalar) {
    if (scalar < 0x10000) {
        text.append(QChar(char16_t(scalar)));
    } else {
        const char32_t value = scalar - 0x10000;
        text.append(QChar(char16_t(0xD800 + (value >> 10))));
        text.append(QChar(char16_t(0xDC00 + (value & 0x3FF))));
    }
}

inline void blank(std::vector<PackedCell>& cells, int columns) {
    cells.assign(std::size_t(columns), kBlankCell);
}

}  // namespace terminal_detail
