// The keyboard half of TerminalView: what a key press is to the terminal, and the keys that
// scroll the view instead of reaching the program.
#include "core/terminal/TerminalKeys.h"
#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSession.h"
#include "ui/terminal/TerminalView.h"

#include <QKeyEvent>

#include <algorithm>

namespace {

struct QtKeyRow {
    int qtKey;
    TerminalKey key;
};

constexpr QtKeyRow kQtKeys[] = {
    {Qt::Key_Up, TerminalKey::Up},
    {Qt::Key_Down, TerminalKey::Down},
    {Qt::Key_Right, TerminalKey::Right},
    {Qt::Key_Left, TerminalKey::Left},
    {Qt::Key_Home, TerminalKey::Home},
    {Qt::Key_End, TerminalKey::End},
    {Qt::Key_Clear, TerminalKey::Begin},
    {Qt::Key_Insert, TerminalKey::Insert},
    {Qt::Key_Delete, TerminalKey::Delete},
    {Qt::Key_PageUp, TerminalKey::PageUp},
    {Qt::Key_PageDown, TerminalKey::PageDown},
    {Qt::Key_F1, TerminalKey::F1},
    {Qt::Key_F2, TerminalKey::F2},
    {Qt::Key_F3, TerminalKey::F3},
    {Qt::Key_F4, TerminalKey::F4},
    {Qt::Key_F5, TerminalKey::F5},
    {Qt::Key_F6, TerminalKey::F6},
    {Qt::Key_F7, TerminalKey::F7},
    {Qt::Key_F8, TerminalKey::F8},
    {Qt::Key_F9, TerminalKey::F9},
    {Qt::Key_F10, TerminalKey::F10},
    {Qt::Key_F11, TerminalKey::F11},
    {Qt::Key_F12, TerminalKey::F12},
    {Qt::Key_Return, TerminalKey::Enter},
    {Qt::Key_Enter, TerminalKey::Enter},
    {Qt::Key_Tab, TerminalKey::Tab},
    {Qt::Key_Backtab, TerminalKey::Tab},
    {Qt::Key_Backspace, TerminalKey::Backspace},
    {Qt::Key_Escape, TerminalKey::Escape},
};

// The X11 modifier bit Num Lock sets (Mod2), which both the X11 and the Wayland platform
// report among the native modifiers.
constexpr quint32 kNativeNumLock = 0x10;

// Qt's keys below this value are Unicode characters (letters in upper case).
constexpr int kFirstSpecialKey = 0x01000000;

}  // namespace

QString TerminalView::encodeKey(const QKeyEvent& event, const TerminalKeyModes& modes) {
    const Qt::KeyboardModifiers qtModifiers = event.modifiers();
    const int qtKey = event.key();
    TerminalKeyPress press;
    press.modifiers = (qtModifiers & Qt::ShiftModifier ? TerminalModifier::Shift : 0) |
                      (qtModifiers & Qt::AltModifier ? TerminalModifier::Alt : 0) |
                      (qtModifiers & Qt::ControlModifier ? TerminalModifier::Control : 0) |
                      (qtModifiers & Qt::MetaModifier ? TerminalModifier::Super : 0);
    // Qt names the keypad's Enter apart; Shift+Tab arrives as Backtab, not always with Shift.
    press.keypad = (qtModifiers & Qt::KeypadModifier) || qtKey == Qt::Key_Enter;
    if (qtKey == Qt::Key_Backtab) {
        press.modifiers |= TerminalModifier::Shift;
    }
    const auto row = std::find_if(std::begin(kQtKeys), std::end(kQtKeys),
                                  [qtKey](const QtKeyRow& r) { return r.qtKey == qtKey; });
    if (row != std::end(kQtKeys)) {
        press.key = row->key;
    } else if (qtKey > 0 && qtKey < kFirstSpecialKey) {
        press.base = QChar::toLower(char32_t(qtKey));
        press.text = event.text();
    }
    // A keypad key typing a digit shows Num Lock on; the others are told by the native bit.
    press.numLock = (press.keypad && qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) ||
                    (event.nativeModifiers() & kNativeNumLock);
    return terminalKeyInput(press, modes);
}

bool TerminalView::scrollByKey(const QKeyEvent& event) {
    if ((event.modifiers() & ~Qt::KeypadModifier) != Qt::ShiftModifier) {
        return false;
    }
    const int page = m_session->screen().rows();
    switch (event.key()) {
        case Qt::Key_PageUp:
            setScrollOffset(m_scrollOffset + page);
            return true;
        case Qt::Key_PageDown:
            setScrollOffset(m_scrollOffset - page);
            return true;
        case Qt::Key_Home:
            setScrollOffset(scrollbackSize());
            return true;
        case Qt::Key_End:
            setScrollOffset(0);
            return true;
        default:
            return false;
    }
}
