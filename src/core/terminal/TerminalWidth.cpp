#include "core/terminal/TerminalWidth.h"

namespace terminal_width_detail {
#include "core/terminal/TerminalWidthTable.inc"
}  // namespace terminal_width_detail
