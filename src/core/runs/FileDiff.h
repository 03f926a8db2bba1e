#pragma once

#include "core/runs/FileChange.h"
#include "core/runs/PosixFiles.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

// The line diff of one file between a run's baseline and an assistant's copy, as the review
// shows it. The lines are compared by libgit2 (patience diff), opened from its module
// (core/runs/DiffModule.h); inside a changed line paired with its replacement, the words that
// differ are found by diffing the two lines' tokens with the same library, when the pair is
// shown (LineDiff::markChangedWords).

// One version of a file as read for a review.
struct FileVersion {
    enum class State : std::uint8_t {
        Absent,      // no file at the path
        Read,        // `bytes` holds the whole file
        TooLarge,    // at or over the limit: only `size` is known
        Unreadable,  // not a regular file, or it could not be read
    };
    State state = State::Absent;
    QByteArray bytes;
    qint64 size = 0;
};

struct DiffLine {
    enum class Kind : std::uint8_t { Context, Added, Removed, Note };
    // A span of the line's text, in UTF-16 units.
    struct Span {
        int start = 0;
        int length = 0;
        bool operator==(const Span&) const = default;
    };

    Kind kind = Kind::Context;
    int oldNumber = 0;  // 1-based line number in the baseline; 0 when not there
    int newNumber = 0;  // 1-based line number in the copy; 0 when not there
    // without its line break. A Note ("No line break at the end of the file") is about the
    // side(s) whose number is set: that side's last line.
    QString text;
    // Highlighter styles, one per UTF-16 unit of `text` (empty when the file is not coloured).
    QByteArray styles;
    // The words that differ from the paired line on the other side, once marked.
    std::vector<Span> changedWords;

    bool operator==(const DiffLine&) const = default;
};

// One side of a text diff: its text and where each line starts. Lines are cut out (and
// coloured) when asked for, as only the few the review shows are ever needed.
struct DiffText {
    QString text;
    std::vector<qsizetype> starts;  // the first UTF-16 unit of each line
    // Highlighter styles, one per UTF-16 unit of `text` (empty when the file is not coloured).
    QByteArray styles;

    int lineCount() const { return int(starts.size()); }
    // Line `number` (1-based) as a context line numbered `number` on both sides.
    DiffLine line(int number) const;
};

struct DiffHunk {
    int oldStart = 0;  // first line of the hunk on each side, 1-based (0 for an empty side)
    int oldCount = 0;
    int newStart = 0;
    int newCount = 0;
    std::vector<DiffLine> lines;  // context, removed and added lines in order
};

struct FileDiff {
    enum class Kind : std::uint8_t {
        Text,         // hunks below (none when only the permission bits differ)
        Binary,       // a side holds bytes that are not UTF-8 text
        TooLarge,     // a side is at or over kPreviewLimit bytes
        Unreadable,   // a side could not be read
        Unavailable,  // the diff module did not load (the summary says why)
    };

    // Files of this many bytes or more are not diffed.
    static constexpr qint64 kPreviewLimit = 2'000'000;
    // Unchanged lines kept around each change.
    static constexpr int kContextLines = 3;

    QString path;
    Kind kind = Kind::Text;
    FileVersion::State before = FileVersion::State::Absent;
    FileVersion::State after = FileVersion::State::Absent;
    qint64 beforeSize = 0;
    qint64 afterSize = 0;
    int added = 0;
    int removed = 0;
    std::vector<DiffHunk> hunks;
    // The baseline's text: the unchanged lines between hunks are taken from here when the
    // reader asks to see them. Shared by the copies of the diff.
    std::shared_ptr<const DiffText> beforeText;

    // The line count of the baseline's text.
    int beforeLineCount() const { return beforeText ? beforeText->lineCount() : 0; }
    // The baseline's line `oldNumber` (1-based) shown as context at `newNumber` in the copy.
    DiffLine contextLine(int oldNumber, int newNumber) const;

    // What the review says instead of lines: "Binary file changed (12.4 KB → 13.0 KB)", …;
    // empty for text.
    QString summary() const;
};

// "12.4 KB", "980 bytes", "3.1 MB".
QString describeSize(qint64 bytes);

namespace LineDiff {

// Diffs two versions of the file at `path`. Thread-safe; may take a while for large files.
FileDiff compute(const QString& path, const FileVersion& before, const FileVersion& after);

// Lines added and removed in a text file; `text` is false when a side is not text (binary,
// too large or unreadable) and nothing was counted.
struct LineCounts {
    int added = 0;
    int removed = 0;
    bool text = true;
    bool operator==(const LineCounts&) const = default;
};

// For each line of `hunk`, the index of the line it is paired with, or -1: each run of removed
// lines faces the run of added lines right after it, line by line.
std::vector<int> partners(const DiffHunk& hunk);

// Marks the words of `removed` and `added` (a changed line and its replacement) that the other
// does not have, from a libgit2 diff of their tokens. Lines with no word in common are left
// unmarked. `compute` leaves this to the reader: it is done for the pairs shown.
void markChangedWords(DiffLine& removed, DiffLine& added);

// Counts the lines `compute` would show as added and removed, without building them.
LineCounts count(const FileVersion& before, const FileVersion& after);

// The tokens a line is cut into for the word diff: runs of letters, digits and underscores,
// runs of white space, and every other character on its own.
QStringList tokens(const QString& line);

}  // namespace LineDiff

namespace RunFiles {

// The file at `path` (relative) inside `root` for a review: absent, its bytes when under
// FileDiff::kPreviewLimit, else its size. Never throws; an unsafe path reads as Unreadable.
FileVersion readVersion(const QString& root, const QString& path);

// Reads files below one root as readVersion does, the root opened once: each read then
// resolves its path below that open folder alone (no link followed, none leaving it), so a
// review of thousands of files does not look the root's own path up again for each of them.
class VersionReader {
public:
    explicit VersionReader(const QString& root);
    FileVersion read(const QString& path) const;

private:
    PosixFiles::UniqueFd m_folder;
    int m_openError = 0;  // errno of opening the root, when it failed
};

}  // namespace RunFiles
