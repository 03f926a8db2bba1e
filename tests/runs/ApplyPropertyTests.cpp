#include "ApplyCrashRounds.h"
#include "RunsTestSupport.h"
#include "runs/RunFiles.h"

#include <QDir>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <set>

namespace {

// Names chosen to trip up path handling: spaces, newlines, unicode (including a character
// beyond U+FFFF), leading dots and dashes.
const QStringList kNames = {
    "a.txt", "B.md", "with space.c", "new\nline",        "caf\u00e9", "\U0001F600.bin", "-dash",
    ".dot",  "x",    "deep",         "\u65e5\u672c.txt", "tab\there",
};
const QList<int> kModes = {0644, 0755, 0600, 0700};

QString randomPath(QRandomGenerator& random) {
    QStringList parts;
    const int depth = random.bounded(3);
    for (int level = 0; level < depth; ++level) {
        parts.append("d" + kNames[random.bounded(kNames.size())]);
    }
    parts.append(kNames[random.bounded(kNames.size())]);
    return parts.join(u'/');
}

QByteArray randomBytes(QRandomGenerator& random) {
    QByteArray bytes(random.bounded(64), '\0');
    for (char& byte : bytes) {
        byte = char(random.bounded(256));
    }
    return bytes;
}

// A file can only be placed where no ancestor is a file and it is not itself a folder.
bool fits(const TreeState& tree, const QString& path) {
    for (const auto& [existing, state] : tree) {
        if (existing.startsWith(path + u'/') || path.startsWith(existing + u'/')) {
            return false;
        }
    }
    return true;
}

FileState randomFile(QRandomGenerator& random) {
    return {randomBytes(random), kModes[random.bounded(kModes.size())]};
}

std::optional<FileState> lookup(const TreeState& tree, const QString& path) {
    const auto found = tree.find(path);
    return found == tree.end() ? std::nullopt : std::optional(found->second);
}

}  // namespace

// Random projects and random assistant edits: applying a random subset of the changes leaves
// exactly the selected files equal to the copy, every other file untouched, and the backup
// holding the originals of the replaced and removed files.
TEST(ApplyProperty, applyingARandomSelectionChangesExactlyTheSelectedFiles) {
    QRandomGenerator random(20261206);
    for (int round = 0; round < 100; ++round) {
        SCOPED_TRACE(round);
        Scratch scratch;
        TreeState project;
        for (int count = random.bounded(1, 10); count > 0; --count) {
            const QString path = randomPath(random);
            if (fits(project, path)) {
                project[path] = randomFile(random);
                scratch.write("project/" + path, project[path].bytes, project[path].mode);
            }
        }
        if (project.empty()) {
            scratch.makeFolder("project");
        }
        RunFiles::snapshot(scratch.path("project"), scratch.path("baseline"));
        RunFiles::snapshot(scratch.path("baseline"), scratch.path("copy"));

        TreeState copy = project;
        for (int edits = random.bounded(1, 6); edits > 0; --edits) {
            const int action = random.bounded(4);
            if (action == 0 || copy.empty()) {  // add
                const QString path = randomPath(random);
                // Clashes of a file with a folder are kept out: applying one without the
                // other is refused, which the apply tests cover.
                if (!copy.contains(path) && fits(copy, path) && fits(project, path) &&
                    !scratch.exists("copy/" + path)) {
                    copy[path] = randomFile(random);
                    scratch.write("copy/" + path, copy[path].bytes, copy[path].mode);
                }
                continue;
            }
            auto it = std::next(copy.begin(), random.bounded(int(copy.size())));
            const QString path = it->first;
            if (action == 1) {  // change the bytes (sometimes to the same bytes)
                it->second.bytes = random.bounded(4) ? randomBytes(random) : it->second.bytes;
                scratch.write("copy/" + path, it->second.bytes, it->second.mode);
            } else if (action == 2) {  // remove
                copy.erase(it);
                scratch.remove("copy/" + path);
            } else {  // change the permission bits
                it->second.mode = kModes[random.bounded(kModes.size())];
                scratch.chmod("copy/" + path, it->second.mode);
            }
        }

        // The change list is exactly the set of paths whose file differs.
        std::set<QString> differing, listed;
        for (const TreeState* tree : {&project, &copy}) {
            for (const auto& [path, state] : *tree) {
                if (lookup(project, path) != lookup(copy, path)) {
                    differing.insert(path);
                }
            }
        }
        const std::vector<FileChange> changes =
            RunFiles::changes(scratch.path("baseline"), scratch.path("copy"));
        std::vector<FileChange> selection;
        for (const FileChange& change : changes) {
            listed.insert(change.path);
            if (random.bounded(2)) {
                selection.push_back(change);
            }
        }
        ASSERT_EQ(listed, differing);
        RunFiles::apply(selection, scratch.path("project"), scratch.path("copy"),
                        scratch.path("backup"));

        TreeState expected = project;
        TreeState expectedBackup;
        for (const FileChange& change : selection) {
            if (const auto original = lookup(project, change.path)) {
                expectedBackup[change.path] = *original;
            }
            if (const auto target = lookup(copy, change.path)) {
                expected[change.path] = *target;
            } else {
                expected.erase(change.path);
            }
        }
        EXPECT_EQ(treeState(scratch.path("project"), false), expected);
        EXPECT_EQ(treeState(scratch.path("backup"), false), expectedBackup);
        EXPECT_EQ(treeState(scratch.path("copy"), false), copy);
        if (HasFailure()) {
            return;
        }
    }
}

// The same kind of projects, with the applying process killed at a random step or moment
// (and now and then its recovery too, and the user editing a file in between): after the
// recovery of the next start, every project holds all of the apply or none of it, every file
// its original, applied or user-edited bytes, and no temporary file or unfinished journal is
// left. bench/runs runs the same rounds by the hundred.
TEST(ApplyProperty, anApplyKilledAtAnyMomentIsAllOrNothingAfterTheNextStart) {
    Scratch scratch;
    const CrashTally tally = runCrashRounds(30, 20261207, scratch.path());
    EXPECT_EQ(tally.rounds, 30);
    EXPECT_GT(tally.killedApplying, 0);
    EXPECT_EQ(tally.halfApplied, 0);
    EXPECT_EQ(tally.lostFiles, 0);
    EXPECT_EQ(tally.leftTemporaries, 0);
    EXPECT_EQ(tally.leftInProgress, 0);
    EXPECT_EQ(tally.problems, QStringList());
}
