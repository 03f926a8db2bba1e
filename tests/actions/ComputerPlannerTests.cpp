#include "core/actions/ComputerPlanner.h"

#include "PlannerTestKit.h"
#include "core/assistants/Provider.h"
#include "core/services/Dialogs.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QRegularExpression>

#include <gtest/gtest.h>

using testing_support::readFile;
using testing_support::waitUntil;
using testing_support::writeFile;

namespace {

const QString kPlanningFailed = QString::fromUtf8(
    "Planning stopped or failed. Open the planner output to see the provider’s message.");
const QString kReview = "Review the steps below. Run next step performs one action only.";
const QString kStepSent = "Step sent. Check the target app before continuing.";
const QString kNoLongerActive =
    "The target app is no longer active. Nothing was typed. Try this step again.";

QString fakeCodex() {
    return QStringLiteral(VELK_FIXTURES_DIR "/bin-actions/codex");
}

QByteArray planJson(const QList<ComputerStep>& steps, const QString& explanation = "Plan") {
    return ComputerPlan{explanation, steps}.encode();
}

const ComputerStep kOpenEditor{1, "Open TextEdit", "open_app", "com.apple.TextEdit", ""};
// The confirmation spells out direction controls and shows a look-alike host in its ASCII
// form too, so that it reads as what runs; the steps themselves are sent unchanged.
const ComputerStep kTypeGreeting{2, "Type a greeting", "type_text", "com.apple.TextEdit",
                                 QString::fromUtf8("Grüße 🙂\u202Efdp.exe")};
const ComputerStep kSelectAll{3, "Select everything", "key", "com.apple.TextEdit", "command+a"};
const ComputerStep kOpenPage{4, "Open the page", "open_url", "com.apple.Safari",
                             QString::fromUtf8("https://\xD0\xB0pple.com/")};

// A planner with a scripted desktop, planning through the real login shell and the fake
// Codex, or (given steps) already holding a validated plan of them.
struct Planning {
    FakePlannerHost host;
    ScriptedStepRunner runner;
    ScriptedDialogs dialogs;
    std::unique_ptr<ComputerPlanner> planner =
        std::make_unique<ComputerPlanner>(host, runner, dialogs);
    QTemporaryDir scratch;

    Planning() {
        host.available = {{"codex", fakeCodex()}};
        host.environment.insert("FAKE_CODEX_ARGUMENTS", scratch.filePath("arguments"));
        planner->setTask("Open TextEdit");
    }

    explicit Planning(const QList<ComputerStep>& steps) {
        for (const QString app : {"com.apple.TextEdit", "com.apple.Safari"}) {
            runner.installed[app] = InstalledApplication{app, "/x/e.desktop", "App", {"app"}};
        }
        planner->setStepDelayMs(5);
        host.answer = planJson(steps);
        planner->setTask("do it");
        planner->prepare();
        EXPECT_TRUE(waitUntil([&] { return planner->plan().has_value(); }));
    }

    void answer(const QByteArray& contents, int status = 0) {
        writeFile(scratch.filePath("answer.json"), contents);
        host.environment.insert("FAKE_CODEX_ANSWER", scratch.filePath("answer.json"));
        host.environment.insert("FAKE_CODEX_STATUS", QString::number(status));
    }

    // Plans with the chosen answer and returns the final message.
    QString planWith(const QByteArray& contents, int status = 0) {
        answer(contents, status);
        planner->prepare();
        EXPECT_TRUE(planner->planning());
        EXPECT_TRUE(waitUntil([&] { return !planner->planning(); }));
        return planner->message();
    }

    // Confirms the next step and waits until it has run.
    void confirmAndRun() {
        dialogs.answerAlert(0);
        planner->runNext();
        EXPECT_TRUE(waitUntil([&] { return !planner->executing(); }));
    }
};

}  // namespace

