#include "RunsTestSupport.h"
#include "core/runs/RunFiles.h"

#include <QDir>

#include <gtest/gtest.h>

#include <functional>
#include <new>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kNoPreview =
    QStringLiteral("File absent, binary, or too large for the text preview.");

QString projectConflict(const QString& path) {
    return path +
           " changed in your project since this run began. Nothing was applied; review "
           "the conflict first.";
}

QString assistantConflict(const QString& path) {
    return "The assistant changed " + path +
           " after this review opened. Refresh changes before applying.";
}

QString changedWhileApplying(const QString& path) {
    return path +
           " changed in your project while the files were being applied. Nothing was applied, "
           "and that change was kept.";
}

QString folderInTheWay(const QString& path) {
    return "A folder in your project stands where the copy has the file " + path +
           ". Nothing was applied; move or remove that folder first.";
}

// The three-way layout of a run: the project, its baseline and one assistant's copy, with
// the copy holding an edit, an addition and a removal (tests add more).
class RunLayout : public ::testing::Test {
protected:
    void SetUp() override {
        useDataFolder(scratch.path("data"));
        scratch.write("project/main.txt", "original");
        scratch.write("project/old.txt", "old");
        scratch.write("project/.env", "SECRET=1");
        scratch.write("project/tool.sh", "echo");
        RunFiles::snapshot(project(), baseline());
        RunFiles::snapshot(baseline(), copy());
        scratch.write("copy/main.txt", "edited");
        scratch.write("copy/new.txt", "#!/bin/sh\n", 0755);
        scratch.remove("copy/old.txt");
    }

    QString project() const { return scratch.path("project"); }
    QString baseline() const { return scratch.path("baseline"); }
    QString copy() const { return scratch.path("copy"); }
    QString backup() const { return scratch.path("backup-1"); }

    std::vector<FileChange> review() const { return RunFiles::changes(baseline(), copy()); }

    // The project as the run began (without the files snapshots leave out).
    void resetProject() const {
        ASSERT_TRUE(QDir(project()).removeRecursively());
        RunFiles::snapshot(baseline(), project());
    }

    // Applies and expects a refusal that leaves the project exactly as it was.
    QString refusedApply(const std::vector<FileChange>& changes) const {
        const TreeState before = treeState(project());
        const QString message =
            failure([&] { RunFiles::apply(changes, project(), copy(), backup()); });
        EXPECT_EQ(treeState(project()), before) << "a refused apply changes nothing";
        EXPECT_FALSE(scratch.exists("backup-1")) << "a refusal comes before the backup";
        return message;
    }

    Scratch scratch;
};

}  // namespace

TEST_F(RunLayout, changesListAdditionsEditsRemovalsAndModeChangesInCodePointOrder) {
    scratch.write("copy/Zebra.txt", "upper case sorts first");
    scratch.write("copy/\u00e9t\u00e9.txt", "U+00E9");
    scratch.write("copy/\uFFFD.txt", "U+FFFD");
    scratch.write("copy/\U0001F600.txt", "U+1F600, after U+FFFD");
    scratch.write("copy/.env", "SECRET=2");
    scratch.link("copy/link.txt", "main.txt");
    scratch.chmod("copy/tool.sh", 0755);
    const std::vector<FileChange> changes = review();
    QStringList listed;
    for (const FileChange& change : changes) {
        listed.append(change.kind() + " " + change.path);
    }
    EXPECT_EQ(listed, (QStringList{"Added Zebra.txt", "Changed main.txt", "Added new.txt",
                                   "Removed old.txt", "Changed tool.sh", "Added \u00e9t\u00e9.txt",
                                   "Added \uFFFD.txt", "Added \U0001F600.txt"}));
    EXPECT_EQ(changes[2], (FileChange{"new.txt", std::nullopt, RunFiles::hash(copy() + "/new.txt"),
                                      std::nullopt, 493}));
    EXPECT_EQ(changes[3], (FileChange{"old.txt", RunFiles::hash(baseline() + "/old.txt"),
                                      std::nullopt, 420, std::nullopt}));
    EXPECT_EQ(changes[4].before, changes[4].after) << "a permission change alone is a change";
}

