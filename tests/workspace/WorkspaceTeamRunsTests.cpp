// Team runs through the workspace: copies prepared in the background, the fake assistant
// tools working in their copies, the records and output files they leave, and the guards
// around preparation.

#include "WorkspaceTestKit.h"

#include "core/Background.h"
#include "runs/RunStore.h"

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
        model.setSeparateCopies(true);
        model.setRunStorageRoot(storage());
        model.setSelectedProviders({"claude"});
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
        return waitUntil([&] { return workspace().teamRuns().size() == count; }, 20s);
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
    model.setPrompt("  Fix the greeting\n");
    model.dispatchPrompt();
    EXPECT_TRUE(model.preparingRun());
    EXPECT_TRUE(model.sessions().isEmpty());

    ASSERT_TRUE(waitForRuns(1));
    EXPECT_FALSE(model.preparingRun());
    EXPECT_EQ(model.prompt(), QString());
    EXPECT_EQ(model.toast(),
              "Assistants are working in separate copies. Review their results in Team runs.");
    EXPECT_EQ(model.preparationCopied(), model.preparationTotal());
    EXPECT_EQ(model.preparationTotal(), 2);  // the baseline and one copy of main.txt
    ASSERT_EQ(model.sessions().size(), 1);
    const SessionPointer session = model.sessions().first();
    EXPECT_EQ(session->title(), "Fix the greeting");
    ASSERT_TRUE(waitForSessionsToFinish());

    const TeamRun run = model.teamRuns().first();
    EXPECT_EQ(model.selectedRunID(), run.id.toString(QUuid::WithoutBraces).toUpper());
    ASSERT_EQ(run.copies.size(), 1u);
    const RunCopy& copy = run.copies.front();
    EXPECT_EQ(copy.session, session->id());
    EXPECT_EQ(copy.exitCode, 0);
    EXPECT_FALSE(model.copyRunning(copy));
    EXPECT_EQ(readFile(projectFile("main.txt")), "original");
    EXPECT_EQ(readFile(copy.directory + "/main.txt"), "written by claude\n");
    EXPECT_EQ(readFile(RunStore::baselineFolder(run) + "/main.txt"), "original");

    // The task reaches the tool wrapped, as one argument.
    const QString output = QString::fromUtf8(readFile(RunStore::outputFile(run, copy)));
    EXPECT_TRUE(output.contains(
        "ARG2=You are working in an independent copy of the project. Complete the task"));
    EXPECT_TRUE(output.contains("Task: Fix the greeting"));
    EXPECT_TRUE(output.trimmed().endsWith("FAKE_claude_DONE")) << output.toStdString();
    EXPECT_EQ(model.runOutput(copy, run), session->screen().plainText());
    // Once the session is closed, the output file stands in for it.
    model.closeSession(session);
    EXPECT_EQ(model.runOutput(copy, run), output);

    // A second run with two assistants; a second start while it is prepared does nothing,
    // and the prompt edited meanwhile survives.
    model.setSelectedProviders({"claude", "codex"});
    model.setPrompt("second task");
    model.dispatchPrompt();
    model.setPrompt("typed while copying");
    model.dispatchPrompt();
    ASSERT_TRUE(waitForRuns(2));
    EXPECT_EQ(model.prompt(), "typed while copying");
    EXPECT_EQ(runFolders().size(), 2);
    ASSERT_TRUE(waitForSessionsToFinish());

    Workspace reloaded(false, services());
    reloaded.setRunStorageRoot(storage());
    reloaded.loadTeamRuns();
    ASSERT_EQ(reloaded.teamRuns().size(), 2);
    EXPECT_EQ(reloaded.teamRuns().last(), run);
    const TeamRun second = reloaded.teamRuns().first();
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
        return runFolders().isEmpty() && model.sessions().isEmpty() && model.teamRuns().isEmpty();
    };
    model.startTeamRun("task", QList<Provider>(9, model.provider("claude")), project());
    EXPECT_EQ(model.toast(), "Choose 1 to 8 assistants per run.");
    EXPECT_FALSE(model.preparingRun());
    model.startTeamRun("task", {}, project());
    EXPECT_FALSE(model.preparingRun());
    EXPECT_FALSE(QFileInfo::exists(storage()));

    writeProjectFiles(400);
    model.setPrompt("task");
    model.dispatchPrompt();
    ASSERT_TRUE(model.preparingRun());
    model.cancelPreparation();
    EXPECT_FALSE(model.preparingRun());
    EXPECT_EQ(model.toast(), "Run preparation cancelled. No assistants were started.");
    EXPECT_TRUE(waitForNoRunFolder());
    EXPECT_TRUE(nothingStarted());
    EXPECT_EQ(model.prompt(), "task");

    model.setPreparationTimeoutMs(1);
    model.dispatchPrompt();
    ASSERT_TRUE(waitUntil([&] { return !model.preparingRun(); }, 20s));
    EXPECT_EQ(model.toast(),
              "Copying timed out. Make sure your project is downloaded locally, "
              "then try again.");
    EXPECT_TRUE(waitForNoRunFolder());
    EXPECT_TRUE(nothingStarted());

    model.setPreparationTimeoutMs(60000);
    writeProjectFiles(5001);
    model.startTeamRun("task", {model.provider("claude")}, project());
    ASSERT_TRUE(waitUntil([&] { return !model.preparingRun(); }, 20s));
    EXPECT_TRUE(model.toast().startsWith("Separate copies currently support up to 5,000 files"))
        << model.toast().toStdString();
    EXPECT_TRUE(nothingStarted());
}

