#pragma once

// Shared by the RunFiles sources only.

#include "core/runs/CopyStamps.h"
#include "core/runs/PosixFiles.h"
#include "core/runs/RunFiles.h"

#include <string>
#include <vector>

#include <sys/types.h>

namespace RunFiles::detail {

// The listing's limits; an apply writes no more than a listing may hold.
constexpr int kMaximumFiles = 5000;
constexpr qint64 kMaximumBytes = 150'000'000;

// A copy is listed within twice those limits: what it may hold beyond its snapshot is what
// an assistant created there, which is reviewed like any other change.
constexpr int kCopyLimitFactor = 2;

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
// is appended there and the listing goes on. The size limits fail it either way (those of a
// copy with `isCopy`). `open`, when set, opens the folders below the root instead of
// PosixFiles::openBeneath.
ListedTree listTree(const QString& root, std::vector<SkippedItem>* skipped = nullptr,
                    const OpenBeneath& open = {}, bool isCopy = false);

// A change path checked by safeURL: the resolved root and the path below it.
struct SafePath {
    QString base;
    QString location;
    std::string relative;
};

SafePath resolveSafely(const QString& path, const QString& root);

}  // namespace RunFiles::detail
