#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

// Drives a terminal screen with one fuzz input and checks the screen's invariants after
// every call. The input is a little program: two bytes pick the starting size, then each
// operation byte either feeds the next 1-64 bytes as output (raw, raw under a small work
// limit with the rest fed after it, or as decoded text), resizes the screen, or feeds a burst
// of hyperlinks. Returns the first violation found, or an empty text.
QString runTerminalFuzzInput(const std::uint8_t* data, std::size_t size);
