#include "RunsTestSupport.h"
#include "runs/RunFiles.h"

#include <QDir>

#include <gtest/gtest.h>

#include <functional>

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

// The three-way layout of a run: the project, its baseline and one assistant's copy, with
// the copy holding an edit, an addition and a removal (tests add more).
class RunLayout : public ::testing::Test {
protected:
    void SetUp() override {
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
        {"new.txt", [](Scratch& s) { s.makeFolder("project/new.txt"); }},
        {"old.txt", [](Scratch& s) { s.write("project/old.txt", "changed before removal"); }},
    };
    for (const auto& [path, edit] : conflicts) {
        // The project as the run began, then the user's edit.
        ASSERT_TRUE(QDir(project()).removeRecursively());
        RunFiles::snapshot(baseline(), project());
        edit(scratch);
        EXPECT_EQ(refusedApply(review()), projectConflict(path)) << path;
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
