// The team-run settings dialog, and what the Team runs page shows of a copy's setup: its
// state with the buttons it offers, the extra files, and the files the setup made.

#include "RunsTestSupport.h"
#include "core/appearance/Theme.h"
#include "core/runs/RunStore.h"
#include "core/runs/TeamRunSettings.h"
#include "ui/kit/Switch.h"
#include "ui/navigation/Navigator.h"
#include "ui/runs/TeamRunSettingsDialog.h"
#include "ui/runs/TeamRunsPage.h"
#include "ui/settings/SettingsPage.h"
#include "workspace/WorkspaceTestKit.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>

#include <gtest/gtest.h>

using namespace testing_support;
using namespace std::chrono_literals;

class CopySetupPage : public WorkspaceTest {
protected:
    void TearDown() override {
        page.reset();
        navigator.reset();
        WorkspaceTest::TearDown();
    }
    void showPage(Workspace& model) {
        navigator = std::make_unique<Navigator>(model.sessions, model.launcher);
        page = std::make_unique<TeamRunsPage>(model.teamRuns, model.sessions, model.providers,
                                              model.project, model.reviewLayout, *navigator,
                                              dialogs, &desktop, &model.attention);
        page->show();
    }
    QStringList cardTexts() const {
        QStringList texts;
        for (QLabel* label : page->cardsArea()->findChildren<QLabel*>("copyState")) {
            texts << label->text();
        }
        for (QPushButton* button : page->cardsArea()->findChildren<QPushButton*>()) {
            texts << "[" + button->text() + "]";
        }
        return texts;
    }
    QPushButton* cardButton(const QString& text) const {
        for (QPushButton* button : page->cardsArea()->findChildren<QPushButton*>()) {
            if (button->text() == text) {
                return button;
            }
        }
        return nullptr;
    }
    // A stored run with one copy of the project, shaped by `shape`.
    TeamRun recordRun(const std::function<void(RunCopy&)>& shape) {
        TeamRun run{QUuid::createUuid(),
                    "task",
                    project(),
                    scratch() + "/runs/run",
                    QDateTime::currentDateTimeUtc(),
                    {}};
        RunCopy copy{QUuid::createUuid(), "claude", run.root + "/copy", std::nullopt, 0};
        RunFiles::snapshot(project(), copy.directory);
        RunFiles::snapshot(project(), RunStore::baselineFolder(run));
        shape(copy);
        run.copies.push_back(copy);
        EXPECT_TRUE(RunStore::save(run));
        return run;
    }
    Workspace& openRuns() {
        Workspace& model = openWorkspace();
        model.teamRuns.setRunStorageRoot(scratch() + "/runs");
        model.teamRuns.loadTeamRuns();
        showPage(model);
        return model;
    }

    std::unique_ptr<Navigator> navigator;
    std::unique_ptr<TeamRunsPage> page;
};

TEST_F(CopySetupPage, theDialogStoresTheProjectsSettingsInTheProjectWhenAsked) {
    Workspace& model = openWorkspace();
    TeamRunSettingsDialog dialog(model.teamRuns, project());
    EXPECT_EQ(dialog.timeoutField()->value(), 10);  // minutes
    dialog.setupField()->setText("  npm ci ");
    dialog.timeoutField()->setValue(5);
    dialog.extraFilesField()->setPlainText(".env\n\n .env.local\n");
    dialog.inProjectBox()->setChecked(true);
    dialog.saveButton()->click();

    const TeamRunSettings expected{"npm ci", 300, {".env", ".env.local"}, true};
    EXPECT_EQ(model.teamRuns.settings(project()), expected);
    EXPECT_EQ(TeamRunSettings::readProjectFile(project()), expected);
    TeamRunSettingsDialog reopened(model.teamRuns, project());
    EXPECT_EQ(reopened.setupField()->text(), "npm ci");
    EXPECT_TRUE(reopened.inProjectBox()->isChecked());
}

