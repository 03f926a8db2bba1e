#include "core/appearance/Theme.h"
#include "core/assistants/Provider.h"
#include "core/workspace/ProjectModel.h"
#include "ui/files/CodeEditor.h"
#include "ui/files/FilesPage.h"
#include "ui/navigation/Navigator.h"
#include "ui/window/MainWindow.h"
#include "workspace/WorkspaceTestKit.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

namespace {

using testing_support::readFile;
using testing_support::waitUntil;
using testing_support::writeFile;

class FilesPageTest : public testing_support::WorkspaceTest {
protected:
    void openPage() {
        openWorkspace();
        page = std::make_unique<FilesPage>(workspace().project, workspace().launcher, theme);
        page->resize(1100, 700);
        page->show();
        QApplication::processEvents();
    }

    void TearDown() override {
        page.reset();
        WorkspaceTest::TearDown();
    }

    QStringList shownNames() const {
        QStringList names;
        for (int row = 0; row < page->fileList()->count(); ++row) {
            names << page->fileList()->item(row)->text();
        }
        return names;
    }

    // Clicks the row with that name, as the user would, and lets the page act on it.
    void clickRow(const QString& name) {
        QListWidget* list = page->fileList();
        const QList<QListWidgetItem*> items = list->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << name.toStdString();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(items.front()).center());
        QApplication::processEvents();
    }

    void click(QAbstractButton* button) {
        button->click();
        QApplication::processEvents();
    }

    QString lastCommand() {
        return workspace().sessions.sessions().isEmpty()
                   ? QString()
                   : workspace().sessions.sessions().last()->command();
    }

    Theme theme{false, preferences};
    std::unique_ptr<FilesPage> page;
};

TEST_F(FilesPageTest, theListFollowsSearchAndFoldersAndSavingAChangedFileAsksBeforeReplacing) {
    const QString path = projectFile("hello.py");
    ASSERT_TRUE(writeFile(path, "print('hi')\n"));
    ASSERT_TRUE(writeFile(projectFile("README.md"), "# read me\n"));
    ASSERT_TRUE(writeFile(projectFile("src/inner.py"), "\n"));
    openPage();
    EXPECT_EQ(page->folderLabel()->text(), "project");
    EXPECT_EQ(shownNames(), QStringList({"src", "hello.py", "README.md"}));
    QTest::keyClicks(page->searchField(), "READ");
    EXPECT_EQ(shownNames(), QStringList({"README.md"}));
    page->searchField()->clear();
    workspace().project.setSearch(QString());
    clickRow("src");
    EXPECT_EQ(page->folderLabel()->text(), "src");
    EXPECT_EQ(shownNames(), QStringList({"inner.py"}));
    click(page->parentButton());
    EXPECT_EQ(page->folderLabel()->text(), "project");

    EXPECT_TRUE(page->showsEmptyState());
    clickRow("hello.py");
    ASSERT_EQ(workspace().project.selectedFile(), path);
    EXPECT_FALSE(page->showsEmptyState());
    EXPECT_EQ(page->fileNameLabel()->text(), "hello.py");
    EXPECT_EQ(page->editor()->text(), "print('hi')\n");
    EXPECT_TRUE(page->dirtyDot()->isHidden());
    page->editor()->setFocus();
    QTest::keyClicks(page->editor(), "# edit ");
    EXPECT_EQ(workspace().project.editorText(), "# edit print('hi')\n");
    EXPECT_FALSE(page->dirtyDot()->isHidden());

    ASSERT_TRUE(writeFile(path, "print('other')\n"));
    dialogs.answerAlert("Cancel");
    click(page->saveButton());
    ASSERT_EQ(dialogs.alerts().size(), 1u);
    EXPECT_EQ(dialogs.alerts()[0].message, "This file changed on disk");
    EXPECT_EQ(dialogs.alerts()[0].buttons, QStringList({"Replace", "Cancel"}));
    EXPECT_EQ(readFile(path), "print('other')\n");
    EXPECT_FALSE(page->dirtyDot()->isHidden());

    dialogs.answerAlert("Replace");
    click(page->saveButton());
    EXPECT_EQ(dialogs.alerts().size(), 2u);
    EXPECT_EQ(readFile(path), "# edit print('hi')\n");
    EXPECT_TRUE(page->dirtyDot()->isHidden());
    EXPECT_EQ(workspace().notices.toast(), "Saved hello.py.");
    EXPECT_EQ(page->editor()->text(), "# edit print('hi')\n");
}

