#include "core/workspace/SessionManager.h"

#include "core/assistants/Provider.h"
#include "core/base/Publish.h"
#include "core/services/Dialogs.h"
#include "core/terminal/TerminalSession.h"

#include <QPointer>

#include <algorithm>

SessionManager::SessionManager(Dialogs& dialogs, QObject* parent)
    : QObject(parent), m_dialogs(dialogs) {}

SessionManager::~SessionManager() {
    // Sessions may outlive the manager (a view can still hold one); their finish handling
    // must not reach a manager that is being torn down.
    for (const QList<SessionPointer>* list : {&m_sessions, &m_closingSessions}) {
        for (const SessionPointer& session : *list) {
            session->setOnFinish({});
        }
    }
}

void SessionManager::setActiveSessionID(const std::optional<QUuid>& id) {
    publish(this, m_activeSessionID, id, &SessionManager::activeSessionIDChanged);
}

SessionPointer SessionManager::activeSession() const {
    return m_activeSessionID ? find(*m_activeSessionID) : nullptr;
}

SessionPointer SessionManager::find(const QUuid& id) const {
    const auto found = std::find_if(m_sessions.cbegin(), m_sessions.cend(),
                                    [&id](const SessionPointer& s) { return s->id() == id; });
    return found == m_sessions.cend() ? nullptr : *found;
}

bool SessionManager::anyRunning() const {
    return std::any_of(m_sessions.cbegin(), m_sessions.cend(),
                       [](const SessionPointer& s) { return s->running(); });
}

SessionPointer SessionManager::startSession(const QString& providerID, const QString& title,
                                            const QString& command, const QString& directory,
                                            const SessionCallback& beforeStart,
                                            const SessionCallback& onFinish,
                                            const QStringList& environment) {
    SpawnRequest request = shellSpawnRequest(command, directory);
    request.environment += environment;
    SessionPointer session =
        TerminalSession::create(providerID, title, command, std::move(request));
    QPointer<SessionManager> self(this);
    session->setOnFinish([self, directory, onFinish](TerminalSession& finished) {
        if (self) {
            self->finish(finished, directory, onFinish);
        }
    });

    m_sessions.append(session);
    Q_EMIT sessionsChanged();
    setActiveSessionID(session->id());

    if (beforeStart) {
        beforeStart(*session);
    }
    session->start();
    Q_EMIT sessionStarted(*session);
    return session;
}

void SessionManager::finish(TerminalSession& session, const QString& directory,
                            const SessionCallback& onFinish) {
    Q_EMIT sessionFinished(session, directory);

    const QUuid id = session.id();
    m_closingSessions.removeIf(
        [&id](const SessionPointer& closing) { return closing->id() == id; });
    if (onFinish) {
        onFinish(session);
    }
}

void SessionManager::closeSession(const SessionPointer& session) {
    if (!session) {
        return;
    }
    if (session->running()) {
        const Dialogs::Alert alert{
            .message = QStringLiteral("Stop this session?"),
            .informativeText =
                QStringLiteral("The assistant and processes launched in this terminal will stop."),
            .buttons = {QStringLiteral("Stop session"), QStringLiteral("Cancel")}};
        if (m_dialogs.alert(alert) != 0) {
            return;
        }
        m_closingSessions.append(session);
        session->stop();
    }

    const QUuid id = session->id();
    const bool wasActive = m_activeSessionID == id;
    m_sessions.removeIf([&id](const SessionPointer& s) { return s->id() == id; });
    m_toolSessionIDs.remove(id);
    Q_EMIT sessionsChanged();
    if (wasActive) {
        setActiveSessionID(m_sessions.isEmpty() ? std::nullopt
                                                : std::optional<QUuid>(m_sessions.last()->id()));
    }
}

void SessionManager::setToolSessionID(const QUuid& id, const QString& toolSessionID) {
    m_toolSessionIDs.insert(id, toolSessionID);
}

void SessionManager::stopAll() {
    Q_EMIT stoppingAll();
    // Copies: a stop may finish a session at once, and its finish handling edits the lists.
    const QList<SessionPointer> sessions = m_sessions;
    const QList<SessionPointer> closing = m_closingSessions;
    for (const SessionPointer& session : sessions) {
        session->stop();
    }
    for (const SessionPointer& session : closing) {
        session->stop();
    }
}
