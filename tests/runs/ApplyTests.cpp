#include "RunsTestSupport.h"
#include "runs/RunFiles.h"

#include <QDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QString kInvalid = QStringLiteral("Invalid change path.");
const QString kLinked =
    QStringLiteral("A file or parent folder is a symbolic link. Review it outside VELK.");
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

template <typename Operation>
QString failure(Operation operation) {
    try {
        operation();
    } catch (const RunFilesError& error) {
        return error.message();
    }
    return QStringLiteral("(no failure)");
}

// The three-way layout of a run: the project, its baseline and one assistant's copy, with
// the copy holding an edit, an addition and a removal.
class RunLayout : public ::testing::Test {
protected:
    void SetUp() override {
        scratch.write("project/main.txt", "original");
        scratch.write("project/old.txt", "old");
        scratch.write("project/.env", "SECRET=1");
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

TEST_F(RunLayout, changesListAdditionsEditsAndRemovalsInCodePointOrder) {
    scratch.write("copy/Zebra.txt", "upper case sorts first");
    scratch.write("copy/\u00e9t\u00e9.txt", "U+00E9");
    scratch.write("copy/\uFFFD.txt", "U+FFFD");
    scratch.write("copy/\U0001F600.txt", "U+1F600, after U+FFFD");
    scratch.write("copy/.env", "SECRET=2");
    scratch.link("copy/link.txt", "main.txt");
    const std::vector<FileChange> changes = review();
    QStringList paths;
    QStringList kinds;
    for (const FileChange& change : changes) {
        paths.append(change.path);
        kinds.append(change.kind());
    }
    EXPECT_EQ(paths, (QStringList{"Zebra.txt", "main.txt", "new.txt", "old.txt",
                                  "\u00e9t\u00e9.txt", "\uFFFD.txt", "\U0001F600.txt"}));
    EXPECT_EQ(kinds,
              (QStringList{"Added", "Changed", "Added", "Removed", "Added", "Added", "Added"}));
    const FileChange& added = changes[2];
    EXPECT_FALSE(added.before);
    EXPECT_FALSE(added.beforeMode);
    EXPECT_EQ(added.afterMode, 493);
    EXPECT_EQ(added.after, RunFiles::hash(copy() + "/new.txt"));
    EXPECT_EQ(changes[3].beforeMode, 420);
    EXPECT_FALSE(changes[3].after);
}

TEST_F(RunLayout, applyWritesTheSelectionAndBacksUpWhatItReplaces) {
    RunFiles::apply(review(), project(), copy(), backup());
    EXPECT_EQ(scratch.read("project/main.txt"), "edited");
    EXPECT_EQ(scratch.read("project/new.txt"), "#!/bin/sh\n");
    EXPECT_EQ(scratch.mode("project/new.txt"), 493);
    EXPECT_FALSE(scratch.exists("project/old.txt"));
    EXPECT_EQ(scratch.read("project/.env"), "SECRET=1");
    const TreeState saved = treeState(backup());
    EXPECT_EQ(saved, (TreeState{{"main.txt", {"original", 0644}}, {"old.txt", {"old", 0644}}}));
    EXPECT_TRUE(review().size() == 3) << "the copy itself is untouched";
    EXPECT_EQ(QDir(project()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{".env", "main.txt", "new.txt"}))
        << "no temporary file is left behind";
}

TEST_F(RunLayout, aPermissionChangeAloneIsAChangeAndApplyingItSetsTheBits) {
    scratch.write("project/tool.sh", "echo", 0644);
    scratch.write("baseline/tool.sh", "echo", 0644);
    scratch.write("copy/tool.sh", "echo", 0755);
    scratch.write("copy/suid", "x", 04755);
    const std::vector<FileChange> changes = review();
    const auto tool = std::find_if(changes.begin(), changes.end(), [](const FileChange& change) {
        return change.path == "tool.sh";
    });
    ASSERT_NE(tool, changes.end());
    EXPECT_EQ(tool->kind(), "Changed");
    EXPECT_EQ(tool->before, tool->after);
    RunFiles::apply(changes, project(), copy(), backup());
    EXPECT_EQ(scratch.mode("project/tool.sh"), 493);
    EXPECT_EQ(scratch.mode("project/suid"), 0755) << "special bits are never applied";
}

TEST_F(RunLayout, projectChangesSinceTheRunBeganBlockTheWholeSelection) {
    const std::vector<std::pair<const char*, std::function<void(Scratch&)>>> conflicts = {
        {"main.txt", [](Scratch& s) { s.write("project/main.txt", "edited by the user"); }},
        {"main.txt", [](Scratch& s) { s.chmod("project/main.txt", 0600); }},
        {"main.txt", [](Scratch& s) { s.remove("project/main.txt"); }},
        {"new.txt", [](Scratch& s) { s.write("project/new.txt", "the user made one too"); }},
        {"new.txt", [](Scratch& s) { s.makeFolder("project/new.txt"); }},
        {"old.txt", [](Scratch& s) { s.write("project/old.txt", "changed before removal"); }},
    };
    const TreeState original = treeState(project());
    for (const auto& [path, edit] : conflicts) {
        const std::vector<FileChange> changes = review();
        edit(scratch);
        EXPECT_EQ(refusedApply(changes), projectConflict(path)) << path;
        EXPECT_FALSE(scratch.exists("backup-1/" + QString(path)));
        // Put the project back for the next case.
        ASSERT_TRUE(QDir(project()).removeRecursively());
        for (const auto& [relative, state] : original) {
            scratch.write("project/" + relative, state.bytes, state.mode);
        }
        QDir(backup()).removeRecursively();
    }
}

TEST_F(RunLayout, assistantChangesAfterTheReviewBlockTheWholeSelection) {
    std::vector<FileChange> changes = review();
    scratch.write("copy/main.txt", "edited again");
    EXPECT_EQ(refusedApply(changes), assistantConflict("main.txt"));
    EXPECT_EQ(scratch.read("project/main.txt"), "original");

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
    EXPECT_EQ(refusedApply(with("../escape")), kInvalid);
    EXPECT_EQ(refusedApply(with(outside.path("escape"))), kInvalid);
    EXPECT_EQ(refusedApply(with("")), kInvalid);

    // A link on the project side: writing through it would change a file outside the project.
    scratch.link("project/linked", outside.path("dir"));
    EXPECT_EQ(refusedApply(with("linked/main.txt")), kLinked);
    // A link on the copy side: reading through it would apply a file from elsewhere.
    scratch.remove("project/linked");
    scratch.link("copy/sub", outside.path("dir"));
    EXPECT_EQ(refusedApply(with("sub/main.txt")), kLinked);
    scratch.link("copy/evil.txt", outside.path("escape"));
    EXPECT_EQ(refusedApply(with("evil.txt")), kLinked);
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

TEST_F(RunLayout, aSecondApplyOfAStaleListIsRefused) {
    const std::vector<FileChange> changes = review();
    RunFiles::apply(changes, project(), copy(), backup());
    const TreeState applied = treeState(project());
    EXPECT_EQ(
        failure([&] { RunFiles::apply(changes, project(), copy(), scratch.path("backup-2")); }),
        projectConflict("main.txt"));
    EXPECT_EQ(treeState(project()), applied);
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
