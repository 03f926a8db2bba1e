// The file browser listing and the editor buffer on real files: ordering, limits, the
// guards that keep changes made elsewhere, and permission bits across saves.

#include "workspace/WorkspaceTestKit.h"

#include "files/FileOrder.h"

#include <QFile>

#include <sys/stat.h>

using namespace testing_support;

namespace {

int modeOf(const QString& path) {
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0) {
        return -1;
    }
    return int(status.st_mode & 07777);
}

QStringList names(const QList<FileEntry>& entries) {
    QStringList result;
    for (const FileEntry& entry : entries) {
        result.append(entry.name());
    }
    return result;
}

}  // namespace

class WorkspaceFiles : public WorkspaceTest {
protected:
    // Opens a file of the project with the given contents.
    void openWith(const QString& name, const QByteArray& contents) {
        ASSERT_TRUE(writeFile(projectFile(name), contents));
        workspace().openFile(FileEntry{projectFile(name), false});
        ASSERT_EQ(workspace().selectedFile(), projectFile(name));
    }
};

TEST_F(WorkspaceFiles, theListingHidesDotFilesPutsFoldersFirstAndSortsNumbersByValue) {
    for (const char* name : {"file10.txt", "file2.txt", "Beta.md", "alpha.md", ".env"}) {
        ASSERT_TRUE(writeFile(projectFile(QString::fromLatin1(name)), "x"));
    }
    for (const char* name : {"src", "Docs", ".git"}) {
        ASSERT_TRUE(QDir().mkpath(projectFile(QString::fromLatin1(name))));
    }
    Workspace& model = openWorkspace();
    EXPECT_EQ(names(model.files()),
              (QStringList{"Docs", "src", "alpha.md", "Beta.md", "file2.txt", "file10.txt"}));
    EXPECT_TRUE(model.files().first().isDirectory);
    EXPECT_EQ(model.browsingFolder(), project());

    model.setSearch(QStringLiteral("FILE"));
    EXPECT_EQ(names(model.filteredFiles()), (QStringList{"file2.txt", "file10.txt"}));
    model.setSearch(QString());
    EXPECT_EQ(model.filteredFiles(), model.files());

    // Entering a folder lists it without touching the editor.
    model.openFile(model.files().at(1));
    EXPECT_EQ(model.browsingFolder(), projectFile("src"));
    EXPECT_TRUE(model.files().isEmpty());
}

TEST_F(WorkspaceFiles, aFileManagerOrderComparesDigitRunsByValue) {
    EXPECT_LT(FileOrder::compareNames("file2", "file10"), 0);
    EXPECT_LT(FileOrder::compareNames("a9b", "a10a"), 0);
    EXPECT_LT(FileOrder::compareNames("readme", "README2"), 0);
    EXPECT_LT(FileOrder::compareNames("x99999999999999999999", "x100000000000000000000"), 0);
    EXPECT_NE(FileOrder::compareNames("a", "A"), 0);
    EXPECT_EQ(FileOrder::compareNames("same", "same"), 0);
}

TEST_F(WorkspaceFiles, listingAFolderThatWasDeletedEmptiesTheListAndSaysWhy) {
    ASSERT_TRUE(writeFile(projectFile("sub/one.txt"), "1"));
    Workspace& model = openWorkspace();
    model.openFile(FileEntry{projectFile("sub"), true});
    ASSERT_EQ(model.files().size(), 1);

    ASSERT_TRUE(QDir(projectFile("sub")).removeRecursively());
    model.refreshFiles();
    EXPECT_TRUE(model.files().isEmpty());
    EXPECT_TRUE(model.toast().contains(QStringLiteral("sub")));
}

