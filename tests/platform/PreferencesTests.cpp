#include "core/services/Preferences.h"
#include "support/TestSupport.h"

#include <QDataStream>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using testing_support::readFile;
using testing_support::ScopedEnvironment;
using testing_support::writeFile;

namespace {

// One value of every type the application stores, with awkward contents, and the largest
// values it writes: the companion's picture at its 10,000,000-byte limit and 50 history
// snapshots of 60,000 three-byte characters.
QVariantMap storedValues() {
    QByteArray everyByte;
    for (int byte = 0; byte < 256; ++byte) {
        everyByte.append(char(byte));
    }
    QByteArray picture(10'000'000, '\0');
    for (qsizetype i = 0; i < picture.size(); ++i) {
        picture[i] = char((i * 7919) >> 5);
    }
    QByteArray history = "[";
    for (int i = 0; i < 50; ++i) {
        history += (i ? ",\"" : "\"") + QString(60'000, QChar(0x4E16)).toUtf8() + "\"";
    }
    history += "]";
    return {{"workspace", "/home/ana/a b/\"quoted\"=\nnext line é ✓"},
            {"emptyText", QString()},
            {"recentFolders", QStringList{"/one", "/two, with comma", "", "/ü"}},
            {"emptyList", QStringList{}},
            {"singleList", QStringList{"/only"}},
            {"providers", QByteArray(R"([{"id":"claude"}])")},
            {"binary", everyByte},
            {"keepAwake", true},
            {"off", false},
            {"kelo.pet.size", 0.1 + 0.2},
            {"wholeDouble", 2.0},
            {"count", qlonglong(1) << 60},
            {"group/inner key=x", "nested"},
            {"kelo.pet.image", picture},
            {"history", history}};
}

void expectSameValueAndType(const QVariant& actual, const QVariant& expected, const QString& key) {
    SCOPED_TRACE(key.toStdString());
    ASSERT_TRUE(actual.isValid());
    EXPECT_EQ(actual.typeId(), expected.typeId());
    EXPECT_EQ(actual, expected);
}

}  // namespace

TEST(SettingsPreferences, everyStoredTypeRoundTripsThroughTheFileAndRemovalsPersist) {
    QTemporaryDir folder;
    const QString path = folder.filePath("prefs/VELK.conf");
    const QVariantMap values = storedValues();
    {
        SettingsPreferences preferences(path);
        for (auto it = values.begin(); it != values.end(); ++it) {
            preferences.setValue(it.key(), it.value());
        }
        preferences.sync();
    }
    ASSERT_TRUE(QFileInfo::exists(path));
    {
        SettingsPreferences reread(path);
        for (auto it = values.begin(); it != values.end(); ++it) {
            EXPECT_TRUE(reread.contains(it.key()));
            expectSameValueAndType(reread.value(it.key()), it.value(), it.key());
        }
        EXPECT_FALSE(reread.contains("missing"));
        EXPECT_FALSE(reread.value("missing").isValid());
        reread.setValue("keepAwake", false);
        reread.remove("workspace");
    }
    SettingsPreferences again(path);
    expectSameValueAndType(again.value("keepAwake"), false, "keepAwake");
    EXPECT_FALSE(again.contains("workspace"));
}

TEST(SettingsPreferences, aDamagedFileKeepsItsIntactValuesAndHealsOnTheNextWrite) {
    QTemporaryDir folder;
    const QString path = folder.filePath("VELK.conf");
    QByteArray garbage;
    for (int i = 0; i < 300; ++i) {
        garbage.append(char((i * 37 + 11) % 256));
    }
    ASSERT_TRUE(writeFile(path,
                          "[General]\n"
                          "keepAwake=true\n"
                          "workspace=\"/intact\"\n"
                          "providers={\"bytes\":\"not base64 !!\"}\n"
                          "history={\"bytes\":\"AAE=\"\n"  // cut short
                          "recentFolders=[\"/a\", 7]\n"
                          "broken=@ByteArray(\\0)\n"
                          "=\"no key\"\n"
                          "unknownTag={\"colour\":\"red\"}\n" +
                              garbage + "\nkelo.pet.size=0.5\n"));

    SettingsPreferences preferences(path);
    expectSameValueAndType(preferences.value("keepAwake"), true, "keepAwake");
    expectSameValueAndType(preferences.value("workspace"), "/intact", "workspace");
    expectSameValueAndType(preferences.value("kelo.pet.size"), 0.5, "kelo.pet.size");
    for (const char* damaged : {"providers", "history", "recentFolders", "broken", "unknownTag"}) {
        EXPECT_FALSE(preferences.contains(damaged)) << damaged;
    }

    preferences.setValue("history", QByteArray("[]"));
    preferences.sync();
    const QByteArray healed = readFile(path);
    EXPECT_FALSE(healed.contains("not base64"));
    SettingsPreferences reread(path);
    expectSameValueAndType(reread.value("history"), QByteArray("[]"), "history");
    expectSameValueAndType(reread.value("keepAwake"), true, "keepAwake");
}

// A value in the QDataStream form is never deserialised: VELK stores none (every type it
// writes has a tag of its own), and a small compressed image there would be decoded whole.
TEST(SettingsPreferences, streamedValuesAreIgnoredAndTheRestOfTheFileIsRead) {
    QByteArray streamed;
    {
        QImage image(4000, 4000, QImage::Format_ARGB32);
        image.fill(Qt::red);
        QDataStream stream(&streamed, QIODevice::WriteOnly);
        stream << QVariant(image);
    }
    ASSERT_LT(streamed.size(), 200'000);  // a 64 MB image in a few kilobytes
    QByteArray text;
    {
        QDataStream stream(&text, QIODevice::WriteOnly);
        stream << QVariant(QStringLiteral("text"));
    }
    QTemporaryDir folder;
    const QString path = folder.filePath("VELK.conf");
    ASSERT_TRUE(writeFile(path,
                          "keepAwake=true\n"
                          "kelo.pet.image={\"variant\":\"" +
                              streamed.toBase64() +
                              "\"}\n"
                              "workspace={\"variant\":\"" +
                              text.toBase64() +
                              "\"}\n"
                              "kelo.pet.size=0.5\n"));
    SettingsPreferences preferences(path);
    EXPECT_FALSE(preferences.contains("kelo.pet.image"));
    EXPECT_FALSE(preferences.contains("workspace"));
    expectSameValueAndType(preferences.value("keepAwake"), true, "keepAwake");
    expectSameValueAndType(preferences.value("kelo.pet.size"), 0.5, "kelo.pet.size");
}

// A value past the size limit is skipped unread and the lines after it are read.
TEST(SettingsPreferences, anOversizedValueIsSkippedAndTheRestOfTheFileIsRead) {
    QTemporaryDir folder;
    const QString path = folder.filePath("VELK.conf");
    const QByteArray oversized(33 * 1024 * 1024, 'A');
    ASSERT_TRUE(writeFile(
        path, "keepAwake=true\nhistory={\"bytes\":\"" + oversized + "\"}\nworkspace=\"/after\"\n"));
    SettingsPreferences preferences(path);
    EXPECT_FALSE(preferences.contains("history"));
    expectSameValueAndType(preferences.value("keepAwake"), true, "keepAwake");
    expectSameValueAndType(preferences.value("workspace"), "/after", "workspace");
}

TEST(SettingsPreferences, theDefaultFilesLiveInTheConfigurationFolder) {
    QTemporaryDir folder;
    ScopedEnvironment configHome("XDG_CONFIG_HOME", folder.path().toUtf8());
    SettingsPreferences().setValue("keepAwake", true);
    EXPECT_TRUE(QFileInfo::exists(folder.filePath("Kelo AI/VELK.conf")));
    EXPECT_EQ(SettingsPreferences::formerPreferencesPath(), folder.filePath("Kelo AI/Vira.conf"));
}
