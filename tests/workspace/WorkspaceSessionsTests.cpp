// Dispatching tasks, launching, closing and stopping sessions, and the file runner, all
// through real terminals running /bin/zsh and the fake assistant tools.

#include "WorkspaceTestKit.h"

#include "core/services/DesktopNotifications.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// The arguments a fake tool recorded: a count line, then each argument ending in NUL.
QStringList recordedArguments(const QString& file) {
    const QByteArray data = readFile(file);
    QStringList arguments;
    for (const QByteArray& argument : data.mid(data.indexOf('\n') + 1).split('\0')) {
        arguments.append(QString::fromUtf8(argument));
    }
    arguments.removeLast();  // after the final NUL
    return arguments;
}

// True while a process exists and is not a zombie waiting for its parent.
bool processAlive(int pid) {
    const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype end = stat.lastIndexOf(')');
    return end > 0 && stat.size() > end + 2 && stat.at(end + 2) != 'Z';
}

}  // namespace

class WorkspaceSessions : public WorkspaceTest {
protected:
    void dispatch(const QString& prompt, const QStringList& ids) {
        workspace().launcher.setSelectedProviders(QSet<QString>(ids.begin(), ids.end()));
        workspace().launcher.setPrompt(prompt);
        workspace().launcher.dispatchPrompt();
    }
    Provider provider(const QString& id) { return workspace().providers.provider(id); }
};

TEST_F(WorkspaceSessions, anInjectionPromptReachesTwoAssistantsAsOneLiteralArgument) {
    const QString records = scratch() + "/records";
    ASSERT_TRUE(QDir().mkpath(records));
    ScopedEnvironment record("VELK_FAKE_RECORD_DIR", records.toLocal8Bit());
    Workspace& model = openWorkspace();
    const QString prompt = "text ' ; $(touch SHOULD_NOT_EXIST)";
    dispatch("  \n" + prompt + "\n ", {"codex", "claude"});

    ASSERT_EQ(model.sessions.sessions().size(), 2);
    EXPECT_EQ(model.sessions.sessions().at(0)->providerID(), "claude");
    EXPECT_EQ(model.sessions.sessions().at(1)->providerID(), "codex");
    EXPECT_EQ(model.sessions.activeSessionID(), model.sessions.sessions().at(1)->id());
    EXPECT_EQ(model.launcher.prompt(), QString());
    EXPECT_EQ(model.notices.toast(), "Task sent to 2 assistants.");
    ASSERT_TRUE(waitForSessionsToFinish());

    // Each also gets the options that make it announce its state, for this session only.
    const QStringList claude = recordedArguments(records + "/claude.args");
    ASSERT_EQ(claude.size(), 3);
    EXPECT_EQ(claude[0], "--settings");
    EXPECT_TRUE(QJsonDocument::fromJson(claude[1].toUtf8()).object().contains("hooks"));
    EXPECT_EQ(claude[2], prompt);
    EXPECT_EQ(
        recordedArguments(records + "/codex.args"),
        QStringList({"-c", "tui.notifications=true", "-c", "tui.notification_method=osc9", "-c",
                     "tui.notification_condition=always", "--sandbox", "workspace-write", prompt}));
    EXPECT_FALSE(QFileInfo::exists(projectFile("SHOULD_NOT_EXIST")));
    EXPECT_FALSE(QFileInfo::exists(QDir::homePath() + "/SHOULD_NOT_EXIST"));
    for (const SessionPointer& session : model.sessions.sessions()) {
        EXPECT_EQ(session->exitCode(), 0);
        EXPECT_TRUE(session->screen().plainText().contains("_DONE"));
    }

    // One assistant: the singular notice, and the session works in the project.
    ScopedEnvironment write("VELK_FAKE_WRITE_FILE", "made-by-kimi.txt");
    dispatch("build it", {"kimi"});
    EXPECT_EQ(model.notices.toast(), "Task sent to 1 assistant.");
    ASSERT_EQ(model.sessions.sessions().size(), 3);
    EXPECT_EQ(model.sessions.sessions().last()->command(), "kimi --prompt 'build it'");
    ASSERT_TRUE(waitForSessionsToFinish());
    EXPECT_EQ(readFile(projectFile("made-by-kimi.txt")), "written by kimi\n");
    // The finish handling refreshed the listing.
    EXPECT_TRUE(model.project.files().contains(FileEntry{projectFile("made-by-kimi.txt"), false}));
}

