// Line diffs of the review: the same hunks git finds, changed words within a replaced line,
// the sides that are not text, a missing diff module, and reading a side that is absent.

#include "RunsTestSupport.h"
#include "core/runs/DiffModule.h"
#include "core/runs/FileDiff.h"
#include "core/runs/HunkMerge.h"

#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

FileVersion text(const QByteArray& bytes) {
    return {FileVersion::State::Read, bytes, bytes.size()};
}

QByteArray numberedLines(int count) {
    QByteArray lines;
    for (int line = 1; line <= count; ++line) {
        lines += "line " + QByteArray::number(line) + "\n";
    }
    return lines;
}

// The hunks as a unified patch body ("@@ -a,b +c,d @@" then " ", "-", "+" lines), the form
// git prints.
QString asPatch(const FileDiff& diff) {
    QString patch;
    for (const DiffHunk& hunk : diff.hunks) {
        patch += QStringLiteral("@@ -%1,%2 +%3,%4 @@\n")
                     .arg(hunk.oldStart)
                     .arg(hunk.oldCount)
                     .arg(hunk.newStart)
                     .arg(hunk.newCount);
        for (const DiffLine& line : hunk.lines) {
            switch (line.kind) {
                case DiffLine::Kind::Context:
                    patch += u' ' + line.text + u'\n';
                    break;
                case DiffLine::Kind::Removed:
                    patch += u'-' + line.text + u'\n';
                    break;
                case DiffLine::Kind::Added:
                    patch += u'+' + line.text + u'\n';
                    break;
                case DiffLine::Kind::Note:
                    patch += QStringLiteral("\\ No newline at end of file\n");
                    break;
            }
        }
    }
    return patch;
}

// What `git diff --no-index --patience` prints from the first hunk on, with the counts
// always written out (git leaves out a count of 1).
QString gitPatch(const Scratch& scratch) {
    QProcess git;
    git.setWorkingDirectory(scratch.path());
    git.start("git", {"diff", "--no-index", "--patience", "-U3", "--no-color", "old", "new"});
    EXPECT_TRUE(git.waitForFinished(20000));
    const QStringList lines = QString::fromUtf8(git.readAllStandardOutput()).split(u'\n');
    QString patch;
    bool inHunks = false;
    static const QRegularExpression header(R"(^@@ -(\d+)(?:,(\d+))? \+(\d+)(?:,(\d+))? @@)");
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = header.match(line);
        if (match.hasMatch()) {
            inHunks = true;
            const auto count = [&](int group) {
                return match.captured(group).isEmpty() ? QStringLiteral("1")
                                                       : match.captured(group);
            };
            patch += QStringLiteral("@@ -%1,%2 +%3,%4 @@\n")
                         .arg(match.captured(1), count(2), match.captured(3), count(4));
        } else if (inHunks && !line.isEmpty()) {
            patch += line + u'\n';
        }
    }
    return patch;
}

QStringList spans(const DiffLine& line) {
    QStringList words;
    for (const DiffLine::Span& span : line.changedWords) {
        words << line.text.mid(span.start, span.length);
    }
    return words;
}

}  // namespace

