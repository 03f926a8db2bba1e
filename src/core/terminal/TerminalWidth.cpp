#include "core/terminal/TerminalWidth.h"

namespace {
#include "core/terminal/TerminalWidthTable.inc"
}  // namespace

TerminalCellWidth terminalCellWidth(char32_t scalar) {
    if (scalar < 0x300) {
        return TerminalCellWidth::Single;
    }
    if (scalar > 0x10FFFF) {
        return TerminalCellWidth::Single;
    }
    const unsigned block = kCellClassBlockIndex[scalar >> 8];
    return TerminalCellWidth(kCellClassBlocks[block][scalar & 0xFF]);
}
