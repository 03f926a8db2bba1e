#include "core/workspace/KeepAwake.h"

#include "core/services/Preferences.h"
#include "core/workspace/PreferenceKeys.h"
#include "core/workspace/SessionManager.h"

KeepAwake::KeepAwake(Preferences* store, PowerInhibitor* inhibitor, const SessionManager& sessions,
                     QObject* parent)
    : QObject(parent), m_store(store), m_sessions(sessions), m_activity(inhibitor) {
    if (m_store) {
        m_enabled = m_store->value(PreferenceKeys::keepAwake).toBool();
    }
    update();
    connect(&sessions, &SessionManager::sessionStarted, this, &KeepAwake::update);
    connect(&sessions, &SessionManager::sessionFinished, this, &KeepAwake::update);
    connect(&sessions, &SessionManager::sessionsChanged, this, &KeepAwake::update);
}

void KeepAwake::setEnabled(bool enabled) {
    if (m_enabled == enabled) {
        return;
    }
    m_enabled = enabled;
    if (m_store) {
        m_store->setValue(PreferenceKeys::keepAwake, enabled);
    }
    Q_EMIT enabledChanged();
    update();
}

void KeepAwake::update() {
    m_activity.setActive(m_enabled && m_sessions.anyRunning());
}