// Several scattered edits, moved blocks and a last line without a line break: the hunks,
// their line numbers and their lines are git's.
TEST(FileDiff, theHunksAreTheOnesGitFinds) {
    struct Case {
        const char* name;
        QByteArray before;
        QByteArray after;
    };
    QByteArray edited = numberedLines(60);
    edited.replace("line 5\n", "line five\n");
    edited.replace("line 30\nline 31\n", "");
    edited.replace("line 44\n", "line 44\ninserted\nanother\n");
    QByteArray moved = numberedLines(20);
    moved.replace("line 3\nline 4\n", "");
    moved += "line 3\nline 4\n}\n";
    const std::vector<Case> cases = {
        {"three edits", numberedLines(60), edited},
        {"block moved to the end", numberedLines(20), moved},
        {"last line break removed", "a\nb\nc\n", "a\nb\nC"},
        {"changed at first and last line", numberedLines(9),
         "first\n" + numberedLines(9).mid(7) + "last\n"},
    };
    for (const Case& each : cases) {
        Scratch scratch;
        scratch.write("old", each.before);
        scratch.write("new", each.after);
        const FileDiff diff = LineDiff::compute("f.txt", text(each.before), text(each.after));
        EXPECT_EQ(diff.kind, FileDiff::Kind::Text) << each.name;
        EXPECT_EQ(asPatch(diff).toStdString(), gitPatch(scratch).toStdString()) << each.name;
        // The review's line counts are the diff's.
        EXPECT_EQ(LineDiff::count(text(each.before), text(each.after)),
                  (LineDiff::LineCounts{diff.added, diff.removed, true}))
            << each.name;
    }

    // Lines that differ only in their line break, and a file of repeated lines (which the
    // patience diff leaves to the classic one), are counted as the diff shows them.
    QByteArray repeated;
    for (int line = 0; line < 40; ++line) {
        repeated += line % 3 ? "}\n" : "{\n";
    }
    const std::pair<QByteArray, QByteArray> counted[] = {
        {"a\nb", "a\nb\n"},
        {"x\r\ny\n", "x\ny\n"},
        {"", "\n"},
        {repeated, QByteArray(repeated).replace(20, 4, "{\n}\n{\n")},
    };
    for (const auto& [before, after] : counted) {
        SCOPED_TRACE(before.toStdString() + "|" + after.toStdString());
        const FileDiff diff = LineDiff::compute("f.txt", text(before), text(after));
        EXPECT_GT(diff.added + diff.removed, 0);
        EXPECT_EQ(LineDiff::count(text(before), text(after)),
                  (LineDiff::LineCounts{diff.added, diff.removed, true}));
    }

    const FileDiff diff = LineDiff::compute("f.txt", text(numberedLines(60)), text(edited));
    EXPECT_EQ(diff.hunks.size(), 3u);
    EXPECT_EQ(diff.added, 3);
    EXPECT_EQ(diff.removed, 3);
    // Context lines carry both numbers; removed ones only the baseline's, added the copy's.
    const DiffLine& context = diff.hunks[1].lines.front();
    EXPECT_EQ(context.text, "line 27");
    EXPECT_EQ(std::pair(context.oldNumber, context.newNumber), std::pair(27, 27));
    const DiffLine& inserted = diff.hunks[2].lines[3];
    EXPECT_EQ(inserted.text, "inserted");
    EXPECT_EQ(std::pair(inserted.oldNumber, inserted.newNumber), std::pair(0, 43));
    // An unchanged line between hunks can be shown with its place on both sides.
    const DiffLine between = diff.contextLine(36, 34);
    EXPECT_EQ(between.text, "line 36");
}

// Within a replaced line only the words that differ are marked, once the pair is asked for;
// a line replaced by one with nothing in common is not marked word by word.
TEST(FileDiff, changedWordsAreMarkedInsideReplacedLines) {
    FileDiff diff = LineDiff::compute(
        "main.c", text("int total = count + 1; // sum\nkeep\nold words here\nλ = α·β\n"),
        text("int total = amount + 12; // sum\nkeep\nnothing alike at all\nλ = α·γ\nextra\n"));
    ASSERT_EQ(diff.hunks.size(), 1u);
    std::vector<DiffLine>& lines = diff.hunks[0].lines;
    ASSERT_EQ(lines.size(), 8u);
    const std::vector<int> partners = LineDiff::partners(diff.hunks[0]);
    EXPECT_EQ(partners, (std::vector<int>{1, 0, -1, 5, 6, 3, 4, -1}));
    for (std::size_t line = 0; line < lines.size(); ++line) {
        EXPECT_TRUE(lines[line].changedWords.empty()) << "marked before it is shown: " << line;
    }
    for (std::size_t line = 0; line < lines.size(); ++line) {
        if (lines[line].kind == DiffLine::Kind::Removed && partners[line] >= 0) {
            LineDiff::markChangedWords(lines[line], lines[std::size_t(partners[line])]);
        }
    }
    EXPECT_EQ(lines[0].kind, DiffLine::Kind::Removed);
    EXPECT_EQ(spans(lines[0]), (QStringList{"count", "1"}));
    EXPECT_EQ(lines[1].kind, DiffLine::Kind::Added);
    EXPECT_EQ(spans(lines[1]), (QStringList{"amount", "12"}));
    // Removed lines face the added ones in order: lines sharing only spaces are not marked
    // word by word, the others are, and an added line left over has nothing to face.
    EXPECT_EQ(lines[3].text, "old words here");
    EXPECT_TRUE(lines[3].changedWords.empty());
    EXPECT_EQ(lines[5].text, "nothing alike at all");
    EXPECT_TRUE(lines[5].changedWords.empty());
    EXPECT_EQ(spans(lines[4]), QStringList{"β"});
    EXPECT_EQ(spans(lines[6]), QStringList{"γ"});
    EXPECT_EQ(lines[7].text, "extra");
    EXPECT_TRUE(lines[7].changedWords.empty());
    // Keywords and numbers keep the editor's colours inside the diff.
    ASSERT_EQ(lines[0].styles.size(), lines[0].text.size());
    EXPECT_NE(lines[0].styles[0], lines[0].styles[20]);   // "1"
    EXPECT_NE(lines[0].styles[20], lines[0].styles[23]);  // "// sum"

    EXPECT_EQ(LineDiff::tokens("a_b  += f(x);"),
              (QStringList{"a_b", "  ", "+", "=", " ", "f", "(", "x", ")", ";"}));
}