TEST_F(WorkspaceSessions, dispatchWithoutAReadyAssistantOrWithABadTemplateStartsNothing) {
    Workspace& model = openWorkspace();
    for (const QStringList& ids :
         {QStringList(), QStringList{"shell"}, QStringList{"zai", "no-such-id"}}) {
        dispatch("task", ids);
        EXPECT_TRUE(model.sessions.sessions().isEmpty());
        EXPECT_EQ(model.launcher.prompt(), "task");
        EXPECT_EQ(model.notices.toast(), "Select at least one installed assistant.");
    }

    // A bad template among good ones stops the whole dispatch.
    Provider codex = provider("codex");
    codex.templateText = "codex \"{prompt}\"";
    model.providers.saveProvider(codex);
    dispatch("task", {"claude", "codex"});
    EXPECT_EQ(model.notices.toast(), codex.checkTemplate().error().message);
    codex.templateText = "codex --no-prompt";
    model.providers.saveProvider(codex);
    model.launcher.dispatchPrompt();
    EXPECT_EQ(model.notices.toast(), "Add {prompt} to Codex’s launch command to receive tasks.");

    // A whitespace-only prompt does nothing at all.
    model.notices.notify("before");
    dispatch(" \n\t", {"claude"});
    EXPECT_TRUE(model.sessions.sessions().isEmpty());
    EXPECT_EQ(model.notices.toast(), "before");
}

TEST_F(WorkspaceSessions, aTaskForAnAssistantThatNeedsSignInAsksFirstAndSignInOpensItsSignIn) {
    ScopedEnvironment signedOut("VELK_FAKE_CLAUDE_STATUS", "out");
    Workspace& model = openWorkspace();
    model.providers.checkConnections();
    ASSERT_TRUE(waitUntil([&] { return !model.providers.checkingConnections(); }));
    ASSERT_EQ(model.providers.connectionLabel(provider("claude")), "Sign in needed");

    dialogs.answerAlert("Cancel");
    dispatch("task", {"claude"});
    ASSERT_EQ(dialogs.alerts().size(), 1u);
    EXPECT_EQ(dialogs.alerts().back().message, "Claude Code needs sign-in.");
    EXPECT_EQ(dialogs.alerts().back().buttons, (QStringList{"Send anyway", "Sign in", "Cancel"}));
    EXPECT_TRUE(model.sessions.sessions().isEmpty());

    dialogs.answerAlert("Sign in");
    dispatch("task", {"claude"});
    ASSERT_EQ(model.sessions.sessions().size(), 1);
    EXPECT_EQ(model.launcher.prompt(), "task") << "the task waits for the sign-in";

    dialogs.answerAlert("Send anyway");
    dispatch("task", {"claude"});
    EXPECT_EQ(model.sessions.sessions().size(), 2);
}

TEST_F(WorkspaceSessions, theLongestTaskThatFitsRunsAndOneByteMoreStartsNothingAndStaysInTheBox) {
    const QString records = scratch() + "/records";
    ASSERT_TRUE(QDir().mkpath(records));
    ScopedEnvironment record("VELK_FAKE_RECORD_DIR", records.toLocal8Bit());
    Workspace& model = openWorkspace();
    // The whole `zsh -c` line counts, in UTF-8, with every quote spliced as four bytes.
    QString task = QString("it's é ").repeated(2000);
    task += QString(maximumCommandBytes() - provider("claude").command(task).toUtf8().size(), u'x');
    dispatch(task, {"claude"});
    EXPECT_EQ(model.notices.toast(), "Task sent to 1 assistant.");
    ASSERT_TRUE(waitForSessionsToFinish());
    ASSERT_EQ(model.sessions.sessions().size(), 1);
    EXPECT_EQ(model.sessions.sessions().first()->exitCode(), 0);
    EXPECT_EQ(recordedArguments(records + "/claude.args").last(), task);

    // One byte more: the first assistant it is too long for is named, and nothing starts,
    // also not the other one.
    task += u'x';
    dispatch(task, {"codex", "claude"});
    EXPECT_EQ(model.sessions.sessions().size(), 1);
    EXPECT_EQ(model.launcher.prompt(), task);
    EXPECT_EQ(model.notices.toast(),
              "This task is too long to pass to Claude Code (129 KB; the limit is 128 KB). Put "
              "the details in a file in the project and refer to it.");
    // Codex's line is shorter: one byte more than fits it.
    task +=
        QString(maximumCommandBytes() + 1 - provider("codex").command(task).toUtf8().size(), u'x');
    EXPECT_FALSE(model.launcher.launch(task, provider("codex")));
    EXPECT_EQ(model.sessions.sessions().size(), 1);
    EXPECT_TRUE(
        model.notices.toast().startsWith("This task is too long to pass to Codex (129 KB;"));
}

