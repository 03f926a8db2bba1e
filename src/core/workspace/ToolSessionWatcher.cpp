#include "core/workspace/ToolSessionWatcher.h"

#include "core/assistants/AssistantTraits.h"
#include "core/base/Background.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/SessionManager.h"

#include <utility>

ToolSessionWatcher::ToolSessionWatcher(SessionManager& sessions,
                                       std::function<QSet<QString>()> claimedElsewhere,
                                       QObject* parent)
    : QObject(parent), m_sessions(sessions), m_claimedElsewhere(std::move(claimedElsewhere)) {
    m_timer.setInterval(kInterval);
    connect(&m_timer, &QTimer::timeout, this, &ToolSessionWatcher::look);
    connect(&sessions, &SessionManager::sessionStarted, this, &ToolSessionWatcher::watch);
    connect(&sessions, &SessionManager::sessionFinished, this,
            [this](TerminalSession& session, const QString&) {
                for (Watched& watched : m_watched) {
                    if (watched.session.session == session.id()) {
                        watched.ended = true;
                    }
                }
            });
}

void ToolSessionWatcher::watch(TerminalSession& session) {
    if (!m_sessions.remembersSessions() ||
        !AssistantTraits::of(session.providerID()).sessionFiles.since ||
        !m_sessions.toolSessionID(session.id()).isEmpty()) {
        return;
    }
    m_watched.append({session.providerID(),
                      {session.id(), session.directory(), QDateTime::currentDateTimeUtc()}});
    m_timer.start();
}

void ToolSessionWatcher::look() {
    if (m_looking > 0) {
        return;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QSet<QString> claimed = m_claimedElsewhere();
    for (const SessionPointer& session : m_sessions.sessions()) {
        if (const QString id = m_sessions.toolSessionID(session->id()); !id.isEmpty()) {
            claimed.insert(id);
        }
    }
    for (Watched& watched : m_watched) {
        if (watched.session.waiting &&
            watched.session.started.addSecs(std::chrono::seconds(kLookFor).count()) < now) {
            watched.session.waiting = false;
        }
    }
    // A session bounds only the time of those started before it: sessions done with that
    // started before every waiting one are forgotten.
    QDateTime firstWaiting;
    for (const Watched& watched : std::as_const(m_watched)) {
        if (watched.session.waiting &&
            (!firstWaiting.isValid() || watched.session.started < firstWaiting)) {
            firstWaiting = watched.session.started;
        }
    }
    m_watched.removeIf([&firstWaiting](const Watched& watched) {
        return !watched.session.waiting &&
               (!firstWaiting.isValid() || watched.session.started < firstWaiting);
    });
    QHash<QString, QList<StartedToolSession>> byTool;
    QHash<QString, QDateTime> since;
    QSet<QUuid> lastLook;
    for (const Watched& watched : std::as_const(m_watched)) {
        byTool[watched.provider].append(watched.session);
        if (watched.session.waiting) {
            QDateTime& earliest = since[watched.provider];
            if (!earliest.isValid() || watched.session.started < earliest) {
                earliest = watched.session.started;
            }
            if (watched.ended) {
                lastLook.insert(watched.session.session);
            }
        }
    }
    if (since.isEmpty()) {
        m_timer.stop();
        return;
    }
    for (auto tool = since.cbegin(); tool != since.cend(); ++tool) {
        ++m_looking;
        const auto reader = AssistantTraits::of(tool.key()).sessionFiles.since;
        runInBackground(
            this,
            [reader, from = tool.value(), sessions = byTool.value(tool.key()), claimed] {
                return ToolSessionFiles::match(sessions, reader(from), claimed);
            },
            [this, lastLook](const QHash<QUuid, QString>& ids) {
                --m_looking;
                arrived(ids, lastLook);
            });
    }
}

void ToolSessionWatcher::arrived(const QHash<QUuid, QString>& ids, const QSet<QUuid>& lastLook) {
    bool any = false;
    for (Watched& watched : m_watched) {
        const QUuid id = watched.session.session;
        if (!watched.session.waiting) {
            continue;
        }
        const auto found = ids.constFind(id);
        if (found != ids.cend()) {
            watched.session.waiting = false;
            if (m_sessions.find(id) && m_sessions.toolSessionID(id).isEmpty()) {
                m_sessions.setToolSessionID(id, *found);
                any = true;
            }
        } else if (lastLook.contains(id)) {
            // The session has ended: its tool wrote all it was going to.
            watched.session.waiting = false;
        }
    }
    if (any) {
        Q_EMIT found();
    }
}
