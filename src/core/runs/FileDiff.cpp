#include "core/runs/FileDiff.h"

#include "core/base/Background.h"
#include "core/files/Highlighter.h"
#include "core/runs/RunFilesInternal.h"

#include <QStringDecoder>

#include <git2.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

// libgit2 keeps global state (allocators, thread-local error slots); it is set up once for
// the life of the process and never shut down, as other threads may still be diffing.
void initialiseLibgit2() {
    static const int initialised = git_libgit2_init();
    (void)initialised;
}

struct PatchDeleter {
    void operator()(git_patch* patch) const { git_patch_free(patch); }
};
using Patch = std::unique_ptr<git_patch, PatchDeleter>;

// A patch of two buffers, or null should libgit2 fail (it only does when out of memory).
Patch patchOf(const QByteArray& before, const QByteArray& after, std::uint32_t algorithm,
              int contextLines) {
    initialiseLibgit2();
    git_diff_options options;
    git_diff_options_init(&options, GIT_DIFF_OPTIONS_VERSION);
    // Binary detection is done beforehand (with the UTF-8 check); what reaches here is text.
    options.flags = algorithm | GIT_DIFF_FORCE_TEXT;
    options.context_lines = std::uint32_t(contextLines);
    options.interhunk_lines = 0;
    git_patch* patch = nullptr;
    if (git_patch_from_buffers(&patch, before.constData(), size_t(before.size()), nullptr,
                               after.constData(), size_t(after.size()), nullptr, &options) != 0) {
        return nullptr;
    }
    return Patch(patch);
}

