// The Team runs page on a real run of the fake assistant: the copy card, the review of the
// copy's files and the apply of ticked changes into the project.

#include "RunsTestSupport.h"
#include "core/appearance/Theme.h"
#include "core/runs/RunFiles.h"
#include "core/runs/RunStore.h"
#include "core/services/Preferences.h"
#include "core/workspace/ReviewLayout.h"
#include "ui/files/CodeEditor.h"
#include "ui/files/FilesPage.h"
#include "ui/kit/AppStyle.h"
#include "ui/navigation/Navigator.h"
#include "ui/runs/DiffView.h"
#include "ui/runs/ReviewFileModel.h"
#include "ui/runs/TeamRunsPage.h"
#include "workspace/WorkspaceTestKit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextTable>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testing_support;
using namespace std::chrono_literals;

class TeamRunsPageTest : public WorkspaceTest {
protected:
    void TearDown() override {
        page.reset();
        navigator.reset();
        WorkspaceTest::TearDown();
    }

    QStringList cardStates() const {
        QStringList states;
        for (QLabel* label : page->cardsArea()->findChildren<QLabel*>("copyState")) {
            states << label->text();
        }
        return states;
    }
    QPushButton* cardButton(const QString& text) const {
        for (QPushButton* button : page->cardsArea()->findChildren<QPushButton*>()) {
            if (button->text() == text) {
                return button;
            }
        }
        return nullptr;
    }
    static QStringList rows(const QListWidget* list) {
        QStringList texts;
        for (int row = 0; row < list->count(); ++row) {
            texts << list->item(row)->text();
        }
        return texts;
    }
    QStringList rows() const {
        QStringList texts;
        const QAbstractItemModel* model = page->changeList()->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            texts << model->index(row, 0).data().toString();
        }
        return texts;
    }
    QModelIndex changeRow(int row) const { return page->changeList()->model()->index(row, 0); }
    void tickRow(int row) {
        page->changeList()->model()->setData(changeRow(row), Qt::Checked, Qt::CheckStateRole);
    }
    void pickRow(int row) { page->changeList()->setCurrentIndex(changeRow(row)); }
    // Waits for the list to read `expected` (marks found in the background come later).
    bool rowsBecome(const QStringList& expected) {
        const bool became = waitUntil([&] { return rows() == expected; }, 5s);
        if (!became) {
            ADD_FAILURE() << rows().join('\n').toStdString();
        }
        return became;
    }
    QStringList cardTexts(const char* name) const {
        QStringList texts;
        for (QLabel* label : page->cardsArea()->findChildren<QLabel*>(name)) {
            texts << label->text();
        }
        return texts;
    }
    // Applies the ticked files, answering the confirmation, and waits for the outcome.
    bool applyTicked() {
        QSignalSpy applied(page.get(), &TeamRunsPage::applyFinished);
        dialogs.answerAlert("Apply changes");
        page->applyButton()->click();
        return applied.wait(10000);
    }
    void tick(const QString& path, bool ticked = true) {
        for (int row = 0; row < page->changeList()->model()->rowCount(); ++row) {
            if (changeRow(row).data(Qt::UserRole).toString() == path) {
                page->changeList()->model()->setData(
                    changeRow(row), ticked ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
            }
        }
    }

    void showPage(Workspace& model) {
        navigator = std::make_unique<Navigator>(model.sessions, model.launcher);
        page = std::make_unique<TeamRunsPage>(model.teamRuns, model.sessions, model.providers,
                                              model.project, model.reviewLayout, *navigator,
                                              dialogs, &desktop, &model.attention);
        page->resize(1100, 760);
        page->show();
    }

    // Reads the copy's changes and waits for the list.
    bool inspect(const RunCopy& copy) {
        QSignalSpy finished(page.get(), &TeamRunsPage::inspectionFinished);
        page->inspect(copy);
        return finished.wait(10000);
    }

    // A run recorded earlier, with one copy of the project as it is now per assistant,
    // stored.
    TeamRun recordRun(const QString& prompt, const QStringList& assistants = {"claude"},
                      const QString& folder = "run") {
        TeamRun run{QUuid::createUuid(),
                    prompt,
                    project(),
                    scratch() + "/runs/" + folder,
                    QDateTime::currentDateTimeUtc(),
                    {}};
        for (const QString& assistant : assistants) {
            const QString folder =
                run.root + (assistant == "claude" ? QString("/copy") : "/copy-" + assistant);
            run.copies.push_back(RunCopy{QUuid::createUuid(), assistant, folder, std::nullopt, 0});
            RunFiles::snapshot(project(), folder);
        }
        RunFiles::snapshot(project(), RunStore::baselineFolder(run));
        EXPECT_TRUE(RunStore::save(run));
        return run;
    }

    // Picks `path` in the list and waits for its diff.
    bool showDiff(const QString& path) {
        for (int row = 0; row < page->changeList()->model()->rowCount(); ++row) {
            if (changeRow(row).data(Qt::UserRole).toString() == path) {
                pickRow(row);
            }
        }
        const bool shown = waitUntil([&] { return page->shownPreview() == path; }, 5s);
        QCoreApplication::processEvents();
        return shown;
    }
    QStringList diffLines() const { return page->diffView()->text()->toPlainText().split(u'\n'); }
    // The texts drawn on `background` in the diff, in order.
    QStringList textsOn(const QColor& background) const {
        QStringList texts;
        const QTextDocument* document = page->diffView()->text()->document();
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
                if (fragment.fragment().charFormat().background().color() == background) {
                    texts << fragment.fragment().text();
                }
            }
        }
        return texts;
    }

    // Clicks the link of the diff's row that reads `text` ("☐ Change 2 of 3").
    void clickRow(const QString& text) {
        QTextBrowser* view = page->diffView()->primaryText();
        for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next()) {
            if (block.text() == text) {
                QTextCursor cursor(block);
                cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::MoveAnchor, 3);
                view->setTextCursor(cursor);
                QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                                  view->cursorRect(cursor).center());
                return;
            }
        }
        ADD_FAILURE() << "no row " << text.toStdString();
    }

    std::unique_ptr<Navigator> navigator;
    std::unique_ptr<TeamRunsPage> page;
};

