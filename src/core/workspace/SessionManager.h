#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

class Dialogs;
class TerminalSession;

using SessionPointer = std::shared_ptr<TerminalSession>;
using SessionCallback = std::function<void(TerminalSession&)>;

// The terminal sessions of the window: the open ones, the one shown, and those closed while
// still running until their process ends. Whoever keeps a record of sessions (history, team
// runs, keep-awake, the listing) subscribes to sessionStarted / sessionFinished.
// Main thread only.
class SessionManager : public QObject {
    Q_OBJECT

public:
    explicit SessionManager(Dialogs& dialogs, QObject* parent = nullptr);
    ~SessionManager() override;

    const QList<SessionPointer>& sessions() const { return m_sessions; }
    const QList<SessionPointer>& closingSessions() const { return m_closingSessions; }
    std::optional<QUuid> activeSessionID() const { return m_activeSessionID; }
    void setActiveSessionID(const std::optional<QUuid>& id);
    SessionPointer activeSession() const;
    // The open session with `id`; null when there is none.
    SessionPointer find(const QUuid& id) const;
    bool anyRunning() const;

    // Starts `command` through the login shell in `directory` and makes it the active
    // session. `beforeStart` sees the session before its process exists; `onFinish` is
    // called after the subscribers of sessionFinished. `environment` ("NAME=value" entries)
    // is set on top of the login shell's.
    SessionPointer startSession(const QString& providerID, const QString& title,
                                const QString& command, const QString& directory,
                                const SessionCallback& beforeStart = {},
                                const SessionCallback& onFinish = {},
                                const QStringList& environment = {});
    // Closes the session; a running one only after the user confirms, and it stays among the
    // closing sessions until its process has ended.
    void closeSession(const SessionPointer& session);
    // Stops every session; stoppingAll() comes first.
    void stopAll();

    // The assistant's own id for the conversation of session `id`, where VELK gave it one at
    // the start or learned it from the tool's session files (empty otherwise): what resumes
    // that conversation later.
    QString toolSessionID(const QUuid& id) const { return m_toolSessionIDs.value(id); }
    void setToolSessionID(const QUuid& id, const QString& toolSessionID);
    // Whether the open sessions are remembered to be restored after a restart; only then do
    // assistants that take one get an id of VELK's for their conversation.
    bool remembersSessions() const { return m_remembersSessions; }
    void setRemembersSessions(bool remembers) { m_remembersSessions = remembers; }

Q_SIGNALS:
    // Every session is about to be stopped (VELK quits): their ends are not the user's doing.
    void stoppingAll();
    void sessionsChanged();
    void activeSessionIDChanged();
    void sessionStarted(TerminalSession& session);
    // `directory` is where the session worked.
    void sessionFinished(TerminalSession& session, const QString& directory);

private:
    void finish(TerminalSession& session, const QString& directory,
                const SessionCallback& onFinish);

    Dialogs& m_dialogs;
    QList<SessionPointer> m_sessions;
    QList<SessionPointer> m_closingSessions;
    std::optional<QUuid> m_activeSessionID;
    QHash<QUuid, QString> m_toolSessionIDs;
    bool m_remembersSessions = false;
};
