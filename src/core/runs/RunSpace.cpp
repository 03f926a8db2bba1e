#include "core/runs/RunSpace.h"

#include "core/runs/ApplyJournal.h"
#include "core/runs/PosixFiles.h"
#include "core/runs/RunStore.h"

#include <QDir>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

bool isBackup(const fs::path& entry) {
    return entry.filename().string().starts_with("backup-");
}

// Allocated bytes of `path` and everything below it; links count as themselves.
qint64 usageOf(const fs::path& path) {
    const auto allocated = [](const fs::path& each) -> qint64 {
        struct stat status;
        return ::lstat(each.c_str(), &status) == 0 ? qint64(status.st_blocks) * 512 : 0;
    };
    qint64 total = allocated(path);
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(path, error))) {
        return total;
    }
    for (auto entry = fs::recursive_directory_iterator(
             path, fs::directory_options::skip_permission_denied, error);
         !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
        total += allocated(entry->path());
    }
    return total;
}

}  // namespace

namespace RunStore {

DiskUsage diskUsage(const TeamRun& run) {
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
        const qint64 bytes = usageOf(entry->path());
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