TEST_F(TeamRunsPageTest, aFinishedCopyIsReviewedAndTwoOfItsThreeChangesAreApplied) {
    ASSERT_TRUE(writeFile(projectFile("main.txt"), "original\n"));
    ASSERT_TRUE(writeFile(projectFile("old.txt"), "old\n"));
    ScopedEnvironment edit("VELK_FAKE_WRITE_FILE", "main.txt");
    Workspace& model = openWorkspace();
    model.launcher.setSeparateCopies(true);
    model.teamRuns.setRunStorageRoot(scratch() + "/runs");
    model.launcher.setSelectedProviders({"claude"});
    showPage(model);
    EXPECT_TRUE(page->showsEmptyState());

    model.launcher.setPrompt("Improve the greeting");
    model.launcher.dispatchPrompt();
    ASSERT_TRUE(waitUntil([&] { return !model.teamRuns.teamRuns().isEmpty(); }, 20s));
    ASSERT_TRUE(waitForSessionsToFinish());
    ASSERT_TRUE(waitUntil([&] { return cardStates() == QStringList{"Done"}; }, 5s))
        << cardStates().join(',').toStdString();
    EXPECT_FALSE(page->showsEmptyState());
    EXPECT_TRUE(page->runPicker()->currentText().startsWith("Improve the greeting"));
    EXPECT_EQ(page->reviewMessage()->text(), "Choose an assistant’s files to review.");

    // The assistant also added a file and removed one in its copy.
    const RunCopy copy = model.teamRuns.teamRuns().first().copies.front();
    ASSERT_TRUE(writeFile(copy.directory + "/new.txt", "new\n"));
    ASSERT_TRUE(QFile::remove(copy.directory + "/old.txt"));

    // The editor has main.txt open; it follows the apply.
    model.project.openFile(FileEntry{projectFile("main.txt"), false});
    ASSERT_EQ(model.project.editorText(), "original\n");

    QSignalSpy finished(page.get(), &TeamRunsPage::inspectionFinished);
    cardButton("Review files")->click();
    EXPECT_TRUE(page->inspecting());
    EXPECT_EQ(page->reviewMessage()->text(), "Reading changes…");
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(rows(), (QStringList{"Changed   main.txt", "Added   new.txt", "Removed   old.txt"}));
    EXPECT_EQ(page->counterLabel()->text(), "3 changed files");
    EXPECT_EQ(page->previewPath(), "main.txt");
    ASSERT_TRUE(waitUntil([&] { return page->shownPreview() == "main.txt"; }, 5s));
    EXPECT_EQ(page->diffView()->text()->toPlainText(),
              "☐ Change 1 of 1\n1   - original\n  1 + written by claude");
    EXPECT_FALSE(page->applyButton()->isEnabled());
    EXPECT_EQ(page->applyReason()->text(), "Tick the files to apply.");

    tickRow(0);
    tickRow(1);
    EXPECT_TRUE(page->applyReason()->isHidden());
    EXPECT_EQ(page->applyButton()->text(), "Apply selected (2)");
    QSignalSpy applied(page.get(), &TeamRunsPage::applyFinished);
    dialogs.answerAlert("Apply changes");
    page->applyButton()->click();
    // The apply runs in the background; meanwhile it cannot be started again.
    EXPECT_TRUE(page->applying());
    EXPECT_FALSE(page->applyButton()->isEnabled());
    ASSERT_TRUE(applied.wait(10000));

    ASSERT_EQ(dialogs.alerts().size(), 1u);
    EXPECT_EQ(dialogs.alerts().front().message, "Apply 2 reviewed files?");
    EXPECT_EQ(dialogs.alerts().front().informativeText,
              "Project: " + project() +
                  QStringLiteral("\n\n1 changed, 1 added.\n\nOriginal files are "
                                 "backed up inside this run. Conflicting changes are blocked."));
    EXPECT_EQ(dialogs.alerts().front().details,
              (QStringList{"Changed: main.txt", "Added: new.txt"}));
    EXPECT_EQ(page->status(), QStringLiteral("Applied 2 files. Originals are saved in the run’s "
                                             "backup folder."));
    EXPECT_TRUE(page->selection().isEmpty());
    EXPECT_EQ(readFile(projectFile("main.txt")), QByteArray("written by claude\n"));
    EXPECT_EQ(readFile(projectFile("new.txt")), QByteArray("new\n"));
    EXPECT_EQ(readFile(projectFile("old.txt")), QByteArray("old\n"));
    EXPECT_EQ(model.project.editorText(), "written by claude\n");
    EXPECT_FALSE(model.project.fileIsDirty());

    // The applied files are marked, in the run's record too: they still are once the runs
    // are read again, until the copy changes such a file anew.
    const QStringList marked{"Changed   main.txt · Applied", "Added   new.txt · Applied",
                             "Removed   old.txt"};
    ASSERT_TRUE(waitUntil([&] { return rows() == marked; }, 5s)) << rows().join('|').toStdString();
    const auto stored = RunStore::load(scratch() + "/runs");
    ASSERT_TRUE(stored && stored->size() == 1u);
    EXPECT_EQ(stored->front().copies.front().applied.size(), 2u);
    model.teamRuns.loadTeamRuns();
    QCoreApplication::processEvents();
    EXPECT_EQ(rows(), marked);
    ASSERT_TRUE(writeFile(copy.directory + "/new.txt", "newer\n"));
    ASSERT_TRUE(inspect(copy));
    EXPECT_TRUE(rowsBecome({"Changed   main.txt · Applied",
                            "Added   new.txt · will be refused: added to your project since this "
                            "run began",
                            "Removed   old.txt"}));
    ASSERT_TRUE(writeFile(copy.directory + "/new.txt", "new\n"));
    ASSERT_TRUE(inspect(copy));
    ASSERT_TRUE(rowsBecome(marked));

    // The same, now stale, review cannot be applied twice.
    page->selectAll();
    EXPECT_EQ(page->applyButton()->text(), "Apply selected (3)");
    dialogs.answerAlert("Apply changes");
    page->applyButton()->click();
    ASSERT_TRUE(applied.wait(10000));
    // Every file refused is named with its reason.
    EXPECT_EQ(page->status(),
              "2 files changed in your project since this run began. Nothing was "
              "applied; each one is marked with its reason.");
    EXPECT_EQ(rows(),
              (QStringList{"Changed   main.txt · Applied · refused: changed in your project "
                           "since this run began",
                           "Added   new.txt · Applied · refused: added to your project since "
                           "this run began",
                           "Removed   old.txt"}));
    EXPECT_EQ(readFile(projectFile("old.txt")), QByteArray("old\n"));

    // "Output" of a copy whose session is still listed jumps to it.
    navigator->setDestination(Destination::History);
    cardButton("Output")->click();
    EXPECT_EQ(model.sessions.activeSessionID(), copy.session);
    EXPECT_TRUE(navigator->focusMode());
    EXPECT_EQ(navigator->destination(), Destination::Workspace);

    // Once it is closed, the output sheet shows what was saved.
    model.sessions.closeSession(model.sessions.sessions().first());
    page->showOutput(copy);
    ASSERT_TRUE(page->outputSheet());
    EXPECT_EQ(page->outputSheet()->windowTitle(), "Assistant output");
    const auto* text = page->outputSheet()->findChild<QPlainTextEdit*>();
    ASSERT_TRUE(text);
    EXPECT_TRUE(text->toPlainText().contains("FAKE_claude_DONE"));
}

