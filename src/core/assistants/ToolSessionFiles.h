#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>

// A conversation an assistant recorded in its own session files.
struct ToolSessionFile {
    QString id;         // what the tool's resume form takes
    QString directory;  // the working folder the tool was started in
    QDateTime created;
};

// A session VELK started, whose tool conversation is looked for in the tool's files.
struct StartedToolSession {
    QUuid session;
    QString directory;
    QDateTime started;
    bool waiting = true;  // still without a conversation id
};

namespace ToolSessionFiles {

// Codex's conversations begun at `since` or later: the session meta (first line) of each
// rollout-<time>-<id>.jsonl under $CODEX_HOME/sessions/YYYY/MM/DD, ~/.codex without
// CODEX_HOME. Folders are given canonical. Blocks on the disk: not for the main thread.
QList<ToolSessionFile> codex(const QDateTime& since);

// Which conversation each waiting session started, for sessions of one tool. A session owns
// the time from its start to the start of the next session of that tool in the same folder;
// a waiting session gets the one unclaimed conversation begun in its folder in that time, and
// nothing when there are none or several (another program of the same kind may have started
// in that folder too), so that a session is never given someone else's conversation.
// `sessions` holds every session of the tool that is still tracked, waiting or not, since
// they bound each other's time. Folders are compared canonical.
QHash<QUuid, QString> match(const QList<StartedToolSession>& sessions,
                            const QList<ToolSessionFile>& files, const QSet<QString>& claimed);

}  // namespace ToolSessionFiles
