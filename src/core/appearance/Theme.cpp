#include "core/appearance/Theme.h"

#include "core/appearance/HexColor.h"
#include "core/base/Publish.h"
#include "core/services/Preferences.h"

#include <QMetaType>

#include <cmath>

namespace {

const QString kBackgroundKey = QStringLiteral("background");
const QString kAccentKey = QStringLiteral("accent");
const QString kFontKey = QStringLiteral("terminalFont");
const QString kPresetKey = QStringLiteral("preset");
const QString kResetAppliedKey = QStringLiteral("viraAccentApplied");

const QString kDefaultBackground = QStringLiteral("141413");
const QString kDefaultAccent = QStringLiteral("00D9FF");
const QString kDefaultPreset = QStringLiteral("vira");
const QString kOrloBackground = QStringLiteral("171719");

bool isNumber(const QVariant& value) {
    switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Double:
        case QMetaType::Float:
            return true;
        default:
            return false;
    }
}

// A stored text; numbers are read as their text too. Anything else counts as missing.
QString storedText(const QVariant& value, const QString& fallback) {
    if (value.typeId() == QMetaType::QString || isNumber(value)) {
        return value.toString();
    }
    return fallback;
}

// A stored size in points; missing, unreadable, zero, negative and non-finite values all
// fall back to the default, so a damaged value can never reach the terminal's font.
double storedFontSize(const QVariant& value) {
    bool ok = false;
    double points = 0;
    if (isNumber(value) || value.typeId() == QMetaType::QString) {
        points = value.toDouble(&ok);
    }
    if (!ok || !std::isfinite(points) || points <= 0) {
        return Theme::kDefaultFontSize;
    }
    return points;
}

// The colour moved `fraction` of the way toward `target`, channel by channel in sRGB.
QColor blended(const QColor& color, const QColor& target, float fraction) {
    const auto mix = [fraction](float from, float to) { return from + (to - from) * fraction; };
    return QColor::fromRgbF(mix(color.redF(), target.redF()), mix(color.greenF(), target.greenF()),
                            mix(color.blueF(), target.blueF()),
                            mix(color.alphaF(), target.alphaF()));
}

}  // namespace

Theme::Theme(bool persist, Preferences& preferences, QObject* parent)
    : QObject(parent),
      m_persist(persist),
      m_preferences(preferences),
      m_backgroundHex(kDefaultBackground),
      m_accentHex(kDefaultAccent),
      m_presetID(kDefaultPreset) {
    if (m_persist) {
        load();
        applyOneTimeReset();
    }
}

void Theme::load() {
    m_backgroundHex = storedText(m_preferences.value(kBackgroundKey), kDefaultBackground);
    m_accentHex = storedText(m_preferences.value(kAccentKey), kDefaultAccent);
    m_fontSize = storedFontSize(m_preferences.value(kFontKey));
    m_presetID = storedText(m_preferences.value(kPresetKey), kDefaultPreset);
}

// Once per installation the charcoal background and vira accent replace whatever colours
// were stored before the current palette existed; later starts keep the user's choice.
void Theme::applyOneTimeReset() {
    if (m_preferences.value(kResetAppliedKey).toBool()) {
        return;
    }
    setBackgroundHex(kDefaultBackground);
    setAccentHex(kDefaultAccent);
    setPresetID(kDefaultPreset);
    m_preferences.setValue(kBackgroundKey, kDefaultBackground);
    m_preferences.setValue(kAccentKey, kDefaultAccent);
    m_preferences.setValue(kPresetKey, kDefaultPreset);
    m_preferences.setValue(kResetAppliedKey, true);
}

void Theme::setBackgroundHex(const QString& hex) {
    if (hex != m_backgroundHex) {
        m_backgroundHex = hex;
        Q_EMIT backgroundHexChanged();
        Q_EMIT changed();
    }
    save();
}

void Theme::setAccentHex(const QString& hex) {
    if (hex != m_accentHex) {
        m_accentHex = hex;
        Q_EMIT accentHexChanged();
        Q_EMIT changed();
    }
    save();
}

void Theme::setFontSize(double points) {
    if (points != m_fontSize) {
        m_fontSize = points;
        Q_EMIT fontSizeChanged();
        Q_EMIT changed();
    }
    save();
}

void Theme::setPresetID(const QString& id) {
    if (id == m_presetID) {
        return;
    }
    m_presetID = id;
    Q_EMIT presetIDChanged();
    Q_EMIT changed();
}

void Theme::setAnimationsEnabled(bool enabled) {
    publish(this, m_animationsEnabled, enabled, &Theme::animationsEnabledChanged);
}

void Theme::save() {
    if (!m_persist) {
        return;
    }
    m_preferences.setValue(kBackgroundKey, m_backgroundHex);
    m_preferences.setValue(kAccentKey, m_accentHex);
    m_preferences.setValue(kFontKey, m_fontSize);
    m_preferences.setValue(kPresetKey, m_presetID);
}

void Theme::apply(const ThemePreset& preset) {
    setPresetID(preset.id);
    setBackgroundHex(preset.background);
    setAccentHex(preset.accent);
}

bool Theme::isClaude() const {
    return m_backgroundHex.toUpper() == kDefaultBackground;
}

bool Theme::isOrlo() const {
    return m_backgroundHex.toUpper() == kOrloBackground;
}

bool Theme::isLight() const {
    // The WCAG relative luminance: above 0.4, black text reads better than white.
    const auto channel = [](float value) {
        return value <= 0.03928f ? value / 12.92f : std::pow((value + 0.055f) / 1.055f, 2.4f);
    };
    const QColor color = bg();
    return 0.2126f * channel(color.redF()) + 0.7152f * channel(color.greenF()) +
               0.0722f * channel(color.blueF()) >
           0.4f;
}

QColor Theme::codeBackground() const {
    return isLight() ? colorFromHex(u"1B1D22") : bg();
}

QColor Theme::bg() const {
    return colorFromHex(m_backgroundHex);
}

QColor Theme::accent() const {
    return colorFromHex(m_accentHex);
}

QColor Theme::sidebar() const {
    if (isClaude()) {
        return colorFromHex(u"111110");
    }
    if (isOrlo()) {
        return colorFromHex(u"121214");
    }
    return blended(bg(), Qt::black, isLight() ? 0.04f : 0.13f);
}

QColor Theme::surface() const {
    if (isClaude()) {
        return colorFromHex(u"212120");
    }
    if (isOrlo()) {
        return colorFromHex(u"212124");
    }
    return blended(bg(), Qt::white, isLight() ? 0.7f : 0.055f);
}

QColor Theme::border() const {
    if (isClaude()) {
        return colorFromHex(u"3B3B35");
    }
    if (isOrlo()) {
        return colorFromHex(u"37363A");
    }
    QColor faint(isLight() ? Qt::black : Qt::white);
    faint.setAlphaF(isLight() ? 0.14f : 0.085f);
    return faint;
}

QColor Theme::text() const {
    if (isClaude()) {
        return colorFromHex(u"ECEBE6");
    }
    if (isOrlo()) {
        return colorFromHex(u"F1EEE8");
    }
    return colorFromHex(isLight() ? u"1C2026" : u"E8F0F8");
}

QColor Theme::muted() const {
    if (isClaude()) {
        return colorFromHex(u"A8A69D");
    }
    if (isOrlo()) {
        return colorFromHex(u"B0AAA1");
    }
    return colorFromHex(isLight() ? u"56606C" : u"8496AB");
}
