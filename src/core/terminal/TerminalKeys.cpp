#include "core/terminal/TerminalKeys.h"

#include "core/terminal/TerminalScreen.h"

#include <array>
#include <utility>

namespace {

// How a key that types no text is sent.
enum class Form : std::uint8_t {
    Cursor,    // CSI x, SS3 x in application cursor mode; CSI 1 ; m x with modifiers
    Function,  // SS3 x; CSI 1 ; m x with modifiers
    Tilde,     // CSI n ~; CSI n ; m ~ with modifiers
    Control,   // its C0 character; CSI n ; m u when disambiguated
};

struct KeyRow {
    TerminalKey key;
    Form form;
    int number;      // the parameter of CSI n ~ and CSI n u
    char final;      // the final character; for Form::Control the C0 character itself
    int keypadCode;  // the kitty code of the keypad key of this name (0: none)
};

// One row per TerminalKey after Text, in the enum's order.
constexpr KeyRow kKeys[] = {
    {TerminalKey::Up, Form::Cursor, 1, 'A', 57419},
    {TerminalKey::Down, Form::Cursor, 1, 'B', 57420},
    {TerminalKey::Right, Form::Cursor, 1, 'C', 57418},
    {TerminalKey::Left, Form::Cursor, 1, 'D', 57417},
    {TerminalKey::Home, Form::Cursor, 1, 'H', 57423},
    {TerminalKey::End, Form::Cursor, 1, 'F', 57424},
    {TerminalKey::Begin, Form::Cursor, 1, 'E', 57427},
    {TerminalKey::Insert, Form::Tilde, 2, '~', 57425},
    {TerminalKey::Delete, Form::Tilde, 3, '~', 57426},
    {TerminalKey::PageUp, Form::Tilde, 5, '~', 57421},
    {TerminalKey::PageDown, Form::Tilde, 6, '~', 57422},
    {TerminalKey::F1, Form::Function, 1, 'P', 0},
    {TerminalKey::F2, Form::Function, 1, 'Q', 0},
    {TerminalKey::F3, Form::Function, 1, 'R', 0},
    {TerminalKey::F4, Form::Function, 1, 'S', 0},
    {TerminalKey::F5, Form::Tilde, 15, '~', 0},
    {TerminalKey::F6, Form::Tilde, 17, '~', 0},
    {TerminalKey::F7, Form::Tilde, 18, '~', 0},
    {TerminalKey::F8, Form::Tilde, 19, '~', 0},
    {TerminalKey::F9, Form::Tilde, 20, '~', 0},
    {TerminalKey::F10, Form::Tilde, 21, '~', 0},
    {TerminalKey::F11, Form::Tilde, 23, '~', 0},
    {TerminalKey::F12, Form::Tilde, 24, '~', 0},
    {TerminalKey::Enter, Form::Control, 13, '\r', 57414},
    {TerminalKey::Tab, Form::Control, 9, '\t', 0},
    {TerminalKey::Backspace, Form::Control, 127, '\x7f', 0},
    {TerminalKey::Escape, Form::Control, 27, '\x1b', 0},
};
static_assert(std::size(kKeys) == std::size_t(TerminalKey::Escape));

constexpr bool rowsInEnumOrder() {
    for (std::size_t i = 0; i < std::size(kKeys); ++i) {
        if (std::size_t(kKeys[i].key) != i + 1) {
            return false;
        }
    }
    return true;
}
static_assert(rowsInEnumOrder());

// The keypad's character keys: the final of their SS3 form in application keypad mode and
// their kitty code.
struct KeypadRow {
    char32_t character;
    char applicationFinal;
    int code;
};

constexpr KeypadRow kKeypad[] = {
    {U'0', 'p', 57399}, {U'1', 'q', 57400}, {U'2', 'r', 57401}, {U'3', 's', 57402},
    {U'4', 't', 57403}, {U'5', 'u', 57404}, {U'6', 'v', 57405}, {U'7', 'w', 57406},
    {U'8', 'x', 57407}, {U'9', 'y', 57408}, {U'.', 'n', 57409}, {U'/', 'o', 57410},
    {U'*', 'j', 57411}, {U'-', 'm', 57412}, {U'+', 'k', 57413}, {U'=', 'X', 57415},
    {U',', 'l', 57416},
};
constexpr char kKeypadEnterFinal = 'M';

// The control characters Control gives with keys other than letters (letters give 1-26), as
// xterm sends them; other keys are not changed by Control.
constexpr std::pair<char32_t, char16_t> kControlCharacters[] = {
    {U' ', 0x00},  {U'2', 0x00}, {U'@', 0x00}, {U'3', 0x1b}, {U'[', 0x1b}, {U'4', 0x1c},
    {U'\\', 0x1c}, {U'5', 0x1d}, {U']', 0x1d}, {U'6', 0x1e}, {U'^', 0x1e}, {U'~', 0x1e},
    {U'7', 0x1f},  {U'_', 0x1f}, {U'/', 0x1f}, {U'8', 0x7f}, {U'?', 0x7f},
};

constexpr int kLegacyModifiers =
    TerminalModifier::Shift | TerminalModifier::Alt | TerminalModifier::Control;
constexpr int kAllModifiers = kLegacyModifiers | TerminalModifier::Super;
const QString kEscape = QStringLiteral("\x1b");
const QString kCsi = QStringLiteral("\x1b[");
const QString kSs3 = QStringLiteral("\x1bO");

// CSI number ; 1 + modifiers final. Without modifiers the second parameter is left out, and
// so is a first parameter of 1 unless the final is "~" or "u".
QString sequence(int number, int modifiers, char final) {
    QString out = kCsi;
    if (modifiers != 0) {
        out += QStringLiteral("%1;%2").arg(number).arg(1 + modifiers);
    } else if (number != 1 || final == '~' || final == 'u') {
        out += QString::number(number);
    }
    out += QLatin1Char(final);
    return out;
}

const KeypadRow* keypadRow(char32_t character) {
    for (const KeypadRow& row : kKeypad) {
        if (row.character == character) {
            return &row;
        }
    }
    return nullptr;
}

char32_t lowerAscii(char32_t character) {
    return character >= U'A' && character <= U'Z' ? character + (U'a' - U'A') : character;
}

// The control character of Control with `base`, or -1 when Control leaves the key as it is.
int controlCharacter(char32_t base) {
    if (base >= U'a' && base <= U'z') {
        return int(base - U'a') + 1;
    }
    for (const auto& [key, character] : kControlCharacters) {
        if (key == base) {
            return character;
        }
    }
    return -1;
}

QString textKeyInput(const TerminalKeyPress& press, const TerminalKeyModes& modes) {
    const bool disambiguate = modes.keyboardFlags & 1;
    const int modifiers = press.modifiers & kAllModifiers;
    const char32_t base = lowerAscii(press.base);
    const bool commandModifiers =
        modifiers & (TerminalModifier::Alt | TerminalModifier::Control | TerminalModifier::Super);
    if (press.keypad) {
        if (const KeypadRow* row = keypadRow(base)) {
            if (disambiguate && commandModifiers) {
                return sequence(row->code, modifiers, 'u');
            }
            if (!disambiguate && modes.applicationKeypad && !press.numLock &&
                (modifiers & kLegacyModifiers) == 0) {
                return kSs3 + QLatin1Char(row->applicationFinal);
            }
        }
    }
    if (disambiguate) {
        if (!commandModifiers) {
            return press.text;
        }
        return base != 0 ? sequence(int(base), modifiers, 'u') : QString();
    }
    QString out = press.text;
    if (modifiers & TerminalModifier::Control) {
        if (const int control = controlCharacter(base); control >= 0) {
            out = QChar(char16_t(control));
        }
    }
    if (!out.isEmpty() && (modifiers & TerminalModifier::Alt)) {
        out.prepend(kEscape);
    }
    return out;
}

}  // namespace

