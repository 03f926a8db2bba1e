#pragma once

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <optional>

class Notices;
class Preferences;
class ProviderRegistry;
class SessionManager;
class TeamRunController;

// One session that was running when VELK last wrote its list of open sessions.
struct RememberedSession {
    QString provider;
    QString directory;
    QString title;
    QString toolSession;  // the assistant's own id of its conversation; empty when unknown
    // The team run and copy the session worked for, when it was one of a run's sessions.
    std::optional<QUuid> run;
    std::optional<QUuid> copy;

    bool operator==(const RememberedSession&) const = default;

    QJsonObject toJson() const;
    // Fails (nullopt) without a provider or folder.
    static std::optional<RememberedSession> fromJson(const QJsonObject& object);
};

// Sessions that come back after a quit or a crash. While remembering, the running sessions
// are written to a journal in the data folder (atomically, on every change), so that the list
// survives a crash; stopping every session on the way out does not shorten it. On the next
// start the journal's sessions are offered for restoring, apart from those of team-run
// copies, whose cards show them interrupted. Restoring starts each assistant in its folder
// through its resume form (by the conversation's id where there is one: given at the start,
// or read from the tool's session files by a ToolSessionWatcher) and each shell anew.
// Nothing restarts unless restore() is called, or the "restore automatically" setting is on.
// Main thread only.
class SessionRestore : public QObject {
    Q_OBJECT

public:
    // With a `store`, remembers: reads the journal now and restores at once when automatic.
    // Without one it neither reads nor writes anything.
    SessionRestore(Preferences* store, SessionManager& sessions, ProviderRegistry& providers,
                   const TeamRunController& teamRuns, Notices& notices, QObject* parent = nullptr);

    // <data root>/open-sessions.json
    static QString journalPath();

    // The sessions offered for restoring; empty once restored or dismissed.
    const QList<RememberedSession>& offered() const { return m_offered; }
    // "Restore 3 sessions"
    QString offerText() const;
    void restore();
    void dismiss();

    bool automatic() const { return m_automatic; }
    void setAutomatic(bool automatic);

    // The line that restarts `session`: the tool's resume form, else its plain start.
    QString restartCommand(const RememberedSession& session) const;

Q_SIGNALS:
    void offeredChanged();
    void automaticChanged();

private:
    void read();
    void write();

    Preferences* m_store;
    SessionManager& m_sessions;
    ProviderRegistry& m_providers;
    const TeamRunController& m_teamRuns;
    Notices& m_notices;
    QList<RememberedSession> m_offered;
    bool m_automatic = false;
    bool m_frozen = false;  // VELK is quitting: the list stays as it was
};
