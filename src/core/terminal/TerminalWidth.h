#pragma once

/// How many cells a scalar takes on the terminal grid.
enum class TerminalCellWidth : unsigned char {
    Zero = 0,  ///< joins the previous cell: combining marks and zero-width format characters
    Single = 1,
    Double = 2,  ///< East Asian Wide and Fullwidth, emoji
};

TerminalCellWidth terminalCellWidth(char32_t scalar);
