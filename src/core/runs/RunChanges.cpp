#include "core/runs/RunFiles.h"

#include "core/base/Background.h"
#include "core/runs/RunFilesInternal.h"

#include <QStringDecoder>

#include <cerrno>
#include <exception>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>

using PosixFiles::UniqueFd;

namespace RunFiles {

namespace {

struct HashedFile {
    QString hash;
    int mode = 0;
    int error = 0;  // errno when the file could not be read
};

HashedFile hashBeneath(const OpenBeneath& open, int folder, const std::string& relative) {
    HashedFile hashed;
    PosixFiles::UniqueFd file =
        open ? open(folder, relative, O_RDONLY | O_NONBLOCK)
             : PosixFiles::openBeneath(folder, relative, O_RDONLY | O_NONBLOCK);
    struct stat status;
    if (!file.valid() || ::fstat(file.get(), &status) != 0) {
        hashed.error = errno;
    } else if (!S_ISREG(status.st_mode)) {
        hashed.error = EINVAL;
    } else if (!PosixFiles::sha256OfFile(file.get(), hashed.hash)) {
        hashed.error = errno;
    } else {
        hashed.mode = int(status.st_mode & 07777);
    }
    return hashed;
}

// Whether `relative` is one of `skipped` or lies below one of them.
bool isLeftOut(const std::string& relative, const std::set<std::string>& skipped) {
    if (skipped.empty()) {
        return false;
    }
    for (size_t slash = relative.find('/'); slash != std::string::npos;
         slash = relative.find('/', slash + 1)) {
        if (skipped.contains(relative.substr(0, slash))) {
            return true;
        }
    }
    return skipped.contains(relative);
}

// The comparison behind changes() and review(). Without `skipped`, the first entry that
// cannot be read fails it.
std::vector<FileChange> compare(const QString& baseline, const QString& result,
                                std::vector<detail::SkippedItem>* skipped, const OpenBeneath& open,
                                const RunLimits& limits) {
    // The two sides are listed at the same time, each with its own list of what it left
    // out; should both fail, the baseline's failure is the one reported, as when they were
    // listed one after the other.
    detail::ListedTree before;
    detail::ListedTree after;
    std::vector<detail::SkippedItem> skippedAfter;
    std::exception_ptr failures[2];
    Background::forEachInParallel(2, [&](size_t side) {
        try {
            if (side == 0) {
                before = detail::listTree(baseline, limits, skipped, open);
            } else {
                after =
                    detail::listTree(result, limits, skipped ? &skippedAfter : nullptr, open, true);
            }
        } catch (...) {
            failures[side] = std::current_exception();
        }
    });
    for (const std::exception_ptr& failure : failures) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
    if (skipped) {
        skipped->insert(skipped->end(), skippedAfter.begin(), skippedAfter.end());
    }
    // A file whose stamps on both sides are still those of the copy's making is the same on
    // both and read on neither. An opener of the caller's own decides what can be read, which
    // stamps cannot tell: then every file is read.
    const detail::CopyStamps stamps =
        open ? detail::CopyStamps{} : detail::CopyStamps::load(before.root, after.root);

    // Both listings are sorted by their UTF-8 bytes, which is code-point order: merge them.
    struct Pair {
        const std::string* relative;
        bool inBefore;
        bool inAfter;
        bool unchanged = false;
    };
    std::vector<Pair> paths;
    paths.reserve(before.files.size() + after.files.size());
    size_t left = 0;
    size_t right = 0;
    size_t stamped = 0;  // where the last lookup in the stamps ended
    while (left < before.files.size() || right < after.files.size()) {
        if (right == after.files.size() ||
            (left < before.files.size() &&
             before.files[left].relative < after.files[right].relative)) {
            paths.push_back({&before.files[left++].relative, true, false});
        } else if (left == before.files.size() ||
                   after.files[right].relative < before.files[left].relative) {
            paths.push_back({&after.files[right++].relative, false, true});
        } else {
            paths.push_back({&before.files[left].relative, true, true,
                             stamps.unchanged(before.files[left].relative, before.files[left].stamp,
                                              after.files[right].stamp, &stamped)});
            ++left;
            ++right;
        }
    }

    // One job per file on each side, spread over both cores.
    std::vector<std::pair<size_t, bool>> jobs;  // (path index, baseline side)
    for (size_t index = 0; index < paths.size(); ++index) {
        if (paths[index].unchanged) {
            continue;
        }
        if (paths[index].inBefore) {
            jobs.emplace_back(index, true);
        }
        if (paths[index].inAfter) {
            jobs.emplace_back(index, false);
        }
    }
    std::vector<HashedFile> beforeHashes(paths.size());
    std::vector<HashedFile> afterHashes(paths.size());
    Background::forEachInParallel(jobs.size(), [&](size_t job) {
        const auto [index, baselineSide] = jobs[job];
        HashedFile& hashed = baselineSide ? beforeHashes[index] : afterHashes[index];
        hashed =
            hashBeneath(open, (baselineSide ? before : after).folder.get(), *paths[index].relative);
        if (hashed.error != 0 && !skipped) {
            throw RunFilesError::system(
                hashed.error,
                QStringLiteral("Could not read ") + QString::fromStdString(*paths[index].relative));
        }
    });

    // A file that cannot be read on one side cannot be compared; neither can anything below
    // an entry left out of either listing (a folder that cannot be read would otherwise
    // look as if its files were removed).
    std::set<std::string> leftOut;
    if (skipped) {
        for (size_t index = 0; index < paths.size(); ++index) {
            for (const HashedFile* hashed : {&beforeHashes[index], &afterHashes[index]}) {
                if (hashed->error != 0) {
                    skipped->push_back(
                        {*paths[index].relative, detail::unreadableReason(hashed->error)});
                    break;
                }
            }
        }
        for (const detail::SkippedItem& item : *skipped) {
            leftOut.insert(item.relative);
        }
    }

    std::vector<FileChange> found;
    for (size_t index = 0; index < paths.size(); ++index) {
        const Pair& pair = paths[index];
        if (pair.unchanged) {
            continue;
        }
        if (pair.inBefore && pair.inAfter && beforeHashes[index].hash == afterHashes[index].hash &&
            beforeHashes[index].mode == afterHashes[index].mode) {
            continue;
        }
        if (isLeftOut(*pair.relative, leftOut)) {
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

const QString kNoPreview =
    QStringLiteral("File absent, binary, or too large for the text preview.");

constexpr off_t kLargestPreview = 2'000'000;

}  // namespace

std::vector<FileChange> changes(const QString& baseline, const QString& result,
                                const RunLimits& limits) {
    return compare(baseline, result, nullptr, {}, limits);
}

Review review(const QString& baseline, const QString& result, const OpenBeneath& open,
              const RunLimits& limits) {
    std::vector<detail::SkippedItem> skipped;
    Review found;
    found.changes = compare(baseline, result, &skipped, open, limits);

    // The same entry may be left out on both sides; it is named once.
    std::sort(skipped.begin(), skipped.end(),
              [](const detail::SkippedItem& left, const detail::SkippedItem& right) {
                  return left.relative < right.relative;
              });
    for (size_t index = 0; index < skipped.size(); ++index) {
        if (index > 0 && skipped[index].relative == skipped[index - 1].relative) {
            continue;
        }
        found.skipped.push_back(
            {QString::fromStdString(skipped[index].relative), skipped[index].reason});
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
        // The size checked above may be stale by now: the read stops at the limit itself.
        if (!PosixFiles::readAll(file.get(), bytes, kLargestPreview - 1)) {
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