TerminalKeyModes TerminalKeyModes::of(const TerminalScreen& screen) {
    return {screen.applicationCursor(), screen.applicationKeypad(), screen.keyboardFlags()};
}

QString terminalKeyInput(const TerminalKeyPress& press, const TerminalKeyModes& modes) {
    if (press.key == TerminalKey::Text) {
        return textKeyInput(press, modes);
    }
    const KeyRow& row = kKeys[std::size_t(press.key) - 1];
    if (modes.keyboardFlags & 1) {
        // Disambiguated: only the CSI forms, the keypad's keys under their own codes, and
        // Enter, Tab and Backspace as themselves while no modifier is held.
        const int modifiers = press.modifiers & kAllModifiers;
        if (press.keypad && row.keypadCode != 0) {
            return sequence(row.keypadCode, modifiers, 'u');
        }
        if (row.form != Form::Control) {
            return sequence(row.number, modifiers, row.final);
        }
        if (modifiers == 0 && press.key != TerminalKey::Escape) {
            return QString(QLatin1Char(row.final));
        }
        return sequence(row.number, modifiers, 'u');
    }

    const int modifiers = press.modifiers & kLegacyModifiers;
    switch (row.form) {
        case Form::Cursor:
            if (modifiers == 0) {
                return (modes.applicationCursor ? kSs3 : kCsi) + QLatin1Char(row.final);
            }
            return sequence(1, modifiers, row.final);
        case Form::Function:
            return modifiers == 0 ? kSs3 + QLatin1Char(row.final)
                                  : sequence(1, modifiers, row.final);
        case Form::Tilde:
            return sequence(row.number, modifiers, '~');
        case Form::Control:
            break;
    }
    QString out;
    if (press.keypad && press.key == TerminalKey::Enter && modes.applicationKeypad &&
        !press.numLock && modifiers == 0) {
        out = kSs3 + QLatin1Char(kKeypadEnterFinal);
    } else if (press.key == TerminalKey::Tab && (modifiers & TerminalModifier::Shift)) {
        out = kCsi + QLatin1Char('Z');
    } else if (press.key == TerminalKey::Backspace && (modifiers & TerminalModifier::Control)) {
        out = QStringLiteral("\x08");
    } else {
        out = QLatin1Char(row.final);
    }
    if (modifiers & TerminalModifier::Alt) {
        out.prepend(kEscape);
    }
    return out;
}
