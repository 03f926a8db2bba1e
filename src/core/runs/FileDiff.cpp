#include "core/runs/FileDiff.h"

#include "core/base/Background.h"
#include "core/files/Highlighter.h"
#include "core/runs/DiffModule.h"

#include <QDir>
#include <QHash>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

// libgit2's diff of two text buffers through the diff module; false when it failed (only
// out of memory) or the module is unavailable (compute says why).
bool diffBuffers(const char* oldText, std::size_t oldSize, const char* newText, std::size_t newSize,
                 git_diff_option_t algorithm, int contextLines, git_diff_hunk_cb hunk,
                 git_diff_line_cb line, void* payload) {
    const Result<DiffModuleEntry>& entry = DiffModule::entry();
    return entry && (*entry)(oldText, oldSize, newText, newSize, std::uint32_t(algorithm),
                             std::uint32_t(contextLines), hunk, line, payload) == 0;
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

// A side of the diff: its text, where its lines start, numbered as git numbers them (a final
// line break ends the last line rather than starting an empty one), and its colours; nothing
// when the bytes are not UTF-8 text.
std::optional<DiffText> sideOf(const QByteArray& bytes) {
    std::optional<QString> decoded = textOf(bytes);
    if (!decoded) {
        return std::nullopt;
    }
    QString& text = *decoded;
    DiffText side;
    side.starts.reserve(std::size_t(text.size() / 32) + 1);
    qsizetype start = 0;
    while (start < text.size()) {
        side.starts.push_back(start);
        const qsizetype end = text.indexOf(u'\n', start);
        start = end < 0 ? text.size() : end + 1;
    }
    // A highlighter (its expressions compiled) only for a text short enough to be coloured.
    const std::optional<std::vector<Highlighter::Style>> styles =
        text.size() < Highlighter::kMaxTextLength ? Highlighter().styles(text) : std::nullopt;
    if (styles) {
        static_assert(sizeof(Highlighter::Style) == 1);
        side.styles =
            QByteArray(reinterpret_cast<const char*>(styles->data()), qsizetype(styles->size()));
    }
    side.text = std::move(text);
    return side;
}

// A line of libgit2's diff, as found by its line callback.
struct FoundLine {
    char origin = 0;
    int oldNumber = 0;
    int newNumber = 0;
};

struct FoundHunk {
    DiffHunk header;  // without lines
    std::vector<FoundLine> lines;
};

// The hunks libgit2's patience diff finds between two texts, or nothing should it fail (it only
// does when out of memory). The lines are reported by callbacks: no patch is kept.
std::optional<std::vector<FoundHunk>> hunksOf(const QByteArray& before, const QByteArray& after) {
    std::vector<FoundHunk> found;
    const auto hunk = [](const git_diff_delta*, const git_diff_hunk* header, void* payload) {
        auto* hunks = static_cast<std::vector<FoundHunk>*>(payload);
        hunks->push_back(
            {{header->old_start, header->old_lines, header->new_start, header->new_lines, {}}, {}});
        hunks->back().lines.reserve(std::size_t(header->old_lines + header->new_lines));
        return 0;
    };
    const auto line = [](const git_diff_delta*, const git_diff_hunk*, const git_diff_line* line,
                         void* payload) {
        auto* hunks = static_cast<std::vector<FoundHunk>*>(payload);
        if (!hunks->empty()) {
            hunks->back().lines.push_back({line->origin, line->old_lineno, line->new_lineno});
        }
        return 0;
    };
    if (!diffBuffers(before.constData(), std::size_t(before.size()), after.constData(),
                     std::size_t(after.size()), GIT_DIFF_PATIENCE, FileDiff::kContextLines, hunk,
                     line, &found)) {
        return std::nullopt;
    }
    return found;
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

// The words of a line and of its replacement as libgit2 compares them: one token per line.
// The buffers are kept per thread, as the view asks for one pair after another.
struct TokenDiff {
    QByteArray oldText;
    QByteArray newText;
    std::vector<bool> oldChanged;
    std::vector<bool> newChanged;

    static void write(const std::vector<QStringView>& tokens, QByteArray& text) {
        text.clear();
        for (const QStringView token : tokens) {
            text += token.toUtf8();
            text += '\n';
        }
    }

    // Marks the tokens of each side that the other does not have; false should libgit2 fail.
    bool compare(const std::vector<QStringView>& oldTokens,
                 const std::vector<QStringView>& newTokens) {
        write(oldTokens, oldText);
        write(newTokens, newText);
        oldChanged.assign(oldTokens.size(), false);
        newChanged.assign(newTokens.size(), false);
        const auto mark = [](const git_diff_delta*, const git_diff_hunk*, const git_diff_line* line,
                             void* payload) {
            auto* diff = static_cast<TokenDiff*>(payload);
            if (line->origin == GIT_DIFF_LINE_DELETION && line->old_lineno > 0 &&
                std::size_t(line->old_lineno) <= diff->oldChanged.size()) {
                diff->oldChanged[std::size_t(line->old_lineno - 1)] = true;
            } else if (line->origin == GIT_DIFF_LINE_ADDITION && line->new_lineno > 0 &&
                       std::size_t(line->new_lineno) <= diff->newChanged.size()) {
                diff->newChanged[std::size_t(line->new_lineno - 1)] = true;
            }
            return 0;
        };
        return diffBuffers(oldText.constData(), std::size_t(oldText.size()), newText.constData(),
                           std::size_t(newText.size()), GIT_DIFF_MINIMAL, 0, nullptr, mark, this);
    }
};

// The spans of `tokens` that are marked changed, neighbours joined.
std::vector<DiffLine::Span> changedSpans(const std::vector<QStringView>& tokens,
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
}

// Both texts rewritten with each distinct line, its line break included, as a short number of
// its own. The diff compares lines only for equality, so it pairs the numbered lines exactly
// as it pairs the lines themselves, and the counts are the same; libgit2 then hashes and reads
// a few bytes a line rather than the whole files.
void internLines(const QByteArray& before, const QByteArray& after, std::string& beforeLines,
                 std::string& afterLines) {
    QHash<QByteArrayView, unsigned> numbers;
    numbers.reserve((before.size() + after.size()) / 32 + 1);
    const auto rewrite = [&numbers](const QByteArray& text, std::string& lines) {
        lines.reserve(std::size_t(text.size() / 8 + 16));
        qsizetype start = 0;
        while (start < text.size()) {
            const qsizetype end = text.indexOf('\n', start);
            const qsizetype next = end < 0 ? text.size() : end + 1;
            const QByteArrayView line = QByteArrayView(text).sliced(start, next - start);
            auto found = numbers.constFind(line);
            if (found == numbers.constEnd()) {
                found = numbers.insert(line, unsigned(numbers.size()));
            }
            // Base 64 in the characters from '0' on, none of which is a line break.
            unsigned number = found.value();
            do {
                lines.push_back(char('0' + number % 64));
                number /= 64;
            } while (number != 0);
            lines.push_back('\n');
            start = next;
        }
    };
    rewrite(before, beforeLines);
    rewrite(after, afterLines);
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

DiffLine DiffText::line(int number) const {
    const qsizetype start = starts.at(std::size_t(number - 1));
    qsizetype end = std::size_t(number) < starts.size() ? starts[std::size_t(number)] - 1
                    : text.endsWith(u'\n')              ? text.size() - 1
                                                        : text.size();
    // A carriage return before a line break is not shown.
    if (end > start && text[end - 1] == u'\r') {
        --end;
    }
    DiffLine shown;
    shown.oldNumber = number;
    shown.newNumber = number;
    shown.text = text.mid(start, end - start);
    if (styles.size() == text.size()) {
        shown.styles = styles.mid(start, end - start);
    }
    return shown;
}

DiffLine FileDiff::contextLine(int oldNumber, int newNumber) const {
    DiffLine line = beforeText->line(oldNumber);
    line.newNumber = newNumber;
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
        case Kind::Unavailable:
            return DiffModule::entry() ? QString() : DiffModule::entry().error().message;
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

std::vector<int> partners(const DiffHunk& hunk) {
    const std::vector<DiffLine>& lines = hunk.lines;
    std::vector<int> partner(lines.size(), -1);
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
                partner[removed[pair]] = int(index);
                partner[index] = int(removed[pair]);
                ++pair;
            }
            ++index;
        }
    }
    return partner;
}

void markChangedWords(DiffLine& removed, DiffLine& added) {
    removed.changedWords.clear();
    added.changedWords.clear();
    const std::vector<QStringView> oldTokens = tokenViews(removed.text);
    const std::vector<QStringView> newTokens = tokenViews(added.text);
    if (oldTokens.empty() || newTokens.empty()) {
        return;
    }
    thread_local TokenDiff diff;
    if (!diff.compare(oldTokens, newTokens)) {
        return;
    }
    // Lines that share nothing but spaces are not compared word by word: the whole line
    // changed, which the line's own colour already says.
    bool shareWords = false;
    for (std::size_t index = 0; index < oldTokens.size() && !shareWords; ++index) {
        shareWords = !diff.oldChanged[index] && !oldTokens[index].trimmed().isEmpty();
    }
    if (!shareWords) {
        return;
    }
    removed.changedWords = changedSpans(oldTokens, diff.oldChanged);
    added.changedWords = changedSpans(newTokens, diff.newChanged);
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
    LineCounts counts;
    const auto tally = [](const git_diff_delta*, const git_diff_hunk*, const git_diff_line* line,
                          void* payload) {
        auto* counted = static_cast<LineCounts*>(payload);
        counted->added += line->origin == GIT_DIFF_LINE_ADDITION ? 1 : 0;
        counted->removed += line->origin == GIT_DIFF_LINE_DELETION ? 1 : 0;
        return 0;
    };
    std::string beforeLines;
    std::string afterLines;
    internLines(before.bytes, after.bytes, beforeLines, afterLines);
    if (!diffBuffers(beforeLines.data(), beforeLines.size(), afterLines.data(), afterLines.size(),
                     GIT_DIFF_PATIENCE, 0, nullptr, tally, &counts)) {
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
    // A NUL byte is git's own sign of binary content; the UTF-8 check comes with the decoding.
    if (before.bytes.contains('\0') || after.bytes.contains('\0')) {
        diff.kind = FileDiff::Kind::Binary;
        return diff;
    }

    // Without the diff module no lines can be compared; the summary says why.
    if (!DiffModule::entry()) {
        diff.kind = FileDiff::Kind::Unavailable;
        return diff;
    }

    // Both sides are decoded, cut into lines and coloured and the lines compared at the same
    // time, on idle pool threads where there are some. Each side has a highlighter of its own:
    // its expressions are not shared between threads.
    std::optional<DiffText> beforeText;
    std::optional<DiffText> afterText;
    std::optional<std::vector<FoundHunk>> found;
    Background::forEachInParallel(3, [&](std::size_t part) {
        switch (part) {
            case 0:
                beforeText = sideOf(before.bytes);
                break;
            case 1:
                afterText = sideOf(after.bytes);
                break;
            default:
                found = hunksOf(before.bytes, after.bytes);
                break;
        }
    });
    if (!beforeText || !afterText) {
        diff.kind = FileDiff::Kind::Binary;
        return diff;
    }
    if (!found) {
        diff.kind = FileDiff::Kind::Unreadable;
        return diff;
    }
    diff.beforeText = std::make_shared<const DiffText>(std::move(*beforeText));
    diff.hunks.reserve(found->size());
    for (FoundHunk& hunk : *found) {
        diff.hunks.push_back(std::move(hunk.header));
        std::vector<DiffLine>& lines = diff.hunks.back().lines;
        lines.reserve(hunk.lines.size());
        for (const FoundLine& line : hunk.lines) {
            switch (line.origin) {
                case GIT_DIFF_LINE_CONTEXT:
                    lines.push_back(diff.contextLine(line.oldNumber, line.newNumber));
                    break;
                case GIT_DIFF_LINE_DELETION:
                    lines.push_back(diff.beforeText->line(line.oldNumber));
                    lines.back().kind = DiffLine::Kind::Removed;
                    lines.back().newNumber = 0;
                    ++diff.removed;
                    break;
                case GIT_DIFF_LINE_ADDITION:
                    lines.push_back(afterText->line(line.newNumber));
                    lines.back().kind = DiffLine::Kind::Added;
                    lines.back().oldNumber = 0;
                    ++diff.added;
                    break;
                case GIT_DIFF_LINE_CONTEXT_EOFNL:
                case GIT_DIFF_LINE_ADD_EOFNL:
                case GIT_DIFF_LINE_DEL_EOFNL: {
                    DiffLine note;
                    note.kind = DiffLine::Kind::Note;
                    note.text = QStringLiteral("No line break at the end of the file");
                    if (line.origin != GIT_DIFF_LINE_ADD_EOFNL) {
                        note.oldNumber = diff.beforeLineCount();
                    }
                    if (line.origin != GIT_DIFF_LINE_DEL_EOFNL) {
                        note.newNumber = afterText->lineCount();
                    }
                    lines.push_back(std::move(note));
                    break;
                }
                default:
                    break;
            }
        }
    }
    return diff;
}

}  // namespace LineDiff

namespace RunFiles {

namespace {

// `path` checked as resolveSafely checks it before it looks at the disk: relative, without
// "..", naming something below the root; its bytes, cleaned. Nothing when it is not safe.
std::optional<std::string> relativeBytes(const QString& path) {
    if (path.isEmpty() || path.startsWith(u'/') || path.contains(QChar(u'\0'))) {
        return std::nullopt;
    }
    for (const QStringView component : QStringView(path).split(u'/', Qt::SkipEmptyParts)) {
        if (component == u"..") {
            return std::nullopt;
        }
    }
    const QString cleaned = QDir::cleanPath(u'/' + path);
    if (cleaned.size() <= 1) {
        return std::nullopt;
    }
    return PosixFiles::encode(cleaned.mid(1));
}

}  // namespace

VersionReader::VersionReader(const QString& root) : m_folder(PosixFiles::openFolder(root)) {
    m_openError = m_folder.valid() ? 0 : errno;
}

FileVersion VersionReader::read(const QString& path) const {
    using State = FileVersion::State;
    FileVersion version;
    const auto missing = [](int error) { return error == ENOENT || error == ENOTDIR; };
    const std::optional<std::string> relative = relativeBytes(path);
    if (!relative) {
        version.state = State::Unreadable;
        return version;
    }
    if (!m_folder.valid()) {
        version.state = missing(m_openError) ? State::Absent : State::Unreadable;
        return version;
    }
    const PosixFiles::UniqueFd file =
        PosixFiles::openBeneath(m_folder.get(), *relative, O_RDONLY | O_NONBLOCK);
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
    return version;
}

FileVersion readVersion(const QString& root, const QString& path) {
    return VersionReader(root).read(path);
}

}  // namespace RunFiles