TEST_F(RunLayout, applyWritesTheSelectionBacksUpWhatItReplacesAndRefusesAStaleSecondApply) {
    scratch.chmod("copy/tool.sh", 0755);
    scratch.write("copy/suid", "x", 04755);
    const std::vector<FileChange> changes = review();
    RunFiles::apply(changes, project(), copy(), backup());
    const TreeState applied = treeState(project());
    EXPECT_EQ(applied, (TreeState{{".env", {"SECRET=1", 0644}},
                                  {"main.txt", {"edited", 0644}},
                                  {"new.txt", {"#!/bin/sh\n", 0755}},
                                  {"suid", {"x", 0755}},  // special bits are never applied
                                  {"tool.sh", {"echo", 0755}}}))
        << "no temporary file is left behind";
    EXPECT_EQ(treeState(backup()), (TreeState{{"main.txt", {"original", 0644}},
                                              {"old.txt", {"old", 0644}},
                                              {"tool.sh", {"echo", 0644}}}));
    EXPECT_EQ(review(), changes) << "the copy itself is untouched";

    EXPECT_EQ(
        failure([&] { RunFiles::apply(changes, project(), copy(), scratch.path("backup-2")); }),
        projectConflict("main.txt"));
    EXPECT_EQ(treeState(project()), applied);
}

TEST_F(RunLayout, projectChangesSinceTheRunBeganBlockTheWholeSelection) {
    const std::vector<std::pair<const char*, std::function<void(Scratch&)>>> conflicts = {
        {"main.txt", [](Scratch& s) { s.write("project/main.txt", "edited by the user"); }},
        {"main.txt", [](Scratch& s) { s.chmod("project/main.txt", 0600); }},
        {"main.txt", [](Scratch& s) { s.remove("project/main.txt"); }},
        {"new.txt", [](Scratch& s) { s.write("project/new.txt", "the user made one too"); }},
        {"old.txt", [](Scratch& s) { s.write("project/old.txt", "changed before removal"); }},
    };
    for (const auto& [path, edit] : conflicts) {
        resetProject();  // then the user's edit
        edit(scratch);
        EXPECT_EQ(refusedApply(review()), projectConflict(path)) << path;
    }
}

TEST_F(RunLayout, assistantChangesAfterTheReviewBlockTheWholeSelection) {
    std::vector<FileChange> changes = review();
    scratch.write("copy/main.txt", "edited again");
    EXPECT_EQ(refusedApply(changes), assistantConflict("main.txt"));

    changes = review();
    scratch.write("copy/old.txt", "recreated");
    EXPECT_EQ(refusedApply(changes), assistantConflict("old.txt"));

    scratch.remove("copy/old.txt");
    changes = review();
    scratch.remove("copy/new.txt");
    EXPECT_EQ(refusedApply(changes), assistantConflict("new.txt"));

    scratch.write("copy/new.txt", "#!/bin/sh\n", 0755);
    changes = review();
    scratch.chmod("copy/new.txt", 0700);
    EXPECT_EQ(refusedApply(changes), assistantConflict("new.txt"));
}

TEST_F(RunLayout, aFolderStandingWhereTheCopyHasAFileIsRefusedForThatReason) {
    // The assistant turned the folder "lib" into a file: applied alone or with the removals
    // of the folder's files, the file cannot take the folder's place.
    scratch.write("project/lib/a.txt", "a");
    scratch.write("baseline/lib/a.txt", "a");
    scratch.remove("copy/new.txt");
    scratch.write("copy/lib", "now a file");
    const std::vector<FileChange> changes = review();
    ASSERT_EQ(changes[0].path, "lib");
    EXPECT_EQ(refusedApply(changes), folderInTheWay("lib"));
    EXPECT_EQ(refusedApply({changes[0]}), folderInTheWay("lib"));

    // A folder the user made since the run began, where the assistant added a file.
    scratch.remove("copy/lib");
    scratch.write("copy/new.txt", "#!/bin/sh\n", 0755);
    scratch.makeFolder("project/new.txt");
    EXPECT_EQ(refusedApply(review()), folderInTheWay("new.txt"));
}

