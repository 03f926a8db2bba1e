#include "platform/KeyboardSynthesis.h"

#include <QMap>
#include <QStringList>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <memory>

#include <unistd.h>

// libxdo's header pulls in Xlib; it comes after every Qt header.
extern "C" {
#include <xdo.h>
}
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

constexpr useconds_t kKeyDelayMicroseconds = 8000;
// How long clients get to handle keys typed with a binding before it changes.
constexpr useconds_t kRebindPauseMicroseconds = 500000;
// Characters typed between two focus checks.
constexpr int kCharactersPerCheck = 8;

const QString kNoLongerActive =
    QStringLiteral("The target app is no longer active. Nothing was typed. Try this step again.");

struct XdoDeleter {
    void operator()(xdo_t* xdo) const { xdo_free(xdo); }
};

std::unique_ptr<xdo_t, XdoDeleter> openXdo() {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        return nullptr;
    }
    return std::unique_ptr<xdo_t, XdoDeleter>(xdo_new(nullptr));
}

Error displayMissing() {
    return {Error::Kind::Unavailable, QStringLiteral("Accessibility permission is needed.")};
}

Error noLongerActive() {
    return {Error::Kind::Conflict, kNoLongerActive};
}

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;

DisplayHandle openDisplay() {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        return nullptr;
    }
    return DisplayHandle(XOpenDisplay(nullptr));
}

// Types Unicode text with XTEST key events. Characters the keyboard map lacks are bound to
// unused keycodes first. Clients look the map up again when it changes, and they do so in
// order with the key events, so added bindings are safe at once; a binding is only changed
// or removed after a pause that lets clients handle every key typed with it (libxdo's
// per-character rebinding loses characters to exactly that race).
class KeymapTyping {
public:
    explicit KeymapTyping(Display* display) : m_display(display) {
        XDisplayKeycodes(m_display, &m_minimum, &m_maximum);
        KeySym* map = XGetKeyboardMapping(m_display, KeyCode(m_minimum), m_maximum - m_minimum + 1,
                                          &m_perKeycode);
        if (map) {
            m_map.assign(map, map + (m_maximum - m_minimum + 1) * m_perKeycode);
            XFree(map);
        }
        for (int code = m_minimum; code <= m_maximum; ++code) {
            bool empty = true;
            for (int level = 0; level < m_perKeycode; ++level) {
                empty = empty && symbol(code, level) == NoSymbol;
            }
            if (empty) {
                m_spare.push_back(code);
            }
        }
        m_shift = XKeysymToKeycode(m_display, XK_Shift_L);
    }

    ~KeymapTyping() { releaseBindings(); }

    // Makes sure every scalar has a key. False when the keyboard has too few free keys.
    bool prepare(const QList<uint>& scalars) {
        std::vector<KeySym> missing;
        for (uint scalar : scalars) {
            const KeySym sym = keysymFor(scalar);
            if (!stroke(sym) && std::find(missing.begin(), missing.end(), sym) == missing.end()) {
                missing.push_back(sym);
            }
        }
        if (missing.empty()) {
            return true;
        }
        if (missing.size() > m_spare.size()) {
            return false;
        }
        if (m_bound.size() + missing.size() > m_spare.size()) {
            releaseBindings();
        }
        for (KeySym sym : missing) {
            const int code = m_spare[m_bound.size()];
            bind(code, sym);
            m_bound.push_back(code);
        }
        XSync(m_display, False);
        return true;
    }

    void type(uint scalar) {
        const std::optional<std::pair<int, bool>> key = stroke(keysymFor(scalar));
        if (!key) {
            return;
        }
        const auto [code, shifted] = *key;
        if (shifted && m_shift) {
            XTestFakeKeyEvent(m_display, m_shift, True, 0);
        }
        XTestFakeKeyEvent(m_display, code, True, 0);
        XTestFakeKeyEvent(m_display, code, False, 0);
        if (shifted && m_shift) {
            XTestFakeKeyEvent(m_display, m_shift, False, 0);
        }
        XSync(m_display, False);
        usleep(kKeyDelayMicroseconds);
    }

private:
    static KeySym keysymFor(uint scalar) {
        const bool latin1 =
            (scalar >= 0x20 && scalar <= 0x7E) || (scalar >= 0xA0 && scalar <= 0xFF);
        return latin1 ? KeySym(scalar) : KeySym(0x01000000 | scalar);
    }

    KeySym symbol(int code, int level) const {
        const size_t index = size_t(code - m_minimum) * m_perKeycode + level;
        return index < m_map.size() ? m_map[index] : NoSymbol;
    }