// A run recorded earlier: the copy changed only permission bits, then holds entries that
// cannot be compared.
TEST_F(TeamRunsPageTest, modeChangesAndEntriesThatCannotBeComparedAreShownInTheReview) {
    ASSERT_TRUE(writeFile(projectFile("main.txt"), "original\n"));
    ASSERT_TRUE(writeFile(projectFile("tool.sh"), "echo\n"));
    ASSERT_EQ(::chmod(projectFile("tool.sh").toStdString().c_str(), 0644), 0);
    const TeamRun run = recordRun("Tidy the scripts");
    const RunCopy& copy = run.copies.front();
    const std::string inCopy = copy.directory.toStdString();
    ASSERT_EQ(::chmod((inCopy + "/tool.sh").c_str(), 0666), 0);
    ASSERT_TRUE(writeFile(copy.directory + "/setup.sh", "install\n"));
    ASSERT_EQ(::chmod((inCopy + "/setup.sh").c_str(), 04755), 0);

    Workspace& model = openWorkspace();
    model.teamRuns.setRunStorageRoot(scratch() + "/runs");
    model.teamRuns.loadTeamRuns();
    showPage(model);
    ASSERT_TRUE(inspect(copy));
    EXPECT_EQ(rows(), (QStringList{"Added   setup.sh · setuid/setgid/sticky bits are not applied",
                                   "Changed   tool.sh · mode 644 → 666"}));
    EXPECT_TRUE(page->skippedList()->isHidden());
    pickRow(1);
    ASSERT_TRUE(waitUntil(
        [&] { return page->previewPath() == "tool.sh" && page->shownPreview() == "tool.sh"; }, 5s));
    QCoreApplication::processEvents();
    EXPECT_EQ(page->modeNote()->text(), "Same contents · mode 644 → 666");
    EXPECT_EQ(page->diffView()->summaryLabel()->text(), "The contents are the same.");

    // A name that is not UTF-8 and a folder chain too deep to list no longer hide the rest.
    ASSERT_TRUE(writeFile(copy.directory + "/main.txt", "edited\n"));
    ASSERT_TRUE(::close(::open((inCopy + "/caf\xe9.txt").c_str(), O_WRONLY | O_CREAT, 0644)) == 0);
    ASSERT_TRUE(QDir().mkpath(copy.directory + "/chain" + QStringLiteral("/a").repeated(256)));
    ASSERT_TRUE(inspect(copy));
    EXPECT_EQ(rows(), (QStringList{"Changed   main.txt",
                                   "Added   setup.sh · setuid/setgid/sticky bits are not applied",
                                   "Changed   tool.sh · mode 644 → 666"}));
    EXPECT_EQ(page->counterLabel()->text(), "3 changed files");
    EXPECT_TRUE(page->status().isEmpty());
    EXPECT_FALSE(page->skippedList()->isHidden());
    EXPECT_EQ(rows(page->skippedList()),
              (QStringList{"caf\uFFFD.txt   The name is not valid UTF-8.",
                           "chain/a/…/a   Nested more than 256 folders deep."}));
    pickRow(1);
    ASSERT_TRUE(waitUntil(
        [&] { return page->previewPath() == "setup.sh" && page->shownPreview() == "setup.sh"; },
        5s));
    QCoreApplication::processEvents();
    EXPECT_EQ(page->modeNote()->text(), "setuid/setgid/sticky bits are not applied");
    pickRow(2);
    ASSERT_TRUE(waitUntil(
        [&] { return page->previewPath() == "tool.sh" && page->shownPreview() == "tool.sh"; }, 5s));
    QCoreApplication::processEvents();
    const QByteArray screenshots = qgetenv("VELK_SCREENSHOT_DIR");
    if (!screenshots.isEmpty()) {
        page->grab().save(QString::fromLocal8Bit(screenshots) + "/team-runs-review.png");
    }
    ::unlink((inCopy + "/caf\xe9.txt").c_str());  // QTemporaryDir cannot remove it
}

// Another program's apply to the project, killed before its last file, is rolled back by the
// next apply from the page. The report names every file, so it scrolls in a box of its own
// below the result and the list of changes keeps its room.
TEST_F(TeamRunsPageTest, theReportOfARolledBackApplyScrollsWithoutCrowdingTheChanges) {
    ScopedEnvironment data("XDG_DATA_HOME", QFile::encodeName(scratch() + "/data"));
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(writeFile(projectFile(QStringLiteral("f%1.txt").arg(i)), "original\n"));
    }
    const TeamRun run = recordRun("Add a changelog");
    const RunCopy& copy = run.copies.front();
    ASSERT_TRUE(writeFile(copy.directory + "/NEWS.md", "news\n"));

    const QString other = scratch() + "/other";
    RunFiles::snapshot(project(), other);
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(writeFile(other + QStringLiteral("/f%1.txt").arg(i), "other\n"));
    }
    const std::vector<FileChange> changes = RunFiles::changes(project(), other);
    StoppedApply killed(
        changes, project(), other, scratch() + "/other-backup",
        [](auto operation, auto name) { return operation == "rename" && name == "f9.txt"; });
    ASSERT_TRUE(killed.stopped());
    const int status = killed.finish(true);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    ASSERT_EQ(readFile(projectFile("f0.txt")), QByteArray("other\n"));

    Workspace& model = openWorkspace();
    model.teamRuns.setRunStorageRoot(scratch() + "/runs");
    model.teamRuns.loadTeamRuns();
    showPage(model);
    ASSERT_TRUE(inspect(copy));
    ASSERT_EQ(rows(), QStringList{"Added   NEWS.md"});
    QCoreApplication::processEvents();
    const int listHeight = page->changeList()->height();

    tickRow(0);
    QSignalSpy applied(page.get(), &TeamRunsPage::applyFinished);
    dialogs.answerAlert("Apply changes");
    page->applyButton()->click();
    ASSERT_TRUE(applied.wait(10000));
    QCoreApplication::processEvents();
    EXPECT_TRUE(page->status().startsWith("An apply to " + project() +
                                          " was interrupted. It has been rolled back.\n"
                                          "Restored: f0.txt\n"))
        << page->status().left(200).toStdString();
    EXPECT_TRUE(page->status().endsWith(
        QStringLiteral("\n\nApplied 1 files. Originals are saved in the run’s backup folder.")));
    EXPECT_EQ(readFile(projectFile("f0.txt")), QByteArray("original\n"));
    EXPECT_EQ(readFile(projectFile("NEWS.md")), QByteArray("news\n"));
    EXPECT_TRUE(page->statusReport()->isVisible());
    EXPECT_EQ(page->statusReport()->toPlainText(), page->status());
    EXPECT_FALSE(page->statusLabel()->isVisible());
    EXPECT_GE(page->changeList()->height(), listHeight / 2);
}