TEST_F(RunLayout, aCopyFileThatGrowsAfterTheReviewIsRefusedWithoutBeingReadWhole) {
    const std::vector<FileChange> changes = review();
    const std::string copied = scratch.path("copy/main.txt").toStdString();
    // A terabyte through a hole takes no disk; read whole it would take a terabyte of memory.
    ASSERT_EQ(::truncate(copied.c_str(), 1LL << 40), 0);
    EXPECT_EQ(refusedApply(changes),
              "The assistant changed main.txt after this review opened: the files to apply are "
              "now larger than the 150 MB that separate copies support. Refresh changes before "
              "applying.");

    // Grown after validation, while the files are being written: the stream stops at the
    // reviewed size and everything written is undone.
    scratch.write("copy/main.txt", "edited");
    const TreeState before = treeState(project());
    bool grown = false;
    ScopedFaultHook hook([&](std::string_view operation, std::string_view) {
        if (operation == "create" && !grown) {
            grown = ::truncate(copied.c_str(), 1LL << 40) == 0;
        }
        return 0;
    });
    EXPECT_EQ(failure([&] { RunFiles::apply(changes, project(), copy(), backup()); }),
              assistantConflict("main.txt"));
    EXPECT_TRUE(grown);
    EXPECT_EQ(treeState(project()), before);
    EXPECT_EQ(appliesInProgress(), QStringList());
}

TEST_F(RunLayout, anEditSavedWhileApplyingIsKeptAndEverythingWrittenIsUndone) {
    // Files are written in path order: main.txt, new.txt, then old.txt is removed. Each edit
    // lands after the backup, as the first temporary file is made.
    struct Save {
        QString path;
        std::function<void(Scratch&)> edit;
    };
    const std::vector<Save> saves = {
        {"main.txt", [](Scratch& s) { s.write("project/main.txt", "ORIGINAL"); }},  // same size
        {"main.txt",
         [](Scratch& s) {  // an editor's save: a new file renamed over the old one
             s.write("project/.main.txt.swp", "saved by rename");
             ASSERT_EQ(::rename(s.path("project/.main.txt.swp").toStdString().c_str(),
                                s.path("project/main.txt").toStdString().c_str()),
                       0);
         }},
        {"new.txt", [](Scratch& s) { s.write("project/new.txt", "the user's own new.txt"); }},
        {"old.txt", [](Scratch& s) { s.write("project/old.txt", "old, edited"); }},
    };
    const std::vector<FileChange> changes = review();
    for (const Save& save : saves) {
        SCOPED_TRACE(save.path.toStdString());
        resetProject();
        ASSERT_TRUE(QDir(backup()).removeRecursively());
        bool saved = false;
        QString message;
        {
            ScopedFaultHook hook([&](std::string_view operation, std::string_view) {
                if (operation == "create" && !saved) {
                    saved = true;
                    save.edit(scratch);
                }
                return 0;
            });
            message = failure([&] { RunFiles::apply(changes, project(), copy(), backup()); });
        }
        EXPECT_EQ(message, changedWhileApplying(save.path));
        const TreeState edited = treeState(project());
        resetProject();
        save.edit(scratch);
        EXPECT_EQ(edited, treeState(project())) << "only the user's edit is left";
        EXPECT_EQ(appliesInProgress(), QStringList());
    }
}

TEST_F(RunLayout, aSecondApplyToTheSameProjectWaitsForTheFirstThenIsRefused) {
    const std::vector<FileChange> changes = review();
    // Another process's apply, stopped after its backup, before its first write.
    StoppedApply other(changes, project(), copy(), backup(),
                       [](std::string_view operation, auto) { return operation == "create"; });
    ASSERT_TRUE(other.stopped());
    const TreeState before = treeState(project());
    EXPECT_EQ(failure([&] {
                  RunFiles::apply({changes.front()}, project(), copy(), scratch.path("backup-2"));
              }),
              "Another apply to this project is in progress. Nothing was applied; try again when "
              "it has finished.");
    EXPECT_EQ(treeState(project()), before);
    const int status = other.finish(false);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(scratch.read("project/main.txt"), "edited") << "the first apply went through";
}