TEST(ComputerPlannerPlanning, blankRequestsAndMissingCodexStartNothing) {
    Planning planning;
    planning.planner->setTask(" \n\t\u3000 ");
    planning.planner->prepare();
    EXPECT_TRUE(planning.host.started.empty());
    EXPECT_EQ(planning.planner->message(), "");
    EXPECT_FALSE(planning.planner->planning());

    planning.host.available.clear();
    planning.planner->setTask("Open TextEdit");
    planning.planner->prepare();
    EXPECT_TRUE(planning.host.started.empty());
    EXPECT_EQ(planning.planner->message(),
              "Install and sign in to Codex in Assistants to create a plan.");
}

TEST(ComputerPlannerPlanning, codexRunsReadOnlyWithTheSchemaAndTheUntrimmedPromptAsOneArgument) {
    Planning planning;
    const QString task = "  Type 'it''s' \"$(touch pwned)\" `id`\nthen save ";
    planning.planner->setTask(task);
    planning.answer(planJson({kOpenEditor, kTypeGreeting}));
    int planningChanges = 0;
    QObject::connect(planning.planner.get(), &ComputerPlanner::planningChanged,
                     [&] { ++planningChanges; });
    planning.planner->prepare();
    EXPECT_EQ(planning.planner->message(),
              "Codex is drafting steps. No computer actions run during planning.");
    EXPECT_EQ(planning.host.actionsPageShown, 1);
    ASSERT_EQ(planning.host.started.size(), 1u);
    const StartedSession& session = planning.host.started.front();
    EXPECT_EQ(session.providerID, "codex");
    EXPECT_EQ(session.title, "Plan desktop actions");

    const QDir folder(session.directory);
    EXPECT_EQ(folder.absolutePath(), planning.planner->planFolder());
    EXPECT_EQ(QFileInfo(folder.absolutePath()).absolutePath(), planning.host.plans);
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$")
                    .match(folder.dirName())
                    .hasMatch());
    // The schema handed over is one line of JSON.
    const QByteArray schema = readFile(folder.filePath("schema.json"));
    EXPECT_EQ(QString::fromUtf8(schema), ComputerPlan::schema());
    EXPECT_TRUE(QJsonDocument::fromJson(schema).isObject() && !schema.contains('\n'));
    ASSERT_TRUE(waitUntil([&] { return !planning.planner->planning(); }));
    EXPECT_EQ(planning.planner->message(), kReview);
    EXPECT_EQ(planning.planner->plan(), (ComputerPlan{"Plan", {kOpenEditor, kTypeGreeting}}));
    EXPECT_EQ(planningChanges, 2);
    EXPECT_FALSE(QFile::exists(folder.filePath("pwned")));
    // The login shell handed every piece over as one argument, unchanged.
    QStringList arguments;
    for (const QByteArray& argument :
         readFile(planning.scratch.filePath("arguments")).split('\0')) {
        arguments << QString::fromUtf8(argument);
    }
    EXPECT_EQ(arguments,
              (QStringList{"exec", "--ignore-user-config", "--ephemeral", "--skip-git-repo-check",
                           "--sandbox", "read-only", "--output-schema",
                           folder.filePath("schema.json"), "--output-last-message",
                           folder.filePath("plan.json"), ComputerPlan::instructions() + task, ""}));
}

TEST(ComputerPlannerPlanning, aRequestTooLongForTheCommandLineReachesCodexOnStandardInput) {
    Planning planning;
    planning.host.environment.insert("FAKE_CODEX_STDIN", planning.scratch.filePath("stdin"));
    const QString task = QString("Type 'it's' é ").repeated(10000);
    planning.planner->setTask(task);
    planning.answer(planJson({kOpenEditor}));
    planning.planner->prepare();
    ASSERT_EQ(planning.host.started.size(), 1u);
    ASSERT_TRUE(waitUntil([&] { return !planning.planner->planning(); }));
    EXPECT_EQ(planning.planner->message(), kReview);
    EXPECT_EQ(readFile(planning.scratch.filePath("stdin")),
              (ComputerPlan::instructions() + task).toUtf8());
    EXPECT_TRUE(readFile(planning.scratch.filePath("arguments"))
                    .endsWith(QByteArray("plan.json\0-\0", 12)));
}

