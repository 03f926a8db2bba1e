#include "RunsTestSupport.h"

#include <QCryptographicHash>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

struct ToolResult {
    int exitCode = -1;
    QString out;
    QString err;
};

ToolResult velkRuns(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(VELK_RUNS_TOOL), arguments);
    EXPECT_TRUE(process.waitForFinished(30000));
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

}  // namespace

TEST(VelkRunsTool, snapshotChangesAndApplyDriveARunFromTheCommandLine) {
    Scratch scratch;
    scratch.write("p/main.txt", "original");
    scratch.write("p/old.txt", "old");
    scratch.write("p/.env", "SECRET=1");
    EXPECT_EQ(velkRuns({"snapshot", scratch.path("p"), scratch.path("base")}).exitCode, 0);
    EXPECT_EQ(velkRuns({"snapshot", scratch.path("base"), scratch.path("copy")}).exitCode, 0);
    scratch.write("copy/main.txt", "edited");
    scratch.write("copy/two\nlines.txt", "new", 0755);
    scratch.remove("copy/old.txt");

    const ToolResult hashes = velkRuns({"hash", scratch.path("base")});
    auto sha256 = [](const QByteArray& bytes) {
        return QString::fromLatin1(
            QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    };
    EXPECT_EQ(hashes.out, sha256("original") + "  main.txt\n" + sha256("old") + "  old.txt\n");
    EXPECT_EQ(hashes.out.count(u'\n'), 2);

    const ToolResult changes = velkRuns({"changes", scratch.path("base"), scratch.path("copy")});
    EXPECT_EQ(changes.exitCode, 0);
    EXPECT_EQ(changes.out, "Changed\tmain.txt\nRemoved\told.txt\nAdded\ttwo\\nlines.txt\n");

    const QStringList apply = {"apply",           "--baseline",         scratch.path("base"),
                               "--copy",          scratch.path("copy"), "--project",
                               scratch.path("p"), "--backup",           scratch.path("backup-1")};
    const ToolResult applied = velkRuns(apply + QStringList{"main.txt", "two\nlines.txt"});
    EXPECT_EQ(applied.exitCode, 0) << applied.err.toStdString();
    EXPECT_TRUE(applied.out.endsWith(
        "Applied 2 files. Originals are saved in the run\u2019s backup folder.\n"));
    EXPECT_EQ(scratch.read("p/main.txt"), "edited");
    EXPECT_EQ(scratch.mode("p/two\nlines.txt"), 0755);
    EXPECT_EQ(scratch.read("p/old.txt"), "old") << "old.txt was not selected";
    EXPECT_EQ(scratch.read("backup-1/main.txt"), "original");

    // The same selection again is now stale: refused, exit status 1, the message on stderr.
    const ToolResult stale = velkRuns(apply + QStringList{"main.txt"});
    EXPECT_EQ(stale.exitCode, 1);
    EXPECT_EQ(stale.err,
              "main.txt changed in your project since this run began. Nothing was "
              "applied; review the conflict first.\n");

    const ToolResult unknown = velkRuns(apply + QStringList{"not-a-change.txt"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_EQ(velkRuns({"changes", scratch.path("missing"), scratch.path("copy")}).err,
              "This project folder no longer exists.\n");
    EXPECT_EQ(velkRuns({"frobnicate"}).exitCode, 2);
}

// Two processes apply to one project: velk-runs waits for the other apply, refuses, and once
// that process has been killed mid-way, rolls its apply back before its own and prints what
// it did.
TEST(VelkRunsTool, anApplyWaitsForAnotherProcessAndRollsBackOneThatWasKilled) {
    Scratch scratch;
    useDataFolder(scratch.path("data"));
    scratch.write("p/main.txt", "original");
    scratch.write("p/old.txt", "old");
    RunFiles::snapshot(scratch.path("p"), scratch.path("base"));
    RunFiles::snapshot(scratch.path("base"), scratch.path("copy"));
    scratch.write("copy/main.txt", "edited");
    scratch.write("copy/new.txt", "new");
    scratch.remove("copy/old.txt");
    const std::vector<FileChange> changes =
        RunFiles::changes(scratch.path("base"), scratch.path("copy"));

    // The other process stops before removing old.txt, with main.txt and new.txt written.
    StoppedApply other(changes, scratch.path("p"), scratch.path("copy"), scratch.path("backup-1"),
                       [](std::string_view operation, auto) { return operation == "unlink"; });
    ASSERT_TRUE(other.stopped());
    const QStringList apply = {"apply",           "--baseline",         scratch.path("base"),
                               "--copy",          scratch.path("copy"), "--project",
                               scratch.path("p"), "--backup",           scratch.path("backup-2")};
    const ToolResult busy = velkRuns(apply + QStringList{"main.txt"});
    EXPECT_EQ(busy.exitCode, 1);
    EXPECT_EQ(busy.err,
              "Another apply to this project is in progress. Nothing was applied; try again when "
              "it has finished.\n");

    other.finish(true);
    ASSERT_EQ(scratch.read("p/new.txt"), "new");
    const ToolResult applied = velkRuns(apply + QStringList{"main.txt"});
    EXPECT_EQ(applied.exitCode, 0) << applied.err.toStdString();
    EXPECT_EQ(applied.out,
              "An apply to " + scratch.path("p") +
                  " was interrupted. It has been rolled back.\nRestored: main.txt\nRestored: "
                  "new.txt\nChanged\tmain.txt\nApplied 1 files. Originals are saved in the "
                  "run’s backup folder.\n");
    EXPECT_EQ(treeState(scratch.path("p")),
              (TreeState{{"main.txt", {"edited", 0644}}, {"old.txt", {"old", 0644}}}));
    EXPECT_EQ(velkRuns({"recover"}).out, "No interrupted apply.\n");
}