TEST_F(RunLayout, anApplyKilledMidwayIsRolledBackAtTheNextStartKeepingLaterEdits) {
    scratch.write("copy/zzz.txt", "added last");
    const std::vector<FileChange> changes = review();  // main, new, old, zzz in this order
    const TreeState before = treeState(project());
    // Killed as the last file is about to be renamed into place: main.txt and new.txt are
    // written, old.txt is gone, zzz.txt's temporary stands beside it.
    StoppedApply killed(changes, project(), copy(), backup(), [](auto operation, auto name) {
        return operation == "rename" && name == "zzz.txt";
    });
    ASSERT_TRUE(killed.stopped());
    const int status = killed.finish(true);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    ASSERT_EQ(scratch.read("project/main.txt"), "edited");
    ASSERT_FALSE(scratch.exists("project/old.txt"));
    ASSERT_EQ(temporaryFiles(project()).size(), 1);
    const QString temporary = temporaryFiles(project()).front();

    // The user edits a file the apply wrote, before VELK starts again.
    scratch.write("project/new.txt", "the user's version");
    const std::vector<RunFiles::ApplyRecovery> recovered = RunFiles::recoverInterruptedApplies();
    ASSERT_EQ(recovered.size(), 1u);
    EXPECT_EQ(recovered[0].restored, (QStringList{"main.txt", "old.txt"}));
    EXPECT_EQ(recovered[0].keptEdits, QStringList{"new.txt"});
    EXPECT_EQ(recovered[0].unrestored, QStringList());
    EXPECT_EQ(recovered[0].removedTemporaries, QStringList{temporary});
    EXPECT_EQ(recovered[0].describe(),
              "An apply to " + project() +
                  " was interrupted. It has been rolled back.\nRestored: main.txt\nRestored: "
                  "old.txt\nKept as edited since: new.txt\nRemoved temporary file: " +
                  temporary);
    TreeState expected = before;
    expected["new.txt"] = {"the user's version", 0644};
    EXPECT_EQ(treeState(project()), expected);
    EXPECT_EQ(appliesInProgress(), QStringList());
    EXPECT_TRUE(RunFiles::recoverInterruptedApplies().empty()) << "recovered once";
    EXPECT_EQ(treeState(backup()),
              (TreeState{{"main.txt", {"original", 0644}}, {"old.txt", {"old", 0644}}}))
        << "the journal goes with the recovery";
}

TEST_F(RunLayout, aFailureAtAnyStepOfAnApplyLeavesTheProjectAsItWas) {
    scratch.write("copy/b/c/added.txt", "in new folders");
    const std::vector<FileChange> changes = review();
    const TreeState before = treeState(project());
    auto reset = [&] {
        ASSERT_TRUE(QDir(project()).removeRecursively());
        for (const auto& [path, file] : treeState(baseline(), false)) {
            scratch.write("project/" + path, file.bytes, file.mode);
        }
        scratch.write("project/.env", "SECRET=1");
        ASSERT_EQ(treeState(project()), before);
    };
    // Each operation fails once, at its first, second … use, with an I/O error or a thrown
    // allocation failure, until the apply gets through without meeting it.
    for (const char* failing : {"copy", "mkdir", "create", "write", "sync", "rename", "unlink"}) {
        for (const bool throwing : {false, true}) {
            for (int use = 1;; ++use) {
                SCOPED_TRACE(std::string(failing) + " #" + std::to_string(use) +
                             (throwing ? " throws" : " fails"));
                int seen = 0;
                bool injected = false;
                QString message;
                {
                    ScopedFaultHook hook([&](std::string_view operation, std::string_view) {
                        if (operation != failing || ++seen != use) {
                            return 0;
                        }
                        injected = true;
                        if (throwing) {
                            throw std::bad_alloc();
                        }
                        return EIO;
                    });
                    message =
                        failure([&] { RunFiles::apply(changes, project(), copy(), backup()); });
                }
                ASSERT_TRUE(QDir(backup()).removeRecursively());
                if (!injected || message == "(no failure)") {
                    // Past the last use, or a use whose failure is harmless (a step record):
                    // the apply went through.
                    reset();
                    if (!injected) {
                        break;
                    }
                    continue;
                }
                EXPECT_TRUE(
                    message.startsWith(throwing ? "There was not enough memory" : "Could not"))
                    << message.toStdString();
                EXPECT_EQ(treeState(project()), before);
                EXPECT_EQ(appliesInProgress(), QStringList());
                if (HasFailure()) {
                    return;
                }
            }
        }
    }
}