TEST(ComputerPlannerPlanning, eachAnswerEndsInItsOwnMessageAndOnlyAValidPlanIsKept) {
    Planning planning;
    EXPECT_EQ(planning.planWith(planJson({}, "I need to see the screen.")),
              "This request needs more information or manual steps.");
    EXPECT_EQ(planning.planner->plan()->explanation, "I need to see the screen.");

    QByteArray exactLimit = planJson({kOpenEditor});
    exactLimit.append(QByteArray(60000 - exactLimit.size(), ' '));
    EXPECT_EQ(planning.planWith(exactLimit), kReview);
    EXPECT_EQ(planning.planWith(exactLimit + " "),
              "Could not use this plan: The plan response was too large.");
    EXPECT_FALSE(planning.planner->plan().has_value());

    EXPECT_EQ(planning.planWith(planJson({kOpenEditor})), kReview);
    EXPECT_TRUE(planning.planWith("{\"explanation\": \"cut off")
                    .startsWith("Could not use this plan: The plan is not valid JSON"));
    EXPECT_FALSE(planning.planner->plan().has_value());

    ComputerStep quit = kSelectAll;
    quit.value = "command+q";
    EXPECT_EQ(planning.planWith(planJson({kOpenEditor, quit})),
              "Could not use this plan: The plan requested an unsupported keyboard shortcut.");
    EXPECT_EQ(planning.planWith(planJson({kOpenEditor}), 1), kPlanningFailed);
    EXPECT_FALSE(planning.planner->plan().has_value());
    EXPECT_EQ(planning.host.started.size(), 7u);
}

TEST(ComputerPlannerPlanning, stoppingThePlanningSessionReportsFailureAndANewPrepareWaits) {
    Planning planning;
    planning.host.environment.insert("FAKE_CODEX_SLEEP", "30");
    planning.answer(planJson({kOpenEditor}));
    planning.planner->prepare();
    ASSERT_TRUE(planning.planner->planning());
    planning.planner->prepare();
    EXPECT_EQ(planning.host.started.size(), 1u);

    planning.planner->showPlannerOutput();
    ASSERT_EQ(planning.host.shownSessions.size(), 1u);
    EXPECT_EQ(planning.host.shownSessions.front(), planning.planner->session());

    planning.planner->stopPlanning();
    ASSERT_TRUE(waitUntil([&] { return !planning.planner->planning(); }));
    EXPECT_EQ(planning.planner->message(), kPlanningFailed);
    EXPECT_FALSE(planning.planner->plan().has_value());
}

TEST(ComputerPlannerSteps, theConfirmationShowsTheStepAndCancellingChangesNothing) {
    Planning ready({kTypeGreeting, kOpenEditor});
    ready.dialogs.answerAlert(1);
    ready.planner->runNext();
    ASSERT_EQ(ready.dialogs.alerts().size(), 1u);
    const Dialogs::Alert& alert = ready.dialogs.alerts().front();
    EXPECT_EQ(alert.message, "Type a greeting?");
    EXPECT_EQ(alert.informativeText,
              QString::fromUtf8("App: com.apple.TextEdit\nAction: type_text\n\n"
                                "Grüße 🙂⟨U+202E⟩fdp.exe\n\n"
                                "Typing and keys go to this app’s focused control. Confirm the "
                                "intended document or field before proceeding."));
    EXPECT_EQ(alert.buttons, (QStringList{"Run this step", "Cancel"}));
    EXPECT_EQ(ready.planner->message(), kReview);
    EXPECT_FALSE(ready.planner->executing());
    EXPECT_TRUE(ready.runner.opened.empty());

    ready.runner.trusted = false;
    ready.confirmAndRun();
    EXPECT_EQ(ready.planner->message(),
              "Typing needs an X11 session with the XTEST extension; under Wayland VELK cannot "
              "type into other applications.");
    EXPECT_TRUE(ready.runner.opened.empty());
    EXPECT_EQ(ready.planner->completed(), 0);
}

