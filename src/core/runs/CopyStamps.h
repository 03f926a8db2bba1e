#pragma once

// Shared by the RunFiles sources only.

#include "core/base/FileStamp.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace RunFiles::detail {

using ::FileStamp;

// One file of a copy as it was when the copy was made: its stamp in the folder copied from
// and in the copy.
struct StampedFile {
    std::string relative;
    FileStamp source;
    FileStamp copy;
};

// The stamps of a snapshot, kept in a file beside the copy ("<parent>/.<copy>.velk-stamps").
// A file of the copy and its source whose stamps still match were not written since the
// copy was made, so they hold the same bytes; comparing them reads neither. Stamps within
// the file-system clock's tick of the time the stamps were written are not trusted: a write
// in that same tick would leave them equal (git's racy-timestamp rule).
struct CopyStamps {
    QString source;  // standardised absolute roots
    QString copy;
    std::vector<StampedFile> files;  // sorted by `relative`
    std::int64_t written = 0;        // the stamp file's own modification time, in nanoseconds

    static QString pathFor(const QString& copyRoot);
    // Writes the stamps beside the copy; false when that failed (the copy is then compared
    // by reading, as one without stamps).
    bool save() const;
    // The stamps of the copy at `copyRoot` made from `sourceRoot`; empty when there are none
    // or they belong to another pair of folders.
    static CopyStamps load(const QString& sourceRoot, const QString& copyRoot);
    // Whether the file at `relative` is the same, unwritten, on both sides. A caller asking
    // for its paths in increasing order passes the same `cursor` (from 0) to every call: each
    // lookup then starts where the last one ended.
    bool unchanged(const std::string& relative, const FileStamp& source, const FileStamp& copy,
                   std::size_t* cursor = nullptr) const;
};

}  // namespace RunFiles::detail
