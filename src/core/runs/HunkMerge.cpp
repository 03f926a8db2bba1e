#include "core/runs/HunkMerge.h"

#include <algorithm>

namespace HunkMerge {

namespace {

// Where each line of `text` starts, and one entry past the end: line n (0-based) is
// [starts[n], starts[n + 1]) with its line break.
std::vector<qsizetype> lineStarts(const QByteArray& text) {
    std::vector<qsizetype> starts{0};
    for (qsizetype at = text.indexOf('\n'); at >= 0; at = text.indexOf('\n', at + 1)) {
        starts.push_back(at + 1);
    }
    if (starts.back() != text.size()) {
        starts.push_back(text.size());
    }
    return starts;
}

// The 0-based index of a range's first line: a side without lines starts after `start`.
int firstLine(int start, int count) {
    return count == 0 ? start : start - 1;
}

}  // namespace

std::optional<QByteArray> merge(const QByteArray& before, const QByteArray& after,
                                const std::vector<Range>& chosen) {
    const std::vector<qsizetype> old = lineStarts(before);
    const std::vector<qsizetype> copy = lineStarts(after);
    const int oldLines = int(old.size()) - 1;
    const int copyLines = int(copy.size()) - 1;
    QByteArray merged;
    merged.reserve(std::max(before.size(), after.size()));
    int next = 0;  // the first baseline line not yet written
    for (const Range& range : chosen) {
        const int oldFirst = firstLine(range.oldStart, range.oldCount);
        const int newFirst = firstLine(range.newStart, range.newCount);
        if (oldFirst < next || range.oldCount < 0 || range.newCount < 0 ||
            oldFirst + range.oldCount > oldLines || newFirst < 0 ||
            newFirst + range.newCount > copyLines) {
            return std::nullopt;
        }
        merged.append(before.mid(old[std::size_t(next)],
                                 old[std::size_t(oldFirst)] - old[std::size_t(next)]));
        merged.append(
            after.mid(copy[std::size_t(newFirst)],
                      copy[std::size_t(newFirst + range.newCount)] - copy[std::size_t(newFirst)]));
        next = oldFirst + range.oldCount;
    }
    merged.append(before.mid(old[std::size_t(next)]));
    return merged;
}

}  // namespace HunkMerge