TEST_F(WorkspaceSessions, launchTitlesSessionsByPromptOrProviderAndOpensTheEditorWhenNotReady) {
    Workspace& model = openWorkspace();
    const QString longPrompt(100, u'p');
    model.launcher.launch(longPrompt, provider("claude"));
    model.launcher.launch(QString(), provider("claude"));
    ASSERT_EQ(model.sessions.sessions().size(), 2);
    EXPECT_EQ(model.sessions.sessions().at(0)->title(), longPrompt.left(52));
    EXPECT_EQ(model.sessions.sessions().at(1)->title(), "Claude Code session");
    EXPECT_EQ(model.sessions.sessions().at(1)->command(), provider("claude").command(QString()));

    model.launcher.launch("task", provider("zai"));
    ASSERT_TRUE(requestedConnector);
    EXPECT_EQ(requestedConnector->id, "zai");
    model.launcher.launch("task", provider("shell"));
    EXPECT_EQ(model.notices.toast(), "Add {prompt} to Terminal’s launch command to receive tasks.");
    EXPECT_EQ(model.sessions.sessions().size(), 2);
}

TEST_F(WorkspaceSessions, closingARunningSessionAsksAndCancelKeepsIt) {
    ScopedEnvironment hang("VELK_FAKE_HANG", "1");
    Workspace& model = openWorkspace();
    model.launcher.launch(QString(), provider("claude"));
    model.launcher.launch(QString(), provider("codex"));
    const SessionPointer first = model.sessions.sessions().at(0);
    const SessionPointer second = model.sessions.sessions().at(1);
    ASSERT_TRUE(
        waitUntil([&] { return second->screen().plainText().contains("FAKE_codex_DONE"); }));

    dialogs.answerAlert("Cancel");
    model.sessions.closeSession(second);
    ASSERT_EQ(dialogs.alerts().size(), 1u);
    EXPECT_EQ(dialogs.alerts().front().message, "Stop this session?");
    EXPECT_EQ(dialogs.alerts().front().buttons, QStringList({"Stop session", "Cancel"}));
    EXPECT_EQ(model.sessions.sessions().size(), 2);
    EXPECT_TRUE(second->running());

    dialogs.answerAlert("Stop session");
    model.sessions.closeSession(second);
    EXPECT_EQ(model.sessions.sessions(), QList<SessionPointer>{first});
    EXPECT_EQ(model.sessions.activeSessionID(), first->id());
    EXPECT_EQ(model.sessions.closingSessions(), QList<SessionPointer>{second});
    ASSERT_TRUE(waitUntil([&] { return model.sessions.closingSessions().isEmpty(); }));
    ASSERT_EQ(model.history.history().size(), 1);
    EXPECT_EQ(model.history.history().first().title, "Codex session");
    EXPECT_NE(model.history.history().first().exitCode, 0);

    // Closing the last one leaves no active session; a finished one closes without asking.
    dialogs.answerAlert("Stop session");
    model.sessions.closeSession(first);
    EXPECT_TRUE(model.sessions.sessions().isEmpty());
    EXPECT_EQ(model.sessions.activeSessionID(), std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return model.sessions.closingSessions().isEmpty(); }));
    model.project.setRunnerCommand("exit 0");
    model.launcher.runCommand();
    ASSERT_TRUE(waitForSessionsToFinish());
    model.sessions.closeSession(model.sessions.sessions().first());
    EXPECT_EQ(dialogs.alerts().size(), 3u);
    EXPECT_TRUE(model.sessions.sessions().isEmpty());
}

TEST_F(WorkspaceSessions, stopAllEndsEverySessionTogetherWithTheProcessesItStarted) {
    Workspace& model = openWorkspace();
    model.project.setRunnerCommand("sleep 300 & echo $! >> children; wait");
    model.launcher.runCommand();
    model.launcher.runCommand();
    ASSERT_EQ(model.sessions.sessions().size(), 2);
    QList<int> children;
    ASSERT_TRUE(waitUntil([&] {
        children.clear();
        for (const QByteArray& line : readFile(projectFile("children")).split('\n')) {
            if (line.toInt() > 0) {
                children.append(line.toInt());
            }
        }
        return children.size() == 2;
    }));
    for (int child : children) {
        ASSERT_TRUE(processAlive(child));
    }

    model.sessions.stopAll();
    ASSERT_TRUE(waitForSessionsToFinish(5s));
    for (int child : children) {
        EXPECT_TRUE(waitUntil([&] { return !processAlive(child); }, 3s)) << child;
    }
    EXPECT_EQ(model.sessions.sessions().size(), 2);  // stopping closes nothing
    EXPECT_EQ(model.history.history().size(), 2);
}

