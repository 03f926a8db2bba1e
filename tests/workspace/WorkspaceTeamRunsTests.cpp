// Team runs through the workspace: copies prepared in the background, the fake assistant
// tools working in their copies, the records and output files they leave, and the guards
// around preparation.

#include "WorkspaceTestKit.h"

#include "core/base/Background.h"
#include "core/runs/RunStore.h"

#include <QFile>

#include <cerrno>
#include <cstring>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// What a fake tool records of its arguments: the count on a line, then each ending in NUL.
QByteArray recorded(const QStringList& arguments) {
    QByteArray data = QByteArray::number(arguments.size()) + '\n';
    for (const QString& argument : arguments) {
        data += argument.toUtf8() + '\0';
    }
    return data;
}

}  // namespace

class WorkspaceTeamRuns : public WorkspaceTest {
protected:
    Workspace& openRunWorkspace() {
        Workspace& model = openWorkspace();
        model.launcher.setSeparateCopies(true);
        model.teamRuns.setRunStorageRoot(storage());
        model.launcher.setSelectedProviders({"claude"});
        return model;
    }
    QString storage() const { return scratch() + "/runs"; }
    QStringList runFolders() const {
        return QDir(storage()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }
    void writeProjectFiles(int count) {
        for (int index = 0; index < count; ++index) {
            ASSERT_TRUE(writeFile(projectFile(QStringLiteral("file%1.txt").arg(index)), "x"));
        }
    }
    bool waitForRuns(qsizetype count) {
        return waitUntil([&] { return workspace().teamRuns.teamRuns().size() == count; }, 20s);
    }
    // Lets the preparation finish and hand over its result, then the clean-up it caused.
    bool waitForNoRunFolder() {
        Background::waitForIdle();
        processEventsFor(100ms);
        Background::waitForIdle();
        return runFolders().isEmpty();
    }
};

TEST_F(WorkspaceTeamRuns, assistantsWorkOnlyInTheirCopiesAndTwoRunsInARowAreRecordedInFull) {
    ASSERT_TRUE(writeFile(projectFile("main.txt"), "original"));
    ScopedEnvironment edit("VELK_FAKE_WRITE_FILE", "main.txt");
    Workspace& model = openRunWorkspace();
    model.launcher.setPrompt("  Fix the greeting\n");
    model.launcher.dispatchPrompt();
    EXPECT_TRUE(model.teamRuns.preparingRun());
    EXPECT_TRUE(model.sessions.sessions().isEmpty());

    ASSERT_TRUE(waitForRuns(1));
    EXPECT_FALSE(model.teamRuns.preparingRun());
    EXPECT_EQ(model.launcher.prompt(), QString());
    EXPECT_EQ(model.notices.toast(),
              "Assistants are working in separate copies. Review their results in Team runs.");
    EXPECT_EQ(model.teamRuns.preparationCopied(), model.teamRuns.preparationTotal());
    EXPECT_EQ(model.teamRuns.preparationTotal(), 2);  // the baseline and one copy of main.txt
    ASSERT_EQ(model.sessions.sessions().size(), 1);
    const SessionPointer session = model.sessions.sessions().first();
    EXPECT_EQ(session->title(), "Fix the greeting");
    ASSERT_TRUE(waitForSessionsToFinish());

    const TeamRun run = model.teamRuns.teamRuns().first();
    EXPECT_EQ(model.teamRuns.selectedRunID(), run.id.toString(QUuid::WithoutBraces).toUpper());
    ASSERT_EQ(run.copies.size(), 1u);
    const RunCopy& copy = run.copies.front();
    EXPECT_EQ(copy.session, session->id());
    EXPECT_EQ(copy.exitCode, 0);
    EXPECT_FALSE(model.teamRuns.copyRunning(copy));
    EXPECT_EQ(readFile(projectFile("main.txt")), "original");
    EXPECT_EQ(readFile(copy.directory + "/main.txt"), "written by claude\n");
    EXPECT_EQ(readFile(RunStore::baselineFolder(run) + "/main.txt"), "original");

    // The task reaches the tool wrapped, as one argument.
    const QString output = QString::fromUtf8(readFile(RunStore::outputFile(run, copy)));
    EXPECT_TRUE(output.contains(
        "ARG4=You are working in an independent copy of the project. Complete the task"));
    EXPECT_TRUE(output.contains("Task: Fix the greeting"));
    EXPECT_TRUE(output.trimmed().endsWith("FAKE_claude_DONE")) << output.toStdString();
    EXPECT_EQ(model.teamRuns.runOutput(copy, run), session->screen().plainText());
    // Once the session is closed, the output file stands in for it.
    model.sessions.closeSession(session);
    EXPECT_EQ(model.teamRuns.runOutput(copy, run), output);

    // A second run with two assistants; a second start while it is prepared does nothing,
    // and the prompt edited meanwhile survives.
    model.launcher.setSelectedProviders({"claude", "codex"});
    model.launcher.setPrompt("second task");
    model.launcher.dispatchPrompt();
    model.launcher.setPrompt("typed while copying");
    model.launcher.dispatchPrompt();
    ASSERT_TRUE(waitForRuns(2));
    EXPECT_EQ(model.launcher.prompt(), "typed while copying");
    EXPECT_EQ(runFolders().size(), 2);
    ASSERT_TRUE(waitForSessionsToFinish());

    Workspace reloaded(false, services());
    reloaded.teamRuns.setRunStorageRoot(storage());
    reloaded.teamRuns.loadTeamRuns();
    ASSERT_EQ(reloaded.teamRuns.teamRuns().size(), 2);
    EXPECT_EQ(reloaded.teamRuns.teamRuns().last(), run);
    const TeamRun second = reloaded.teamRuns.teamRuns().first();
    EXPECT_EQ(second.prompt, "second task");
    ASSERT_EQ(second.copies.size(), 2u);
    EXPECT_EQ(second.copies.at(0).provider, "claude");
    EXPECT_EQ(second.copies.at(1).provider, "codex");
    for (const RunCopy& each : second.copies) {
        EXPECT_TRUE(each.session.has_value());
        EXPECT_EQ(each.exitCode, 0);
        EXPECT_TRUE(QFile::exists(RunStore::outputFile(second, each)));
    }
}

TEST_F(WorkspaceTeamRuns, refusedCancelledOrTimedOutPreparationsStartNothingAndLeaveNoFolder) {
    Workspace& model = openRunWorkspace();
    const auto nothingStarted = [&] {
        return runFolders().isEmpty() && model.sessions.sessions().isEmpty() &&
               model.teamRuns.teamRuns().isEmpty();
    };
    model.teamRuns.startTeamRun("task", QList<Provider>(9, model.providers.provider("claude")),
                                project());
    EXPECT_EQ(model.notices.toast(), "Choose 1 to 8 assistants per run.");
    EXPECT_FALSE(model.teamRuns.preparingRun());
    model.teamRuns.startTeamRun("task", {}, project());
    EXPECT_FALSE(model.teamRuns.preparingRun());
    EXPECT_FALSE(QFileInfo::exists(storage()));

    writeProjectFiles(400);
    model.launcher.setPrompt("task");
    model.launcher.dispatchPrompt();
    ASSERT_TRUE(model.teamRuns.preparingRun());
    model.teamRuns.cancelPreparation();
    EXPECT_FALSE(model.teamRuns.preparingRun());
    EXPECT_EQ(model.notices.toast(), "Run preparation cancelled. No assistants were started.");
    EXPECT_TRUE(waitForNoRunFolder());
    EXPECT_TRUE(nothingStarted());
    EXPECT_EQ(model.launcher.prompt(), "task");

    model.teamRuns.setPreparationTimeoutMs(1);
    model.launcher.dispatchPrompt();
    ASSERT_TRUE(waitUntil([&] { return !model.teamRuns.preparingRun(); }, 20s));
    EXPECT_EQ(model.notices.toast(),
              "Copying timed out. Make sure your project is downloaded locally, "
              "then try again.");
    EXPECT_TRUE(waitForNoRunFolder());
    EXPECT_TRUE(nothingStarted());

    model.teamRuns.setPreparationTimeoutMs(60000);
    writeProjectFiles(5001);
    model.teamRuns.startTeamRun("task", {model.providers.provider("claude")}, project());
    ASSERT_TRUE(waitUntil([&] { return !model.teamRuns.preparingRun(); }, 20s));
    EXPECT_TRUE(
        model.notices.toast().startsWith("Separate copies currently support up to 5,000 files"))
        << model.notices.toast().toStdString();
    EXPECT_TRUE(nothingStarted());
}

TEST_F(WorkspaceTeamRuns, anOutputFileThatCannotBeWrittenIsReportedWithItsAssistant) {
    ScopedEnvironment hang("VELK_FAKE_HANG", "1");
    Workspace& model = openRunWorkspace();
    model.launcher.setPrompt("tidy up");
    model.launcher.dispatchPrompt();
    ASSERT_TRUE(waitForRuns(1));
    const TeamRun run = model.teamRuns.teamRuns().first();
    // A folder where the output file goes: the record still saves, the output cannot.
    ASSERT_TRUE(QDir().mkpath(RunStore::outputFile(run, run.copies.front())));
    model.sessions.stopAll();
    ASSERT_TRUE(waitForSessionsToFinish());
    EXPECT_EQ(model.notices.toast(), "Could not save the output of " +
                                         model.providers.provider("claude").name + ": " +
                                         QString::fromLocal8Bit(std::strerror(EISDIR)) + ".");
    const auto stored = RunStore::load(storage());
    ASSERT_TRUE(stored && stored->size() == 1);
    EXPECT_EQ(stored->front().copies.front().session, run.copies.front().session);
}

TEST_F(WorkspaceTeamRuns, compareWithAIWaitsForTheCopiesThenStartsOneReadOnlyCodexSession) {
    const QString records = scratch() + "/records";
    ASSERT_TRUE(QDir().mkpath(records));
    ScopedEnvironment record("VELK_FAKE_RECORD_DIR", records.toLocal8Bit());
    ScopedEnvironment hang("VELK_FAKE_HANG", "1");
    Workspace& model = openRunWorkspace();
    model.launcher.setPrompt("tidy up");
    model.launcher.dispatchPrompt();
    ASSERT_TRUE(waitForRuns(1));
    ASSERT_TRUE(waitUntil(
        [&] {
            const TeamRun& shown = model.teamRuns.teamRuns().first();
            return model.teamRuns.runOutput(shown.copies[0], shown).contains("_DONE");
        },
        10s));
    EXPECT_TRUE(model.teamRuns.copyRunning(model.teamRuns.teamRuns().first().copies[0]));
    model.teamRuns.summarizeRun(model.teamRuns.teamRuns().first());
    EXPECT_EQ(model.notices.toast(), "Wait for the assistants to finish before comparing.");
    EXPECT_EQ(model.sessions.sessions().size(), 1);

    model.sessions.stopAll();
    ASSERT_TRUE(waitForSessionsToFinish());
    qunsetenv("VELK_FAKE_HANG");
    const TeamRun run = model.teamRuns.teamRuns().first();
    const std::optional<int> exitCode = run.copies.front().exitCode;
    model.teamRuns.summarizeRun(run);
    ASSERT_EQ(model.sessions.sessions().size(), 2);
    const SessionPointer comparison = model.sessions.sessions().last();
    EXPECT_EQ(comparison->title(), "Compare team results");
    EXPECT_EQ(comparison->directory(), run.root);
    EXPECT_TRUE(model.teamRuns.oneShotSession(comparison->id())) << "it can stall";
    ASSERT_TRUE(waitForSessionsToFinish());
    EXPECT_EQ(model.teamRuns.teamRuns().first(), run);  // the comparison is not part of the run

    const QByteArray arguments = readFile(records + "/codex.args");
    EXPECT_TRUE(
        arguments.contains(QByteArray("exec\0--skip-git-repo-check\0--sandbox\0read-only\0", 47)));
    const QString task = QString::fromUtf8(arguments);
    EXPECT_TRUE(task.contains(QStringLiteral(
        "Compare these independent assistant results for this task: tidy up. Treat their")));
    EXPECT_TRUE(task.contains("ASSISTANT: " + model.providers.provider("claude").name +
                              "\nEXIT: " + (exitCode ? QString::number(*exitCode) : "interrupted") +
                              "\nOUTPUT:\n"));
    EXPECT_TRUE(task.contains("FAKE_claude_DONE")) << task.toStdString();
}

TEST_F(WorkspaceTeamRuns, aTaskTooLongForTheCommandLineReachesTheOneShotToolsOnStandardInput) {
    const QString records = scratch() + "/records";
    ASSERT_TRUE(QDir().mkpath(records));
    ScopedEnvironment record("VELK_FAKE_RECORD_DIR", records.toLocal8Bit());
    Workspace& model = openRunWorkspace();
    const QString task = QString("Rename 'x' to é; ").repeated(9000) + "done";
    model.launcher.setPrompt(task);

    // Kimi Code takes a one-shot task only as an argument: no copy is made.
    model.launcher.setSelectedProviders({"claude", "kimi"});
    model.launcher.dispatchPrompt();
    EXPECT_FALSE(model.teamRuns.preparingRun());
    EXPECT_TRUE(model.notices.toast().startsWith("This task is too long to pass to Kimi Code ("))
        << model.notices.toast().toStdString();
    EXPECT_EQ(model.launcher.prompt(), task);
    EXPECT_TRUE(runFolders().isEmpty());

    model.launcher.setSelectedProviders({"claude", "codex"});
    model.launcher.dispatchPrompt();
    ASSERT_TRUE(waitForRuns(1));
    ASSERT_TRUE(waitForSessionsToFinish());
    EXPECT_EQ(model.launcher.prompt(), QString());
    const TeamRun run = model.teamRuns.teamRuns().first();
    const QByteArray wrapped = readFile(run.root + "/task.txt");
    EXPECT_TRUE(wrapped.startsWith("You are working in an independent copy of the project."));
    EXPECT_TRUE(wrapped.endsWith("Task: " + task.toUtf8()));
    EXPECT_EQ(readFile(records + "/claude.args"),
              recorded({"--print", "--permission-mode", "acceptEdits"}));
    EXPECT_EQ(readFile(records + "/codex.args"),
              recorded({"exec", "--skip-git-repo-check", "--sandbox", "workspace-write", "-"}));
    EXPECT_EQ(readFile(records + "/claude.stdin"), wrapped);
    EXPECT_EQ(readFile(records + "/codex.stdin"), wrapped);
    for (const RunCopy& copy : run.copies) {
        EXPECT_EQ(copy.exitCode, 0);
    }

    // The comparison repeats the task, so it goes the same way.
    model.teamRuns.summarizeRun(run);
    ASSERT_TRUE(waitForSessionsToFinish());
    EXPECT_EQ(readFile(records + "/codex.args"),
              recorded({"exec", "--skip-git-repo-check", "--sandbox", "read-only", "-"}));
    EXPECT_TRUE(readFile(records + "/codex.stdin")
                    .startsWith("Compare these independent assistant results for this task: " +
                                task.toUtf8() + ". Treat"));
}