TEST_F(RunLayout, pathsThatEscapeOrPassThroughLinksAreRefusedOnEitherSide) {
    Scratch outside;
    outside.write("escape", "outside");
    outside.write("dir/main.txt", "outside folder");
    const FileChange good = review().front();
    auto with = [&](const QString& path) {
        FileChange bad = good;
        bad.path = path;
        return std::vector<FileChange>{good, bad};
    };
    EXPECT_EQ(refusedApply(with("../escape")), kInvalidPath);
    EXPECT_EQ(refusedApply(with(outside.path("escape"))), kInvalidPath);
    EXPECT_EQ(refusedApply(with("")), kInvalidPath);

    // A link on the project side: writing through it would change a file outside the project.
    scratch.link("project/linked", outside.path("dir"));
    EXPECT_EQ(refusedApply(with("linked/main.txt")), kLinkedPath);
    // A link on the copy side: reading through it would apply a file from elsewhere.
    scratch.remove("project/linked");
    scratch.link("copy/sub", outside.path("dir"));
    EXPECT_EQ(refusedApply(with("sub/main.txt")), kLinkedPath);
    scratch.link("copy/evil.txt", outside.path("escape"));
    EXPECT_EQ(refusedApply(with("evil.txt")), kLinkedPath);
    EXPECT_EQ(outside.read("escape"), "outside");
    EXPECT_EQ(outside.read("dir/main.txt"), "outside folder");
}

TEST_F(RunLayout, aFailureWhileWritingRestoresEveryFileAlreadyWritten) {
    // Files written before the failing one: an edit, a removal, additions in new folders.
    scratch.write("project/a/keep.txt", "keep", 0600);
    scratch.write("baseline/a/keep.txt", "keep", 0600);
    scratch.write("copy/a/keep.txt", "changed keep", 0755);
    scratch.write("copy/b/c/added.txt", "added");
    // The assistant replaced the file "zz" by a folder; only the file inside is selected, so
    // the project's file "zz" stands where a folder must be made — a failure even for root.
    scratch.write("project/zz", "a file");
    scratch.write("baseline/zz", "a file");
    scratch.write("copy/zz/inside.txt", "cannot be written");
    std::vector<FileChange> changes;
    for (const FileChange& change : review()) {
        if (change.path != "zz") {
            changes.push_back(change);
        }
    }
    ASSERT_EQ(changes.back().path, "zz/inside.txt");
    ASSERT_GE(changes.size(), 5u);

    const TreeState before = treeState(project());
    const QString message = failure([&] { RunFiles::apply(changes, project(), copy(), backup()); });
    EXPECT_TRUE(message.startsWith("Could not write zz/inside.txt: ")) << message.toStdString();
    EXPECT_EQ(treeState(project()), before)
        << "every file restored, additions and their folders removed";
    EXPECT_EQ(treeState(backup()), (TreeState{{"a/", {"folder", 0}},
                                              {"a/keep.txt", {"keep", 0600}},
                                              {"main.txt", {"original", 0644}},
                                              {"old.txt", {"old", 0644}}}));
}

TEST_F(RunLayout, thePreviewShowsUtf8TextAndRefusesEverythingElse) {
    scratch.write("copy/text.txt", "caf\xc3\xa9\n");
    scratch.write("copy/latin1.txt", "caf\xe9\n");
    scratch.write("copy/almost.txt", QByteArray(1'999'999, 'x'));
    scratch.write("copy/large.txt", QByteArray(2'000'000, 'x'));
    scratch.link("copy/link.txt", scratch.path("copy/text.txt"));
    EXPECT_EQ(RunFiles::preview(copy(), "text.txt"), QStringLiteral("caf\u00e9\n"));
    EXPECT_EQ(RunFiles::preview(copy(), "almost.txt").size(), 1'999'999);
    for (const QString path :
         {"latin1.txt", "large.txt", "missing.txt", "link.txt", "../copy/text.txt", ""}) {
        EXPECT_EQ(RunFiles::preview(copy(), path), kNoPreview) << path.toStdString();
    }
    EXPECT_EQ(RunFiles::preview(baseline(), "main.txt"), "original");
}
