#include "runs/RunFiles.h"

#include "runs/RunFilesInternal.h"

#include <QDir>
#include <QStringList>

#include <cerrno>
#include <optional>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using PosixFiles::UniqueFd;

namespace RunFiles {

namespace {

constexpr int kDefaultMode = 0644;  // 420

QString projectConflict(const QString& path) {
    return path + QStringLiteral(
                      " changed in your project since this run began. Nothing was applied; "
                      "review the conflict first.");
}

QString assistantConflict(const QString& path) {
    return QStringLiteral("The assistant changed ") + path +
           QStringLiteral(" after this review opened. Refresh changes before applying.");
}

// What stands at a path when it is looked at: nothing, a regular file (hashed, its bytes
// kept when asked) or something else (a folder, a pipe, a device).
struct Found {
    enum class Kind { Nothing, File, Other } kind = Kind::Nothing;
    QString hash;
    int mode = 0;
    QByteArray bytes;
};

Found look(int folder, const std::string& relative, const QString& path, bool keepBytes) {
    Found found;
    UniqueFd file = PosixFiles::openBeneath(folder, relative, O_RDONLY | O_NONBLOCK);
    if (!file.valid()) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return found;
        }
        if (errno == ELOOP || errno == EXDEV) {
            // A link appeared after the path was checked.
            throw RunFilesError(
                QStringLiteral("A file or parent folder is a symbolic link. Review it outside "
                               "VELK."));
        }
        throw RunFilesError::system(errno, QStringLiteral("Could not read ") + path);
    }
    struct stat status;
    if (::fstat(file.get(), &status) != 0) {
        throw RunFilesError::system(errno, QStringLiteral("Could not read ") + path);
    }
    if (!S_ISREG(status.st_mode)) {
        found.kind = Found::Kind::Other;
        return found;
    }
    found.kind = Found::Kind::File;
    found.mode = int(status.st_mode & 07777);
    bool read = false;
    if (keepBytes) {
        read = PosixFiles::readAll(file.get(), found.bytes);
        found.hash = read ? PosixFiles::sha256Hex(found.bytes) : QString();
    } else {
        read = PosixFiles::sha256OfFile(file.get(), found.hash);
    }
    if (!read) {
        throw RunFilesError::system(errno, QStringLiteral("Could not read ") + path);
    }
    return found;
}

bool matches(const Found& found, const std::optional<QString>& hash,
             const std::optional<int>& mode) {
    switch (found.kind) {
        case Found::Kind::Nothing:
            return !hash && !mode;
        case Found::Kind::File:
            return hash && *hash == found.hash && mode && *mode == found.mode;
        case Found::Kind::Other:
            return false;
    }
    return false;
}

struct Planned {
    const FileChange* change;
    detail::SafePath target;
    std::string relative;
    std::optional<QByteArray> bytes;  // none for a removal
};

// The folder holding `relative` below `root`, reached without following links.
UniqueFd parentFolder(int root, const std::string& relative) {
    const std::string parent = PosixFiles::splitParent(relative).first;
    if (parent.empty()) {
        return UniqueFd(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    }
    return PosixFiles::openBeneath(root, parent, O_RDONLY | O_DIRECTORY);
}

UniqueFd openForApply(const QString& folder) {
    UniqueFd fd = PosixFiles::openFolder(folder);
    if (!fd.valid()) {
        throw RunFilesError::system(errno, QStringLiteral("Could not open ") + folder);
    }
    return fd;
}

}  // namespace