TEST_F(WorkspaceFiles, filesOfTwoMillionBytesOrNotUtf8AreNotOpened) {
    Workspace& model = openWorkspace();
    ASSERT_TRUE(writeFile(projectFile("big.txt"), QByteArray(2000000, 'a')));
    model.openFile(FileEntry{projectFile("big.txt"), false});
    EXPECT_EQ(model.selectedFile(), QString());
    EXPECT_EQ(
        model.toast(),
        QStringLiteral(
            "This file is too large for the built-in editor. Open it in your preferred editor."));

    ASSERT_TRUE(writeFile(projectFile("binary.bin"), QByteArray("ab\xff\xfe", 4)));
    model.openFile(FileEntry{projectFile("binary.bin"), false});
    EXPECT_EQ(model.selectedFile(), QString());
    EXPECT_EQ(model.toast(), QStringLiteral("This file cannot be opened as UTF-8 text."));

    model.openFile(FileEntry{projectFile("missing.txt"), false});
    EXPECT_EQ(model.toast(), QStringLiteral("This file cannot be opened as UTF-8 text."));

    openWith(QStringLiteral("almost.txt"), QByteArray(1999999, 'a'));
    EXPECT_EQ(model.editorText().size(), 1999999);
    EXPECT_FALSE(model.fileIsDirty());
}

TEST_F(WorkspaceFiles, savingKeepsThePermissionBitsAndAByteOrderMark) {
    Workspace& model = openWorkspace();
    openWith(QStringLiteral("tool.sh"), "\xEF\xBB\xBF#!/bin/sh\necho old\n");
    ASSERT_TRUE(QFile::setPermissions(projectFile("tool.sh"),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                          QFile::ExeOther));
    ASSERT_EQ(modeOf(projectFile("tool.sh")), 0755);
    model.setEditorText(model.editorText().replace(QStringLiteral("old"), QStringLiteral("new")));
    EXPECT_TRUE(model.fileIsDirty());
    ASSERT_TRUE(model.saveFile());

    EXPECT_EQ(readFile(projectFile("tool.sh")), QByteArray("\xEF\xBB\xBF#!/bin/sh\necho new\n"));
    EXPECT_EQ(modeOf(projectFile("tool.sh")), 0755);
    EXPECT_FALSE(model.fileIsDirty());
    EXPECT_EQ(model.toast(), QStringLiteral("Saved tool.sh."));
    EXPECT_TRUE(QDir(project())
                    .entryList({QStringLiteral("*.velk-*")}, QDir::Files | QDir::Hidden)
                    .isEmpty());
}

TEST_F(WorkspaceFiles, aFileChangedOnDiskAsksBeforeReplacingTheOtherVersion) {
    Workspace& model = openWorkspace();
    openWith(QStringLiteral("shared.txt"), "original\n");
    model.setEditorText(QStringLiteral("mine\n"));
    ASSERT_TRUE(writeFile(projectFile("shared.txt"), "theirs\n"));

    dialogs.answerAlert(QStringLiteral("Cancel"));
    EXPECT_FALSE(model.saveFile());
    ASSERT_EQ(dialogs.alerts().size(), 1u);
    EXPECT_EQ(dialogs.alerts().front().message, QStringLiteral("This file changed on disk"));
    EXPECT_EQ(dialogs.alerts().front().buttons,
              (QStringList{QStringLiteral("Replace"), QStringLiteral("Cancel")}));
    EXPECT_EQ(readFile(projectFile("shared.txt")), QByteArray("theirs\n"));
    EXPECT_TRUE(model.fileIsDirty());

    dialogs.answerAlert(QStringLiteral("Replace"));
    EXPECT_TRUE(model.saveFile());
    EXPECT_EQ(readFile(projectFile("shared.txt")), QByteArray("mine\n"));
    EXPECT_EQ(model.savedText(), QStringLiteral("mine\n"));
}