// The text of a file, or nothing when it is not UTF-8 text: a NUL byte (git's own test for
// binary content) or an invalid sequence.
std::optional<QString> textOf(const QByteArray& bytes) {
    if (bytes.contains('\0')) {
        return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

// The lines of a text with their colours, numbered as git numbers them: a final line break
// ends the last line rather than starting an empty one. A carriage return before a line
// break is not shown.
std::vector<DiffLine> linesOf(const QString& text, const Highlighter& highlighter, bool isNew) {
    std::vector<DiffLine> lines;
    lines.reserve(std::size_t(text.count(u'\n')) + 1);
    const std::optional<std::vector<Highlighter::Style>> styles = highlighter.styles(text);
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0) {
            end = text.size();
        }
        qsizetype shownEnd = end;
        if (shownEnd > start && text[shownEnd - 1] == u'\r') {
            --shownEnd;
        }
        DiffLine line;
        line.text = text.mid(start, shownEnd - start);
        (isNew ? line.newNumber : line.oldNumber) = int(lines.size()) + 1;
        if (styles) {
            static_assert(sizeof(Highlighter::Style) == 1);
            line.styles =
                QByteArray(reinterpret_cast<const char*>(styles->data() + start), line.text.size());
        }
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

// LineDiff::tokens as views into `line`.
std::vector<QStringView> tokenViews(QStringView line) {
    enum class Class { Word, Space, Other };
    const auto classOf = [](char32_t point) {
        if (point == U'_' || QChar::isLetterOrNumber(point) || QChar::isMark(point)) {
            return Class::Word;
        }
        return QChar::isSpace(point) ? Class::Space : Class::Other;
    };
    std::vector<QStringView> found;
    qsizetype index = 0;
    while (index < line.size()) {
        const qsizetype start = index;
        std::optional<Class> run;
        while (index < line.size()) {
            const bool pair = line[index].isHighSurrogate() && index + 1 < line.size() &&
                              line[index + 1].isLowSurrogate();
            const char32_t point =
                pair ? QChar::surrogateToUcs4(line[index], line[index + 1]) : line[index].unicode();
            const Class kind = classOf(point);
            if (run && (*run != kind || kind == Class::Other)) {
                break;
            }
            run = kind;
            index += pair ? 2 : 1;
        }
        found.push_back(line.mid(start, index - start));
    }
    return found;
}

// Lines of at most this many token pairs are compared word by word with a table.
constexpr std::size_t kLongestTableOfTokens = 40'000;

// Marks the words of `removed` and `added` (a changed line and its replacement) that the
// other does not have. Lines with no word in common are left unmarked: the whole line
// changed, which the line's own colour already says.
void markChangedWords(DiffLine& removed, DiffLine& added) {
    const std::vector<QStringView> oldTokens = tokenViews(removed.text);
    const std::vector<QStringView> newTokens = tokenViews(added.text);
    if (oldTokens.empty() || newTokens.empty()) {
        return;
    }
    std::vector<bool> oldChanged(std::size_t(oldTokens.size()), false);
    std::vector<bool> newChanged(std::size_t(newTokens.size()), false);
    const std::size_t rows = std::size_t(oldTokens.size());
    const std::size_t columns = std::size_t(newTokens.size());
    if (rows * columns <= kLongestTableOfTokens) {
        // A line's tokens are few: the longest common subsequence by table, which costs less
        // than setting up a diff of the two as texts.
        std::vector<int> common((rows + 1) * (columns + 1), 0);
        const auto at = [&](std::size_t row, std::size_t column) -> int& {
            return common[row * (columns + 1) + column];
        };
        for (std::size_t row = rows; row-- > 0;) {
            for (std::size_t column = columns; column-- > 0;) {
                at(row, column) = oldTokens[row] == newTokens[column]
                                      ? at(row + 1, column + 1) + 1
                                      : std::max(at(row + 1, column), at(row, column + 1));
            }
        }
        std::size_t row = 0;
        std::size_t column = 0;
        while (row < rows || column < columns) {
            if (row < rows && column < columns && oldTokens[row] == newTokens[column] &&
                at(row, column) == at(row + 1, column + 1) + 1) {
                ++row;
                ++column;
            } else if (column == columns ||
                       (row < rows && at(row + 1, column) >= at(row, column + 1))) {
                oldChanged[row++] = true;
            } else {
                newChanged[column++] = true;
            }
        }
    }
    const auto joined = [](const std::vector<QStringView>& tokens) {
        QString text;
        for (const QStringView token : tokens) {
            text += token;
            text += u'\n';
        }
        return text.toUtf8();
    };
    const Patch patch = rows * columns <= kLongestTableOfTokens
                            ? nullptr
                            : patchOf(joined(oldTokens), joined(newTokens), GIT_DIFF_MINIMAL, 0);
    for (size_t hunk = 0; patch && hunk < git_patch_num_hunks(patch.get()); ++hunk) {
        const int count = git_patch_num_lines_in_hunk(patch.get(), hunk);
        for (int index = 0; index < count; ++index) {
            const git_diff_line* line = nullptr;
            if (git_patch_get_line_in_hunk(&line, patch.get(), hunk, size_t(index)) != 0) {
                continue;
            }
            if (line->origin == GIT_DIFF_LINE_DELETION && line->old_lineno > 0) {
                oldChanged[std::size_t(line->old_lineno - 1)] = true;
            } else if (line->origin == GIT_DIFF_LINE_ADDITION && line->new_lineno > 0) {
                newChanged[std::size_t(line->new_lineno - 1)] = true;
            }
        }
    }
    // Lines that share nothing but spaces are not compared word by word.
    bool shareWords = false;
    for (std::size_t index = 0; index < oldTokens.size() && !shareWords; ++index) {
        shareWords = !oldChanged[index] && !oldTokens[index].trimmed().isEmpty();
    }
    if (!shareWords) {
        return;
    }
    const auto spans = [](const std::vector<QStringView>& tokens,
                          const std::vector<bool>& changed) {
        std::vector<DiffLine::Span> found;
        int offset = 0;
        for (std::size_t index = 0; index < tokens.size(); ++index) {
            const int length = int(tokens[index].size());
            if (changed[index]) {
                if (!found.empty() && found.back().start + found.back().length == offset) {
                    found.back().length += length;
                } else {
                    found.push_back({offset, length});
                }
            }
            offset += length;
        }
        return found;
    };
    removed.changedWords = spans(oldTokens, oldChanged);
    added.changedWords = spans(newTokens, newChanged);
}

// Pairs each run of removed lines with the run of added lines right after it, line by line,
// and marks the words that changed within each pair.
void markChangedWords(DiffHunk& hunk) {
    std::vector<DiffLine>& lines = hunk.lines;
    std::size_t index = 0;
    while (index < lines.size()) {
        if (lines[index].kind != DiffLine::Kind::Removed) {
            ++index;
            continue;
        }
        std::vector<std::size_t> removed;
        while (index < lines.size() && (lines[index].kind == DiffLine::Kind::Removed ||
                                        lines[index].kind == DiffLine::Kind::Note)) {
            if (lines[index].kind == DiffLine::Kind::Removed) {
                removed.push_back(index);
            }
            ++index;
        }
        std::size_t pair = 0;
        while (index < lines.size() && (lines[index].kind == DiffLine::Kind::Added ||
                                        lines[index].kind == DiffLine::Kind::Note)) {
            if (lines[index].kind == DiffLine::Kind::Added && pair < removed.size()) {
                markChangedWords(lines[removed[pair]], lines[index]);
                ++pair;
            }
            ++index;
        }
    }
}

QString sizeOrAbsent(FileVersion::State state, qint64 size) {
    return state == FileVersion::State::Absent ? QStringLiteral("absent") : describeSize(size);
}

}  // namespace

QString describeSize(qint64 bytes) {
    if (bytes < 1000) {
        return QString::number(bytes) +
               (bytes == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));
    }
    static const char* const units[] = {"KB", "MB", "GB", "TB"};
    double value = double(bytes) / 1000.0;
    int unit = 0;
    while (value >= 999.95 && unit < 3) {
        value /= 1000.0;
        ++unit;
    }
    return QString::number(value, 'f', 1) + u' ' + QLatin1String(units[unit]);
}