// A change in two places of a long file, an added file and a binary file, reviewed as a
// reader would: hunks with folded stretches between them, changed words marked, both layouts,
// and long lines that wrap or scroll but are never cut.
TEST_F(TeamRunsPageTest, theReviewShowsLineDiffsWithChangedWordsInBothLayouts) {
    QByteArray before;
    for (int line = 1; line <= 30; ++line) {
        before += "value_" + QByteArray::number(line) + " = " + QByteArray::number(line) + "\n";
    }
    const QByteArray longLine = "long = \"" + QByteArray(600, 'x') + "\"\n";
    before += longLine;
    ASSERT_TRUE(writeFile(projectFile("main.py"), before));
    ASSERT_TRUE(writeFile(projectFile("logo.png"), QByteArray(1500, '\0')));
    ASSERT_TRUE(writeFile(projectFile("data.csv"), QByteArray(2'100'000, 'd')));
    const TeamRun run = recordRun("Tune the values");
    const RunCopy& copy = run.copies.front();
    QByteArray after = before;
    after.replace("value_5 = 5\n", "value_5 = 50\n");
    after.replace("value_25 = 25\n", "value_25 = 25\nvalue_26b = 0\n");
    ASSERT_TRUE(writeFile(copy.directory + "/main.py", after));
    ASSERT_TRUE(writeFile(copy.directory + "/notes.md", "# Notes\nfirst\n"));
    ASSERT_TRUE(writeFile(copy.directory + "/logo.png", QByteArray(2500, '\0')));
    ASSERT_TRUE(writeFile(copy.directory + "/data.csv", QByteArray(2'200'000, 'e')));

    Workspace& model = openWorkspace();
    model.teamRuns.setRunStorageRoot(scratch() + "/runs");
    model.teamRuns.loadTeamRuns();
    showPage(model);
    ASSERT_TRUE(inspect(copy));
    DiffView* view = page->diffView();

    // Lines added and removed per file and over the copy; binary and oversized files have
    // no line counts.
    ASSERT_TRUE(waitUntil([&] { return page->lineTotals()->isVisible(); }, 5s));
    EXPECT_TRUE(page->lineTotals()->text().contains(">+4<") &&
                page->lineTotals()->text().contains(">−1<"))
        << page->lineTotals()->text().toStdString();
    QStringList counts;
    for (int row = 0; row < page->changeList()->model()->rowCount(); ++row) {
        const QVariant value = changeRow(row).data(TeamRunsPage::kCountsRole);
        counts << (value.isValid()
                       ? QString("+%1 -%2").arg(value.toPoint().x()).arg(value.toPoint().y())
                       : QString("none"));
    }
    EXPECT_EQ(counts, (QStringList{"none", "none", "+2 -1", "+2 -0"}));

    ASSERT_TRUE(showDiff("main.py"));
    EXPECT_EQ(
        view->countsLabel()->text().contains("+2") && view->countsLabel()->text().contains("−1"),
        true)
        << view->countsLabel()->text().toStdString();
    EXPECT_EQ(
        diffLines(),
        (QStringList{"⋯  Show 1 more line",   "☐ Change 1 of 2",       " 2  2   value_2 = 2",
                     " 3  3   value_3 = 3",   " 4  4   value_4 = 4",   " 5    - value_5 = 5",
                     "    5 + value_5 = 50",  " 6  6   value_6 = 6",   " 7  7   value_7 = 7",
                     " 8  8   value_8 = 8",   "⋯  Show 14 more lines", "☐ Change 2 of 2",
                     "23 23   value_23 = 23", "24 24   value_24 = 24", "25 25   value_25 = 25",
                     "   26 + value_26b = 0", "26 27   value_26 = 26", "27 28   value_27 = 27",
                     "28 29   value_28 = 28", "⋯  Show 3 more lines"}));
    EXPECT_EQ(textsOn(DiffView::kRemovedWord), QStringList{"5"});
    EXPECT_EQ(textsOn(DiffView::kAddedWord), QStringList{"50"});

    // n and p walk the changes; space ticks the file; j and k walk the files.
    EXPECT_EQ(view->changeCount(), 2);
    QTest::keyClick(view->text(), Qt::Key_N);
    QTest::keyClick(view->text(), Qt::Key_N);
    EXPECT_EQ(view->currentChange(), 1);
    EXPECT_EQ(view->text()->textCursor().block().text(), "   26 + value_26b = 0");
    QTest::keyClick(view->text(), Qt::Key_N);
    EXPECT_EQ(view->currentChange(), 1);
    QTest::keyClick(view->text(), Qt::Key_P);
    EXPECT_EQ(view->text()->textCursor().block().text(), " 5    - value_5 = 5");
    QTest::keyClick(view->text(), Qt::Key_Space);
    EXPECT_EQ(page->selection(), QSet<QString>{"main.py"});
    QTest::keyClick(page->changeList(), Qt::Key_J);
    ASSERT_TRUE(waitUntil([&] { return page->shownPreview() == "notes.md"; }, 5s));
    QTest::keyClick(page->changeList(), Qt::Key_K);
    ASSERT_TRUE(waitUntil([&] { return page->shownPreview() == "main.py"; }, 5s));
    QTest::keyClick(page->changeList(), Qt::Key_Space);
    EXPECT_TRUE(page->selection().isEmpty());

    // Unfolding a stretch shows its lines in place, numbered on both sides.
    view->unfold(1);
    EXPECT_TRUE(diffLines().contains("15 15   value_15 = 15"));
    EXPECT_FALSE(diffLines().contains("⋯  Show 14 more lines"));
    view->unfold(2);
    const QString shownLong = "31 32   " + QString::fromLatin1(longLine.chopped(1));
    EXPECT_TRUE(diffLines().contains(shownLong));

    // The long line wraps inside the view, or scrolls sideways when wrapping is off.
    QTextBrowser* text = view->text();
    EXPECT_TRUE(view->wrapBox()->isChecked());
    EXPECT_EQ(text->horizontalScrollBar()->maximum(), 0);
    view->wrapBox()->click();
    QCoreApplication::processEvents();
    EXPECT_GT(text->horizontalScrollBar()->maximum(), 0);
    view->wrapBox()->click();

    // Side by side: removed and added lines face each other in one row; an added line faces
    // an empty side.
    view->sideBySideButton()->click();
    QCoreApplication::processEvents();
    const QStringList left = view->leftText()->toPlainText().split(u'\n');
    const QStringList right = view->rightText()->toPlainText().split(u'\n');
    ASSERT_EQ(left.size(), right.size());
    const qsizetype changed = left.indexOf(" 5  value_5 = 5");
    ASSERT_GE(changed, 0) << left.join('\n').toStdString();
    EXPECT_EQ(right[changed], " 5  value_5 = 50");
    const qsizetype added = right.indexOf("26  value_26b = 0");
    ASSERT_GE(added, 0);
    EXPECT_EQ(left[added], "");
    EXPECT_EQ(left[added + 1], "26  value_26 = 26");
    EXPECT_EQ(right[added + 1], "27  value_26 = 26");
    // The sides scroll together, and long lines scroll sideways there.
    EXPECT_FALSE(view->wrapBox()->isEnabled());
    EXPECT_GT(view->leftText()->horizontalScrollBar()->maximum(), 0);
    // The layout stays for the next file: an added file is all added lines, with no word
    // of it missing on a "Before" side.
    ASSERT_TRUE(showDiff("notes.md"));
    EXPECT_TRUE(view->sideBySide());
    view->unifiedButton()->click();
    EXPECT_EQ(diffLines(), (QStringList{"  1 + # Notes", "  2 + first"}));
    EXPECT_FALSE(page->diffView()->summaryLabel()->isVisible());

    ASSERT_TRUE(showDiff("logo.png"));
    EXPECT_TRUE(view->summaryLabel()->isVisible());
    EXPECT_EQ(view->summaryLabel()->text(), "Binary file changed (1.5 KB → 2.5 KB)");
    EXPECT_FALSE(page->openBothButton()->isVisible());

    // A file over the limit gives its sizes, and both versions open outside VELK.
    ASSERT_TRUE(showDiff("data.csv"));
    EXPECT_EQ(view->summaryLabel()->text(),
              "Too large to compare here (2.1 MB → 2.2 MB). Open both versions to compare them.");
    ASSERT_TRUE(page->openBothButton()->isVisible());
    page->openBothButton()->click();
    EXPECT_EQ(desktop.openedUrls,
              (std::vector<QString>{
                  QUrl::fromLocalFile(RunStore::baselineFolder(run) + "/data.csv").toString(),
                  QUrl::fromLocalFile(copy.directory + "/data.csv").toString()}));
    const QByteArray screenshots = qgetenv("VELK_SCREENSHOT_DIR");
    if (!screenshots.isEmpty()) {
        // In the application's own style, as the window shows it.
        MemoryPreferences preferences;
        const Theme theme(false, preferences);
        AppStyle::install();
        AppStyle::apply(theme);
        page->setStyleSheet(
            QStringLiteral("TeamRunsPage { background: %1; }").arg(theme.bg().name()));
        page->setAttribute(Qt::WA_StyledBackground);
        ASSERT_TRUE(showDiff("main.py"));
        page->grab().save(QString::fromLocal8Bit(screenshots) + "/team-runs-diff-unified.png");
        view->sideBySideButton()->click();
        QCoreApplication::processEvents();
        page->grab().save(QString::fromLocal8Bit(screenshots) + "/team-runs-diff-side.png");
        qApp->setStyleSheet(QString());
    }
}

