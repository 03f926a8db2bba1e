#include "core/runs/RunFiles.h"

#include "core/runs/ApplyJournal.h"
#include "core/runs/RunFilesInternal.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <new>
#include <optional>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using PosixFiles::UniqueFd;
using RunFiles::detail::Found;

namespace RunFiles {

namespace {

constexpr int kDefaultMode = 0644;  // 420

// How long an apply waits for another apply to the same project to finish.
constexpr int kLockWaitMilliseconds = 2000;

QString projectConflict(const QString& path) {
    return path + QStringLiteral(
                      " changed in your project since this run began. Nothing was applied; "
                      "review the conflict first.");
}

QString assistantConflict(const QString& path) {
    return QStringLiteral("The assistant changed ") + path +
           QStringLiteral(" after this review opened. Refresh changes before applying.");
}

QString folderInTheWay(const QString& path) {
    return QStringLiteral("A folder in your project stands where the copy has the file ") + path +
           QStringLiteral(". Nothing was applied; move or remove that folder first.");
}

QString changedWhileApplying(const QString& path) {
    return path + QStringLiteral(
                      " changed in your project while the files were being applied. Nothing was "
                      "applied, and that change was kept.");
}

const QString kBusy = QStringLiteral(
    "Another apply to this project is in progress. Nothing was applied; try again "
    "when it has finished.");
const QString kOutOfMemory = QStringLiteral("There was not enough memory to apply the files.");

// Every failure leaves apply as a RunFilesError, whatever threw it.
RunFilesError asRunFilesError(const std::exception_ptr& thrown) {
    try {
        std::rethrow_exception(thrown);
    } catch (const RunFilesError& error) {
        return error;
    } catch (const std::bad_alloc&) {
        return RunFilesError(kOutOfMemory);
    } catch (const std::exception& error) {
        return RunFilesError(QStringLiteral("Could not apply the files: ") +
                             QString::fromLocal8Bit(error.what()));
    } catch (...) {
        return RunFilesError(QStringLiteral("Could not apply the files."));
    }
}

bool holds(const Found& found, const std::optional<QString>& hash, const std::optional<int>& mode) {
    switch (found.kind) {
        case Found::Kind::Nothing:
            return !hash && !mode;
        case Found::Kind::File:
            return !found.tooLarge && hash && *hash == found.hash && mode && *mode == found.mode;
        case Found::Kind::Folder:
        case Found::Kind::Other:
            return false;
    }
    return false;
}

struct Planned {
    const FileChange* change;
    detail::SafePath target;
    std::string relative;
    qint64 size = 0;          // bytes of the copy's file, as validated
    struct stat original {};  // the project file as backed up
    qint64 readLimit = 0;     // the most of one file read to check it
};

UniqueFd openForApply(const QString& folder) {
    UniqueFd fd = PosixFiles::openFolder(folder);
    if (!fd.valid()) {
        throw RunFilesError::system(errno, QStringLiteral("Could not open ") + folder);
    }
    return fd;
}

UniqueFd duplicate(int fd) {
    return UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

// The folders below `root` that writing `relative` has to create, parents first: from the
// first missing one down. A file standing where a folder must be is left for the write to
// fail on.
void missingFolders(int root, const std::string& relative, std::set<std::string>& folders) {
    const std::string parent = PosixFiles::splitParent(relative).first;
    bool missing = false;
    for (size_t end = parent.find('/'); !parent.empty(); end = parent.find('/', end + 1)) {
        const std::string prefix = parent.substr(0, end);
        if (!missing) {
            const UniqueFd folder =
                PosixFiles::openBeneath(root, prefix, O_RDONLY | O_DIRECTORY | O_NONBLOCK);
            missing = !folder.valid() && errno == ENOENT;
            if (!folder.valid() && !missing) {
                return;
            }
        }
        if (missing) {
            folders.insert(prefix);
        }
        if (end == std::string::npos) {
            return;
        }
    }
}

// Right before the project file of `planned` is replaced or removed, it must still be the
// file backed up: same inode, size, modification time and bits, and (always hashed) the same
// bytes. An edit saved meanwhile stops the apply instead of being lost.
void requireUnchanged(const Planned& planned, int folder, const std::string& name) {
    const FileChange& change = *planned.change;
    const UniqueFd current(
        ::openat(folder, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    struct stat now;
    QString hash;
    if (!current.valid() && errno != ENOENT && errno != ELOOP) {
        throw RunFilesError::system(errno, QStringLiteral("Could not read ") + change.path);
    }
    const struct stat& then = planned.original;
    if (!current.valid() || ::fstat(current.get(), &now) != 0 || !S_ISREG(now.st_mode) ||
        now.st_dev != then.st_dev || now.st_ino != then.st_ino || now.st_size != then.st_size ||
        now.st_mtim.tv_sec != then.st_mtim.tv_sec || now.st_mtim.tv_nsec != then.st_mtim.tv_nsec ||
        int(now.st_mode & 07777) != change.beforeMode ||
        !PosixFiles::sha256OfFile(current.get(), hash, planned.readLimit) ||
        hash != change.before) {
        throw RunFilesError(changedWhileApplying(change.path));
    }
}

// Streams the copy's file into the entry's temporary beside the target, checking on the way
// that it is still, byte for byte, the reviewed file; then renames it into place.
void writeFile(const Planned& planned, const detail::JournalEntry& entry, int projectFolder,
               int resultFolder) {
    const FileChange& change = *planned.change;
    const QString failure = QStringLiteral("Could not write ") + change.path;
    const auto [parent, name] = PosixFiles::splitParent(planned.relative);
    const UniqueFd folder =
        parent.empty() ? duplicate(projectFolder) : PosixFiles::makeFolders(projectFolder, parent);
    if (!folder.valid()) {
        throw RunFilesError::system(errno, failure);
    }
    const UniqueFd source =
        PosixFiles::openBeneath(resultFolder, planned.relative, O_RDONLY | O_NONBLOCK);
    struct stat status;
    if (!source.valid() && (errno == ELOOP || errno == EXDEV)) {
        throw RunFilesError(
            QStringLiteral("A file or parent folder is a symbolic link. Review it outside VELK."));
    }
    if (!source.valid() && errno != ENOENT && errno != ENOTDIR) {
        throw RunFilesError::system(errno, QStringLiteral("Could not read ") + change.path);
    }
    if (!source.valid() || ::fstat(source.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        throw RunFilesError(assistantConflict(change.path));
    }
    UniqueFd temporary = PosixFiles::createExclusive(folder.get(), entry.temporary, 0600);
    if (!temporary.valid()) {
        throw RunFilesError::system(errno, failure);
    }
    // Never more than the bytes validated: a file that grew since is not the reviewed one.
    QString hash;
    if (!PosixFiles::copyHashing(source.get(), temporary.get(), planned.size, hash,
                                 entry.temporary)) {
        if (errno == EFBIG) {
            throw RunFilesError(assistantConflict(change.path));
        }
        throw RunFilesError::system(errno, failure);
    }
    if (hash != change.after) {
        throw RunFilesError(assistantConflict(change.path));
    }
    if (::fchmod(temporary.get(), mode_t(entry.afterMode)) != 0 ||
        !PosixFiles::syncFile(temporary.get(), entry.temporary)) {
        throw RunFilesError::system(errno, failure);
    }
    temporary = UniqueFd();
    if (change.before) {
        requireUnchanged(planned, folder.get(), name);
    }
    // An added file never replaces one that appeared meanwhile.
    if (!PosixFiles::renameInFolder(folder.get(), entry.temporary, name,
                                    change.before.has_value())) {
        if (!change.before && errno == EEXIST) {
            throw RunFilesError(changedWhileApplying(change.path));
        }
        throw RunFilesError::system(errno, failure);
    }
}

void removeFile(const Planned& planned, int projectFolder) {
    const FileChange& change = *planned.change;
    const QString failure = QStringLiteral("Could not remove ") + change.path;
    const UniqueFd folder = detail::parentFolder(projectFolder, planned.relative);
    if (!folder.valid()) {
        if (errno == ENOENT || errno == ENOTDIR) {
            throw RunFilesError(changedWhileApplying(change.path));
        }
        throw RunFilesError::system(errno, failure);
    }
    const std::string name = PosixFiles::splitParent(planned.relative).second;
    requireUnchanged(planned, folder.get(), name);
    if (!PosixFiles::removeFile(folder.get(), name)) {
        throw RunFilesError::system(errno, failure);
    }
}

void applyLocked(const std::vector<FileChange>& changes, const QString& project,
                 const QString& result, const QString& backup,
                 std::vector<ApplyRecovery>* recovered, const ApplyProgress& progress,
                 const RunLimits& limits) {
    const auto report = [&](ApplyStep step, std::size_t done) {
        if (progress) {
            progress(step, done, changes.size());
        }
    };
    // Every path is checked on both sides before any file is read.
    std::vector<Planned> plan;
    std::set<std::string> seen;
    QString resultBase;
    size_t writes = 0;
    for (const FileChange& change : changes) {
        detail::SafePath target = detail::resolveSafely(change.path, project);
        Planned planned{&change, std::move(target), {}, 0, {}, limits.bytes};
        const detail::SafePath source = detail::resolveSafely(change.path, result);
        planned.relative = planned.target.relative;
        resultBase = source.base;
        if (source.relative != planned.relative || !seen.insert(planned.relative).second) {
            throw RunFilesError(QStringLiteral("Invalid change path."));
        }
        writes += change.after ? 1 : 0;
        plan.push_back(std::move(planned));
    }
    if (plan.empty()) {
        return;
    }
    const UniqueFd projectFolder = openForApply(plan.front().target.base);
    const UniqueFd resultFolder = openForApply(resultBase);

    // One apply per project at a time, across processes: the lock is on the project folder's
    // own open description, and the kernel drops it with the process however that ends.
    if (!PosixFiles::lockExclusive(projectFolder.get(), kLockWaitMilliseconds)) {
        if (errno == EWOULDBLOCK) {
            throw RunFilesError(kBusy);
        }
        throw RunFilesError::system(errno, QStringLiteral("Could not lock ") + project);
    }
    // An earlier apply to this project that a crash cut short is undone first.
    std::vector<ApplyRecovery> recoveries = detail::recoverProject(projectFolder.get());
    if (recovered) {
        recovered->insert(recovered->end(), recoveries.begin(), recoveries.end());
    }
    if (writes > size_t(limits.files)) {
        throw RunFilesError(limits.tooManyToApply());
    }

    // Phase 1: the project must still hold what the baseline held, and the copy what the
    // review showed, within the listing's limits. Sizes are hints only: files are hashed in
    // chunks up to what is left of the limit, so a file that grew (even to a sparse terabyte)
    // is refused without being read whole.
    qint64 budget = limits.bytes;
    std::set<std::string> folders;
    std::size_t checked = 0;
    for (Planned& planned : plan) {
        report(ApplyStep::Checking, checked++);
        const FileChange& change = *planned.change;
        const Found inProject =
            detail::look(projectFolder.get(), planned.relative, change.path, limits.bytes);
        if (change.after && inProject.kind == Found::Kind::Folder) {
            throw RunFilesError(folderInTheWay(change.path));
        }
        if (!holds(inProject, change.before, change.beforeMode)) {
            throw RunFilesError(projectConflict(change.path));
        }
        Found inCopy = detail::look(resultFolder.get(), planned.relative, change.path, budget);
        if (inCopy.tooLarge) {
            throw RunFilesError(limits.grownTooLarge(change.path));
        }
        if (inCopy.kind != Found::Kind::File) {
            inCopy = Found();  // only regular files are ever copied
        }
        if (!holds(inCopy, change.after, change.afterMode)) {
            throw RunFilesError(assistantConflict(change.path));
        }
        planned.size = inCopy.hashedSize;
        budget -= inCopy.hashedSize;
        if (change.after) {
            missingFolders(projectFolder.get(), planned.relative, folders);
        }
    }

    // Phase 2: back up every project file that will be replaced or removed. The copy is
    // hashed again so the backup is known to hold the validated original, and the original's
    // identity is kept for the check right before it is replaced.
    if (!QDir().mkpath(backup)) {
        throw RunFilesError::system(errno ? errno : EIO,
                                    QStringLiteral("Could not create ") + backup);
    }
    const UniqueFd backupFolder = openForApply(backup);
    std::size_t backedUp = 0;
    for (Planned& planned : plan) {
        report(ApplyStep::BackingUp, backedUp++);
        if (!planned.change->before) {
            continue;
        }
        const QString& path = planned.change->path;
        const auto [parent, name] = PosixFiles::splitParent(planned.relative);
        UniqueFd original =
            PosixFiles::openBeneath(projectFolder.get(), planned.relative, O_RDONLY | O_NONBLOCK);
        UniqueFd folder = parent.empty() ? duplicate(backupFolder.get())
                                         : PosixFiles::makeFolders(backupFolder.get(), parent);
        if (!original.valid() || ::fstat(original.get(), &planned.original) != 0 ||
            !folder.valid() || !PosixFiles::copyFile(original.get(), folder.get(), name)) {
            throw RunFilesError::system(errno, QStringLiteral("Could not back up ") + path);
        }
        const Found copied = detail::look(backupFolder.get(), planned.relative, path, limits.bytes);
        if (!holds(copied, planned.change->before, planned.change->beforeMode)) {
            throw RunFilesError(projectConflict(path));
        }
    }

    // The journal: from here on, a crash is undone by the next recovery.
    detail::JournalIntent intent;
    intent.project = plan.front().target.base;
    intent.projectIdentity = detail::identity(projectFolder.get());
    intent.backup = QFileInfo(backup).absoluteFilePath();
    intent.folders.assign(folders.begin(), folders.end());
    for (const Planned& planned : plan) {
        const FileChange& change = *planned.change;
        intent.entries.push_back({planned.relative, change.before, change.beforeMode.value_or(0),
                                  change.after,
                                  change.afterMode ? *change.afterMode & 0777 : kDefaultMode,
                                  PosixFiles::temporaryName(), PosixFiles::temporaryName()});
    }
    detail::Journal journal(intent, backupFolder.get());

    // Phase 3: write. Each step is a rename or an unlink, so a failing step leaves its file
    // as it was; the roll-back puts back every file that still holds what was written.
    std::vector<bool> touched(plan.size(), false);
    std::set<std::string> parents;
    for (const Planned& planned : plan) {
        parents.insert(PosixFiles::splitParent(planned.relative).first);
    }
    std::exception_ptr failure;
    try {
        for (size_t index = 0; index < plan.size(); ++index) {
            report(ApplyStep::Writing, index);
            if (plan[index].change->after) {
                writeFile(plan[index], intent.entries[index], projectFolder.get(),
                          resultFolder.get());
            } else {
                removeFile(plan[index], projectFolder.get());
            }
            touched[index] = true;
            journal.record(plan[index].change->after ? "written" : "removed", index);
        }
        report(ApplyStep::Writing, plan.size());
        // The files were flushed before their renames; the folders holding the renames are
        // flushed before the apply counts as complete.
        for (const std::string& parent : parents) {
            const UniqueFd folder =
                parent.empty()
                    ? duplicate(projectFolder.get())
                    : PosixFiles::openBeneath(projectFolder.get(), parent, O_RDONLY | O_DIRECTORY);
            if (!folder.valid() || !PosixFiles::syncFile(folder.get(), parent)) {
                throw RunFilesError::system(errno, QStringLiteral("Could not write to ") + project);
            }
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure) {
        journal.finish();
        return;
    }
    const RunFilesError error = asRunFilesError(failure);
    journal.record("failed");
    const detail::RollBackResult undone =
        detail::rollBack(intent, projectFolder.get(), backupFolder.get());
    QStringList unrestored;
    QStringList kept;
    for (size_t index = 0; index < plan.size(); ++index) {
        if (undone.outcomes[index] == detail::Outcome::Unrestored) {
            unrestored.append(plan[index].change->path);
        } else if (undone.outcomes[index] == detail::Outcome::Edited && touched[index]) {
            kept.append(plan[index].change->path);
        }
    }
    journal.close(!unrestored.isEmpty());
    QString message = error.message();
    if (!unrestored.isEmpty()) {
        message += QStringLiteral(" These files could not be restored from the backup: ") +
                   unrestored.join(QStringLiteral(", ")) + u'.';
    }
    if (!kept.isEmpty()) {
        message += QStringLiteral(
                       " These files were changed after they were written and were "
                       "left as they are: ") +
                   kept.join(QStringLiteral(", ")) + u'.';
    }
    throw RunFilesError(error.domain(), error.code(), message);
}

}  // namespace

void apply(const std::vector<FileChange>& changes, const QString& project, const QString& result,
           const QString& backup, std::vector<ApplyRecovery>* recovered,
           const ApplyProgress& progress, const RunLimits& limits) {
    try {
        applyLocked(changes, project, result, backup, recovered, progress, limits);
    } catch (...) {
        throw asRunFilesError(std::current_exception());
    }
}

}  // namespace RunFiles