DiffLine FileDiff::contextLine(int oldNumber, int newNumber) const {
    DiffLine line = beforeLines.at(std::size_t(oldNumber - 1));
    line.kind = DiffLine::Kind::Context;
    line.oldNumber = oldNumber;
    line.newNumber = newNumber;
    line.changedWords.clear();
    return line;
}

QString FileDiff::summary() const {
    using State = FileVersion::State;
    switch (kind) {
        case Kind::Text:
            return QString();
        case Kind::Binary:
            if (before == State::Absent) {
                return QStringLiteral("Binary file added (") + describeSize(afterSize) + u')';
            }
            if (after == State::Absent) {
                return QStringLiteral("Binary file removed (") + describeSize(beforeSize) + u')';
            }
            return QStringLiteral("Binary file changed (") + describeSize(beforeSize) +
                   QStringLiteral(" → ") + describeSize(afterSize) + u')';
        case Kind::TooLarge:
            return QStringLiteral("Too large to compare here (") +
                   sizeOrAbsent(before, beforeSize) + QStringLiteral(" → ") +
                   sizeOrAbsent(after, afterSize) +
                   QStringLiteral("). Open both versions to compare them.");
        case Kind::Unreadable:
            return QStringLiteral("This file could not be read for the comparison.");
    }
    return QString();
}

