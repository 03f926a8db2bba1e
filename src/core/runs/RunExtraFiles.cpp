#include "core/runs/IgnorePatterns.h"
#include "core/runs/RunFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <set>

namespace RunFiles {

namespace {

// Folders no pattern reaches into: installed dependencies, version control, keys.
const std::set<QString> kNeverEntered = {
    QStringLiteral(".git"),         QStringLiteral(".svn"),  QStringLiteral(".hg"),
    QStringLiteral("node_modules"), QStringLiteral(".venv"), QStringLiteral("venv"),
    QStringLiteral(".ssh"),         QStringLiteral(".aws"),  QStringLiteral(".gnupg"),
};
constexpr int kMaximumExtraFiles = 1000;
constexpr qint64 kMaximumExtraBytes = 50'000'000;
constexpr int kMaximumDepth = 64;

const QString kTooManyExtras = QStringLiteral(
    "The extra-file patterns match more than 1,000 files or 50 MB. Narrow them in the project's "
    "team-run settings.");

struct ExtraWalk {
    const IgnorePatterns& patterns;
    const Listing& listed;
    QStringList found;
    qint64 bytes = 0;

    void walk(const QString& folder, const QString& relative, int depth) {
        if (depth > kMaximumDepth) {
            return;
        }
        const QFileInfoList entries = QDir(folder).entryInfoList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo& entry : entries) {
            // A link may lead anywhere, outside the project too: never taken, never followed.
            if (entry.isSymLink()) {
                continue;
            }
            const QString path =
                relative.isEmpty() ? entry.fileName() : relative + u'/' + entry.fileName();
            if (entry.isDir()) {
                if (kNeverEntered.count(entry.fileName()) == 0) {
                    walk(entry.filePath(), path, depth + 1);
                }
                continue;
            }
            if (!entry.isFile() || listed.count(path) > 0 || !patterns.matches(path)) {
                continue;
            }
            found.append(path);
            bytes += entry.size();
            if (found.size() > kMaximumExtraFiles || bytes > kMaximumExtraBytes) {
                throw RunFilesError(kTooManyExtras);
            }
        }
    }
};

}  // namespace

QStringList extraFiles(const QString& root, const QStringList& patterns) {
    const IgnorePatterns matcher(patterns);
    if (matcher.isEmpty()) {
        return {};
    }
    const Listing listed = files(root);
    ExtraWalk walk{matcher, listed, {}, 0};
    walk.walk(QDir(root).absolutePath(), QString(), 0);
    std::sort(walk.found.begin(), walk.found.end(), CodePointLess());
    return walk.found;
}

QStringList copyExtraFiles(const QString& from, const QString& to, const QStringList& paths) {
    QStringList copied;
    for (const QString& path : paths) {
        const QFileInfo source(QDir(from).filePath(path));
        if (source.isSymLink() || !source.isFile()) {
            continue;
        }
        const QString target = QDir(to).filePath(path);
        if (!QDir().mkpath(QFileInfo(target).path())) {
            throw RunFilesError::system(errno,
                                        QStringLiteral("Could not create the folder of ") + path);
        }
        QFile::remove(target);
        if (!QFile::copy(source.filePath(), target)) {
            throw RunFilesError(QStringLiteral("Could not copy the extra file ") + path);
        }
        copied.append(path);
    }
    return copied;
}

}  // namespace RunFiles
