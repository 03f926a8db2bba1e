#pragma once

/// How many cells a scalar takes on the terminal grid.
enum class TerminalCellWidth : unsigned char {
    Zero = 0,  ///< joins the previous cell: combining marks and zero-width format characters
    Single = 1,
    Double = 2,  ///< East Asian Wide and Fullwidth, emoji
};

namespace terminal_width_detail {
// The cell class of every scalar in two stages: a block number per 256 scalars, then the
// classes of the distinct blocks (TerminalWidthTable.inc).
extern const unsigned char kCellClassBlockIndex[4352];
extern const unsigned char kCellClassBlocks[][256];
}  // namespace terminal_width_detail

/// Inline: the screen asks for every character it prints.
inline TerminalCellWidth terminalCellWidth(char32_t scalar) {
    if (scalar < 0x300 || scalar > 0x10FFFF) {
        return TerminalCellWidth::Single;
    }
    const unsigned block = terminal_width_detail::kCellClassBlockIndex[scalar >> 8];
    return TerminalCellWidth(terminal_width_detail::kCellClassBlocks[block][scalar & 0xFF]);
}
