#include "core/appearance/HexColor.h"
#include "core/appearance/Theme.h"
#include "core/services/Preferences.h"

#include <gtest/gtest.h>

namespace {

// The presets in card order.
const ThemePreset& vira = ThemePreset::all().at(0);
const ThemePreset& ocean = ThemePreset::all().at(2);
const ThemePreset& midnight = ThemePreset::all().at(3);

// Preferences of a user who already went through the one-time reset.
QVariantMap settledPreferences(QVariantMap values) {
    values.insert(QStringLiteral("viraAccentApplied"), true);
    return values;
}

const QVariantMap kEarlierChoice = {
    {"background", "081322"}, {"accent", "A797FF"}, {"terminalFont", 16.0}, {"preset", "midnight"}};

TEST(ThemeWithoutPersistence, startsAtTheDefaultsAnnouncesRealChangesOnlyAndTouchesNoPreference) {
    MemoryPreferences preferences(kEarlierChoice);
    Theme theme(false, preferences);
    EXPECT_EQ(theme.backgroundHex(), "141413");
    EXPECT_EQ(theme.accentHex(), "00D9FF");
    EXPECT_EQ(theme.fontSize(), 12.0);
    EXPECT_EQ(theme.presetID(), "vira");

    int backgrounds = 0, any = 0;
    QObject::connect(&theme, &Theme::backgroundHexChanged, [&] { ++backgrounds; });
    QObject::connect(&theme, &Theme::changed, [&] { ++any; });
    theme.setBackgroundHex("141413");
    EXPECT_EQ(backgrounds, 0);
    theme.setBackgroundHex("081322");
    theme.setFontSize(13);
    EXPECT_EQ(backgrounds, 1);
    EXPECT_EQ(any, 2);

    theme.apply(midnight);
    theme.setPresetID("custom");
    theme.save();
    EXPECT_EQ(theme.backgroundHex(), "111221");
    EXPECT_EQ(preferences.reads(), 0);
    EXPECT_EQ(preferences.writes(), 0);
}

TEST(ThemeOneTimeReset, replacesEarlierColoursOnceAndThenKeepsTheUsersChoice) {
    MemoryPreferences preferences(kEarlierChoice);
    {
        Theme first(true, preferences);
        EXPECT_EQ(first.backgroundHex(), "141413");
        EXPECT_EQ(first.accentHex(), "00D9FF");
        EXPECT_EQ(first.presetID(), "vira");
        EXPECT_EQ(first.fontSize(), 16.0);  // the text size is not part of the reset
    }
    // The counts the tests without persistence check are kept.
    EXPECT_GT(preferences.reads(), 0);
    EXPECT_GT(preferences.writes(), 0);
    EXPECT_EQ(preferences.values().value("background"), "141413");
    EXPECT_EQ(preferences.values().value("accent"), "00D9FF");
    EXPECT_EQ(preferences.values().value("preset"), "vira");
    EXPECT_EQ(preferences.values().value("viraAccentApplied"), true);

    Theme(true, preferences).apply(ocean);
    Theme third(true, preferences);
    EXPECT_EQ(third.backgroundHex(), "081322");
    EXPECT_EQ(third.accentHex(), "00E5D0");
    EXPECT_EQ(third.presetID(), "ocean");
}

TEST(ThemePersistence, handPickedColoursWaitForTheNextSaveToStoreCustomAndPresetsStoreTheirId) {
    MemoryPreferences preferences(settledPreferences({{"preset", "orlo"}}));
    Theme theme(true, preferences);
    int presetChanges = 0;
    QObject::connect(&theme, &Theme::presetIDChanged, [&] { ++presetChanges; });
    theme.setAccentHex("FF0000");
    theme.setPresetID("custom");
    EXPECT_EQ(preferences.values().value("accent"), "FF0000");
    EXPECT_EQ(preferences.values().value("preset"), "orlo");
    theme.setFontSize(14);
    EXPECT_EQ(preferences.values().value("preset"), "custom");
    EXPECT_EQ(preferences.values().value("terminalFont"), 14.0);

    // Reapplying the preset whose colours are already shown still stores its id.
    theme.setBackgroundHex("141413");
    theme.setAccentHex("00D9FF");
    EXPECT_EQ(preferences.values().value("preset"), "custom");
    theme.apply(vira);
    EXPECT_EQ(preferences.values().value("preset"), "vira");

    theme.apply(ocean);
    EXPECT_EQ(theme.presetID(), "ocean");
    EXPECT_EQ(theme.backgroundHex(), "081322");
    EXPECT_EQ(theme.accentHex(), "00E5D0");
    EXPECT_EQ(presetChanges, 3);  // custom, vira, ocean: once each
    EXPECT_EQ(preferences.values().value("preset"), "ocean");
    EXPECT_EQ(preferences.values().value("background"), "081322");
    EXPECT_EQ(preferences.values().value("accent"), "00E5D0");
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

TEST(ThemeDerivedColours, useHandPickedValuesForTheTwoCharcoalsAndBlendOtherBackgrounds) {
    MemoryPreferences preferences;
    Theme theme(false, preferences);
    const auto derived = [&] {
        return QStringList{hexFromColor(theme.sidebar()), hexFromColor(theme.surface()),
                           hexFromColor(theme.border()), hexFromColor(theme.text()),
                           hexFromColor(theme.muted())};
    };
    EXPECT_TRUE(theme.isClaude());
    EXPECT_TRUE(theme.isNeutral());
    EXPECT_EQ(derived(), QStringList({"111110", "212120", "3B3B35", "ECEBE6", "A8A69D"}));
    theme.setBackgroundHex("171719");
    EXPECT_TRUE(theme.isOrlo());
    EXPECT_FALSE(theme.isClaude());
    EXPECT_EQ(derived(), QStringList({"121214", "212124", "37363A", "F1EEE8", "B0AAA1"}));

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

    // Other backgrounds blend toward black and white: 100 gives a sidebar of 100 × 0.87 =
    // 87 and a surface of 100 + 155 × 0.055.
    theme.setBackgroundHex("646464");
    EXPECT_FALSE(theme.isLight());
    EXPECT_NEAR(theme.sidebar().redF() * 255, 87.0, 0.01);
    EXPECT_NEAR(theme.surface().greenF() * 255, 108.525, 0.01);
    EXPECT_EQ(theme.sidebar().alphaF(), 1.0f);
    EXPECT_EQ(theme.codeBackground(), theme.bg());
    // A light background gets dark text, a lighter surface (200 + 55 × 0.7), a darker
    // sidebar (200 × 0.96) and dark terminals.
    theme.setBackgroundHex("C8C8C8");
    EXPECT_TRUE(theme.isLight());
    EXPECT_NEAR(theme.sidebar().redF() * 255, 192.0, 0.01);
    EXPECT_NEAR(theme.surface().greenF() * 255, 238.5, 0.01);
    EXPECT_EQ(hexFromColor(theme.text()), "1C2026");
    EXPECT_EQ(hexFromColor(theme.muted()), "56606C");
    EXPECT_EQ(hexFromColor(theme.codeBackground()), "1B1D22");
    theme.setBackgroundHex("081322");
    EXPECT_EQ(theme.border().rgb() & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_NEAR(theme.border().alphaF(), 0.085, 0.001);
}

}  // namespace
