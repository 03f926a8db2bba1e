#include "platform/KeyboardSynthesis.h"

#include <QMap>
#include <QStringList>
#include <QTextBoundaryFinder>

#include <clocale>
#include <memory>

// libxdo's header pulls in Xlib; it comes after every Qt header.
extern "C" {
#include <xdo.h>
}

namespace {

constexpr useconds_t kKeyDelayMicroseconds = 8000;
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

QString displayMissing() {
    return QStringLiteral("Accessibility permission is needed.");
}

// libxdo decodes text with the C library's multibyte functions; this thread reads UTF-8
// whatever the process locale is.
class Utf8ThreadLocale {
public:
    Utf8ThreadLocale() : m_locale(newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr))) {
        if (m_locale) {
            m_previous = uselocale(m_locale);
        }
    }
    ~Utf8ThreadLocale() {
        if (m_locale) {
            uselocale(m_previous);
            freelocale(m_locale);
        }
    }
    bool active() const { return m_locale != locale_t(nullptr); }

private:
    locale_t m_locale = nullptr;
    locale_t m_previous = nullptr;
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

std::optional<QString> typeText(const QString& text, const FocusCheck& stillFocused) {
    const auto xdo = openXdo();
    if (!xdo) {
        return displayMissing();
    }
    const Utf8ThreadLocale utf8;
    if (!utf8.active()) {
        return QStringLiteral("The UTF-8 character set is not available for typing.");
    }
    const QStringList groups = characterGroups(text);
    int typed = 0;
    for (const QString& group : groups) {
        if (!stillFocused()) {
            if (typed == 0) {
                return kNoLongerActive;
            }
            return QStringLiteral(
                       "The target app lost the keyboard focus while typing. Typing stopped "
                       "after %1 of %2 characters.")
                .arg(typed)
                .arg(characterCount(text));
        }
        if (xdo_enter_text_window(xdo.get(), CURRENTWINDOW, group.toUtf8().constData(),
                                  kKeyDelayMicroseconds) != XDO_SUCCESS) {
            return QStringLiteral("The keyboard input could not be sent.");
        }
        typed += characterCount(group);
    }
    return std::nullopt;
}

std::optional<QString> pressKeys(const QString& sequence, const FocusCheck& stillFocused) {
    const auto xdo = openXdo();
    if (!xdo) {
        return displayMissing();
    }
    if (!stillFocused()) {
        return kNoLongerActive;
    }
    if (xdo_send_keysequence_window(xdo.get(), CURRENTWINDOW, sequence.toUtf8().constData(),
                                    kKeyDelayMicroseconds) != XDO_SUCCESS) {
        return QStringLiteral("The keyboard input could not be sent.");
    }
    return std::nullopt;
}

}  // namespace KeyboardSynthesis