TEST_F(FilesPageTest, aLargeFileEditedInTheEditorKeepsItsDirtyStateSaveAndLineEndings) {
    // Too long to colour, with CR LF endings; the model reads the text only when it needs it.
    QByteArray original;
    for (int line = 0; line < 30000; ++line) {
        original += "line " + QByteArray::number(line) + "\r\n";
    }
    const QString path = projectFile("large.txt");
    ASSERT_TRUE(writeFile(path, original));
    openPage();
    clickRow("large.txt");
    ProjectModel& project = workspace().project;
    page->editor()->setFocus();

    QTest::keyClicks(page->editor(), "ab");
    EXPECT_TRUE(project.fileIsDirty());
    EXPECT_FALSE(page->dirtyDot()->isHidden());
    QTest::keyClick(page->editor(), Qt::Key_Backspace);
    QTest::keyClick(page->editor(), Qt::Key_Backspace);
    EXPECT_FALSE(project.fileIsDirty()) << "the same text again is not a change";
    EXPECT_TRUE(page->dirtyDot()->isHidden());
    // Same length, other text.
    QTest::keyClick(page->editor(), Qt::Key_Delete);
    QTest::keyClicks(page->editor(), "L");
    EXPECT_TRUE(project.fileIsDirty());
    EXPECT_FALSE(page->dirtyDot()->isHidden());

    click(page->saveButton());
    const QByteArray saved = "L" + original.mid(1);
    EXPECT_EQ(readFile(path), saved);
    EXPECT_TRUE(page->dirtyDot()->isHidden());

    // An edit the page reported is kept by the model when the page goes.
    QTest::keyClicks(page->editor(), "!");
    page.reset();
    EXPECT_EQ(project.editorText(), QString::fromUtf8("L!" + original.mid(1)));
    EXPECT_TRUE(project.fileIsDirty());
}

TEST_F(FilesPageTest, runFilePicksTheCommandByExtensionAndRefusesOtherFiles) {
    const QStringList names{"a.py", "UPPER.PY", "b.js", "c.mjs",         "d.cjs",     "e.swift",
                            "f.sh", "g.zsh",    "h.rb", "i.applescript", "notes.txt", "Makefile"};
    for (const QString& name : names) {
        ASSERT_TRUE(writeFile(projectFile(name), "\n"));
    }
    openPage();
    const auto python3 = workspace().providers.executablePath("python3");
    const QString python = python3 ? shellQuote(*python3) : "python3";
    const QStringList runners{
        python,           python,      "node",     "node", "node",
        "/usr/bin/swift", "/bin/bash", "/bin/zsh", "ruby", "/usr/bin/osascript"};
    for (int index = 0; index < runners.size(); ++index) {
        clickRow(names[index]);
        ASSERT_EQ(workspace().project.selectedFile(), projectFile(names[index]));
        click(page->runFileButton());
        EXPECT_EQ(lastCommand(), runners[index] + " " + shellQuote(projectFile(names[index])));
        EXPECT_EQ(workspace().sessions.sessions().last()->title(), "Run · " + names[index]);
    }
    const qsizetype started = workspace().sessions.sessions().size();
    for (const char* name : {"notes.txt", "Makefile"}) {
        clickRow(name);
        click(page->runFileButton());
        EXPECT_EQ(workspace().sessions.sessions().size(), started) << name;
        EXPECT_EQ(workspace().notices.toast(), "Use a custom command for this file type.");
    }
}

TEST_F(FilesPageTest, theCommandFieldRunsItsTrimmedTextTitledByItsStartAndIgnoresBlanks) {
    openPage();
    const QString command = "echo " + QString(60, u'c');
    QTest::keyClicks(page->commandField(), "  " + command + "  ");
    EXPECT_EQ(workspace().project.runnerCommand(), "  " + command + "  ");
    click(page->runCommandButton());
    ASSERT_EQ(workspace().sessions.sessions().size(), 1);
    EXPECT_EQ(lastCommand(), command);
    EXPECT_EQ(workspace().sessions.sessions().last()->title(), command.left(50));

    page->commandField()->clear();
    QTest::keyClicks(page->commandField(), "   ");
    QTest::keyClick(page->commandField(), Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(workspace().sessions.sessions().size(), 1);
}

TEST_F(FilesPageTest, withoutAProjectThePageSaysSoAndTheMainWindowShowsItForFilesAndRunner) {
    createWorkspace(false);
    page = std::make_unique<FilesPage>(workspace().project, workspace().launcher, theme);
    EXPECT_EQ(page->folderLabel()->text(), "No project");
    EXPECT_FALSE(page->parentButton()->isEnabled());
    EXPECT_EQ(page->fileList()->count(), 0);
    // The editor follows the theme.
    theme.setFontSize(15);
    theme.setBackgroundHex("102030");
    EXPECT_EQ(page->editor()->fontSize(), 16.0);
    EXPECT_EQ(page->editor()->background(), QColor(0x10, 0x20, 0x30));

    ASSERT_TRUE(writeFile(projectFile("hello.py"), "print('hi')\n"));
    workspace().project.setFolder(project());
    Navigator navigator(workspace().sessions, workspace().launcher);
    MainWindow window(workspace(), navigator, theme);
    auto* files = qobject_cast<FilesPage*>(window.page(Destination::FilesAndRunner));
    ASSERT_NE(files, nullptr);
    navigator.setDestination(Destination::FilesAndRunner);
    EXPECT_EQ(window.currentPage(), files);
    EXPECT_EQ(files->fileList()->count(), 1);
}

}  // namespace
