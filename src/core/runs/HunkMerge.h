#pragma once

#include "core/runs/FileDiff.h"

#include <QByteArray>

#include <optional>
#include <vector>

// Some of the hunks of a changed text file taken from an assistant's copy: the baseline's bytes
// with only the hunks the reader chose replaced by the copy's lines, everything else as in the
// baseline.
namespace HunkMerge {

// The line ranges of one hunk on both sides, as DiffHunk numbers them (1-based starts; a side
// with no lines starts at the line before it).
struct Range {
    int oldStart = 0;
    int oldCount = 0;
    int newStart = 0;
    int newCount = 0;

    static Range of(const DiffHunk& hunk) {
        return {hunk.oldStart, hunk.oldCount, hunk.newStart, hunk.newCount};
    }
    bool operator==(const Range&) const = default;
};

// `before` with the copy's lines of every range in `chosen` (in file order, not overlapping)
// in place of the baseline's. Lines keep their own endings ("\r\n", a missing final break), so
// choosing every hunk gives `after` and choosing none gives `before`. Empty when a range lies
// outside either text (the texts are not the ones the ranges were found in).
std::optional<QByteArray> merge(const QByteArray& before, const QByteArray& after,
                                const std::vector<Range>& chosen);

}  // namespace HunkMerge
