#pragma once

#include "core/services/MotionPreference.h"

#include <QString>

struct DesktopModuleFunctions;

// GNOME's `org.gnome.desktop.interface enable-animations`, read through GSettings (in the
// desktop module, platform/DesktopModule.h) and followed while VELK runs. Desktops without
// that schema (or the key) allow animations, as they give no way to ask for less motion; so
// does a VELK whose desktop module did not load, which logs why.
//
// Change notifications come through GLib's main context, which Qt's event loop runs on
// Linux.
class GnomeMotionPreference : public MotionPreference {
    Q_OBJECT
public:
    // `schemaFolder`: where to look for the compiled schema; empty for the system's schema
    // folders (tests pass a folder of their own).
    explicit GnomeMotionPreference(const QString& schemaFolder = {}, QObject* parent = nullptr);
    ~GnomeMotionPreference() override;
    GnomeMotionPreference(const GnomeMotionPreference&) = delete;
    GnomeMotionPreference& operator=(const GnomeMotionPreference&) = delete;

    bool animationsEnabled() const override;

private:
    const DesktopModuleFunctions* m_module = nullptr;
    void* m_setting = nullptr;  // null when the schema, its key or the module is absent
};
