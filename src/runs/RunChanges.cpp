#include "runs/RunFiles.h"

#include "runs/RunFilesInternal.h"

#include <QStringDecoder>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>

using PosixFiles::UniqueFd;

namespace RunFiles {

namespace {

struct HashedFile {
    QString hash;
    int mode = 0;
};

HashedFile hashBeneath(int folder, const std::string& relative) {
    UniqueFd file = PosixFiles::openBeneath(folder, relative, O_RDONLY | O_NONBLOCK);
    struct stat status;
    HashedFile hashed;
    if (!file.valid() || ::fstat(file.get(), &status) != 0) {
        throw RunFilesError::system(
            errno, QStringLiteral("Could not read ") + QString::fromStdString(relative));
    }
    if (!S_ISREG(status.st_mode)) {
        throw RunFilesError::system(
            EINVAL, QStringLiteral("Could not read ") + QString::fromStdString(relative));
    }
    if (!PosixFiles::sha256OfFile(file.get(), hashed.hash)) {
        throw RunFilesError::system(
            errno, QStringLiteral("Could not read ") + QString::fromStdString(relative));
    }
    hashed.mode = int(status.st_mode & 07777);
    return hashed;
}

const QString kNoPreview =
    QStringLiteral("File absent, binary, or too large for the text preview.");

constexpr off_t kLargestPreview = 2'000'000;

}  // namespace

std::vector<FileChange> changes(const QString& baseline, const QString& result) {
    const detail::ListedTree before = detail::listTree(baseline);
    const detail::ListedTree after = detail::listTree(result);

    // Both listings are sorted by their UTF-8 bytes, which is code-point order: merge them.
    struct Pair {
        const std::string* relative;
        bool inBefore;
        bool inAfter;
    };
    std::vector<Pair> paths;
    paths.reserve(before.files.size() + after.files.size());
    size_t left = 0;
    size_t right = 0;
    while (left < before.files.size() || right < after.files.size()) {
        if (right == after.files.size() ||
            (left < before.files.size() &&
             before.files[left].relative < after.files[right].relative)) {
            paths.push_back({&before.files[left++].relative, true, false});
        } else if (left == before.files.size() ||
                   after.files[right].relative < before.files[left].relative) {
            paths.push_back({&after.files[right++].relative, false, true});
        } else {
            paths.push_back({&before.files[left].relative, true, true});
            ++left;
            ++right;
        }
    }

    // One job per file on each side, spread over both cores.
    std::vector<std::pair<size_t, bool>> jobs;  // (path index, baseline side)
    for (size_t index = 0; index < paths.size(); ++index) {
        if (paths[index].inBefore) {
            jobs.emplace_back(index, true);
        }
        if (paths[index].inAfter) {
            jobs.emplace_back(index, false);
        }
    }
    std::vector<HashedFile> beforeHashes(paths.size());
    std::vector<HashedFile> afterHashes(paths.size());
    detail::runInParallel(jobs.size(), [&](size_t job) {
        const auto [index, baselineSide] = jobs[job];
        if (baselineSide) {
            beforeHashes[index] = hashBeneath(before.folder.get(), *paths[index].relative);
        } else {
            afterHashes[index] = hashBeneath(after.folder.get(), *paths[index].relative);
        }
    });

    std::vector<FileChange> found;
    for (size_t index = 0; index < paths.size(); ++index) {
        const Pair& pair = paths[index];
        if (pair.inBefore && pair.inAfter && beforeHashes[index].hash == afterHashes[index].hash &&
            beforeHashes[index].mode == afterHashes[index].mode) {
            continue;
        }
        FileChange change;
        change.path = QString::fromStdString(*pair.relative);
        if (pair.inBefore) {
            change.before = beforeHashes[index].hash;
            change.beforeMode = beforeHashes[index].mode;
        }
        if (pair.inAfter) {
            change.after = afterHashes[index].hash;
            change.afterMode = afterHashes[index].mode;
        }
        found.push_back(std::move(change));
    }
    return found;
}

QString preview(const QString& root, const QString& path) {
    try {
        const detail::SafePath safe = detail::resolveSafely(path, root);
        const UniqueFd folder = PosixFiles::openFolder(safe.base);
        if (!folder.valid()) {
            return kNoPreview;
        }
        const UniqueFd file =
            PosixFiles::openBeneath(folder.get(), safe.relative, O_RDONLY | O_NONBLOCK);
        struct stat status;
        if (!file.valid() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
            status.st_size >= kLargestPreview) {
            return kNoPreview;
        }
        QByteArray bytes;
        if (!PosixFiles::readAll(file.get(), bytes) || bytes.size() >= kLargestPreview) {
            return kNoPreview;
        }
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = decoder.decode(bytes);
        if (decoder.hasError()) {
            return kNoPreview;
        }
        return text;
    } catch (const RunFilesError&) {
        return kNoPreview;
    }
}

}  // namespace RunFiles