TEST_F(CopySetupPage, theSettingsSwitchMakesTheNextStartRestoreWithoutAClick) {
    ScopedEnvironment data("XDG_DATA_HOME", (scratch() + "/data").toLocal8Bit());
    Workspace& model = createWorkspace(true);
    Navigator pages(model.sessions, model.launcher);
    Theme theme(false, preferences);
    SettingsPage settings(model.providers, model.keepAwake, model.programClipboard,
                          model.pasteSafety, model.scrollback, pages, model.notices, &desktop,
                          theme, {&model.teamRuns, &model.project, &model.sessionRestore});
    ASSERT_TRUE(settings.restoreSessionsSwitch());
    EXPECT_FALSE(settings.restoreSessionsSwitch()->isChecked());
    settings.restoreSessionsSwitch()->click();
    EXPECT_TRUE(model.sessionRestore.automatic());
    EXPECT_TRUE(Workspace(true, services()).sessionRestore.automatic());
}

TEST_F(CopySetupPage, aCopysCardShowsItsSetupStateAndTheActionsItOffers) {
    recordRun([](RunCopy& copy) {
        copy.exitCode.reset();
        copy.setupSession = QUuid::createUuid();
        copy.setupExitCode = 1;
        copy.extraFiles = {".env"};
    });
    Workspace& model = openRuns();
    EXPECT_EQ(cardTexts().mid(0, 3), QStringList({"Setup failed · exit 1 · extra files: .env",
                                                  "[Retry]", "[Start anyway]"}));

    // Started anyway, the assistant runs and finishes; a quit cuts the next one short.
    cardButton("Start anyway")->click();
    ASSERT_TRUE(waitUntil([&] { return cardTexts().first().startsWith("Done"); }, 20s))
        << cardTexts().join(',').toStdString();
    TeamRun run = model.teamRuns.teamRuns().first();
    run.copies[0].session = QUuid::createUuid();
    run.copies[0].exitCode.reset();
    ASSERT_TRUE(RunStore::save(run));
    model.teamRuns.loadTeamRuns();
    ASSERT_TRUE(waitUntil([&] { return cardTexts().first().startsWith("Interrupted"); }, 5s));
    cardButton("Restart")->click();
    ASSERT_TRUE(waitUntil([&] { return cardTexts().first().startsWith("Done"); }, 20s));
}

TEST_F(CopySetupPage, filesTheSetupMadeAreMarkedAndOnlyTickedOneByOne) {
    ASSERT_TRUE(writeFile(projectFile("main.txt"), "original\n"));
    const TeamRun run = recordRun([](RunCopy& copy) {
        ASSERT_TRUE(writeFile(copy.directory + "/lock.json", "{}"));
        ASSERT_TRUE(writeFile(copy.directory + "/main.txt", "changed\n"));
        copy.madeBySetup = {{"lock.json", RunFiles::hash(copy.directory + "/lock.json")}};
    });
    openRuns();
    QSignalSpy finished(page.get(), &TeamRunsPage::inspectionFinished);
    page->inspect(run.copies.front());
    ASSERT_TRUE(finished.wait(10000));
    const QAbstractItemModel* rows = page->changeList()->model();
    ASSERT_EQ(rows->rowCount(), 2);
    EXPECT_TRUE(rows->index(0, 0).data().toString().contains("made by setup"));
    EXPECT_FALSE(rows->index(1, 0).data().toString().contains("made by setup"));

    // Select all applies the assistant's change only; the setup's file goes when ticked.
    page->selectAll();
    EXPECT_EQ(page->selection(), QSet<QString>{"main.txt"});
    const auto apply = [&] {
        QSignalSpy applied(page.get(), &TeamRunsPage::applyFinished);
        dialogs.answerAlert("Apply changes");
        page->applyButton()->click();
        return applied.wait(10000);
    };
    ASSERT_TRUE(apply());
    EXPECT_EQ(readFile(projectFile("main.txt")), "changed\n");
    EXPECT_FALSE(QFile::exists(projectFile("lock.json")));
    page->setTicked("lock.json", true);
    EXPECT_EQ(page->selection(), QSet<QString>{"lock.json"});
    ASSERT_TRUE(apply());
    EXPECT_EQ(readFile(projectFile("lock.json")), "{}");
}
