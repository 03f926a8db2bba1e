#pragma once

#include <QByteArray>

#include <cstdint>

class TerminalScreen;

/// A mouse action over the grid, as a terminal reports it to the program.
struct TerminalMouseEvent {
    enum class Kind : std::uint8_t { Press, Release, Motion };
    /// Buttons as xterm numbers them: 4 and 5 are the wheel turned up and down, 6 and 7
    /// tilted left and right.
    enum Button : std::uint8_t {
        NoButton = 0,
        Left = 1,
        Middle = 2,
        Right = 3,
        WheelUp = 4,
        WheelDown = 5,
        WheelLeft = 6,
        WheelRight = 7,
    };
    /// Modifier bits, with the values the report gives them.
    static constexpr int kShift = 4;
    static constexpr int kAlt = 8;
    static constexpr int kControl = 16;

    Kind kind = Kind::Press;
    /// The button pressed or released; for motion the button held, or NoButton.
    int button = NoButton;
    int row = 0;  ///< 0-based, on the grid
    int column = 0;
    int modifiers = 0;
};

/// Encodes mouse, wheel and focus input the way the program asked for it with the mouse
/// modes (1000, 1002, 1003 tracking; 1005, 1006 encoding; 1004 focus; 1007 alternate
/// scroll). Pure functions of the screen's modes: the view decides which events happen.
namespace TerminalMouse {

/// Cursor-key presses one wheel notch sends under alternate scroll.
constexpr int kWheelLines = 3;

/// The bytes reporting `event` to the program, or none when its modes do not ask for it.
/// Presses and releases are reported from mode 1000 on, motion with a button held from
/// 1002, any motion with 1003; wheel turns are presses that are never released. With no
/// tracking on, a vertical wheel turn on the alternate screen sends kWheelLines cursor keys
/// (in the current cursor-key mode) while alternate scroll is on.
QByteArray report(const TerminalScreen& screen, const TerminalMouseEvent& event);

/// CSI I or CSI O when the program asked for focus events, else none.
QByteArray focusReport(const TerminalScreen& screen, bool focused);

}  // namespace TerminalMouse