// A tool that prints a line and then never answers is marked Stalled after the configured
// time; while it runs, Apply and Compare stay off and say why. Stop on its card ends it, the
// card says so, and the copy can be applied from.
TEST_F(TeamRunsPageTest, aToolThatNeverAnswersStallsAndStopOnItsCardLetsTheRunBeReviewed) {
    ASSERT_TRUE(writeFile(projectFile("main.txt"), "original\n"));
    ScopedEnvironment edit("VELK_FAKE_WRITE_FILE", "main.txt");
    ScopedEnvironment hang("VELK_FAKE_HANG", "1");
    Workspace& model = openWorkspace();
    model.attention.setStalledAfterSeconds(1);
    model.launcher.setSeparateCopies(true);
    model.teamRuns.setRunStorageRoot(scratch() + "/runs");
    model.launcher.setSelectedProviders({"claude"});
    showPage(model);
    model.launcher.setPrompt("Improve the greeting");
    model.launcher.dispatchPrompt();
    ASSERT_TRUE(waitUntil([&] { return !model.teamRuns.teamRuns().isEmpty(); }, 20s));
    const RunCopy copy = model.teamRuns.teamRuns().first().copies.front();
    ASSERT_TRUE(waitUntil([&] { return cardStates() == QStringList{"Stalled"}; }, 20s))
        << cardStates().join(',').toStdString();
    EXPECT_EQ(readFile(copy.directory + "/main.txt"), "written by claude\n");
    ASSERT_TRUE(cardButton("Stop"));
    EXPECT_TRUE(cardButton("Stop")->isEnabled());
    EXPECT_TRUE(cardButton("Stop")->property("primary").toBool())
        << "a stalled copy's Stop stands out";

    const QString compareReason =
        "Claude Code is still running — Stop it or wait to compare the results.";
    EXPECT_FALSE(page->compareButton()->isEnabled());
    EXPECT_EQ(page->compareReason()->text(), compareReason);
    EXPECT_EQ(page->compareButton()->toolTip(), compareReason);
    EXPECT_TRUE(page->compareReason()->isVisible());

    ASSERT_TRUE(inspect(copy));
    ASSERT_EQ(rows(), QStringList{"Changed   main.txt"});
    tickRow(0);
    EXPECT_FALSE(page->applyButton()->isEnabled());
    const QString reason =
        "Claude Code is still running — Stop it or wait. Apply is available once it has "
        "finished, so that the copy’s files no longer change.";
    EXPECT_EQ(page->applyReason()->text(), reason);
    EXPECT_EQ(page->applyButton()->toolTip(), reason);
    EXPECT_TRUE(page->applyReason()->isVisible());
    if (const QByteArray folder = qgetenv("VELK_SCREENSHOT_DIR"); !folder.isEmpty()) {
        MemoryPreferences preferences;
        const Theme theme(false, preferences);
        AppStyle::install();
        AppStyle::apply(theme);
        processEventsFor(100ms);
        page->grab().save(QString::fromLocal8Bit(folder) + "/team-runs-stalled.png");
    }

    cardButton("Stop")->click();
    ASSERT_TRUE(waitUntil([&] { return cardStates() == QStringList{"Stopped"}; }, 10s))
        << cardStates().join(',').toStdString();
    EXPECT_FALSE(model.sessions.anyRunning());
    EXPECT_FALSE(cardButton("Stop")->isEnabled());
    EXPECT_TRUE(page->applyButton()->isEnabled());
    EXPECT_TRUE(page->applyReason()->isHidden());
    EXPECT_TRUE(page->compareButton()->isEnabled());
    EXPECT_TRUE(page->compareReason()->isHidden());
}

