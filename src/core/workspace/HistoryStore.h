#pragma once

#include "core/workspace/HistoryEntry.h"
#include "core/workspace/HistoryFile.h"

#include <QList>
#include <QObject>

#include <QString>
#include <functional>

#include <memory>

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

    // The file beside the preferences that holds the history of a store with a folder.
    static constexpr const char* kFileName = "VELK-history.jsonl";

    // With a `store` the history is read and stored after each change; without one it is
    // neither read nor written. A store with a folder keeps the history in a file of its own
    // there (HistoryFile), read off the main thread: history() is empty until loaded() (and
    // holds any session that ended meanwhile). A history still under the preference key is
    // moved into that file once, and the key removed when the file holds it. A store without
    // a folder keeps the history under the key.
    HistoryStore(Preferences* store, SessionManager& sessions, Notices& notices,
                 QObject* parent = nullptr);
    ~HistoryStore() override;

    bool loaded() const { return m_loaded; }
    // Returns once the file holds every change made so far (for tests and orderly ends).
    void waitForWrites() const;

    // Fills in what an entry records beyond the session itself: the assistant's name and the
    // state the session showed last (the workspace wires the provider list and attention).
    void setDescriber(std::function<void(const TerminalSession&, HistoryEntry&)> describe) {
        m_describe = std::move(describe);
    }

    const QList<HistoryEntry>& history() const { return m_history; }
    void clear();
    // The History page's list: entries whose title, provider or assistant contains the query,
    // case-insensitively; every entry for an empty query. Newest first.
    QList<HistoryEntry> filtered(const QString& query) const;

Q_SIGNALS:
    void historyChanged();

private:
    void record(const TerminalSession& session, const QString& directory);
    void save();
    void load(QList<HistoryEntry> stored);
    void rewriteFile();

    Preferences* m_store;
    Notices& m_notices;
    QList<HistoryEntry> m_history;
    std::unique_ptr<HistoryFile> m_file;
    bool m_loaded = true;
    // Before the file is loaded: the sessions recorded meanwhile, and whether the history
    // was cleared (what is loaded then is dropped).
    QList<HistoryEntry> m_recordedBeforeLoad;
    bool m_clearedBeforeLoad = false;
    int m_fileLines = 0;
    std::function<void(const TerminalSession&, HistoryEntry&)> m_describe;
};
