#include "appearance/HexColor.h"
#include "appearance/Theme.h"
#include "platform/Preferences.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

const ThemePreset& preset(const QString& id) {
    for (const ThemePreset& candidate : ThemePreset::all()) {
        if (candidate.id == id) {
            return candidate;
        }
    }
    ADD_FAILURE() << "no preset " << id.toStdString();
    return ThemePreset::all().first();
}

// Counts the emissions of one signal.
template <typename Signal>
std::shared_ptr<int> countEmissions(Theme& theme, Signal signal) {
    auto count = std::make_shared<int>(0);
    QObject::connect(&theme, signal, &theme, [count] { ++*count; });
    return count;
}

// Preferences of a user who already went through the one-time reset.
QVariantMap settledPreferences(QVariantMap values) {
    values.insert(QStringLiteral("viraAccentApplied"), true);
    return values;
}

}  // namespace

TEST(ThemePresets, areTheFourPalettesInCardOrder) {
    QStringList ids;
    for (const ThemePreset& each : ThemePreset::all()) {
        ids << each.id;
        EXPECT_EQ(hexFromColor(colorFromHex(each.background)), each.background);
        EXPECT_EQ(hexFromColor(colorFromHex(each.accent)), each.accent);
    }
    EXPECT_EQ(ids, QStringList({"vira", "orlo", "ocean", "midnight"}));
    EXPECT_EQ(preset("orlo").subtitle, QStringLiteral("Orlo Local AI’s full neutral palette"));
}

TEST(ThemeWithoutPersistence, startsAtTheDefaultsAndNeverTouchesAPreference) {
    MemoryPreferences preferences(QVariantMap{{"background", "081322"},
                                              {"accent", "A797FF"},
                                              {"terminalFont", 18.0},
                                              {"preset", "ocean"}});
    Theme theme(false, preferences);
    EXPECT_EQ(theme.backgroundHex(), "141413");
    EXPECT_EQ(theme.accentHex(), "00D9FF");
    EXPECT_EQ(theme.fontSize(), 12.0);
    EXPECT_EQ(theme.presetID(), "vira");

    theme.apply(preset("midnight"));
    theme.setFontSize(15);
    theme.setPresetID("custom");
    theme.save();
    EXPECT_EQ(preferences.reads(), 0);
    EXPECT_EQ(preferences.writes(), 0);
    EXPECT_EQ(theme.backgroundHex(), "111221");
}

TEST(ThemeOneTimeReset, replacesEarlierColoursOnceAndThenKeepsTheUsersChoice) {
    MemoryPreferences preferences(QVariantMap{{"background", "081322"},
                                              {"accent", "A797FF"},
                                              {"terminalFont", 16.0},
                                              {"preset", "midnight"}});
    {
        Theme first(true, preferences);
        EXPECT_EQ(first.backgroundHex(), "141413");
        EXPECT_EQ(first.accentHex(), "00D9FF");
        EXPECT_EQ(first.presetID(), "vira");
        EXPECT_EQ(first.fontSize(), 16.0);  // the text size is not part of the reset
    }
    EXPECT_EQ(preferences.values().value("background"), "141413");
    EXPECT_EQ(preferences.values().value("accent"), "00D9FF");
    EXPECT_EQ(preferences.values().value("preset"), "vira");
    EXPECT_EQ(preferences.values().value("viraAccentApplied"), true);

    {
        Theme second(true, preferences);
        second.apply(preset("ocean"));
    }
    Theme third(true, preferences);
    EXPECT_EQ(third.backgroundHex(), "081322");
    EXPECT_EQ(third.accentHex(), "00E5D0");
    EXPECT_EQ(third.presetID(), "ocean");
}

TEST(ThemePersistence, applyingAPresetStoresItsIdWithItsColours) {
    MemoryPreferences preferences(settledPreferences({}));
    Theme theme(true, preferences);
    const auto presetChanges = countEmissions(theme, &Theme::presetIDChanged);
    theme.apply(ThemePreset::all().at(2));
    EXPECT_EQ(theme.presetID(), "ocean");
    EXPECT_EQ(theme.backgroundHex(), "081322");
    EXPECT_EQ(theme.accentHex(), "00E5D0");
    EXPECT_EQ(*presetChanges, 1);
    EXPECT_EQ(preferences.values().value("preset"), "ocean");
    EXPECT_EQ(preferences.values().value("background"), "081322");
    EXPECT_EQ(preferences.values().value("accent"), "00E5D0");
}

TEST(ThemePersistence, reapplyingThePresetWhoseColoursAreShownStillStoresItsId) {
    MemoryPreferences preferences(settledPreferences({}));
    Theme theme(true, preferences);
    theme.setBackgroundHex("141413");  // picked by hand: same colours, preset now custom
    theme.setPresetID("custom");
    theme.setAccentHex("00D9FF");
    EXPECT_EQ(preferences.values().value("preset"), "custom");
    theme.apply(ThemePreset::all().first());
    EXPECT_EQ(preferences.values().value("preset"), "vira");
}

TEST(ThemePersistence, aHandPickedColourMarksCustomButStoresItOnlyWithTheNextSave) {
    MemoryPreferences preferences(settledPreferences({{"preset", "orlo"}}));
    Theme theme(true, preferences);
    theme.setAccentHex("FF0000");
    theme.setPresetID("custom");
    EXPECT_EQ(theme.presetID(), "custom");
    EXPECT_EQ(preferences.values().value("accent"), "FF0000");
    EXPECT_EQ(preferences.values().value("preset"), "orlo");

    theme.setFontSize(14);
    EXPECT_EQ(preferences.values().value("preset"), "custom");
    EXPECT_EQ(preferences.values().value("terminalFont"), 14.0);
}