void apply(const std::vector<FileChange>& changes, const QString& project, const QString& result,
           const QString& backup) {
    // Every path is checked on both sides before any file is read.
    std::vector<Planned> plan;
    std::set<std::string> seen;
    QString resultBase;
    for (const FileChange& change : changes) {
        Planned planned{&change, detail::resolveSafely(change.path, project), {}, {}};
        const detail::SafePath source = detail::resolveSafely(change.path, result);
        planned.relative = planned.target.relative;
        resultBase = source.base;
        if (source.relative != planned.relative || !seen.insert(planned.relative).second) {
            throw RunFilesError(QStringLiteral("Invalid change path."));
        }
        plan.push_back(std::move(planned));
    }
    if (plan.empty()) {
        return;
    }
    const UniqueFd projectFolder = openForApply(plan.front().target.base);
    const UniqueFd resultFolder = openForApply(resultBase);

    // Phase 1: the project must still hold what the baseline held, and the copy what the
    // review showed. The copy's bytes are kept: they are what gets written.
    for (Planned& planned : plan) {
        const FileChange& change = *planned.change;
        const Found inProject = look(projectFolder.get(), planned.relative, change.path, false);
        if (!matches(inProject, change.before, change.beforeMode)) {
            throw RunFilesError(projectConflict(change.path));
        }
        Found inCopy = look(resultFolder.get(), planned.relative, change.path, true);
        if (inCopy.kind == Found::Kind::Other) {
            inCopy = Found();  // only regular files are ever copied
        }
        if (!matches(inCopy, change.after, change.afterMode)) {
            throw RunFilesError(assistantConflict(change.path));
        }
        if (inCopy.kind == Found::Kind::File) {
            planned.bytes = std::move(inCopy.bytes);
        }
    }

    // Phase 2: back up every project file that will be replaced or removed. The copy is
    // hashed again so the backup is known to hold the validated original.
    if (!QDir().mkpath(backup)) {
        throw RunFilesError::system(errno ? errno : EIO,
                                    QStringLiteral("Could not create ") + backup);
    }
    const UniqueFd backupFolder = openForApply(backup);
    for (const Planned& planned : plan) {
        if (!planned.change->before) {
            continue;
        }
        const QString& path = planned.change->path;
        const auto [parent, name] = PosixFiles::splitParent(planned.relative);
        UniqueFd original =
            PosixFiles::openBeneath(projectFolder.get(), planned.relative, O_RDONLY | O_NONBLOCK);
        UniqueFd folder = parent.empty() ? UniqueFd(::fcntl(backupFolder.get(), F_DUPFD_CLOEXEC, 0))
                                         : PosixFiles::makeFolders(backupFolder.get(), parent);
        if (!original.valid() || !folder.valid() ||
            !PosixFiles::copyFile(original.get(), folder.get(), name)) {
            throw RunFilesError::system(errno, QStringLiteral("Could not back up ") + path);
        }
        const Found copied = look(backupFolder.get(), planned.relative, path, false);
        if (!matches(copied, planned.change->before, planned.change->beforeMode)) {
            throw RunFilesError(projectConflict(path));
        }
    }

    // Phase 3: write. Each step is a rename or an unlink, so a failing step leaves its file
    // as it was; the steps already done are undone in reverse order.
    struct Touched {
        const Planned* planned;
        bool done;
    };
    std::vector<Touched> touched;
    std::vector<std::string> createdFolders;
    for (const Planned& planned : plan) {
        const FileChange& change = *planned.change;
        touched.push_back({&planned, false});
        const auto [parent, name] = PosixFiles::splitParent(planned.relative);
        bool done = false;
        QString failure;
        if (planned.bytes) {
            UniqueFd folder =
                parent.empty()
                    ? UniqueFd(::fcntl(projectFolder.get(), F_DUPFD_CLOEXEC, 0))
                    : PosixFiles::makeFolders(projectFolder.get(), parent, &createdFolders);
            const mode_t mode = change.afterMode ? mode_t(*change.afterMode & 0777) : kDefaultMode;
            done = folder.valid() &&
                   PosixFiles::writeAtomically(folder.get(), name, *planned.bytes, mode);
            failure = QStringLiteral("Could not write ") + change.path;
        } else {
            UniqueFd folder = parentFolder(projectFolder.get(), planned.relative);
            done = folder.valid() && ::unlinkat(folder.get(), name.c_str(), 0) == 0;
            failure = QStringLiteral("Could not remove ") + change.path;
        }
        if (done) {
            touched.back().done = true;
            continue;
        }
        RunFilesError error = RunFilesError::system(errno, failure);

        // Roll back. Each step ignores its own failure and goes on; files that could not be
        // restored are named in the message so the user knows to look in the backup.
        QStringList unrestored;
        for (auto entry = touched.rbegin(); entry != touched.rend(); ++entry) {
            if (!entry->done) {
                continue;
            }
            const Planned& undo = *entry->planned;
            const auto [undoParent, undoName] = PosixFiles::splitParent(undo.relative);
            UniqueFd folder = parentFolder(projectFolder.get(), undo.relative);
            if (!undo.change->before) {
                if (folder.valid()) {
                    ::unlinkat(folder.get(), undoName.c_str(), 0);
                }
                continue;
            }
            UniqueFd saved =
                PosixFiles::openBeneath(backupFolder.get(), undo.relative, O_RDONLY | O_NONBLOCK);
            QByteArray bytes;
            const mode_t mode =
                undo.change->beforeMode ? mode_t(*undo.change->beforeMode & 07777) : kDefaultMode;
            if (!folder.valid() && !undoParent.empty()) {
                folder = PosixFiles::makeFolders(projectFolder.get(), undoParent);
            }
            if (!saved.valid() || !PosixFiles::readAll(saved.get(), bytes) || !folder.valid() ||
                !PosixFiles::writeAtomically(folder.get(), undoName, bytes, mode)) {
                unrestored.append(undo.change->path);
            }
        }
        for (auto folder = createdFolders.rbegin(); folder != createdFolders.rend(); ++folder) {
            ::unlinkat(projectFolder.get(), folder->c_str(), AT_REMOVEDIR);
        }
        if (!unrestored.isEmpty()) {
            throw RunFilesError(error.domain(), error.code(),
                                error.message() +
                                    QStringLiteral(" These files could not be restored from the "
                                                   "backup: ") +
                                    unrestored.join(QStringLiteral(", ")) + u'.');
        }
        throw error;
    }
}

}  // namespace RunFiles