// Two assistants changed the same file, and the user edited another one after the run
// began: both are marked before anything is applied, can be compared, and are refused with
// their reasons; files that only one side touched go in from each copy in turn.
TEST_F(TeamRunsPageTest, conflictsAcrossCopiesAndWithTheProjectAreMarkedAndRefusedWithReasons) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        ASSERT_TRUE(writeFile(projectFile(name), QByteArray(name) + "\n"));
    }
    const TeamRun run = recordRun("Share the work", {"claude", "codex"});
    const RunCopy& claude = run.copies[0];
    const RunCopy& codex = run.copies[1];
    ASSERT_TRUE(writeFile(claude.directory + "/a.txt", "a by claude\n"));
    ASSERT_TRUE(writeFile(claude.directory + "/b.txt", "b by claude\n"));
    ASSERT_TRUE(writeFile(codex.directory + "/a.txt", "a by codex\n"));
    ASSERT_TRUE(writeFile(codex.directory + "/c.txt", "c by codex\n"));
    ASSERT_TRUE(writeFile(projectFile("b.txt"), "b edited by you\n"));

    Workspace& model = openWorkspace();
    model.teamRuns.setRunStorageRoot(scratch() + "/runs");
    model.teamRuns.loadTeamRuns();
    showPage(model);
    ASSERT_TRUE(inspect(claude));
    ASSERT_TRUE(rowsBecome({"Changed   a.txt · also changed by Codex",
                            "Changed   b.txt · will be refused: changed in your project since "
                            "this run began"}));
    EXPECT_EQ(cardTexts("copyOverlap"),
              (QStringList{"1 file also changed by Codex", "1 file also changed by Claude Code"}));

    // The copies' versions of a.txt side by side, each against the baseline.
    ASSERT_TRUE(showDiff("a.txt"));
    EXPECT_TRUE(page->compareCopiesButton()->isVisible());
    EXPECT_FALSE(page->compareProjectButton()->isVisible());
    page->compareCopiesButton()->click();
    ASSERT_TRUE(page->compareDialog());
    ASSERT_TRUE(waitUntil([&] { return page->compareDialog()->ready(); }, 5s));
    ASSERT_EQ(page->compareDialog()->views().size(), 2u);
    EXPECT_EQ(page->compareDialog()->views()[0]->text()->toPlainText(),
              "1   - a.txt\n  1 + a by claude");
    EXPECT_EQ(page->compareDialog()->views()[1]->text()->toPlainText(),
              "1   - a.txt\n  1 + a by codex");

    // b.txt three ways: the baseline against the project now and against the copy.
    ASSERT_TRUE(showDiff("b.txt"));
    EXPECT_FALSE(page->compareCopiesButton()->isVisible());
    EXPECT_TRUE(page->compareProjectButton()->isVisible());
    page->compareProjectButton()->click();
    ASSERT_TRUE(waitUntil([&] { return page->compareDialog()->ready(); }, 5s));
    EXPECT_EQ(page->compareDialog()->views()[0]->text()->toPlainText(),
              "1   - b.txt\n  1 + b edited by you");
    EXPECT_EQ(page->compareDialog()->views()[1]->text()->toPlainText(),
              "1   - b.txt\n  1 + b by claude");
    page->compareDialog()->close();

    // A selection holding a refused file is refused whole, and the file says why.
    tick("a.txt");
    tick("b.txt");
    ASSERT_TRUE(applyTicked());
    EXPECT_EQ(page->status(),
              "b.txt changed in your project since this run began. Nothing was "
              "applied; review the conflict first.");
    EXPECT_EQ(readFile(projectFile("a.txt")), QByteArray("a.txt\n"));
    EXPECT_TRUE(rowsBecome({"Changed   a.txt · also changed by Codex",
                            "Changed   b.txt · refused: changed in your project since this run "
                            "began"}));

    // a.txt from Claude Code, then c.txt from Codex: different files, both go in. Codex's
    // a.txt is then refused, as the project no longer has the baseline's.
    tick("b.txt", false);
    ASSERT_TRUE(applyTicked());
    EXPECT_EQ(readFile(projectFile("a.txt")), QByteArray("a by claude\n"));
    ASSERT_TRUE(inspect(codex));
    ASSERT_TRUE(
        rowsBecome({"Changed   a.txt · also changed by Claude Code · will be refused: "
                    "changed in your project since this run began",
                    "Changed   c.txt"}));
    tick("c.txt");
    ASSERT_TRUE(applyTicked());
    EXPECT_EQ(readFile(projectFile("c.txt")), QByteArray("c by codex\n"));
    tick("a.txt");
    ASSERT_TRUE(applyTicked());
    EXPECT_EQ(readFile(projectFile("a.txt")), QByteArray("a by claude\n"));
    EXPECT_TRUE(page->status().startsWith("a.txt changed in your project"));
}

