#include "core/app/PreferenceMigration.h"

#include "core/services/Preferences.h"

#include <gtest/gtest.h>

TEST(PreferenceMigration, copiesOnlyMissingKeysAndOnlyTheKnownOnes) {
    MemoryPreferences current({{"background", "111111"}});
    MemoryPreferences former({{"background", "222222"},
                              {"accent", "ABCDEF"},
                              {"history", QByteArray("[]")},
                              {"unrelated", "x"}});
    EXPECT_EQ(migrateFormerPreferences(current, &former), 2);
    EXPECT_EQ(current.value("background").toString(), "111111");
    EXPECT_EQ(current.value("accent").toString(), "ABCDEF");
    EXPECT_EQ(current.value("history").toByteArray(), QByteArray("[]"));
    EXPECT_FALSE(current.contains("unrelated"));
    EXPECT_TRUE(current.value("kelo.migratedFromVira").toBool());
}

TEST(PreferenceMigration, runsOnceEvenWhenTheFormerSettingsAppearLater) {
    MemoryPreferences current;
    EXPECT_EQ(migrateFormerPreferences(current, nullptr), 0);
    EXPECT_TRUE(current.value("kelo.migratedFromVira").toBool());

    MemoryPreferences former({{"accent", "ABCDEF"}});
    EXPECT_EQ(migrateFormerPreferences(current, &former), 0);
    EXPECT_FALSE(current.contains("accent"));
}
