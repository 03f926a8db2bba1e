#include "core/workspace/ScrollbackSetting.h"

#include "core/services/Preferences.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/PreferenceKeys.h"
#include "core/workspace/SessionManager.h"

#include <algorithm>

ScrollbackSetting::ScrollbackSetting(Preferences* store, SessionManager& sessions, QObject* parent)
    : QObject(parent),
      m_store(store),
      m_sessions(sessions),
      m_lines(TerminalScreen::kScrollbackLimit) {
    if (m_store && m_store->contains(PreferenceKeys::scrollbackLines)) {
        bool valid = false;
        const int stored = m_store->value(PreferenceKeys::scrollbackLines).toInt(&valid);
        if (valid) {
            m_lines = std::clamp(stored, 0, TerminalScreen::kMaxScrollbackLimit);
        }
    }
    // A new session is listed before its process starts.
    connect(&sessions, &SessionManager::sessionsChanged, this, &ScrollbackSetting::applyToSessions);
}

void ScrollbackSetting::setLines(int lines) {
    lines = std::clamp(lines, 0, TerminalScreen::kMaxScrollbackLimit);
    if (m_lines == lines) {
        return;
    }
    m_lines = lines;
    if (m_store) {
        m_store->setValue(PreferenceKeys::scrollbackLines, lines);
    }
    applyToSessions();
    Q_EMIT linesChanged();
}

void ScrollbackSetting::applyToSessions() {
    for (const auto* list : {&m_sessions.sessions(), &m_sessions.closingSessions()}) {
        for (const SessionPointer& session : *list) {
            session->screen().setScrollbackLimit(m_lines);
        }
    }
}
