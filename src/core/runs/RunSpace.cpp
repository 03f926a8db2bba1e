#include "core/runs/RunSpace.h"

#include "core/base/Background.h"
#include "core/runs/ApplyJournal.h"
#include "core/runs/PosixFiles.h"
#include "core/runs/RunStore.h"

#include <QDir>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

bool isBackup(const fs::path& entry) {
    return entry.filename().string().starts_with("backup-");
}

bool stopped(const BackgroundJob* job) {
    return job && job->cancelled();
}

// Allocated bytes of the entries of the open folder `folder` and everything below them (the
// folder is closed here); links count as themselves. Each entry is stat'ed once, by its name
// in its folder, so that no path is built or walked again.
qint64 usageBelow(int folder, const BackgroundJob* job) {
    DIR* listing = ::fdopendir(folder);
    if (!listing) {
        ::close(folder);
        return 0;
    }
    qint64 total = 0;
    while (const dirent* entry = ::readdir(listing)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) {
            continue;
        }
        struct stat status;
        if (::fstatat(::dirfd(listing), name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        total += qint64(status.st_blocks) * 512;
        if (S_ISDIR(status.st_mode) && !stopped(job)) {
            const int below =
                ::openat(::dirfd(listing), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (below >= 0) {
                total += usageBelow(below, job);
            }
        }
    }
    ::closedir(listing);
    return total;
}

// Allocated bytes of `path` and everything below it; links count as themselves.
qint64 usageOf(const fs::path& path, const BackgroundJob* job = nullptr) {
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0) {
        return 0;
    }
    const qint64 total = qint64(status.st_blocks) * 512;
    if (!S_ISDIR(status.st_mode)) {
        return total;
    }
    const int folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return folder < 0 ? total : total + usageBelow(folder, job);
}

}  // namespace

namespace RunStore {

DiskUsage diskUsage(const TeamRun& run, const BackgroundJob* job) {
    DiskUsage usage;
    const fs::path root(PosixFiles::encode(run.root));
    std::error_code error;
    struct stat status;
    if (::lstat(root.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return usage;
    }
    usage.total = qint64(status.st_blocks) * 512;
    for (auto entry = fs::directory_iterator(root, error);
         !error && entry != fs::directory_iterator(); entry.increment(error)) {
        const qint64 bytes = usageOf(entry->path(), job);
        usage.total += bytes;
        if (isBackup(entry->path())) {
            usage.backups += bytes;
        }
    }
    return usage;
}

QString removalRefusal(const TeamRun& run, const QString& storageRoot) {
    // The record is read below, and must not be written again once the folder is gone.
    waitForSaves();
    const QString root = QDir::cleanPath(run.root);
    // A record names its own folder; a damaged or planted one must never lead VELK to delete
    // a folder outside the runs.
    const QFileInfo folder(root);
    const std::optional<TeamRun> stored = [&]() -> std::optional<TeamRun> {
        QFile record(root + QStringLiteral("/run.json"));
        if (!record.open(QIODevice::ReadOnly)) {
            return std::nullopt;
        }
        return TeamRun::fromJsonBytes(record.read(1 << 22));
    }();
    if (folder.isSymLink() || !folder.isDir() ||
        QDir::cleanPath(folder.absolutePath()) !=
            QDir::cleanPath(QFileInfo(storageRoot).absoluteFilePath()) ||
        !stored || stored->id != run.id) {
        return QStringLiteral(
                   "This run’s folder is not one of VELK’s run folders, so VELK does "
                   "not delete it: ") +
               root;
    }
    for (const QString& journal : RunFiles::detail::journalsInProgress()) {
        if (QDir::cleanPath(journal).startsWith(root + u'/')) {
            return QStringLiteral(
                "An apply from this run was interrupted and its backups are still needed to "
                "undo it. Start VELK again or apply to that project once more to roll it back, "
                "then delete the run.");
        }
    }
    return QString();
}

Result<qint64> remove(const TeamRun& run, const QString& storageRoot, bool withBackups) {
    if (const QString refusal = removalRefusal(run, storageRoot); !refusal.isEmpty()) {
        return Error::invalid(refusal);
    }
    const QString root = QDir::cleanPath(run.root);
    const fs::path path(PosixFiles::encode(root));
    qint64 freed = 0;
    std::error_code error;
    const fs::path record = path / "run.json";
    freed += usageOf(record);
    if (!fs::remove(record, error) && error) {
        return Error::system(error.value(), QStringLiteral("Could not delete the run"));
    }
    std::vector<fs::path> entries;
    for (auto entry = fs::directory_iterator(path, error);
         !error && entry != fs::directory_iterator(); entry.increment(error)) {
        entries.push_back(entry->path());
    }
    bool kept = false;
    for (const fs::path& entry : entries) {
        if (isBackup(entry) && !withBackups) {
            kept = true;
            continue;
        }
        const qint64 bytes = usageOf(entry);
        // remove_all deletes links themselves, never what they point to.
        fs::remove_all(entry, error);
        if (error) {
            return Error::system(error.value(), QStringLiteral("Could not delete ") +
                                                    PosixFiles::decode(entry.string()));
        }
        freed += bytes;
    }
    if (!kept) {
        freed += usageOf(path);
        fs::remove(path, error);
    }
    return freed;
}

}  // namespace RunStore
