#pragma once

#include <QString>

#include <cstdint>

class TerminalScreen;

/// A key as the terminal encodes it: the keys that type no text of their own, or Text.
enum class TerminalKey : std::uint8_t {
    Text,  ///< a key that types a character: see TerminalKeyPress::base and text
    Up,
    Down,
    Right,
    Left,
    Home,
    End,
    Begin,  ///< the keypad's middle key with Num Lock off
    Insert,
    Delete,
    PageUp,
    PageDown,
    F1,
    F2,
    F3,
    F4,
    F5,
    F6,
    F7,
    F8,
    F9,
    F10,
    F11,
    F12,
    Enter,
    Tab,
    Backspace,
    Escape,
};

/// Modifier bits as terminals number them: a sequence carries 1 + the bits held.
namespace TerminalModifier {
enum : int { Shift = 1, Alt = 2, Control = 4, Super = 8 };
}

/// One key press, as the keyboard gave it.
struct TerminalKeyPress {
    TerminalKey key = TerminalKey::Text;
    /// Text keys: the key's own character without Shift (a lower-case letter, "2", "/"),
    /// what Control maps to a control character and the number a key code names.
    char32_t base = 0;
    /// Text keys: what the key types with Shift and the layout applied ("A", "@", "é").
    QString text;
    int modifiers = 0;  ///< TerminalModifier bits
    /// Pressed on the numeric keypad.
    bool keypad = false;
    /// Num Lock is on: the keypad types its characters also in application keypad mode.
    bool numLock = false;
};

/// The screen's modes that change what keys send.
struct TerminalKeyModes {
    bool applicationCursor = false;  ///< DECCKM
    bool applicationKeypad = false;  ///< DECKPAM
    int keyboardFlags = 0;           ///< the kitty keyboard protocol's flags in force

    static TerminalKeyModes of(const TerminalScreen& screen);
};

/// The kitty keyboard protocol's flags this terminal honours: 1, disambiguate escape codes.
/// Programs asking for more get these only, and the flags query reports them so.
inline constexpr int kSupportedKeyboardFlags = 1;

/// The input a key press sends to the program, empty when it sends nothing.
///
/// Without keyboard flags the keys follow xterm (TERM=xterm-256color): cursor keys, Home,
/// End and Begin as `CSI x`, or `SS3 x` in application cursor mode, `CSI 1 ; m x` with
/// modifiers; F1–F4 as `SS3 P`…`S`, `CSI 1 ; m P`…`S` with modifiers; the editing keys and
/// F5–F12 as `CSI n ~`, `CSI n ; m ~`; Shift+Tab as `CSI Z`; Control with a letter or one of
/// `space 2 3 4 5 6 7 8 @ [ \ ] ^ _ / ? ~` as the control character xterm sends; Alt as an
/// ESC before the rest. Keypad keys send `SS3 p`…`y`, `SS3 M` (Enter) … in application
/// keypad mode while Num Lock is off, and what their main-block twins send otherwise.
///
/// With the disambiguate flag (1) Escape, and text keys held with Control, Alt or Super, are
/// sent as `CSI code ; m u`, as are Enter, Tab and Backspace with any modifier and the
/// keypad's own keys; cursor and function keys always take the `CSI` forms; text is still
/// sent as text.
QString terminalKeyInput(const TerminalKeyPress& press, const TerminalKeyModes& modes);
