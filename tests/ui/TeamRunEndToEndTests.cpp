// A task run in separate copies by two fake assistants, driven through the real main window:
// the composer starts the run, the Team runs page reviews one copy and applies two of its
// three changes, and the project on disk is checked. With VELK_SCREENSHOT_DIR set, the window
// is saved there as team-runs.png for a look.
#include "UiFixture.h"
#include "support/TestSupport.h"
#include "ui/runs/TeamRunsPage.h"
#include "ui/window/MainWindow.h"
#include "ui/workspace/Composer.h"
#include "ui/workspace/WorkspacePage.h"

#include <QDir>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testing_support::readFile;
using testing_support::waitUntil;
using testing_support::writeFile;

namespace {

TEST(TeamRunEndToEnd, twoAssistantsInSeparateCopiesThenTwoOfThreeChangesAreApplied) {
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", testing_support::fixturesBin().toLocal8Bit() + ':' + path);
    qputenv("VELK_FAKE_WRITE_FILE", "main.txt");
    QTemporaryDir scratch;
    const QString project = scratch.path() + QStringLiteral("/project");
    ASSERT_TRUE(writeFile(project + QStringLiteral("/main.txt"), "original\n"));
    ASSERT_TRUE(writeFile(project + QStringLiteral("/old.txt"), "old\n"));
    UiFixture fixture;
    Workspace& workspace = fixture.workspace;
    workspace.providers.refreshProviders();
    ASSERT_TRUE(waitUntil([&] {
        return workspace.providers.available().contains(QStringLiteral("claude")) &&
               workspace.providers.available().contains(QStringLiteral("codex"));
    }));
    workspace.project.setFolder(project);
    workspace.teamRuns.setRunStorageRoot(scratch.path() + QStringLiteral("/runs"));
    workspace.launcher.setSelectedProviders({QStringLiteral("claude"), QStringLiteral("codex")});

    MainWindow window(workspace, fixture.navigator, fixture.theme);
    window.resize(1440, 900);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    Composer* composer =
        static_cast<WorkspacePage*>(window.page(Destination::Workspace))->composer();
    composer->editor()->setFocus();
    QTest::keyClicks(composer->editor(), QStringLiteral("Make the greeting friendlier"));
    QTest::mouseClick(composer->separateCopiesButton(), Qt::LeftButton);
    QTest::mouseClick(composer->runButton(), Qt::LeftButton);

    ASSERT_TRUE(waitUntil([&] { return workspace.teamRuns.teamRuns().size() == 1; }, 20s));
    ASSERT_TRUE(waitUntil(
        [&] {
            const TeamRun run = workspace.teamRuns.teamRuns().first();
            return run.copies.size() == 2 && run.copies[0].exitCode && run.copies[1].exitCode;
        },
        20s));
    const TeamRun run = workspace.teamRuns.teamRuns().first();
    EXPECT_EQ(readFile(project + QStringLiteral("/main.txt")), QByteArray("original\n"));
    // Beyond main.txt, the first assistant added one file and removed another.
    const QString copy = run.copies[0].directory;
    ASSERT_TRUE(writeFile(copy + QStringLiteral("/new.txt"), "new\n"));
    ASSERT_TRUE(QFile::remove(copy + QStringLiteral("/old.txt")));

    fixture.navigator.setDestination(Destination::TeamRuns);
    auto* page = qobject_cast<TeamRunsPage*>(window.page(Destination::TeamRuns));
    ASSERT_TRUE(page);
    // Each card: Stop, Open working copy, Output, Review files.
    ASSERT_TRUE(
        waitUntil([&] { return page->cardsArea()->findChildren<QPushButton*>().size() == 8; }));
    QSignalSpy inspected(page, &TeamRunsPage::inspectionFinished);
    // Rebuilt cards are laid out on a later pass of the event loop; until then their buttons
    // have no height and take no click.
    QPushButton* review = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        review = nullptr;
        for (QPushButton* button : page->cardsArea()->findChildren<QPushButton*>()) {
            if (button->text() == QStringLiteral("Review files") && !review) {
                review = button;
            }
        }
        return review && !review->rect().isEmpty();
    }));
    QTest::mouseClick(review, Qt::LeftButton);
    ASSERT_TRUE(inspected.wait(10000));
    QListView* list = page->changeList();
    ASSERT_EQ(list->model()->rowCount(), 3);
    for (int row : {0, 1}) {
        list->model()->setData(list->model()->index(row, 0), Qt::Checked, Qt::CheckStateRole);
    }
    QSignalSpy applied(page, &TeamRunsPage::applyFinished);
    fixture.dialogs.answerAlert(QStringLiteral("Apply changes"));
    QTest::mouseClick(page->applyButton(), Qt::LeftButton);
    ASSERT_TRUE(applied.wait(10000));

    EXPECT_EQ(readFile(project + QStringLiteral("/main.txt")), QByteArray("written by claude\n"));
    EXPECT_EQ(readFile(project + QStringLiteral("/new.txt")), QByteArray("new\n"));
    EXPECT_EQ(readFile(project + QStringLiteral("/old.txt")), QByteArray("old\n"));
    EXPECT_TRUE(page->status().startsWith(QStringLiteral("Applied 2 files.")));

    list->setCurrentIndex(list->model()->index(0, 0));
    QTest::qWait(100);
    const QByteArray screenshots = qgetenv("VELK_SCREENSHOT_DIR");
    if (!screenshots.isEmpty()) {
        window.grab().save(QString::fromLocal8Bit(screenshots) + QStringLiteral("/team-runs.png"));
    }
    qunsetenv("VELK_FAKE_WRITE_FILE");
    qputenv("PATH", path);
}

}  // namespace