// Runs are renamed, show their size on disk, and are deleted with the room they took: never
// while an interrupted apply still needs their backups, and their backups only when asked.
TEST_F(TeamRunsPageTest, runsAreRenamedMeasuredAndDeletedWithTheirSpace) {
    ScopedEnvironment data("XDG_DATA_HOME", QFile::encodeName(scratch() + "/data"));
    ASSERT_TRUE(writeFile(projectFile("a.txt"), "a\n"));
    const TeamRun older = recordRun("First try", {"claude"}, "older");
    const TeamRun run = recordRun("Tune the greeting", {"claude"}, "newer");
    ASSERT_TRUE(writeFile(older.copies.front().directory + "/a.txt", "older a\n"));
    ASSERT_TRUE(writeFile(run.copies.front().directory + "/a.txt", QByteArray(40000, 'x')));

    Workspace& model = openWorkspace();
    model.teamRuns.setRunStorageRoot(scratch() + "/runs");
    model.teamRuns.loadTeamRuns();
    model.teamRuns.setSelectedRunID(run.id.toString(QUuid::WithoutBraces).toUpper());
    showPage(model);
    // A review opened at once is listed first: the runs are measured after it.
    QSignalSpy sizes(page.get(), &TeamRunsPage::runSizesMeasured);
    QStringList order;
    QObject::connect(page.get(), &TeamRunsPage::inspectionFinished, [&] { order << "listed"; });
    QObject::connect(page.get(), &TeamRunsPage::runSizesMeasured, [&] { order << "measured"; });
    ASSERT_TRUE(inspect(run.copies.front()));
    ASSERT_TRUE(!sizes.isEmpty() || sizes.wait(10000));
    EXPECT_EQ(order, QStringList({"listed", "measured"}));
    EXPECT_EQ(page->runPicker()->currentText(),
              "Tune the greeting  ·  " + describeSize(RunStore::diskUsage(run).total));

    // Renamed: the name shows and is kept in the record.
    page->renameButton()->click();
    ASSERT_TRUE(page->nameField()->isVisible());
    EXPECT_EQ(page->nameField()->text(), "Tune the greeting");
    page->nameField()->setText("  Greeting, take two ");
    QTest::keyClick(page->nameField(), Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_FALSE(page->nameField()->isVisible());
    EXPECT_TRUE(page->runPicker()->currentText().startsWith("Greeting, take two  ·  "));
    const auto stored = RunStore::load(scratch() + "/runs");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->front().name, "Greeting, take two");

    // Apply a.txt, so the run holds a backup.
    ASSERT_TRUE(inspect(run.copies.front()));
    tick("a.txt");
    ASSERT_TRUE(applyTicked());
    ASSERT_EQ(readFile(projectFile("a.txt")), QByteArray(40000, 'x'));

    // An apply from this run cut short: its backups are needed to undo it.
    const QString other = scratch() + "/other";
    RunFiles::snapshot(project(), other);
    ASSERT_TRUE(writeFile(other + "/a.txt", "other\n"));
    {
        StoppedApply killed(
            RunFiles::changes(project(), other), project(), other, run.root + "/backup-interrupted",
            [](auto operation, auto name) { return operation == "rename" && name == "a.txt"; });
        ASSERT_TRUE(killed.stopped());
        ASSERT_TRUE(WIFSIGNALED(killed.finish(true)));
    }
    QSignalSpy deleted(page.get(), &TeamRunsPage::runDeleted);
    page->deleteButton()->click();
    ASSERT_TRUE(deleted.wait(10000));
    EXPECT_TRUE(page->runMessage()->text().startsWith(
        "An apply from this run was interrupted and its backups are still needed"));
    EXPECT_TRUE(dialogs.alerts().empty() || dialogs.alerts().back().message != "Delete this run?");
    EXPECT_TRUE(QFileInfo::exists(run.root + "/run.json"));
    (void)RunFiles::recoverInterruptedApplies();

    // Deleted with its backups: the folder is gone and the room it took is reported.
    const RunStore::DiskUsage usage = RunStore::diskUsage(run);
    ASSERT_GT(usage.backups, 0);
    const std::size_t asked = dialogs.alerts().size();
    dialogs.answerAlert("Delete run");
    dialogs.answerAlert("Delete backups");
    page->deleteButton()->click();
    ASSERT_TRUE(deleted.wait(10000));
    ASSERT_EQ(dialogs.alerts().size(), asked + 2);
    EXPECT_EQ(dialogs.alerts()[asked].informativeText,
              "“Greeting, take two”\n\nIts copies, baseline and assistants’ output are deleted, "
              "freeing " +
                  describeSize(usage.total - usage.backups) + ". Your project is not touched.");
    EXPECT_EQ(page->runMessage()->text(), "Run deleted. " + describeSize(usage.total) + " freed.");
    EXPECT_FALSE(QFileInfo::exists(run.root));
    EXPECT_EQ(readFile(projectFile("a.txt")), QByteArray(40000, 'x'));
    ASSERT_EQ(model.teamRuns.teamRuns().size(), 1);
    EXPECT_TRUE(page->runPicker()->currentText().startsWith("First try"));

    // The other run, deleted without its backups (it has none): nothing of it stays.
    dialogs.answerAlert("Delete run");
    page->deleteButton()->click();
    ASSERT_TRUE(deleted.wait(10000));
    EXPECT_FALSE(QFileInfo::exists(older.root));
    EXPECT_TRUE(page->showsEmptyState());
}

