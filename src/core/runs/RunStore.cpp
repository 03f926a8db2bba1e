#include "core/runs/RunStore.h"

#include "core/runs/PosixFiles.h"
#include "core/runs/RunSaveQueue.h"
#include "core/services/AppPaths.h"

#include <algorithm>
#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace RunStore {

namespace {

const std::string kRecordName = "run.json";

// A record is a few kilobytes; anything far larger is not one of ours.
constexpr off_t kLargestRecord = 64 * 1024 * 1024;

std::optional<QByteArray> readRecord(int runFolder) {
    PosixFiles::UniqueFd file(
        ::openat(runFolder, kRecordName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat status;
    if (!file.valid() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size > kLargestRecord) {
        return std::nullopt;
    }
    QByteArray bytes;
    if (!PosixFiles::readAll(file.get(), bytes, kLargestRecord)) {
        return std::nullopt;
    }
    return bytes;
}

// Never destroyed: a record may still be queued while static objects are torn down.
RunSaveQueue& queuedSaves() {
    static auto* queue = new RunSaveQueue(&save);
    return *queue;
}

QString freshName() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

}  // namespace

QString newRunFolder(const QString& storageRoot) {
    return storageRoot + u'/' + freshName();
}

QString baselineFolder(const TeamRun& run) {
    return run.root + QStringLiteral("/baseline");
}

QString newCopyFolder(const QString& runFolder) {
    return runFolder + u'/' + freshName();
}

QString outputFile(const TeamRun& run, const RunCopy& copy) {
    return run.root + QStringLiteral("/output-") +
           copy.id.toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".txt");
}

QString newBackupFolder(const TeamRun& run) {
    return run.root + QStringLiteral("/backup-") + freshName();
}

QString defaultRoot() {
    return AppPaths::dataRoot() + QStringLiteral("/Runs");
}

std::optional<std::vector<TeamRun>> load(const QString& storageRoot) {
    waitForSaves();
    PosixFiles::UniqueFd root = PosixFiles::openFolder(storageRoot);
    if (!root.valid()) {
        return std::nullopt;
    }
    DIR* listing = ::fdopendir(::fcntl(root.get(), F_DUPFD_CLOEXEC, 0));
    if (!listing) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    const bool complete = errno == 0;
    ::closedir(listing);
    if (!complete) {
        return std::nullopt;
    }

    std::vector<TeamRun> runs;
    for (const std::string& name : names) {
        PosixFiles::UniqueFd runFolder(
            ::openat(root.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!runFolder.valid()) {
            continue;
        }
        const auto bytes = readRecord(runFolder.get());
        if (!bytes) {
            continue;
        }
        if (auto run = TeamRun::fromJsonBytes(*bytes)) {
            runs.push_back(std::move(*run));
        }
    }
    std::stable_sort(runs.begin(), runs.end(), [](const TeamRun& left, const TeamRun& right) {
        return left.created > right.created;
    });
    return runs;
}

Result<void> save(const TeamRun& run) {
    const QByteArray bytes = run.toJsonBytes();
    PosixFiles::UniqueFd folder = PosixFiles::openFolder(run.root);
    if (!folder.valid() || !PosixFiles::writeAtomically(folder.get(), kRecordName, bytes, 0644)) {
        return Error::system(errno, QStringLiteral("Could not save the run record"));
    }
    return {};
}

void saveLater(const TeamRun& run, std::function<void(const Error&)> failed) {
    queuedSaves().save(run, std::move(failed));
}

void waitForSaves() {
    queuedSaves().wait();
}

}  // namespace RunStore