TEST_F(WorkspaceFiles, aRemovedOrNoLongerTextFileIsNotWrittenAndTheBufferStays) {
    const QString refusal = QStringLiteral(
        "This file was removed or can no longer be read as text. Your editor changes are still "
        "here; restore or reopen the file before saving.");
    Workspace& model = openWorkspace();
    openWith(QStringLiteral("gone.txt"), "text\n");
    model.setEditorText(QStringLiteral("edited\n"));
    ASSERT_TRUE(QFile::remove(projectFile("gone.txt")));
    EXPECT_FALSE(model.saveFile());
    EXPECT_EQ(model.toast(), refusal);
    EXPECT_FALSE(QFileInfo::exists(projectFile("gone.txt")));
    EXPECT_EQ(model.editorText(), QStringLiteral("edited\n"));
    EXPECT_TRUE(model.fileIsDirty());

    dialogs.answerAlert(QStringLiteral("Discard"));
    openWith(QStringLiteral("binary.txt"), "text\n");
    model.setEditorText(QStringLiteral("edited\n"));
    ASSERT_TRUE(writeFile(projectFile("binary.txt"), QByteArray("\xC3\x28", 2)));
    EXPECT_FALSE(model.saveFile());
    EXPECT_EQ(model.toast(), refusal);
    EXPECT_EQ(readFile(projectFile("binary.txt")), QByteArray("\xC3\x28", 2));
    EXPECT_TRUE(model.fileIsDirty());
    EXPECT_EQ(dialogs.alerts().size(), 1u);  // only the question before opening
}

TEST_F(WorkspaceFiles, confirmDiscardAsksOnlyAboutUnsavedChanges) {
    Workspace& model = openWorkspace();
    EXPECT_TRUE(model.confirmDiscard());
    openWith(QStringLiteral("a.txt"), "a\n");
    EXPECT_TRUE(model.confirmDiscard());
    EXPECT_TRUE(dialogs.alerts().empty());

    model.setEditorText(QStringLiteral("changed\n"));
    dialogs.answerAlert(QStringLiteral("Cancel"));
    EXPECT_FALSE(model.confirmDiscard());
    ASSERT_EQ(dialogs.alerts().size(), 1u);
    EXPECT_EQ(dialogs.alerts().front().message, QStringLiteral("Save your changes?"));
    EXPECT_EQ(dialogs.alerts().front().informativeText, QStringLiteral("a.txt"));
    EXPECT_EQ(
        dialogs.alerts().front().buttons,
        (QStringList{QStringLiteral("Save"), QStringLiteral("Discard"), QStringLiteral("Cancel")}));

    dialogs.answerAlert(QStringLiteral("Discard"));
    EXPECT_TRUE(model.confirmDiscard());
    EXPECT_EQ(readFile(projectFile("a.txt")), QByteArray("a\n"));

    dialogs.answerAlert(QStringLiteral("Save"));
    EXPECT_TRUE(model.confirmDiscard());
    EXPECT_EQ(readFile(projectFile("a.txt")), QByteArray("changed\n"));

    // Opening another file with unsaved edits and "Cancel" keeps the current one.
    model.setEditorText(QStringLiteral("again\n"));
    ASSERT_TRUE(writeFile(projectFile("b.txt"), "b\n"));
    dialogs.answerAlert(QStringLiteral("Cancel"));
    model.openFile(FileEntry{projectFile("b.txt"), false});
    EXPECT_EQ(model.selectedFile(), projectFile("a.txt"));
    EXPECT_EQ(model.editorText(), QStringLiteral("again\n"));
}

TEST_F(WorkspaceFiles, newFileCreatesAnEmptyFileWhereTheUserChose) {
    Workspace& model = openWorkspace();
    dialogs.answerSave(std::nullopt);
    model.newFile();
    ASSERT_EQ(dialogs.savePanels().size(), 1u);
    EXPECT_EQ(dialogs.savePanels().front().proposedName, QStringLiteral("untitled.py"));
    EXPECT_EQ(dialogs.savePanels().front().startFolder, project());
    EXPECT_EQ(model.selectedFile(), QString());

    ASSERT_TRUE(writeFile(projectFile("untitled.py"), "old contents\n"));
    dialogs.answerSave(projectFile("untitled.py"));
    model.newFile();
    EXPECT_EQ(model.selectedFile(), projectFile("untitled.py"));
    EXPECT_EQ(readFile(projectFile("untitled.py")), QByteArray());
    EXPECT_EQ(model.editorText(), QString());
    EXPECT_TRUE(model.files().contains(FileEntry{projectFile("untitled.py"), false}));

    dialogs.answerSave(projectFile("brand-new.py"));
    model.newFile();
    EXPECT_EQ(modeOf(projectFile("brand-new.py")) & 0600, 0600);
    EXPECT_EQ(modeOf(projectFile("brand-new.py")) & 0111, 0);
}