TEST(ComputerPlannerSteps, eachStepIsSentOnceToTheOpenedAppAndTheEndIsFinal) {
    Planning ready({kOpenEditor, kTypeGreeting, kSelectAll, kOpenPage});
    ready.confirmAndRun();
    EXPECT_EQ(ready.planner->completed(), 1);
    EXPECT_EQ(ready.planner->message(), kStepSent);
    EXPECT_TRUE(ready.runner.sent.empty());

    ready.confirmAndRun();
    ready.confirmAndRun();
    ASSERT_EQ(ready.runner.sent.size(), 2u);
    EXPECT_EQ(ready.runner.sent[0].first, kTypeGreeting);
    EXPECT_EQ(ready.runner.sent[0].second, 100);
    EXPECT_EQ(ready.runner.sent[1].first, kSelectAll);
    EXPECT_EQ(ready.dialogs.alerts().back().informativeText.section('\n', 3, 3), "command+a");

    ready.confirmAndRun();
    EXPECT_EQ(ready.dialogs.alerts().back().informativeText.section('\n', 3, 4),
              QString::fromUtf8("https://\xD0\xB0pple.com/\nHost: \xD0\xB0pple.com (ASCII form: "
                                "xn--pple-43d.com)"));
    EXPECT_EQ(ready.runner.openedUrls, std::vector<QString>{kOpenPage.value});
    EXPECT_EQ(ready.planner->completed(), 4);
    EXPECT_EQ(ready.runner.opened.size(), 3u);

    ready.dialogs.answerAlert(0);
    ready.planner->runNext();
    EXPECT_EQ(ready.dialogs.alerts().size(), 4u);
    EXPECT_EQ(ready.planner->completed(), 4);
}

TEST(ComputerPlannerSteps, failuresLeaveTheStepToBeTriedAgainWithOneMessage) {
    Planning ready({kTypeGreeting});
    ready.runner.front = RunningApplication{200, {"other"}};
    ready.confirmAndRun();
    EXPECT_EQ(ready.planner->message(), kNoLongerActive);
    EXPECT_TRUE(ready.runner.sent.empty());

    ready.runner.front.reset();
    ready.confirmAndRun();
    EXPECT_EQ(ready.planner->message(), kNoLongerActive);

    // Another window of the same application class counts as the application.
    ready.runner.front = RunningApplication{300, {"app"}};
    ready.runner.sendError = "Accessibility permission is needed.";
    ready.confirmAndRun();
    EXPECT_EQ(ready.planner->message(), "Accessibility permission is needed.");
    EXPECT_EQ(ready.runner.sent.size(), 1u);

    ready.runner.stillRunning = false;
    ready.confirmAndRun();
    EXPECT_EQ(ready.planner->message(), "The app could not be opened.");

    ready.runner.openError = "“e.desktop” could not be opened: no such program";
    ready.confirmAndRun();
    EXPECT_EQ(ready.planner->message(), ready.runner.openError);
    EXPECT_EQ(ready.planner->completed(), 0);
    EXPECT_TRUE(ready.planner->plan().has_value());

    ready.runner.installed.clear();
    ready.dialogs.answerAlert(0);
    ready.planner->runNext();
    EXPECT_EQ(ready.planner->message(),
              "The app com.apple.TextEdit is not installed. Adjust your request and make a new "
              "plan.");
}

TEST(ComputerPlannerSteps, aNewPlanWaitsWhileAStepIsExecuting) {
    Planning ready({kOpenEditor});
    ready.planner->setStepDelayMs(200);
    ready.dialogs.answerAlert(0);
    ready.planner->runNext();
    ASSERT_TRUE(ready.planner->executing());
    ready.planner->prepare();
    ready.planner->runNext();
    EXPECT_TRUE(ready.planner->plan().has_value());
    EXPECT_EQ(ready.dialogs.alerts().size(), 1u);
    ASSERT_TRUE(waitUntil([&] { return !ready.planner->executing(); }));
    EXPECT_EQ(ready.planner->completed(), 1);
}

TEST(ComputerPlannerSteps, resultsArrivingAfterThePlannerIsGoneAreDropped) {
    Planning ready({kOpenEditor});
    ready.dialogs.answerAlert(0);
    ready.planner->runNext();
    ready.planner.reset();
    testing_support::processEventsFor(std::chrono::milliseconds(700));
    EXPECT_EQ(ready.runner.opened.size(), 1u);
}