// An added file is all added lines; a removed one all removed; binary and oversized sides
// say so with their sizes instead of showing lines.
TEST(FileDiff, filesThatAreAddedRemovedBinaryOrTooLargeSaySo) {
    const FileVersion absent{};
    const FileDiff added = LineDiff::compute("new.txt", absent, text("one\ntwo\n"));
    EXPECT_EQ(added.kind, FileDiff::Kind::Text);
    EXPECT_EQ(added.summary(), "");
    ASSERT_EQ(added.hunks.size(), 1u);
    EXPECT_EQ(asPatch(added), "@@ -0,0 +1,2 @@\n+one\n+two\n");
    const FileDiff removed = LineDiff::compute("old.txt", text("one\n"), absent);
    EXPECT_EQ(asPatch(removed), "@@ -1,1 +0,0 @@\n-one\n");

    FileVersion image = text(QByteArray(12'400, 'x'));
    image.bytes[3] = '\0';
    FileVersion latin1 = text(QByteArray(13'000, 'y'));
    latin1.bytes[0] = char(0xE9);
    struct Case {
        FileVersion before;
        FileVersion after;
        QString summary;
    };
    const std::vector<Case> cases = {
        {image, latin1, "Binary file changed (12.4 KB → 13.0 KB)"},
        {absent, image, "Binary file added (12.4 KB)"},
        {latin1, absent, "Binary file removed (13.0 KB)"},
        {text("a\n"),
         {FileVersion::State::TooLarge, {}, 2'345'678},
         "Too large to compare here (2 bytes → 2.3 MB). Open both versions to compare them."},
        {absent,
         {FileVersion::State::TooLarge, {}, 5'000'000},
         "Too large to compare here (absent → 5.0 MB). Open both versions to compare them."},
    };
    for (const Case& each : cases) {
        const FileDiff diff = LineDiff::compute("f", each.before, each.after);
        EXPECT_EQ(diff.summary(), each.summary);
        EXPECT_TRUE(diff.hunks.empty());
    }
}

// Without its diff module (an installation missing a file) the review says why it shows no
// lines and what it looked for; a file of another kind in its place is refused.
TEST(FileDiff, aMissingDiffModuleIsReported) {
    const QString missing = "/nonexistent/velk-diff.so";
    const Result<DiffModuleEntry> notFound = DiffModule::load({missing});
    ASSERT_FALSE(notFound);
    EXPECT_EQ(notFound.error().message,
              "Line comparisons are unavailable: the diff module is missing (looked for " +
                  missing + "). Reinstall VELK to see them.");
    Scratch scratch;
    scratch.write("velk-diff.so", "not a library");
    const Result<DiffModuleEntry> notLoaded = DiffModule::load({scratch.path("velk-diff.so")});
    ASSERT_FALSE(notLoaded);
    EXPECT_TRUE(notLoaded.error().message.startsWith(
        "Line comparisons are unavailable: the diff module did not load ("));

    // A process of its own, where the module was never opened, diffs with none to be found.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            qputenv("VELK_DIFF_MODULE", missing.toUtf8());
            const FileDiff diff = LineDiff::compute("a.txt", text("one\n"), text("two\n"));
            std::fputs(qPrintable(diff.summary()), stderr);
            std::exit(diff.kind == FileDiff::Kind::Unavailable && diff.hunks.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "the diff module is missing \\(looked for /nonexistent");
}

// A reader with its root opened once reads each path as readVersion does: links below the root,
// a linked folder on the way included, and paths leaving it are refused.
TEST(FileDiff, aSideIsReadAsAbsentTooLargeOrUnreadable) {
    Scratch scratch;
    scratch.write("root/a.txt", "hello\n");
    scratch.write("root/sub/b.txt", "deeper\n");
    scratch.write("root/big.bin", QByteArray(FileDiff::kPreviewLimit, 'z'));
    scratch.makeFolder("root/folder");
    scratch.write("outside/secret.txt", "secret\n");
    scratch.link("root/link.txt", scratch.path("outside/secret.txt"));
    scratch.link("root/linked", scratch.path("outside"));
    const QString root = scratch.path("root");
    const RunFiles::VersionReader reader(root);
    const RunFiles::VersionReader missingRoot(scratch.path("nowhere"));
    using State = FileVersion::State;
    const struct {
        QString path;
        State state;
        QByteArray bytes;
    } rows[] = {
        {"a.txt", State::Read, "hello\n"},
        {"sub//./b.txt", State::Read, "deeper\n"},
        {"missing.txt", State::Absent, {}},
        {"missing/deeper.txt", State::Absent, {}},
        {"big.bin", State::TooLarge, {}},
        {"folder", State::Unreadable, {}},
        {"link.txt", State::Unreadable, {}},
        {"linked/secret.txt", State::Unreadable, {}},
        {"../outside/secret.txt", State::Unreadable, {}},
        {"/etc/passwd", State::Unreadable, {}},
        {".", State::Unreadable, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path.toStdString());
        for (const FileVersion& read :
             {RunFiles::readVersion(root, row.path), reader.read(row.path)}) {
            EXPECT_EQ(read.state, row.state);
            EXPECT_EQ(read.bytes, row.bytes);
            EXPECT_EQ(read.size, row.state == State::TooLarge ? FileDiff::kPreviewLimit
                                                              : qint64(row.bytes.size()));
        }
    }
    EXPECT_EQ(missingRoot.read("a.txt").state, State::Absent);
}

// Applying some of a file's hunks gives what `git apply` gives for the same hunks of git's
// patch, for every choice of hunks: line breaks of either kind and a missing last break kept.
TEST(HunkMerge, everyChoiceOfHunksIsWhatGitApplyWrites) {
    QByteArray crlf = numberedLines(40);
    crlf.replace("\n", "\r\n");
    QByteArray crlfEdited = crlf;
    crlfEdited.replace("line 2\r\n", "line two\r\n");
    crlfEdited.replace("line 20\r\n", "");
    crlfEdited.chop(2);  // the last line loses its break
    QByteArray edited = numberedLines(40);
    edited.replace("line 1\n", "line one\n");
    edited.replace("line 18\n", "line 18\nadded\n");
    edited += "tail\n";
    for (const auto& [before, after] :
         {std::pair{crlf, crlfEdited}, std::pair{numberedLines(40), edited}}) {
        const FileDiff diff = LineDiff::compute("f.txt", text(before), text(after));
        ASSERT_EQ(diff.hunks.size(), 3u);
        for (int chosen = 0; chosen < 8; ++chosen) {
            std::vector<HunkMerge::Range> ranges;
            std::vector<int> hunks;
            for (int hunk = 0; hunk < 3; ++hunk) {
                if (chosen & (1 << hunk)) {
                    ranges.push_back(HunkMerge::Range::of(diff.hunks[std::size_t(hunk)]));
                    hunks.push_back(hunk);
                }
            }
            int count = 0;
            const std::optional<QByteArray> merged = HunkMerge::merge(before, after, ranges);
            ASSERT_TRUE(merged);
            EXPECT_EQ(*merged, gitApplyHunks(before, after, hunks, &count))
                << "hunks chosen: " << chosen;
            EXPECT_EQ(count, 3);
        }
        EXPECT_EQ(HunkMerge::merge(
                      before, after,
                      {HunkMerge::Range::of(diff.hunks[0]), HunkMerge::Range::of(diff.hunks[1]),
                       HunkMerge::Range::of(diff.hunks[2])}),
                  after);
    }
    // Ranges beyond the texts (not the texts they were found in) merge nothing.
    EXPECT_FALSE(HunkMerge::merge("a\n", "b\n", {{5, 1, 5, 1}}));
}
