#pragma once

// Shared by the RunFiles sources only.

#include "core/runs/CopyStamps.h"
#include "core/runs/PosixFiles.h"
#include "core/runs/RunFiles.h"
#include "core/runs/RunLimits.h"

#include <string>
#include <vector>

#include <sys/types.h>

namespace RunFiles::detail {

// The most one file read to check it may hold, whatever the limits in force: an apply cut
// short is recovered by whichever VELK starts next, without knowing the limits it ran with.
constexpr qint64 kLargestFileRead = RunLimits::kLargeBytes;

struct ListedFile {
    std::string relative;  // UTF-8 bytes; byte order is code-point order
    off_t size = 0;
    FileStamp stamp;
};

// A listed folder, kept open so later reads resolve below the same folder.
struct ListedTree {
    QString root;  // standardised absolute path
    PosixFiles::UniqueFd folder;
    std::vector<ListedFile> files;  // sorted by `relative`
};

// An entry left out of a listing: its path below the root and why.
struct SkippedItem {
    std::string relative;  // bytes as on disk, possibly not UTF-8
    QString reason;
};

// "Cannot be read: " and the system's description of `errorNumber`.
QString unreadableReason(int errorNumber);

// Lists `root`. Without `skipped`, an entry that cannot be listed (a name that is not UTF-8,
// a folder that cannot be read or is nested too deep) fails the listing; with it, the entry
// is appended there and the listing goes on. `limits` fail it either way (those of a copy,
// twice as large, with `isCopy`). `open`, when set, opens the folders below the root instead
// of PosixFiles::openBeneath.
ListedTree listTree(const QString& root, const RunLimits& limits,
                    std::vector<SkippedItem>* skipped = nullptr, const OpenBeneath& open = {},
                    bool isCopy = false);

// A change path checked by safeURL: the resolved root and the path below it.
struct SafePath {
    QString base;
    QString location;
    std::string relative;
};

SafePath resolveSafely(const QString& path, const QString& root);

}  // namespace RunFiles::detail
