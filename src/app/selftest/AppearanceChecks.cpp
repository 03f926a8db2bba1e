#include "app/selftest/SelfTest.h"

#include "core/appearance/HexColor.h"
#include "core/appearance/Theme.h"
#include "core/services/Preferences.h"

namespace {

SelfTestResult hexConversionsRoundTrip(SelfTestContext&) {
    if (colorFromHex(u"FFF") != QColor(0, 15, 255)) {
        return QStringLiteral("FFF did not read as (0, 15, 255)");
    }
    if (colorFromHex(u"#00D9FF") != colorFromHex(u"00D9FF")) {
        return QStringLiteral("a leading number sign changed the colour");
    }
    if (colorFromHex(u"1FFFFFFFFFFFFFFFF") != QColor(Qt::black)) {
        return QStringLiteral("a number above 64 bits did not read as black");
    }
    if (hexFromColor(QColor::fromRgbF(0.999f, 1.0f, 0.0f)) != QStringLiteral("FEFF00")) {
        return QStringLiteral("channels were not truncated: %1")
            .arg(hexFromColor(QColor::fromRgbF(0.999f, 1.0f, 0.0f)));
    }
    for (const ThemePreset& preset : ThemePreset::all()) {
        for (const QString& hex : {preset.background, preset.accent}) {
            if (hexFromColor(colorFromHex(hex)) != hex) {
                return QStringLiteral("%1 did not survive a round trip").arg(hex);
            }
        }
    }
    return std::nullopt;
}

SelfTestResult themeWithoutPersistenceTouchesNoPreference(SelfTestContext&) {
    MemoryPreferences preferences(
        QVariantMap{{QStringLiteral("background"), QStringLiteral("081322")},
                    {QStringLiteral("viraAccentApplied"), true}});
    Theme theme(false, preferences);
    if (theme.backgroundHex() != QStringLiteral("141413") || theme.fontSize() != 12.0 ||
        theme.presetID() != QStringLiteral("vira")) {
        return QStringLiteral("a theme without persistence did not start at the defaults");
    }
    theme.apply(ThemePreset::all().at(2));
    theme.setFontSize(14);
    theme.save();
    if (preferences.reads() != 0 || preferences.writes() != 0) {
        return QStringLiteral("a theme without persistence read %1 and wrote %2 preferences")
            .arg(preferences.reads())
            .arg(preferences.writes());
    }
    if (theme.presetID() != QStringLiteral("ocean") || theme.isNeutral()) {
        return QStringLiteral("applying the ocean preset did not take");
    }
    return std::nullopt;
}

}  // namespace

std::vector<SelfTestCheck> appearanceChecks() {
    return {
        {QStringLiteral("hex colour text converts both ways"), hexConversionsRoundTrip},
        {QStringLiteral("a theme without persistence touches no preference"),
         themeWithoutPersistenceTouchesNoPreference},
    };
}
