// The Desktop actions page on the real workspace: the Codex found on PATH plans in a visible
// terminal session, and the page lists the plan and runs its steps.
#include "core/actions/ComputerPlanner.h"
#include "ui/actions/ComputerActionsPage.h"

#include "PlannerTestKit.h"
#include "core/terminal/TerminalSession.h"
#include "support/TestSupport.h"
#include "ui/UiFixture.h"
#include "ui/window/WindowPlannerHost.h"

#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

using testing_support::waitUntil;

namespace {

struct PageFixture : UiFixture {
    WindowPlannerHost host{workspace.providers, workspace.sessions, navigator};
    ScriptedStepRunner runner;
    ComputerPlanner planner{host, runner, dialogs};
    QString draft;
    ComputerActionsPage page{planner,
                             workspace.project,
                             workspace.launcher,
                             workspace.permissions,
                             workspace.notices,
                             navigator,
                             theme,
                             [this] { return draft; }};

    void clickVoiceDraft() {
        for (QPushButton* button : page.findChildren<QPushButton*>()) {
            if (button->text() == "Use voice draft") {
                button->click();
            }
        }
    }
};

}  // namespace

TEST(ComputerActionsPage, planningRunsAsAVisibleSessionAndThePlanIsListedAndRun) {
    testing_support::ScopedEnvironment path(
        "PATH", QByteArray(VELK_FIXTURES_DIR "/bin-actions:") + qgetenv("PATH"));
    QTemporaryDir scratch;
    const QString answer = scratch.filePath("answer.json");
    testing_support::writeFile(
        answer, ComputerPlan{"Plan",
                             {{1, "Open <b>TextEdit</b>", "open_app", "com.apple.TextEdit", ""},
                              {2, "Save", "key", "com.apple.TextEdit", "command+s"}}}
                    .encode());
    testing_support::ScopedEnvironment answerFile("FAKE_CODEX_ANSWER", answer.toUtf8());
    PageFixture fixture;
    fixture.workspace.providers.refreshProviders();
    ASSERT_EQ(fixture.workspace.providers.available().value("codex"),
              VELK_FIXTURES_DIR "/bin-actions/codex");
    fixture.runner.installed = {
        {"com.apple.TextEdit", InstalledApplication{"com.apple.TextEdit", "", "", {"app"}}}};
    fixture.planner.setStepDelayMs(1);
    fixture.page.taskEditor()->setPlainText("Open TextEdit and save");
    EXPECT_EQ(fixture.planner.task(), "Open TextEdit and save");
    EXPECT_FALSE(fixture.page.runButton()->isEnabled());

    fixture.page.planButton()->click();
    EXPECT_EQ(fixture.page.planButton()->text(), QString::fromUtf8("Making plan…"));
    EXPECT_FALSE(fixture.page.stopButton()->isHidden());
    EXPECT_EQ(fixture.navigator.destination(), Destination::DesktopActions);
    ASSERT_EQ(fixture.workspace.sessions.sessions().size(), 1);
    const SessionPointer session = fixture.workspace.sessions.sessions().front();
    EXPECT_EQ(session->title(), "Plan desktop actions");
    EXPECT_EQ(fixture.planner.session(), session->id());
    EXPECT_TRUE(fixture.planner.planFolder().startsWith(fixture.host.plansFolder()));

    ASSERT_TRUE(waitUntil([&] { return fixture.planner.plan().has_value(); }));
    EXPECT_EQ(fixture.page.planButton()->text(), "Make a plan");
    EXPECT_TRUE(fixture.page.stopButton()->isHidden());
    // Titles are shown as plain text, never as markup.
    EXPECT_EQ(fixture.page.shownSteps(), (QStringList{"1. Open <b>TextEdit</b>", "2. Save"}));
    EXPECT_EQ(fixture.page.messageLabel()->text(),
              "Review the steps below. Run next step performs one action only.");

    fixture.dialogs.answerAlert(0);
    fixture.page.runButton()->click();
    ASSERT_TRUE(waitUntil([&] { return fixture.planner.completed() == 1; }));
    EXPECT_TRUE(fixture.page.runButton()->isEnabled());

    fixture.planner.showPlannerOutput();
    EXPECT_EQ(fixture.workspace.sessions.activeSessionID(), session->id());
    EXPECT_TRUE(fixture.navigator.focusMode());
    EXPECT_EQ(fixture.navigator.destination(), Destination::Workspace);
}

TEST(ComputerActionsPage, anEmptyVoiceDraftShowsTheCompanionWithANotice) {
    PageFixture fixture;
    fixture.planner.setTask("old");
    fixture.clickVoiceDraft();
    EXPECT_EQ(fixture.planner.task(), "");
    EXPECT_EQ(fixture.page.taskEditor()->toPlainText(), "");
    EXPECT_EQ(fixture.navigator.destination(), Destination::Companion);
    EXPECT_EQ(fixture.workspace.notices.toast(),
              "Use the companion microphone to make a draft first.");

    fixture.draft = "Open the calculator";
    fixture.clickVoiceDraft();
    EXPECT_EQ(fixture.page.taskEditor()->toPlainText(), "Open the calculator");
}
