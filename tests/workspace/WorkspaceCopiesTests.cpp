// Team-run copies set up before their assistants start, each with its own environment and
// ports, the copies a quit cut short, and the sessions that come back after a restart.

#include "WorkspaceTestKit.h"

#include "core/assistants/AssistantTraits.h"
#include "core/runs/RunStore.h"
#include "core/workspace/PreferenceKeys.h"

#include <QFile>

using namespace testing_support;
using namespace std::chrono_literals;
using Phase = TeamRunController::CopyPhase;

namespace {

// Binds a server socket on $PORT, says so in $VELK_TEST_SIGNALS/bound-<copy index> with the
// copy's environment, holds the port until the test writes "release", then leaves a file as
// an installer would.
const QByteArray kServe = R"(import os, pathlib, socket, time
env = os.environ
server = socket.socket()
server.bind(("127.0.0.1", int(env["PORT"])))
server.listen()
signals = pathlib.Path(env["VELK_TEST_SIGNALS"])
fields = [env[name] for name in ("PORT", "VELK_PORT_BASE", "VELK_RUN_ID", "VELK_COPY_DIR")]
partial = signals / ("partial-" + env["VELK_COPY_INDEX"])
partial.write_text(" ".join(fields))
partial.rename(signals / ("bound-" + env["VELK_COPY_INDEX"]))
while not (signals / "release").exists():
    time.sleep(0.05)
pathlib.Path("installed.txt").write_text("installed")
)";

}  // namespace

class WorkspaceCopies : public WorkspaceTest {
protected:
    Workspace& openRunWorkspace(const TeamRunSettings& settings) {
        Workspace& model = openWorkspace();
        model.launcher.setSeparateCopies(true);
        model.teamRuns.setRunStorageRoot(scratch() + "/runs");
        EXPECT_TRUE(model.teamRuns.saveSettings(project(), settings));
        return model;
    }
    const TeamRun& startRun(Workspace& model, const QSet<QString>& assistants) {
        const qsizetype before = model.teamRuns.teamRuns().size();
        model.launcher.setSelectedProviders(assistants);
        model.launcher.setPrompt("task");
        model.launcher.dispatchPrompt();
        EXPECT_TRUE(waitUntil([&] { return model.teamRuns.teamRuns().size() == before + 1; }, 20s));
        return model.teamRuns.teamRuns().first();
    }
    bool waitForPhase(Workspace& model, std::size_t copy, Phase phase) {
        return waitUntil(
            [&] {
                return model.teamRuns.copyPhase(
                           model.teamRuns.teamRuns().first().copies.at(copy)) == phase;
            },
            20s);
    }
};

