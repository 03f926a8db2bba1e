#pragma once

#include "core/workspace/HistoryEntry.h"

#include <QList>
#include <QObject>
#include <QString>

class Notices;
class Preferences;
class SessionManager;
class TerminalSession;

// Snapshots of finished sessions, newest first: one is recorded for every session that
// ends. Main thread only.
class HistoryStore : public QObject {
    Q_OBJECT

public:
    static constexpr int kLimit = 50;
    static constexpr int kOutputLength = 60000;  // user-perceived characters

    // With a `store` the history is read now and stored after each change; without one it
    // is neither read nor written.
    HistoryStore(Preferences* store, SessionManager& sessions, Notices& notices,
                 QObject* parent = nullptr);

    const QList<HistoryEntry>& history() const { return m_history; }
    void clear();
    // The History page's list: entries whose title or provider contains the query,
    // case-insensitively; every entry for an empty query. Newest first.
    QList<HistoryEntry> filtered(const QString& query) const;

Q_SIGNALS:
    void historyChanged();

private:
    void record(const TerminalSession& session, const QString& directory);
    void save();

    Preferences* m_store;
    Notices& m_notices;
    QList<HistoryEntry> m_history;
};
