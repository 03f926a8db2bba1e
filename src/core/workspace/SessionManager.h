#pragma once

#include <QList>
#include <QObject>
#include <QString>
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
    // called after the subscribers of sessionFinished.
    SessionPointer startSession(const QString& providerID, const QString& title,
                                const QString& command, const QString& directory,
                                const SessionCallback& beforeStart = {},
                                const SessionCallback& onFinish = {});
    // Closes the session; a running one only after the user confirms, and it stays among the
    // closing sessions until its process has ended.
    void closeSession(const SessionPointer& session);
    void stopAll();

Q_SIGNALS:
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
};