TEST_F(WorkspaceSessions, runFileSavesFirstAndRunsPythonKeepingItsExitStatus) {
    Workspace& model = openWorkspace();
    ASSERT_TRUE(writeFile(projectFile("tool.py"), "print('old')\n"));
    model.project.openFile(FileEntry{projectFile("tool.py"), false});
    const QString script = "import sys\nprint('RUN' + '_MARKER')\nsys.exit(3)\n";
    model.project.setEditorText(script);
    model.launcher.runFile();

    EXPECT_EQ(readFile(projectFile("tool.py")), script.toUtf8());
    EXPECT_FALSE(model.project.fileIsDirty());
    ASSERT_EQ(model.sessions.sessions().size(), 1);
    const SessionPointer session = model.sessions.sessions().first();
    EXPECT_EQ(session->directory(), project());  // (its title: the Files page test)
    ASSERT_TRUE(waitForSessionsToFinish());
    EXPECT_EQ(session->exitCode(), 3);
    EXPECT_TRUE(session->screen().plainText().contains("RUN_MARKER"));
}

TEST_F(WorkspaceSessions, exportingWritesTheTextAtomicallyAndReportsTheOutcome) {
    Workspace& model = openWorkspace();
    model.project.setRunnerCommand("echo EXPORT_MARKER");
    model.launcher.runCommand();
    ASSERT_TRUE(waitForSessionsToFinish());

    dialogs.answerSave(std::nullopt);
    model.project.exportSession(*model.sessions.sessions().first());
    ASSERT_EQ(dialogs.savePanels().size(), 1u);
    EXPECT_EQ(dialogs.savePanels().front().proposedName, "VELK-shell-session.txt");

    const QString target = scratch() + "/exported.txt";
    dialogs.answerSave(target);
    model.project.exportSession(*model.sessions.sessions().first());
    EXPECT_TRUE(readFile(target).contains("EXPORT_MARKER"));
    EXPECT_EQ(model.notices.toast(), "Exported exported.txt.");

    dialogs.answerSave(scratch() + "/missing-folder/out.txt");
    model.project.exportText("text", "VELK-session.txt");
    EXPECT_TRUE(model.notices.toast().contains("out.txt"));
    EXPECT_FALSE(model.notices.toast().startsWith("Exported"));
}

namespace {

class RecordingNotifications : public DesktopNotifications {
public:
    bool available() const override { return true; }
    bool notify(const QString& key, const QString& summary, const QString& body,
                const QString&) override {
        shown.push_back({key, summary, body});
        return true;
    }
    struct Shown {
        QString key, summary, body;
    };
    std::vector<Shown> shown;
};

}  // namespace

TEST_F(WorkspaceSessions,
       aSessionThatAsksIsCountedAndToldOnceWhileTheWindowIsAwayAndShowBringsItUp) {
    Workspace& model = openWorkspace();
    RecordingNotifications notifications;
    AttentionBoard& board = model.attention;
    board.setNotifications(&notifications);
    board.setWindowActive(false);
    std::optional<QUuid> shownSession;
    QObject::connect(&board, &AttentionBoard::showRequested,
                     [&](const QUuid& id) { shownSession = id; });

    const SessionPointer session = model.sessions.startSession(
        QStringLiteral("claude"), QStringLiteral("Claude"),
        QStringLiteral("printf 'Edit app.py\\nDo you want to proceed?\\n'; read a; "
                       "printf 'editing\\n'; sleep 1; printf '\\033[2J\\033[H> \\n'; read b"),
        project());
    ASSERT_TRUE(waitUntil([&] { return board.needingYou() == 1; }));
    ASSERT_EQ(notifications.shown.size(), 1u);
    EXPECT_EQ(notifications.shown[0].summary,
              model.providers.provider("claude").name + " needs you");
    EXPECT_TRUE(notifications.shown[0].body.endsWith("Do you want to proceed?"));

    session->send(QStringLiteral("y\r"));
    ASSERT_TRUE(
        waitUntil([&] { return board.attentionOf(session->id())->state() == Attention::Idle; }));
    EXPECT_EQ(board.needingYou(), 0);
    ASSERT_EQ(notifications.shown.size(), 2u);
    EXPECT_TRUE(notifications.shown[1].summary.endsWith(" finished"));

    Q_EMIT notifications.activated(notifications.shown[1].key);
    EXPECT_EQ(shownSession, session->id());

    // Off, or with the window active, nothing more is told.
    board.setNotificationsEnabled(false);
    session->send(QStringLiteral("\r"));
    ASSERT_TRUE(waitForSessionsToFinish());
    EXPECT_EQ(notifications.shown.size(), 2u);

    // History names the assistant and keeps what the session showed before it ended.
    ASSERT_TRUE(waitUntil([&] { return !model.history.history().isEmpty(); }));
    EXPECT_EQ(model.history.history().first().assistant, model.providers.provider("claude").name);
    EXPECT_EQ(model.history.history().first().state, "Done");
}
