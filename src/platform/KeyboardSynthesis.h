#pragma once

#include "core/base/Result.h"

#include <QString>

#include <functional>
#include <optional>

// Synthetic keyboard input on X11 through the XTEST extension: shortcuts through libxdo,
// text through key events of its own that bind missing characters to free keys. Input goes to
// whichever window holds the keyboard focus, so every call takes a check that the intended
// window still has it; the check runs before the first key and again between groups of
// characters, and input stops as soon as it fails. Calls block while typing (about 8 ms per
// character) and may run on any thread: each opens its own display connection. The keys are
// sent by the desktop module (platform/DesktopModule.h); without it every call fails with the
// reason.
namespace KeyboardSynthesis {

using FocusCheck = std::function<bool()>;

// The xdo key sequence for a key name of the plan allow-list: the plain keys by their X
// keysym names, Command shortcuts with Control ("command+a" → "ctrl+a"). Nothing for
// other names.
std::optional<QString> keySequence(const QString& keyName);

// Types the text. Fails with the reason when not every character was typed.
Result<void> typeText(const QString& text, const FocusCheck& stillFocused);

// Presses and releases the key sequence (for example "ctrl+a").
Result<void> pressKeys(const QString& sequence, const FocusCheck& stillFocused);

}  // namespace KeyboardSynthesis
