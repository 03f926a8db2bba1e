#include "ApplyCrashRounds.h"
#include "RunsTestSupport.h"
#include "core/runs/RunFiles.h"

#include <QDir>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <set>

// Random projects and random assistant edits: applying a random subset of the changes leaves
// exactly the selected files equal to the copy, every other file untouched, and the backup
// holding the originals of the replaced and removed files.
TEST(ApplyProperty, applyingARandomSelectionChangesExactlyTheSelectedFiles) {
    QRandomGenerator random(20261206);
    for (int round = 0; round < 100; ++round) {
        SCOPED_TRACE(round);
        Scratch scratch;
        const auto [project, copy] = layOutRandomRun(random, scratch.path(), 9, false);

        // The change list is exactly the set of paths whose file differs.
        std::set<QString> differing, listed;
        for (const TreeState* tree : {&project, &copy}) {
            for (const auto& [path, state] : *tree) {
                if (fileAt(project, path) != fileAt(copy, path)) {
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
            if (const auto original = fileAt(project, change.path)) {
                expectedBackup[change.path] = *original;
            }
            if (const auto target = fileAt(copy, change.path)) {
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