TEST(ThemePersistence, loadsStoredValuesAndFallsBackForMissingOrUnusableOnes) {
    MemoryPreferences stored(settledPreferences({{"background", "#0A0B0C"},
                                                 {"accent", "zz"},
                                                 {"terminalFont", 17.5},
                                                 {"preset", "custom"}}));
    Theme theme(true, stored);
    EXPECT_EQ(theme.backgroundHex(), "#0A0B0C");  // kept as typed
    EXPECT_EQ(theme.bg(), QColor(0x0A, 0x0B, 0x0C));
    EXPECT_EQ(theme.accentHex(), "zz");
    EXPECT_EQ(theme.accent(), QColor(Qt::black));
    EXPECT_EQ(theme.fontSize(), 17.5);
    EXPECT_EQ(theme.presetID(), "custom");

    for (const QVariant& badSize : {QVariant(0.0), QVariant(-3.0), QVariant("big"),
                                    QVariant(qQNaN()), QVariant(qInf()), QVariant(QStringList())}) {
        MemoryPreferences preferences(settledPreferences({{"terminalFont", badSize}}));
        EXPECT_EQ(Theme(true, preferences).fontSize(), 12.0) << badSize.toString().toStdString();
    }

    MemoryPreferences wrongTypes(settledPreferences({{"background", QStringList{"141413"}}}));
    EXPECT_EQ(Theme(true, wrongTypes).backgroundHex(), "141413");
    MemoryPreferences empty(settledPreferences({}));
    Theme defaults(true, empty);
    EXPECT_EQ(defaults.backgroundHex(), "141413");
    EXPECT_EQ(defaults.presetID(), "vira");
    EXPECT_EQ(defaults.fontSize(), 12.0);
}

TEST(ThemeSignals, announceOnlyRealChanges) {
    MemoryPreferences preferences;
    Theme theme(false, preferences);
    const auto backgrounds = countEmissions(theme, &Theme::backgroundHexChanged);
    const auto any = countEmissions(theme, &Theme::changed);
    theme.setBackgroundHex("141413");
    EXPECT_EQ(*backgrounds, 0);
    theme.setBackgroundHex("081322");
    theme.setFontSize(13);
    EXPECT_EQ(*backgrounds, 1);
    EXPECT_EQ(*any, 2);
}

TEST(ThemeDerivedColours, useTheHandPickedValuesForTheTwoCharcoalBackgrounds) {
    MemoryPreferences preferences;
    Theme theme(false, preferences);
    EXPECT_TRUE(theme.isClaude());
    EXPECT_TRUE(theme.isNeutral());
    EXPECT_EQ(hexFromColor(theme.sidebar()), "111110");
    EXPECT_EQ(hexFromColor(theme.surface()), "212120");
    EXPECT_EQ(hexFromColor(theme.border()), "3B3B35");
    EXPECT_EQ(hexFromColor(theme.text()), "ECEBE6");
    EXPECT_EQ(hexFromColor(theme.muted()), "A8A69D");

    theme.setBackgroundHex("171719");
    EXPECT_TRUE(theme.isOrlo());
    EXPECT_FALSE(theme.isClaude());
    EXPECT_EQ(hexFromColor(theme.sidebar()), "121214");
    EXPECT_EQ(hexFromColor(theme.surface()), "212124");
    EXPECT_EQ(hexFromColor(theme.border()), "37363A");
    EXPECT_EQ(hexFromColor(theme.text()), "F1EEE8");
    EXPECT_EQ(hexFromColor(theme.muted()), "B0AAA1");

    // Case does not matter, decoration does: "#141413" paints the same background but is
    // not the neutral charcoal.
    theme.setBackgroundHex("17171a");
    EXPECT_FALSE(theme.isNeutral());
    theme.setBackgroundHex("171719");
    EXPECT_TRUE(theme.isOrlo());
    theme.setBackgroundHex("#141413");
    EXPECT_EQ(theme.bg(), colorFromHex(u"141413"));
    EXPECT_FALSE(theme.isNeutral());
    EXPECT_EQ(hexFromColor(theme.text()), "E8F0F8");
    EXPECT_EQ(hexFromColor(theme.muted()), "8496AB");
}

TEST(ThemeDerivedColours, blendOtherBackgroundsTowardBlackAndWhite) {
    MemoryPreferences preferences;
    Theme theme(false, preferences);
    theme.setBackgroundHex("C8C8C8");  // 200: sidebar 200 × 0.87 = 174, surface 200 + 55 × 0.055
    EXPECT_NEAR(theme.sidebar().redF() * 255, 174.0, 0.01);
    EXPECT_NEAR(theme.surface().greenF() * 255, 203.025, 0.01);
    EXPECT_EQ(theme.sidebar().alphaF(), 1.0f);

    theme.setBackgroundHex("081322");
    EXPECT_EQ(theme.border().rgb() & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_NEAR(theme.border().alphaF(), 0.085, 0.001);
    EXPECT_EQ(hexFromColor(theme.sidebar()),
              QString::asprintf("%02X%02X%02X", int(8 * 0.87), int(0x13 * 0.87), int(0x22 * 0.87)));
}