TEST_F(WorkspaceCopies, setupRunsInEachCopyWithItsOwnPortsAndWhatItMadeIsRecorded) {
    const QString signals = scratch() + "/signals";
    ASSERT_TRUE(QDir().mkpath(signals));
    ScopedEnvironment signalsDir("VELK_TEST_SIGNALS", signals.toLocal8Bit());
    ScopedEnvironment edit("VELK_FAKE_WRITE_FILE", "main.txt");
    ASSERT_TRUE(writeFile(projectFile("serve.py"), kServe));
    ASSERT_TRUE(writeFile(projectFile(".env"), "TOKEN=1"));
    ASSERT_TRUE(writeFile(projectFile(".env.production"), "TOKEN=2"));
    ASSERT_TRUE(writeFile(projectFile(".worktreeinclude"), ".env\n"));
    TeamRunSettings settings;
    settings.setupCommand = "python3 serve.py";
    Workspace& model = openRunWorkspace(settings);
    const TeamRun& run = startRun(model, {"claude", "codex"});

    // Both setups hold their servers at the same time: the ports differ.
    ASSERT_TRUE(waitUntil(
        [&] { return QFile::exists(signals + "/bound-1") && QFile::exists(signals + "/bound-2"); },
        20s));
    for (std::size_t copy = 0; copy < 2; ++copy) {
        EXPECT_EQ(model.teamRuns.copyPhase(run.copies.at(copy)), Phase::SettingUp);
        EXPECT_FALSE(run.copies.at(copy).session);
        const QStringList fields =
            QString::fromUtf8(readFile(signals + QStringLiteral("/bound-%1").arg(copy + 1)))
                .split(u' ');
        ASSERT_EQ(fields.size(), 4);
        EXPECT_EQ(fields[0].toInt(), *run.copies.at(copy).portBase);
        EXPECT_EQ(fields[1], fields[0]);
        EXPECT_EQ(fields[2], run.id.toString(QUuid::WithoutBraces).toUpper());
        EXPECT_EQ(fields[3], run.copies.at(copy).directory);
        EXPECT_EQ(run.copies.at(copy).extraFiles, QStringList{".env"});
        EXPECT_EQ(readFile(run.copies.at(copy).directory + "/.env"), "TOKEN=1");
    }
    EXPECT_NE(run.copies.at(0).portBase, run.copies.at(1).portBase);

    ASSERT_TRUE(writeFile(signals + "/release", ""));
    ASSERT_TRUE(waitForPhase(model, 0, Phase::Ended));
    ASSERT_TRUE(waitForPhase(model, 1, Phase::Ended));
    const RunCopy copy = model.teamRuns.teamRuns().first().copies.at(0);
    EXPECT_EQ(copy.setupExitCode, 0);
    EXPECT_EQ(copy.exitCode, 0);
    // What the setup made is told apart from the assistant's work (the review marks it:
    // CopySetupPage.filesTheSetupMadeAreMarkedAndOnlyTickedOneByOne).
    ASSERT_EQ(copy.madeBySetup.size(), 1U);
    EXPECT_EQ(copy.madeBySetup.begin()->first, "installed.txt");
}

TEST_F(WorkspaceCopies, aFailedOrTimedOutSetupHoldsTheAssistantUntilRetriedOrStartedAnyway) {
    TeamRunSettings settings;
    settings.setupCommand = "echo setting up; exit 3";
    Workspace& model = openRunWorkspace(settings);
    startRun(model, {"claude"});
    ASSERT_TRUE(waitForPhase(model, 0, Phase::SetupFailed));
    const TeamRun failed = model.teamRuns.teamRuns().first();
    EXPECT_EQ(failed.copies.at(0).setupExitCode, 3);
    EXPECT_FALSE(failed.copies.at(0).session);
    EXPECT_TRUE(model.teamRuns.runOutput(failed.copies.at(0), failed).contains("setting up"));

    model.teamRuns.retrySetup(failed.id, failed.copies.at(0).id);
    EXPECT_EQ(model.teamRuns.copyPhase(model.teamRuns.teamRuns().first().copies.at(0)),
              Phase::SettingUp);
    ASSERT_TRUE(waitForPhase(model, 0, Phase::SetupFailed));
    model.teamRuns.startWithoutSetup(failed.id, failed.copies.at(0).id);
    ASSERT_TRUE(waitForPhase(model, 0, Phase::Ended));
    EXPECT_EQ(model.teamRuns.teamRuns().first().copies.at(0).exitCode, 0);

    // A setup that outlives its time is stopped and recorded as timed out.
    settings.setupCommand = "sleep 600";
    settings.setupTimeoutSeconds = 1;
    ASSERT_TRUE(model.teamRuns.saveSettings(project(), settings));
    startRun(model, {"claude"});
    ASSERT_TRUE(waitForPhase(model, 0, Phase::SetupFailed));
    EXPECT_EQ(model.teamRuns.teamRuns().first().copies.at(0).setupExitCode,
              TeamRunController::kSetupTimedOut);
}

