#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

// Drives a terminal screen with one fuzz input and checks the screen's invariants after
// every call. The input is a little program: two bytes pick the starting size, then each
// operation byte either feeds the next 1-64 bytes as output (raw, raw under a small work
// limit with the rest fed after it, or as decoded text), resizes the screen, or feeds a burst
// of hyperlinks; a new width must keep the written texts and the cursor on its character.
// The screen's events go to an event log; replies, event texts and the log's size are
// checked too. Returns the first violation found, or an empty text.
QString runTerminalFuzzInput(const std::uint8_t* data, std::size_t size);