    // The keycode that produces the keysym, and whether Shift is needed.
    std::optional<std::pair<int, bool>> stroke(KeySym sym) const {
        for (int level = 0; level < std::min(m_perKeycode, 2); ++level) {
            for (int code = m_minimum; code <= m_maximum; ++code) {
                if (symbol(code, level) == sym) {
                    return std::pair(code, level == 1);
                }
            }
        }
        return std::nullopt;
    }

    void bind(int code, KeySym sym) {
        std::vector<KeySym> row(size_t(m_perKeycode), NoSymbol);
        if (sym != NoSymbol) {
            row[0] = sym;
            if (m_perKeycode > 1) {
                row[1] = sym;
            }
        }
        XChangeKeyboardMapping(m_display, code, m_perKeycode, row.data(), 1);
        std::copy(row.begin(), row.end(), m_map.begin() + (code - m_minimum) * m_perKeycode);
    }

    void releaseBindings() {
        if (m_bound.empty()) {
            return;
        }
        usleep(kRebindPauseMicroseconds);
        for (int code : m_bound) {
            bind(code, NoSymbol);
        }
        m_bound.clear();
        XSync(m_display, False);
    }

    Display* m_display;
    int m_minimum = 8, m_maximum = 255, m_perKeycode = 1;
    std::vector<KeySym> m_map;
    std::vector<int> m_spare;  // keycodes without any symbol
    std::vector<int> m_bound;  // spare keycodes bound for this text, in m_spare order
    KeyCode m_shift = 0;
};

int characterCount(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() != -1) {
        ++count;
    }
    return count;
}

QStringList characterGroups(const QString& text) {
    QStringList groups;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    int characters = 0;
    while (finder.toNextBoundary() != -1) {
        if (++characters == kCharactersPerCheck || finder.position() == text.size()) {
            groups.append(text.sliced(start, finder.position() - start));
            start = finder.position();
            characters = 0;
        }
    }
    return groups;
}

}  // namespace

namespace KeyboardSynthesis {

std::optional<QString> keySequence(const QString& keyName) {
    static const QMap<QString, QString> sequences = {
        {QStringLiteral("return"), QStringLiteral("Return")},
        {QStringLiteral("tab"), QStringLiteral("Tab")},
        {QStringLiteral("escape"), QStringLiteral("Escape")},
        {QStringLiteral("space"), QStringLiteral("space")},
        {QStringLiteral("command+a"), QStringLiteral("ctrl+a")},
        {QStringLiteral("command+c"), QStringLiteral("ctrl+c")},
        {QStringLiteral("command+v"), QStringLiteral("ctrl+v")},
        {QStringLiteral("command+s"), QStringLiteral("ctrl+s")},
        {QStringLiteral("command+n"), QStringLiteral("ctrl+n")},
        {QStringLiteral("command+f"), QStringLiteral("ctrl+f")},
    };
    const auto found = sequences.constFind(keyName);
    return found == sequences.constEnd() ? std::nullopt : std::optional(*found);
}

Result<void> typeText(const QString& text, const FocusCheck& stillFocused) {
    DisplayHandle display = openDisplay();
    if (!display) {
        return displayMissing();
    }
    KeymapTyping typing(display.get());
    const QStringList groups = characterGroups(text);
    int typed = 0;
    for (const QString& group : groups) {
        const QList<uint> scalars = group.toUcs4();
        if (!typing.prepare(scalars)) {
            return Error{Error::Kind::Limit,
                         QStringLiteral("The keyboard has no free key to type this text.")};
        }
        if (!stillFocused()) {
            if (typed == 0) {
                return noLongerActive();
            }
            return Error{Error::Kind::Conflict,
                         QStringLiteral("The target app lost the keyboard focus while typing. "
                                        "Typing stopped after %1 of %2 characters.")
                             .arg(typed)
                             .arg(characterCount(text))};
        }
        for (uint scalar : scalars) {
            typing.type(scalar);
        }
        typed += characterCount(group);
    }
    return {};
}

Result<void> pressKeys(const QString& sequence, const FocusCheck& stillFocused) {
    const auto xdo = openXdo();
    if (!xdo) {
        return displayMissing();
    }
    if (!stillFocused()) {
        return noLongerActive();
    }
    if (xdo_send_keysequence_window(xdo.get(), CURRENTWINDOW, sequence.toUtf8().constData(),
                                    kKeyDelayMicroseconds) != XDO_SUCCESS) {
        return Error{Error::Kind::System, QStringLiteral("The keyboard input could not be sent.")};
    }
    return {};
}

}  // namespace KeyboardSynthesis