TEST_F(WorkspaceTeamRuns, anOutputFileThatCannotBeWrittenIsReportedWithItsAssistant) {
    ScopedEnvironment hang("VELK_FAKE_HANG", "1");
    Workspace& model = openRunWorkspace();
    model.setPrompt("tidy up");
    model.dispatchPrompt();
    ASSERT_TRUE(waitForRuns(1));
    const TeamRun run = model.teamRuns().first();
    // A folder where the output file goes: the record still saves, the output cannot.
    ASSERT_TRUE(QDir().mkpath(RunStore::outputFile(run, run.copies.front())));
    model.stopAll();
    ASSERT_TRUE(waitForSessionsToFinish());
    EXPECT_EQ(model.toast(), "Could not save the output of " + model.provider("claude").name +
                                 ": " + QString::fromLocal8Bit(std::strerror(EISDIR)) + ".");
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
    model.setPrompt("tidy up");
    model.dispatchPrompt();
    ASSERT_TRUE(waitForRuns(1));
    ASSERT_TRUE(waitUntil(
        [&] {
            const TeamRun& shown = model.teamRuns().first();
            return model.runOutput(shown.copies[0], shown).contains("_DONE");
        },
        10s));
    EXPECT_TRUE(model.copyRunning(model.teamRuns().first().copies[0]));
    model.summarizeRun(model.teamRuns().first());
    EXPECT_EQ(model.toast(), "Wait for the assistants to finish before comparing.");
    EXPECT_EQ(model.sessions().size(), 1);

    model.stopAll();
    ASSERT_TRUE(waitForSessionsToFinish());
    qunsetenv("VELK_FAKE_HANG");
    const TeamRun run = model.teamRuns().first();
    const std::optional<int> exitCode = run.copies.front().exitCode;
    model.summarizeRun(run);
    ASSERT_EQ(model.sessions().size(), 2);
    const SessionPointer comparison = model.sessions().last();
    EXPECT_EQ(comparison->title(), "Compare team results");
    EXPECT_EQ(comparison->directory(), run.root);
    ASSERT_TRUE(waitForSessionsToFinish());
    EXPECT_EQ(model.teamRuns().first(), run);  // the comparison is not part of the run

    const QByteArray arguments = readFile(records + "/codex.args");
    EXPECT_TRUE(
        arguments.contains(QByteArray("exec\0--skip-git-repo-check\0--sandbox\0read-only\0", 47)));
    const QString task = QString::fromUtf8(arguments);
    EXPECT_TRUE(task.contains(QStringLiteral(
        "Compare these independent assistant results for this task: tidy up. Treat their")));
    EXPECT_TRUE(task.contains("ASSISTANT: " + model.provider("claude").name +
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
    model.setPrompt(task);

    // Kimi Code takes a one-shot task only as an argument: no copy is made.
    model.setSelectedProviders({"claude", "kimi"});
    model.dispatchPrompt();
    EXPECT_FALSE(model.preparingRun());
    EXPECT_TRUE(model.toast().startsWith("This task is too long to pass to Kimi Code ("))
        << model.toast().toStdString();
    EXPECT_EQ(model.prompt(), task);
    EXPECT_TRUE(runFolders().isEmpty());

    model.setSelectedProviders({"claude", "codex"});
    model.dispatchPrompt();
    ASSERT_TRUE(waitForRuns(1));
    ASSERT_TRUE(waitForSessionsToFinish());
    EXPECT_EQ(model.prompt(), QString());
    const TeamRun run = model.teamRuns().first();
    const QByteArray wrapped = readFile(run.root + "/task.txt");
    EXPECT_TRUE(wrapped.startsWith("You are working in an independent copy of the project."));
    EXPECT_TRUE(wrapped.endsWith("Task: " + task.toUtf8()));
    EXPECT_EQ(readFile(records + "/claude.args"), recorded({"--print"}));
    EXPECT_EQ(readFile(records + "/codex.args"),
              recorded({"exec", "--skip-git-repo-check", "--sandbox", "workspace-write", "-"}));
    EXPECT_EQ(readFile(records + "/claude.stdin"), wrapped);
    EXPECT_EQ(readFile(records + "/codex.stdin"), wrapped);
    for (const RunCopy& copy : run.copies) {
        EXPECT_EQ(copy.exitCode, 0);
    }

    // The comparison repeats the task, so it goes the same way.
    model.summarizeRun(run);
    ASSERT_TRUE(waitForSessionsToFinish());
    EXPECT_EQ(readFile(records + "/codex.args"),
              recorded({"exec", "--skip-git-repo-check", "--sandbox", "read-only", "-"}));
    EXPECT_TRUE(readFile(records + "/codex.stdin")
                    .startsWith("Compare these independent assistant results for this task: " +
                                task.toUtf8() + ". Treat"));
}