namespace LineDiff {

QStringList tokens(const QString& line) {
    QStringList found;
    for (const QStringView token : tokenViews(line)) {
        found.append(token.toString());
    }
    return found;
}

LineCounts count(const FileVersion& before, const FileVersion& after) {
    using State = FileVersion::State;
    // The same test as textOf's, without decoding: counting never shows the text.
    const auto readable = [](const FileVersion& version) {
        return version.state == State::Absent ||
               (version.state == State::Read && !version.bytes.contains('\0') &&
                QByteArrayView(version.bytes).isValidUtf8());
    };
    if (!readable(before) || !readable(after)) {
        return {0, 0, false};
    }
    // The lines are counted as libgit2 reports them, without a patch or context around them
    // (which changes no count).
    initialiseLibgit2();
    git_diff_options options;
    git_diff_options_init(&options, GIT_DIFF_OPTIONS_VERSION);
    options.flags = GIT_DIFF_PATIENCE | GIT_DIFF_FORCE_TEXT;
    options.context_lines = 0;
    options.interhunk_lines = 0;
    LineCounts counts;
    const auto tally = [](const git_diff_delta*, const git_diff_hunk*, const git_diff_line* line,
                          void* payload) {
        auto* counted = static_cast<LineCounts*>(payload);
        counted->added += line->origin == GIT_DIFF_LINE_ADDITION ? 1 : 0;
        counted->removed += line->origin == GIT_DIFF_LINE_DELETION ? 1 : 0;
        return 0;
    };
    if (git_diff_buffers(before.bytes.constData(), size_t(before.bytes.size()), nullptr,
                         after.bytes.constData(), size_t(after.bytes.size()), nullptr, &options,
                         nullptr, nullptr, nullptr, tally, &counts) != 0) {
        return {0, 0, false};
    }
    return counts;
}

FileDiff compute(const QString& path, const FileVersion& before, const FileVersion& after) {
    using State = FileVersion::State;
    FileDiff diff;
    diff.path = path;
    diff.before = before.state;
    diff.after = after.state;
    diff.beforeSize = before.size;
    diff.afterSize = after.size;
    if (before.state == State::Unreadable || after.state == State::Unreadable) {
        diff.kind = FileDiff::Kind::Unreadable;
        return diff;
    }
    if (before.state == State::TooLarge || after.state == State::TooLarge) {
        diff.kind = FileDiff::Kind::TooLarge;
        return diff;
    }
    const std::optional<QString> oldText = textOf(before.bytes);
    const std::optional<QString> newText = textOf(after.bytes);
    if (!oldText || !newText) {
        diff.kind = FileDiff::Kind::Binary;
        return diff;
    }

    // Both sides are coloured and the lines compared at the same time, on idle pool threads
    // where there are some. Each side has a highlighter of its own: its expressions are not
    // shared between threads.
    std::vector<DiffLine> afterLines;
    Patch patch;
    Background::forEachInParallel(3, [&](std::size_t part) {
        switch (part) {
            case 0:
                diff.beforeLines = linesOf(*oldText, Highlighter(), false);
                break;
            case 1:
                afterLines = linesOf(*newText, Highlighter(), true);
                break;
            default:
                patch =
                    patchOf(before.bytes, after.bytes, GIT_DIFF_PATIENCE, FileDiff::kContextLines);
                break;
        }
    });
    if (!patch) {
        diff.kind = FileDiff::Kind::Unreadable;
        return diff;
    }
    for (size_t index = 0; index < git_patch_num_hunks(patch.get()); ++index) {
        const git_diff_hunk* header = nullptr;
        size_t lineCount = 0;
        if (git_patch_get_hunk(&header, &lineCount, patch.get(), index) != 0) {
            continue;
        }
        DiffHunk hunk{
            header->old_start, header->old_lines, header->new_start, header->new_lines, {}};
        for (size_t row = 0; row < lineCount; ++row) {
            const git_diff_line* line = nullptr;
            if (git_patch_get_line_in_hunk(&line, patch.get(), index, row) != 0) {
                continue;
            }
            DiffLine shown;
            switch (line->origin) {
                case GIT_DIFF_LINE_CONTEXT:
                    shown = diff.contextLine(line->old_lineno, line->new_lineno);
                    break;
                case GIT_DIFF_LINE_DELETION:
                    shown = diff.beforeLines.at(std::size_t(line->old_lineno - 1));
                    shown.kind = DiffLine::Kind::Removed;
                    ++diff.removed;
                    break;
                case GIT_DIFF_LINE_ADDITION:
                    shown = afterLines.at(std::size_t(line->new_lineno - 1));
                    shown.kind = DiffLine::Kind::Added;
                    ++diff.added;
                    break;
                case GIT_DIFF_LINE_CONTEXT_EOFNL:
                case GIT_DIFF_LINE_ADD_EOFNL:
                case GIT_DIFF_LINE_DEL_EOFNL:
                    shown.kind = DiffLine::Kind::Note;
                    shown.text = QStringLiteral("No line break at the end of the file");
                    if (line->origin != GIT_DIFF_LINE_ADD_EOFNL) {
                        shown.oldNumber = diff.beforeLineCount();
                    }
                    if (line->origin != GIT_DIFF_LINE_DEL_EOFNL) {
                        shown.newNumber = int(afterLines.size());
                    }
                    break;
                default:
                    continue;
            }
            hunk.lines.push_back(std::move(shown));
        }
        diff.hunks.push_back(std::move(hunk));
    }
    Background::forEachInParallel(diff.hunks.size(),
                                  [&](std::size_t hunk) { markChangedWords(diff.hunks[hunk]); });
    return diff;
}

}  // namespace LineDiff

namespace RunFiles {

FileVersion readVersion(const QString& root, const QString& path) {
    using State = FileVersion::State;
    FileVersion version;
    const auto missing = [](int error) { return error == ENOENT || error == ENOTDIR; };
    try {
        const detail::SafePath safe = detail::resolveSafely(path, root);
        const PosixFiles::UniqueFd folder = PosixFiles::openFolder(safe.base);
        if (!folder.valid()) {
            version.state = missing(errno) ? State::Absent : State::Unreadable;
            return version;
        }
        const PosixFiles::UniqueFd file =
            PosixFiles::openBeneath(folder.get(), safe.relative, O_RDONLY | O_NONBLOCK);
        if (!file.valid()) {
            version.state = missing(errno) ? State::Absent : State::Unreadable;
            return version;
        }
        struct stat status;
        if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
            version.state = State::Unreadable;
            return version;
        }
        version.size = status.st_size;
        if (status.st_size >= FileDiff::kPreviewLimit) {
            version.state = State::TooLarge;
            return version;
        }
        // The size checked above may be stale by now: the read stops at the limit itself.
        if (!PosixFiles::readAll(file.get(), version.bytes, FileDiff::kPreviewLimit - 1)) {
            version.bytes.clear();
            version.state = errno == EFBIG ? State::TooLarge : State::Unreadable;
            return version;
        }
        version.size = version.bytes.size();
        version.state = State::Read;
    } catch (const RunFilesError&) {
        version = {};
        version.state = State::Unreadable;
    }
    return version;
}

}  // namespace RunFiles