TEST_F(WorkspaceCopies, aCopyCutShortByAQuitIsInterruptedUntilRestarted) {
    const QString runs = scratch() + "/runs";
    {
        ScopedEnvironment hang("VELK_FAKE_HANG", "1");
        Workspace first(false, services());
        first.project.setFolder(project());
        first.teamRuns.setRunStorageRoot(runs);
        first.teamRuns.startTeamRun("task", {first.providers.provider("claude")}, project());
        ASSERT_TRUE(waitUntil(
            [&] {
                return !first.teamRuns.teamRuns().isEmpty() &&
                       first.teamRuns.copyRunning(first.teamRuns.teamRuns().first().copies[0]);
            },
            20s));
    }  // VELK goes away without the session's end being recorded.

    Workspace& model = openWorkspace();
    model.teamRuns.setRunStorageRoot(runs);
    model.teamRuns.loadTeamRuns();
    ASSERT_EQ(model.teamRuns.teamRuns().size(), 1);
    const TeamRun run = model.teamRuns.teamRuns().first();
    EXPECT_EQ(model.teamRuns.copyPhase(run.copies.at(0)), Phase::Interrupted);
    model.teamRuns.restartCopy(run.id, run.copies.at(0).id);
    EXPECT_EQ(model.teamRuns.copyPhase(model.teamRuns.teamRuns().first().copies.at(0)),
              Phase::Running);
    ASSERT_TRUE(waitForPhase(model, 0, Phase::Ended));
}

TEST_F(WorkspaceCopies, settingsAreKeptPerProjectAndTheProjectFileWinsForTeammates) {
    TeamRunSettings settings;
    settings.setupCommand = "npm ci";
    settings.extraFiles = {".env.local"};
    {
        Workspace mine(true, services());
        ASSERT_TRUE(mine.teamRuns.saveSettings(project(), settings));
        EXPECT_EQ(mine.teamRuns.settings(scratch()), TeamRunSettings());
    }
    EXPECT_FALSE(QFile::exists(TeamRunSettings::projectFile(project())));
    EXPECT_EQ(Workspace(true, services()).teamRuns.settings(project()), settings);

    settings.inProject = true;
    ASSERT_TRUE(Workspace(true, services()).teamRuns.saveSettings(project(), settings));
    MemoryPreferences teammate;
    Workspace theirs(true, WorkspaceServices{&teammate, &dialogs, &inhibitor, &desktop});
    EXPECT_EQ(theirs.teamRuns.settings(project()), settings);

    settings.inProject = false;
    ASSERT_TRUE(theirs.teamRuns.saveSettings(project(), settings));
    EXPECT_FALSE(QFile::exists(TeamRunSettings::projectFile(project())));
}

// After a crash the sessions are offered (the end-to-end restore test kills VELK for that);
// after a quit, which stops every session, they are listed all the same, and with the
// setting on they come back without a click.
TEST_F(WorkspaceCopies, sessionsStoppedByAQuitComeBackByThemselvesWhenRestoringIsAutomatic) {
    ScopedEnvironment data("XDG_DATA_HOME", (scratch() + "/data").toLocal8Bit());
    ScopedEnvironment hang("VELK_FAKE_HANG", "1");
    QString claudeSession;
    {
        Workspace first(true, services());
        first.project.setFolder(project());
        ASSERT_TRUE(first.launcher.launch(QString(), first.providers.provider("claude")));
        first.launcher.openTerminal();
        claudeSession = first.sessions.toolSessionID(first.sessions.sessions()[0]->id());
        first.sessions.stopAll();
        ASSERT_TRUE(waitUntil([&] { return !first.sessions.anyRunning(); }, 10s));
    }
    preferences.setValue(PreferenceKeys::restoreSessionsAutomatically, true);
    Workspace second(true, services());
    EXPECT_TRUE(second.sessionRestore.offered().isEmpty());
    const QList<SessionPointer> restored = second.sessions.sessions();
    ASSERT_EQ(restored.size(), 2);
    EXPECT_TRUE(restored[0]->command().endsWith(" --resume '" + claudeSession + "'"));
    EXPECT_TRUE(restored[0]->command().contains(
        AssistantTraits::of(QStringLiteral("claude")).commands.notifications));
    EXPECT_EQ(restored[1]->providerID(), kShellID);
    second.sessions.stopAll();
    waitUntil([&] { return !second.sessions.anyRunning(); }, 10s);
}
