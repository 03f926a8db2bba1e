#include "platform/KeyboardSynthesis.h"

#include "platform/DesktopModule.h"

#include <QMap>
#include <QStringList>
#include <QTextBoundaryFinder>

namespace {

constexpr std::uint32_t kKeyDelayMicroseconds = 8000;
// Characters typed between two focus checks.
constexpr int kCharactersPerCheck = 8;

const QString kNoLongerActive =
    QStringLiteral("The target app is no longer active. Nothing was typed. Try this step again.");

Error displayMissing() {
    return {Error::Kind::Unavailable, QStringLiteral("Accessibility permission is needed.")};
}

Error noLongerActive() {
    return {Error::Kind::Conflict, kNoLongerActive};
}

// A connection of the desktop module to the X display, closed when it goes.
class Keyboard {
public:
    explicit Keyboard(const DesktopModuleFunctions& module) : m_module(module) {
        if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
            m_keyboard = m_module.openKeyboard();
        }
    }
    ~Keyboard() {
        if (m_keyboard) {
            m_module.closeKeyboard(m_keyboard);
        }
    }
    Keyboard(const Keyboard&) = delete;
    Keyboard& operator=(const Keyboard&) = delete;

    explicit operator bool() const { return m_keyboard != nullptr; }
    void* get() const { return m_keyboard; }

private:
    const DesktopModuleFunctions& m_module;
    void* m_keyboard = nullptr;
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
    const Result<const DesktopModuleFunctions*>& module = DesktopModule::functions();
    if (!module) {
        return module.error();
    }
    const Keyboard keyboard(**module);
    if (!keyboard) {
        return displayMissing();
    }
    const QStringList groups = characterGroups(text);
    int typed = 0;
    for (const QString& group : groups) {
        const QList<uint> scalars = group.toUcs4();
        if (!(*module)->prepareCharacters(keyboard.get(), scalars.constData(),
                                          std::size_t(scalars.size()))) {
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
            (*module)->typeCharacter(keyboard.get(), scalar, kKeyDelayMicroseconds);
        }
        typed += characterCount(group);
    }
    return {};
}

Result<void> pressKeys(const QString& sequence, const FocusCheck& stillFocused) {
    const Result<const DesktopModuleFunctions*>& module = DesktopModule::functions();
    if (!module) {
        return module.error();
    }
    const Keyboard keyboard(**module);
    if (!keyboard) {
        return displayMissing();
    }
    if (!stillFocused()) {
        return noLongerActive();
    }
    if (!(*module)->pressKeys(keyboard.get(), sequence.toUtf8().constData(),
                              kKeyDelayMicroseconds)) {
        return Error{Error::Kind::System, QStringLiteral("The keyboard input could not be sent.")};
    }
    return {};
}

}  // namespace KeyboardSynthesis
