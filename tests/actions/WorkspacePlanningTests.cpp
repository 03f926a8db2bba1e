// The planner driven through the real workspace: the Codex found on PATH, a visible
// terminal session for planning, the Mac actions page and the planner output.
#include "actions/ComputerPlanner.h"
#include "actions/WorkspacePlannerHost.h"

#include "PlannerTestKit.h"
#include "platform/DesktopServices.h"
#include "platform/Dialogs.h"
#include "platform/PowerInhibitor.h"
#include "platform/Preferences.h"
#include "support/FakeServices.h"
#include "support/TestSupport.h"
#include "terminal/TerminalSession.h"
#include "workspace/Workspace.h"

#include <gtest/gtest.h>

using testing_support::waitUntil;

TEST(WorkspacePlanning, planningRunsAsAVisibleSessionAndItsOutputCanBeShown) {
    QTemporaryDir scratch;
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", QByteArray(VELK_FIXTURES_DIR "/bin-actions:") + savedPath);
    const QString answer = scratch.filePath("answer.json");
    testing_support::writeFile(
        answer,
        ComputerPlan{"Open it", {{1, "Open", "open_app", "com.apple.TextEdit", ""}}}.encode());
    qputenv("FAKE_CODEX_ANSWER", answer.toUtf8());

    MemoryPreferences preferences;
    ScriptedDialogs dialogs;
    testing_support::FakeInhibitor inhibitor;
    testing_support::FakeDesktop desktop;
    Workspace workspace(false, WorkspaceServices{&preferences, &dialogs, &inhibitor, &desktop});
    workspace.refreshProviders();
    ASSERT_EQ(workspace.available().value("codex"), VELK_FIXTURES_DIR "/bin-actions/codex");

    WorkspacePlannerHost host(workspace);
    ScriptedStepRunner runner;
    ComputerPlanner planner(host, runner, dialogs);
    planner.setTask("Open TextEdit");
    planner.prepare();
    EXPECT_EQ(workspace.destination(), Destination::MacActions);
    ASSERT_EQ(workspace.sessions().size(), 1);
    const SessionPointer session = workspace.sessions().front();
    EXPECT_EQ(session->title(), "Plan Mac actions");
    EXPECT_EQ(planner.session(), session->id());
    EXPECT_TRUE(planner.planFolder().startsWith(host.plansFolder()));

    ASSERT_TRUE(waitUntil([&] { return !planner.planning(); }));
    EXPECT_EQ(planner.message(), "Review the steps below. Run next step performs one action only.");
    EXPECT_TRUE(planner.plan().has_value());

    planner.showPlannerOutput();
    EXPECT_EQ(workspace.activeSessionID(), session->id());
    EXPECT_TRUE(workspace.focusMode());
    EXPECT_EQ(workspace.destination(), Destination::Workspace);

    qunsetenv("FAKE_CODEX_ANSWER");
    qputenv("PATH", savedPath);
}
