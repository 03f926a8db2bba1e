#include "core/workspace/ProgramClipboard.h"

#include "core/services/Preferences.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/PreferenceKeys.h"
#include "core/workspace/SessionManager.h"

ProgramClipboard::ProgramClipboard(Preferences* store, SessionManager& sessions, QObject* parent)
    : QObject(parent), m_store(store), m_sessions(sessions) {
    if (m_store) {
        m_enabled = m_store->value(PreferenceKeys::programClipboard).toBool();
    }
    // A new session is listed before its process starts.
    connect(&sessions, &SessionManager::sessionsChanged, this, &ProgramClipboard::applyToSessions);
}

void ProgramClipboard::setEnabled(bool enabled) {
    if (m_enabled == enabled) {
        return;
    }
    m_enabled = enabled;
    if (m_store) {
        m_store->setValue(PreferenceKeys::programClipboard, enabled);
    }
    applyToSessions();
    Q_EMIT enabledChanged();
}

void ProgramClipboard::applyToSessions() {
    for (const auto* list : {&m_sessions.sessions(), &m_sessions.closingSessions()}) {
        for (const SessionPointer& session : *list) {
            session->setClipboardWritesAllowed(m_enabled);
        }
    }
}
