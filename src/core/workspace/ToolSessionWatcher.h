#pragma once

#include "core/assistants/ToolSessionFiles.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

class SessionManager;
class TerminalSession;

// Learns the conversation ids of the assistants that take no id of VELK's but record their
// conversations in session files of their own (AssistantTraits::sessionFiles), so that two
// sessions of one such tool in one folder are resumed each by its own id. While sessions are
// remembered, each such session started without an id is looked for in the tool's files every
// few seconds on a background thread, until its conversation is found, shortly after its
// session ended, or `kLookFor` after its start; ids already held by other sessions are never
// taken (ToolSessionFiles::match decides, and leaves a session without an id when in doubt).
// Main thread only.
class ToolSessionWatcher : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::minutes kLookFor{30};
    static constexpr std::chrono::seconds kInterval{2};

    // `claimedElsewhere` gives the ids held outside the open sessions (those offered for
    // restoring).
    ToolSessionWatcher(SessionManager& sessions, std::function<QSet<QString>()> claimedElsewhere,
                       QObject* parent = nullptr);

Q_SIGNALS:
    // A session was given the id of its conversation.
    void found();

private:
    struct Watched {
        QString provider;
        StartedToolSession session;
        bool ended = false;
    };

    void watch(TerminalSession& session);
    void look();
    void arrived(const QHash<QUuid, QString>& ids, const QSet<QUuid>& lastLook);

    SessionManager& m_sessions;
    std::function<QSet<QString>()> m_claimedElsewhere;
    QList<Watched> m_watched;
    QTimer m_timer;
    int m_looking = 0;  // background looks not answered yet
};
