#include "platform/GnomeMotionPreference.h"

#include "platform/DesktopModule.h"

#include <QFile>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcMotion, "velk.platform.motion")

GnomeMotionPreference::GnomeMotionPreference(const QString& schemaFolder, QObject* parent)
    : MotionPreference(parent) {
    const Result<const DesktopModuleFunctions*>& module = DesktopModule::functions();
    if (!module) {
        qCWarning(lcMotion).noquote() << module.error().message;
        return;
    }
    m_module = *module;
    const QByteArray folder = QFile::encodeName(schemaFolder);
    // The module calls back from GLib's main context, which Qt's event loop runs on Linux.
    m_setting = m_module->openMotionSetting(
        schemaFolder.isEmpty() ? nullptr : folder.constData(),
        [](void* self) {
            Q_EMIT static_cast<GnomeMotionPreference*>(self)->animationsEnabledChanged();
        },
        this);
}

GnomeMotionPreference::~GnomeMotionPreference() {
    if (m_setting) {
        m_module->closeMotionSetting(m_setting);
    }
}

bool GnomeMotionPreference::animationsEnabled() const {
    return !m_setting || m_module->animationsEnabled(m_setting);
}
