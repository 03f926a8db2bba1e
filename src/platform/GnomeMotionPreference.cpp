#include "platform/GnomeMotionPreference.h"

#include <QFile>

// GLib's headers come after Qt's: with Qt keywords off nothing clashes.
#include <gio/gio.h>

namespace {

constexpr const char* kSchema = "org.gnome.desktop.interface";
constexpr const char* kKey = "enable-animations";

// The schema, when it is installed and has the key; null otherwise. GSettings aborts the
// process on a schema that is not installed, so it is looked up first.
GSettingsSchema* lookUpSchema(const QString& schemaFolder) {
    GSettingsSchemaSource* source = nullptr;
    if (schemaFolder.isEmpty()) {
        source = g_settings_schema_source_get_default();
        if (source) {
            g_settings_schema_source_ref(source);
        }
    } else {
        source = g_settings_schema_source_new_from_directory(
            QFile::encodeName(schemaFolder).constData(), nullptr, FALSE, nullptr);
    }
    if (!source) {
        return nullptr;
    }
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, kSchema, TRUE);
    g_settings_schema_source_unref(source);
    if (schema && !g_settings_schema_has_key(schema, kKey)) {
        g_settings_schema_unref(schema);
        return nullptr;
    }
    return schema;
}

}  // namespace

GnomeMotionPreference::GnomeMotionPreference(const QString& schemaFolder, QObject* parent)
    : MotionPreference(parent) {
    GSettingsSchema* schema = lookUpSchema(schemaFolder);
    if (!schema) {
        return;
    }
    auto* settings = g_settings_new_full(schema, nullptr, nullptr);
    g_settings_schema_unref(schema);
    m_settings = settings;
    m_handler = g_signal_connect(
        settings, "changed::enable-animations",
        G_CALLBACK(+[](GSettings*, const char*, gpointer self) {
            Q_EMIT static_cast<GnomeMotionPreference*>(self)->animationsEnabledChanged();
        }),
        this);
    // GSettings sends change signals only for keys read since it was created.
    g_settings_get_boolean(settings, kKey);
}

GnomeMotionPreference::~GnomeMotionPreference() {
    if (auto* settings = static_cast<GSettings*>(m_settings)) {
        g_signal_handler_disconnect(settings, m_handler);
        g_object_unref(settings);
    }
}

bool GnomeMotionPreference::animationsEnabled() const {
    auto* settings = static_cast<GSettings*>(m_settings);
    return !settings || g_settings_get_boolean(settings, kKey);
}
