// The file browser listing and the editor buffer on real files: ordering, limits, the
// guards that keep changes made elsewhere, and permission bits across saves.

#include "workspace/WorkspaceTestKit.h"

#include "core/files/FileOrder.h"

#include <QFile>

#include <algorithm>

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
        workspace().project.openFile(FileEntry{projectFile(name), false});
        ASSERT_EQ(workspace().project.selectedFile(), projectFile(name));
    }
};

TEST_F(WorkspaceFiles, theListingHidesDotFilesPutsFoldersFirstAndSortsNumbersByValue) {
    for (const char* name : {"file10.txt", "file2.txt", "Beta.md", "alpha.md", ".env",
                             "src/one.txt", "Docs/", ".git/"}) {
        ASSERT_TRUE(QString(name).endsWith('/') ? QDir().mkpath(projectFile(name))
                                                : writeFile(projectFile(name), "x"));
    }
    Workspace& model = openWorkspace();
    EXPECT_EQ(names(model.project.files()),
              QStringList({"Docs", "src", "alpha.md", "Beta.md", "file2.txt", "file10.txt"}));
    EXPECT_TRUE(model.project.files().first().isDirectory);
    EXPECT_EQ(model.project.browsingFolder(), project());
    model.project.setSearch("FILE");
    EXPECT_EQ(names(model.project.filteredFiles()), QStringList({"file2.txt", "file10.txt"}));
    model.project.setSearch(QString());
    EXPECT_EQ(model.project.filteredFiles(), model.project.files());

    // Digit runs compare by value, however long.
    const char* const ordered[][2] = {{"a9b", "a10a"},
                                      {"readme", "README2"},
                                      {"x99999999999999999999", "x100000000000000000000"}};
    for (const auto& [before, after] : ordered) {
        EXPECT_LT(FileOrder::compareNames(before, after), 0) << before;
    }
    EXPECT_NE(FileOrder::compareNames("a", "A"), 0);
    EXPECT_EQ(FileOrder::compareNames("same", "same"), 0);
    // Sorting with keys taken once gives the order of the pairwise comparison.
    QList<FileEntry> mixed;
    for (const char* name : {"b10", "B2", "a", "A", "z.d", "b2", "a1", "01", "1", "c"}) {
        mixed.append(FileEntry{QStringLiteral("/p/") + name, QString(name).endsWith(".d")});
    }
    QList<FileEntry> pairwise = mixed;
    std::sort(pairwise.begin(), pairwise.end(), FileOrder::lessThan);
    FileOrder::sort(mixed);
    EXPECT_EQ(mixed, pairwise);

    // Listing a folder that was deleted empties the list and says why.
    model.project.openFile(FileEntry{projectFile("src"), true});
    ASSERT_EQ(model.project.files().size(), 1);
    ASSERT_TRUE(QDir(projectFile("src")).removeRecursively());
    model.project.refreshFiles();
    EXPECT_TRUE(model.project.files().isEmpty());
    EXPECT_TRUE(model.notices.toast().contains("src"));
}

TEST_F(WorkspaceFiles, filesOfTwoMillionBytesOrNotUtf8AreNotOpened) {
    Workspace& model = openWorkspace();
    ASSERT_TRUE(writeFile(projectFile("big.txt"), QByteArray(2000000, 'a')));
    model.project.openFile(FileEntry{projectFile("big.txt"), false});
    EXPECT_EQ(model.project.selectedFile(), QString());
    EXPECT_EQ(model.notices.toast(),
              "This file is too large for the built-in editor. Open it in your preferred editor.");

    ASSERT_TRUE(writeFile(projectFile("binary.bin"), QByteArray("ab\xff\xfe", 4)));
    model.project.openFile(FileEntry{projectFile("binary.bin"), false});
    EXPECT_EQ(model.project.selectedFile(), QString());
    EXPECT_EQ(model.notices.toast(), "This file cannot be opened as UTF-8 text.");

    model.project.openFile(FileEntry{projectFile("missing.txt"), false});
    EXPECT_EQ(model.notices.toast(), "This file cannot be opened as UTF-8 text.");

    openWith("almost.txt", QByteArray(1999999, 'a'));
    EXPECT_EQ(model.project.editorText().size(), 1999999);
    EXPECT_FALSE(model.project.fileIsDirty());
}

