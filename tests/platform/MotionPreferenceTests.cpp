#include "platform/GnomeMotionPreference.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// GLib's headers come after Qt's: with Qt keywords off nothing clashes.
#include <gio/gio.h>

using testing_support::ScopedEnvironment;
using testing_support::waitUntil;
using testing_support::writeFile;

namespace {

// A folder holding a compiled org.gnome.desktop.interface schema with the given keys.
class SchemaFolder {
public:
    explicit SchemaFolder(const QByteArray& keys) {
        const QByteArray schema =
            "<schemalist><schema id=\"org.gnome.desktop.interface\" "
            "path=\"/org/gnome/desktop/interface/\">" +
            keys + "</schema></schemalist>\n";
        EXPECT_TRUE(
            writeFile(m_folder.filePath("org.gnome.desktop.interface.gschema.xml"), schema));
        EXPECT_EQ(QProcess::execute("glib-compile-schemas", {m_folder.path()}), 0);
    }
    QString path() const { return m_folder.path(); }

private:
    QTemporaryDir m_folder;
};

TEST(GnomeMotionPreference, followsTheDesktopSettingAndAllowsAnimationsWithoutIt) {
    // Settings written here stay in this process.
    const ScopedEnvironment backend("GSETTINGS_BACKEND", "memory");

    // No schema at all, and the schema without the key: nothing asks for less motion.
    const QTemporaryDir empty;
    EXPECT_TRUE(GnomeMotionPreference(empty.path()).animationsEnabled());
    const SchemaFolder withoutKey(
        "<key name=\"gtk-theme\" type=\"s\"><default>'x'</default></key>");
    EXPECT_TRUE(GnomeMotionPreference(withoutKey.path()).animationsEnabled());

    const SchemaFolder folder(
        "<key name=\"enable-animations\" type=\"b\"><default>false</default></key>");
    GnomeMotionPreference preference(folder.path());
    EXPECT_FALSE(preference.animationsEnabled());

    // The desktop turns animations on while VELK runs.
    int changes = 0;
    QObject::connect(&preference, &MotionPreference::animationsEnabledChanged, [&] { ++changes; });
    GSettingsSchemaSource* source = g_settings_schema_source_new_from_directory(
        QFile::encodeName(folder.path()).constData(), nullptr, FALSE, nullptr);
    ASSERT_NE(source, nullptr);
    GSettingsSchema* schema =
        g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", FALSE);
    GSettings* desktop = g_settings_new_full(schema, nullptr, nullptr);
    g_settings_set_boolean(desktop, "enable-animations", TRUE);
    EXPECT_TRUE(waitUntil([&] { return changes > 0; }));
    EXPECT_TRUE(preference.animationsEnabled());
    g_object_unref(desktop);
    g_settings_schema_unref(schema);
    g_settings_schema_source_unref(source);
}

}  // namespace
