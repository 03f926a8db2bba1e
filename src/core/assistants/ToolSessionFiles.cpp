#include "core/assistants/ToolSessionFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <optional>

namespace {

// Canonical where the folder exists, so that a link and its target compare equal.
QString canonical(const QString& directory) {
    const QString resolved = QFileInfo(directory).canonicalFilePath();
    return resolved.isEmpty() ? QDir::cleanPath(directory) : resolved;
}

QString codexHome() {
    const QString chosen = qEnvironmentVariable("CODEX_HOME");
    return chosen.isEmpty() ? QDir::homePath() + QStringLiteral("/.codex") : chosen;
}

// The session meta of one rollout file, which Codex writes as its first line.
std::optional<ToolSessionFile> codexMeta(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    // Its instructions can make the line long; a line cut short does not parse and is read
    // again on the next look.
    const QJsonObject line = QJsonDocument::fromJson(file.readLine(4 << 20)).object();
    if (line.value(QStringLiteral("type")).toString() != QStringLiteral("session_meta")) {
        return std::nullopt;
    }
    const QJsonObject meta = line.value(QStringLiteral("payload")).toObject();
    QString time = meta.value(QStringLiteral("timestamp")).toString();
    if (time.isEmpty()) {
        time = line.value(QStringLiteral("timestamp")).toString();
    }
    ToolSessionFile found{meta.value(QStringLiteral("id")).toString(),
                          canonical(meta.value(QStringLiteral("cwd")).toString()),
                          QDateTime::fromString(time, Qt::ISODateWithMs)};
    if (found.id.isEmpty() || found.directory.isEmpty() || !found.created.isValid()) {
        return std::nullopt;
    }
    return found;
}

}  // namespace

QList<ToolSessionFile> ToolSessionFiles::codex(const QDateTime& since) {
    QList<ToolSessionFile> found;
    const QDir sessions(codexHome() + QStringLiteral("/sessions"));
    // Day folders are named after the local date; a day either side covers any time zone.
    const QDate today = QDate::currentDate();
    for (QDate day = since.toLocalTime().date().addDays(-1); day <= today.addDays(1);
         day = day.addDays(1)) {
        const QDir folder(sessions.filePath(day.toString(QStringLiteral("yyyy/MM/dd"))));
        const QFileInfoList files =
            folder.entryInfoList({QStringLiteral("rollout-*.jsonl")}, QDir::Files, QDir::Name);
        for (const QFileInfo& file : files) {
            // A file last written before `since` holds no conversation begun since.
            if (file.lastModified() < since) {
                continue;
            }
            if (auto meta = codexMeta(file.filePath()); meta && meta->created >= since) {
                found.append(*meta);
            }
        }
    }
    return found;
}

QHash<QUuid, QString> ToolSessionFiles::match(const QList<StartedToolSession>& sessions,
                                              const QList<ToolSessionFile>& files,
                                              const QSet<QString>& claimed) {
    QHash<QString, QList<StartedToolSession>> byFolder;
    for (const StartedToolSession& session : sessions) {
        byFolder[canonical(session.directory)].append(session);
    }
    QHash<QUuid, QString> matched;
    for (auto folder = byFolder.begin(); folder != byFolder.end(); ++folder) {
        QList<StartedToolSession>& started = folder.value();
        std::sort(started.begin(), started.end(),
                  [](const StartedToolSession& a, const StartedToolSession& b) {
                      return a.started < b.started;
                  });
        for (qsizetype i = 0; i < started.size(); ++i) {
            if (!started[i].waiting) {
                continue;
            }
            const QDateTime from = started[i].started;
            const std::optional<QDateTime> until =
                i + 1 < started.size() ? std::optional(started[i + 1].started) : std::nullopt;
            QStringList candidates;
            for (const ToolSessionFile& file : files) {
                if (file.directory == folder.key() && !claimed.contains(file.id) &&
                    file.created >= from && (!until || file.created < *until) &&
                    !candidates.contains(file.id)) {
                    candidates.append(file.id);
                }
            }
            if (candidates.size() == 1) {
                matched.insert(started[i].session, candidates.first());
            }
        }
    }
    return matched;
}