TEST_F(WorkspaceFiles, savingKeepsThePermissionBitsAndAByteOrderMark) {
    Workspace& model = openWorkspace();
    openWith("tool.sh", "\xEF\xBB\xBF#!/bin/sh\necho old\n");
    ASSERT_TRUE(QFile::setPermissions(projectFile("tool.sh"),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                          QFile::ExeOther));
    ASSERT_EQ(modeOf(projectFile("tool.sh")), 0755);
    model.project.setEditorText(model.project.editorText().replace("old", "new"));
    EXPECT_TRUE(model.project.fileIsDirty());
    ASSERT_TRUE(model.project.saveFile());

    EXPECT_EQ(readFile(projectFile("tool.sh")), QByteArray("\xEF\xBB\xBF#!/bin/sh\necho new\n"));
    EXPECT_EQ(modeOf(projectFile("tool.sh")), 0755);
    EXPECT_FALSE(model.project.fileIsDirty());
    EXPECT_EQ(model.notices.toast(), "Saved tool.sh.");
    EXPECT_TRUE(QDir(project()).entryList({"*.velk-*"}, QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(WorkspaceFiles, aRemovedOrNoLongerTextFileIsNotWrittenAndTheBufferStays) {
    Workspace& model = openWorkspace();
    // A null replacement removes the file.
    for (const auto& [name, onDisk] : {std::pair{"gone.txt", QByteArray()},
                                       std::pair{"binary.txt", QByteArray("\xC3\x28", 2)}}) {
        SCOPED_TRACE(name);
        const QString path = projectFile(QString::fromLatin1(name));
        dialogs.answerAlert("Discard");
        openWith(QString::fromLatin1(name), "text\n");
        model.project.setEditorText("edited\n");
        ASSERT_TRUE(onDisk.isNull() ? QFile::remove(path) : writeFile(path, onDisk));
        EXPECT_FALSE(model.project.saveFile());
        EXPECT_EQ(model.notices.toast(),
                  "This file was removed or can no longer be read as text. Your editor changes "
                  "are still here; restore or reopen the file before saving.");
        EXPECT_EQ(QFileInfo::exists(path), !onDisk.isNull());
        EXPECT_EQ(readFile(path), onDisk);
        EXPECT_EQ(model.project.editorText(), "edited\n");
        EXPECT_TRUE(model.project.fileIsDirty());
    }
    EXPECT_EQ(dialogs.alerts().size(), 1u);  // only the question before opening the second
}

TEST_F(WorkspaceFiles, confirmDiscardAsksOnlyAboutUnsavedChanges) {
    Workspace& model = openWorkspace();
    EXPECT_TRUE(model.project.confirmDiscard());
    openWith("a.txt", "a\n");
    EXPECT_TRUE(model.project.confirmDiscard());
    EXPECT_TRUE(dialogs.alerts().empty());

    model.project.setEditorText("changed\n");
    dialogs.answerAlert("Cancel");
    EXPECT_FALSE(model.project.confirmDiscard());
    ASSERT_EQ(dialogs.alerts().size(), 1u);
    EXPECT_EQ(dialogs.alerts().front().message, "Save your changes?");
    EXPECT_EQ(dialogs.alerts().front().informativeText, "a.txt");
    EXPECT_EQ(dialogs.alerts().front().buttons, (QStringList{"Save", "Discard", "Cancel"}));

    dialogs.answerAlert("Discard");
    EXPECT_TRUE(model.project.confirmDiscard());
    EXPECT_EQ(readFile(projectFile("a.txt")), QByteArray("a\n"));

    dialogs.answerAlert("Save");
    EXPECT_TRUE(model.project.confirmDiscard());
    EXPECT_EQ(readFile(projectFile("a.txt")), QByteArray("changed\n"));

    // Opening another file with unsaved edits and "Cancel" keeps the current one.
    model.project.setEditorText("again\n");
    ASSERT_TRUE(writeFile(projectFile("b.txt"), "b\n"));
    dialogs.answerAlert("Cancel");
    model.project.openFile(FileEntry{projectFile("b.txt"), false});
    EXPECT_EQ(model.project.selectedFile(), projectFile("a.txt"));
    EXPECT_EQ(model.project.editorText(), "again\n");
}

TEST_F(WorkspaceFiles, newFileCreatesAnEmptyFileWhereTheUserChose) {
    Workspace& model = openWorkspace();
    dialogs.answerSave(std::nullopt);
    model.project.newFile();
    ASSERT_EQ(dialogs.savePanels().size(), 1u);
    EXPECT_EQ(dialogs.savePanels().front().proposedName, "untitled.py");
    EXPECT_EQ(dialogs.savePanels().front().startFolder, project());
    EXPECT_EQ(model.project.selectedFile(), QString());

    ASSERT_TRUE(writeFile(projectFile("untitled.py"), "old contents\n"));
    dialogs.answerSave(projectFile("untitled.py"));
    model.project.newFile();
    EXPECT_EQ(model.project.selectedFile(), projectFile("untitled.py"));
    EXPECT_EQ(readFile(projectFile("untitled.py")), QByteArray());
    EXPECT_EQ(model.project.editorText(), QString());
    EXPECT_TRUE(model.project.files().contains(FileEntry{projectFile("untitled.py"), false}));

    dialogs.answerSave(projectFile("brand-new.py"));
    model.project.newFile();
    EXPECT_EQ(modeOf(projectFile("brand-new.py")) & 0600, 0600);
    EXPECT_EQ(modeOf(projectFile("brand-new.py")) & 0111, 0);
}