// A large diff is written between events and shown whole; one replaced while it is still
// being written never shows up.
TEST(DiffViewTest, aLargeDiffIsShownWholeAndAReplacedOneNeverShows) {
    QByteArray before;
    for (int line = 1; line <= 20000; ++line) {
        before += "value_" + QByteArray::number(line) + " = " + QByteArray::number(line) + "\n";
    }
    QByteArray after = before;
    after.replace("value_10 = 10\n", "value_10 = 11\n");
    QByteArray every = before;
    for (int line = 10; line <= 20000; line += 10) {
        const QByteArray old = "value_" + QByteArray::number(line) + " = ";
        every.replace("\n" + old + QByteArray::number(line) + "\n",
                      "\n" + old + QByteArray::number(line + 1) + "\n");
    }
    const auto version = [](const QByteArray& bytes) {
        return FileVersion{FileVersion::State::Read, bytes, bytes.size()};
    };
    const FileDiff large = LineDiff::compute("big.txt", version(before), version(every));
    const FileDiff small = LineDiff::compute("big.txt", version(before), version(after));
    ASSERT_EQ(large.added, 2000);

    DiffView view;
    view.resize(800, 600);
    view.show();
    for (bool side : {false, true}) {
        view.setSideBySide(side);
        view.setDiff(large);
        view.setDiff(small);
        while (view.writing()) {
            QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
        // The copy's lines: in the unified view, or on the right side by side.
        QTextBrowser* copySide = side ? view.rightText() : view.text();
        const QString shown = copySide->toPlainText();
        EXPECT_TRUE(shown.contains("value_10 = 11")) << side;
        EXPECT_FALSE(shown.contains("value_20 = 21")) << side;

        view.setDiff(large);
        while (view.writing()) {
            QCoreApplication::processEvents();
        }
        const QStringList lines = copySide->toPlainText().split(u'\n');
        EXPECT_EQ(view.changeCount(), 2000) << side;
        EXPECT_TRUE(lines.back().endsWith("value_20000 = 20001") ||
                    lines.back().endsWith("value_20000 = 20000"))
            << lines.back().toStdString();
        EXPECT_EQ(lines.filter("value_19990 = 19991").size(), 1) << side;
    }
}

// The reader ticks the first and last of three changes of a file in the diff and applies
// them: the project gets what `git apply` of those two hunks writes, the original is backed
// up. The remaining change is then refused, the project file no longer being the baseline's.
TEST_F(TeamRunsPageTest, tickedHunksOfAFileAreAppliedAsGitAppliesThem) {
    QByteArray before;
    for (int line = 1; line <= 40; ++line) {
        before += "line " + QByteArray::number(line) + "\n";
    }
    ASSERT_TRUE(writeFile(projectFile("main.txt"), before));
    const TeamRun run = recordRun("Edit three places");
    QByteArray after = before;
    after.replace("line 2\n", "line two\n");
    after.replace("line 20\n", "line 20\nline 20b\n");
    after.replace("line 38\n", "");
    ASSERT_TRUE(writeFile(run.copies.front().directory + "/main.txt", after));
    Workspace& model = openWorkspace();
    model.teamRuns.setRunStorageRoot(scratch() + "/runs");
    model.teamRuns.loadTeamRuns();
    showPage(model);
    ASSERT_TRUE(inspect(run.copies.front()));
    ASSERT_TRUE(showDiff("main.txt"));
    DiffView* view = page->diffView();
    ASSERT_TRUE(view->hunksTickable());
    EXPECT_TRUE(view->applyHunksButton()->isHidden());
    clickRow("☐ Change 1 of 3");
    clickRow("☐ Change 3 of 3");
    EXPECT_TRUE(diffLines().contains("☑ Change 3 of 3"));
    EXPECT_EQ(view->applyHunksButton()->text(), "Apply 2 of 3 changes");

    QSignalSpy applied(page.get(), &TeamRunsPage::applyFinished);
    dialogs.answerAlert("Apply changes");
    view->applyHunksButton()->click();
    ASSERT_TRUE(applied.wait(10000));
    EXPECT_EQ(dialogs.alerts().back().message, "Apply 2 of 3 changes to main.txt?");
    int hunks = 0;
    EXPECT_EQ(readFile(projectFile("main.txt")), gitApplyHunks(before, after, {0, 2}, &hunks));
    EXPECT_EQ(hunks, 3);
    EXPECT_EQ(page->status(),
              "Applied 2 changes to main.txt. The original is saved in the run’s "
              "backup folder.");
    const QStringList backups = QDir(run.root).entryList({"backup-*"}, QDir::Dirs);
    ASSERT_EQ(backups.size(), 1);
    EXPECT_EQ(readFile(run.root + "/" + backups.front() + "/main.txt"), before);
    EXPECT_EQ(QDir(run.root).entryList({"partial-*"}, QDir::Dirs), QStringList());

    // The second change alone: the project file is not the baseline's any more.
    const QByteArray partlyApplied = readFile(projectFile("main.txt"));
    ASSERT_TRUE(waitUntil([&] { return page->shownPreview() == "main.txt"; }, 5s));
    EXPECT_FALSE(view->hunkTicked(0)) << "the diff is shown afresh after an apply";
    clickRow("☐ Change 2 of 3");
    dialogs.answerAlert("Apply changes");
    view->applyHunksButton()->click();
    ASSERT_TRUE(applied.wait(10000));
    EXPECT_EQ(page->status(),
              "main.txt changed in your project since this run began. Nothing was "
              "applied; review the conflict first.");
    EXPECT_EQ(readFile(projectFile("main.txt")), partlyApplied);
    EXPECT_TRUE(
        rowsBecome({"Changed   main.txt · Partly applied · refused: changed in your project "
                    "since this run began"}));
    // The run's record keeps the file as partly applied.
    const std::optional<std::vector<TeamRun>> stored = RunStore::load(scratch() + "/runs");
    ASSERT_TRUE(stored && stored->size() == 1);
    EXPECT_EQ(stored->front().copies.front().partlyApplied.count("main.txt"), 1u);
    EXPECT_EQ(stored->front().copies.front().applied.count("main.txt"), 1u);
}

// Thousands of changed files: a tick or Select all changes check states only (the rows are
// never rebuilt), and the confirmation counts the files and lists them in a list of its own.
TEST_F(TeamRunsPageTest, aLongListIsTickedWithoutRebuildingAndConfirmedInABoundedList) {
    const TeamRun run = recordRun("Touch everything");
    for (int file = 0; file < 300; ++file) {
        ASSERT_TRUE(
            writeFile(run.copies.front().directory + QString("/f%1.txt").arg(file), "new\n"));
    }
    Workspace& model = openWorkspace();
    model.teamRuns.setRunStorageRoot(scratch() + "/runs");
    model.teamRuns.loadTeamRuns();
    showPage(model);
    ASSERT_TRUE(inspect(run.copies.front()));
    ASSERT_TRUE(waitUntil([&] { return page->lineTotals()->isVisible(); }, 10s));
    QAbstractItemModel* files = page->changeList()->model();
    ASSERT_EQ(files->rowCount(), 300);
    QSignalSpy resets(files, &QAbstractItemModel::modelReset);
    QSignalSpy changed(files, &QAbstractItemModel::dataChanged);
    tickRow(7);
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex().row(), 7);
    EXPECT_EQ(changed[0][1].toModelIndex().row(), 7);
    EXPECT_EQ(page->applyButton()->text(), "Apply selected (1)");
    page->selectAllButton()->click();
    EXPECT_EQ(changed.size(), 2);
    EXPECT_EQ(page->applyButton()->text(), "Apply selected (300)");
    EXPECT_EQ(resets.size(), 0);

    ASSERT_TRUE(applyTicked());
    const Dialogs::Alert& alert = dialogs.alerts().back();
    EXPECT_EQ(alert.message, "Apply 300 reviewed files?");
    EXPECT_EQ(alert.informativeText, "Project: " + project() +
                                         "\n\n300 added.\n\nOriginal files are backed up "
                                         "inside this run. Conflicting changes are blocked.");
    ASSERT_EQ(alert.details.size(), 300);
    EXPECT_EQ(alert.details.front(), "Added: f0.txt");
    EXPECT_EQ(readFile(projectFile("f299.txt")), "new\n");
}

// The diff's layout and wrapping are kept across launches; "Open in editor" opens the
// project's file in the Files page at the line the caret is on.
TEST_F(TeamRunsPageTest, theDiffLayoutIsRememberedAndAFileOpensInTheEditorAtItsLine) {
    {
        MemoryPreferences stored;
        ReviewLayout first(&stored);
        EXPECT_FALSE(first.sideBySide());
        EXPECT_TRUE(first.wrapping());
        first.setSideBySide(true);
        first.setWrapping(false);
        const ReviewLayout next(&stored);
        EXPECT_TRUE(next.sideBySide());
        EXPECT_FALSE(next.wrapping());
    }
    QByteArray before;
    for (int line = 1; line <= 30; ++line) {
        before += "line " + QByteArray::number(line) + "\n";
    }
    ASSERT_TRUE(writeFile(projectFile("main.txt"), before));
    const TeamRun run = recordRun("Edit one line");
    QByteArray after = before;
    after.replace("line 20\n", "line twenty\n");
    ASSERT_TRUE(writeFile(run.copies.front().directory + "/main.txt", after));
    Workspace& model = openWorkspace();
    model.teamRuns.setRunStorageRoot(scratch() + "/runs");
    model.teamRuns.loadTeamRuns();
    showPage(model);
    Theme theme(false, preferences);
    FilesPage files(model.project, model.launcher, theme);
    QObject::connect(navigator.get(), &Navigator::editorLineRequested, &files, &FilesPage::openAt);
    ASSERT_TRUE(inspect(run.copies.front()));
    ASSERT_TRUE(showDiff("main.txt"));
    // The page's diff follows the stored layout and stores the reader's choice.
    page->diffView()->sideBySideButton()->click();
    EXPECT_TRUE(model.reviewLayout.sideBySide());
    page->diffView()->unifiedButton()->click();
    EXPECT_FALSE(model.reviewLayout.sideBySide());
    page->diffView()->wrapBox()->click();
    EXPECT_FALSE(model.reviewLayout.wrapping());

    ASSERT_TRUE(page->diffView()->showNextChange());
    page->diffView()->openButton()->click();
    EXPECT_EQ(navigator->destination(), Destination::FilesAndRunner);
    EXPECT_EQ(model.project.selectedFile(), projectFile("main.txt"));
    EXPECT_EQ(files.editor()->textCursor().blockNumber(), 19);
}
