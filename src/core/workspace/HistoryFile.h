#pragma once

#include "core/base/Result.h"
#include "core/workspace/HistoryEntry.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

// The history's own file: JSON Lines, one snapshot per line (HistoryEntry::toJson), oldest
// first. A finished session is appended as one line; a clear or a compaction rewrites the
// whole file through a temporary renamed over it. A line that does not read (the last one,
// cut short when VELK was killed in the middle of an append) is skipped and costs only
// itself, and the next append starts on a line of its own.
//
// The file is only ever touched off the main thread: the work is queued and run one piece
// at a time, in the order it was queued.
class HistoryFile {
public:
    // The newest `limit` snapshots, newest first, and how many lines the file holds.
    struct Contents {
        QList<HistoryEntry> entries;
        int lines = 0;
    };

    explicit HistoryFile(QString path);
    // Waits for the queued work.
    ~HistoryFile();
    HistoryFile(const HistoryFile&) = delete;
    HistoryFile& operator=(const HistoryFile&) = delete;

    const QString& path() const { return m_path; }

    // Runs `work` on a background thread once everything queued before it has run.
    void enqueue(std::function<void()> work);
    // Returns once nothing is queued or running.
    void waitForIdle() const;

    // The operations the queued work performs; any thread.
    static Contents read(const QString& path, int limit);
    static Result<void> append(const QString& path, const HistoryEntry& entry);
    // Replaces the file with `entries` (newest first, written oldest first).
    static Result<void> rewrite(const QString& path, const QList<HistoryEntry>& entries);

private:
    struct Queue;
    QString m_path;
    std::shared_ptr<Queue> m_queue;
};
