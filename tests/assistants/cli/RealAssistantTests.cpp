// The real assistant programs (Claude Code, Codex, Gemini CLI, at the versions of
// package-lock.json here) driven through VELK's own sessions, team runs and planner against
// the local model server (model_server.py), in a network namespace whose only interface is
// the loopback (run-isolated.sh). Each test gets a fresh home in which the programs'
// onboarding is done (prepare_home.py) and checks what the server received.

#include "RealCliTestKit.h"
#include "actions/PlannerTestKit.h"
#include "core/actions/ComputerPlanner.h"
#include "core/runs/RunFiles.h"
#include "core/runs/RunStore.h"
#include "core/terminal/TerminalScreen.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <iostream>
#include <list>
#include <memory>

using namespace testing_support;
using namespace real_cli;
using namespace std::chrono_literals;

namespace {

int nodeMajorVersion() {
    QProcess node;
    node.start("node", {"--version"});
    node.waitForFinished(10000);
    const auto found = QRegularExpression("^v(\\d+)").match(node.readAllStandardOutput());
    return found.hasMatch() ? found.captured(1).toInt() : 0;
}

QString screenText(const SessionPointer& session) {
    return session->screen().plainText();
}

// A planner host on the workspace's sessions, as the window's host is.
class SessionPlannerHost : public PlannerHost {
public:
    SessionPlannerHost(Workspace& workspace, QString plans)
        : m_workspace(workspace), m_plans(std::move(plans)) {}
    QMap<QString, QString> availableAssistants() const override {
        return m_workspace.providers.available();
    }
    QString connectionStatus(const QString& providerID) const override {
        return m_workspace.providers.connectionStatus().value(providerID);
    }
    QString plansFolder() const override { return m_plans; }
    QUuid startSession(const QString& providerID, const QString& title, const QString& command,
                       const QString& directory, FinishHandler onFinish) override {
        const SessionPointer session = m_workspace.sessions.startSession(
            providerID, title, command, directory, {},
            [onFinish](TerminalSession& finished) { onFinish(finished.exitCode()); });
        return session ? session->id() : QUuid();
    }
    void stopSession(const QUuid& id) override {
        if (const SessionPointer session = m_workspace.sessions.find(id)) {
            session->stop();
        }
    }
    void showSession(const QUuid&) override {}
    void showActionsPage() override {}

private:
    Workspace& m_workspace;
    QString m_plans;
};

}  // namespace

class RealAssistants : public RealCliTest {
protected:
    void SetUp() override {
        RealCliTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        m_assistants = {"claude", "codex"};
        if (nodeMajorVersion() >= 20) {
            m_assistants.insert("gemini");
        } else {
            std::cout << "Node.js is older than 20: Gemini CLI is left out.\n";
        }
    }

    // The bodies of the conversation requests the server received in `protocol`.
    QList<QByteArray> requests(const QString& protocol) const {
        QList<QByteArray> bodies;
        for (const QByteArray& line : readFile(requestLog()).split('\n')) {
            const QJsonObject entry = QJsonDocument::fromJson(line).object();
            const QString path = entry.value("path").toString();
            if (entry.value("protocol").toString() == protocol && !path.contains("count")) {
                bodies.append(QJsonDocument(entry.value("body").toObject()).toJson());
            }
        }
        return bodies;
    }
    bool received(const QString& protocol, const QByteArray& text) const {
        const QList<QByteArray> bodies = requests(protocol);
        return std::any_of(bodies.cbegin(), bodies.cend(),
                           [&](const QByteArray& body) { return body.contains(text); });
    }

    static QString protocolOf(const QString& assistant) {
        return assistant == "claude" ? "anthropic" : assistant == "codex" ? "openai" : "gemini";
    }

    // Starts one team run of `task` with the chosen assistants.
    TeamRun startRunInCopies(const QString& task) {
        Workspace& model = openWorkspace();
        model.launcher.setSeparateCopies(true);
        model.teamRuns.setRunStorageRoot(scratch() + "/runs");
        model.launcher.setSelectedProviders(m_assistants);
        model.launcher.setPrompt(task);
        model.launcher.dispatchPrompt();
        EXPECT_TRUE(waitUntil([&] { return !model.teamRuns.teamRuns().isEmpty(); }, 30s));
        return model.teamRuns.teamRuns().value(0);
    }
    // The run as recorded once every copy has finished.
    TeamRun runInCopies(const QString& task) {
        startRunInCopies(task);
        EXPECT_TRUE(waitForSessionsToFinish(120s));
        return workspace().teamRuns.teamRuns().value(0);
    }
    void expectFailedWithErrorShown(const RunCopy& copy, const TeamRun& run) {
        const QString output = workspace().teamRuns.runOutput(copy, run);
        EXPECT_FALSE(workspace().teamRuns.copyRunning(copy)) << copy.provider.toStdString();
        EXPECT_NE(copy.exitCode, std::optional<int>(0)) << copy.provider.toStdString() << ":\n"
                                                        << output.toStdString();
        EXPECT_TRUE(output.contains(QRegularExpression("error|Error|ERROR|failed|500")))
            << copy.provider.toStdString() << ":\n"
            << output.toStdString();
    }

    QSet<QString> m_assistants;
};

// One task in the shared folder: each program's own screen shows the answer, streamed
// slowly, and each program sent the task.
TEST_F(RealAssistants, aSharedFolderTaskStreamsEachAnswerIntoItsTerminal) {
    serve("slow");
    Workspace& model = openWorkspace();
    model.launcher.setSelectedProviders(m_assistants);
    model.launcher.setPrompt("Say something slowly");
    model.launcher.dispatchPrompt();
    ASSERT_EQ(model.sessions.sessions().size(), m_assistants.size());
    for (const SessionPointer& session : model.sessions.sessions()) {
        EXPECT_TRUE(waitUntil(
            [&] { return squeezed(screenText(session)).contains("slowlystreamedtotheend"); }, 90s))
            << session->providerID().toStdString() << ":\n"
            << screenText(session).toStdString();
    }
    for (const QString& assistant : m_assistants) {
        EXPECT_TRUE(received(protocolOf(assistant), "Say something slowly"))
            << assistant.toStdString();
    }
}

// A team run in separate copies: each program writes its file with its own file tool in
// its own copy, the review lists exactly that file, two results are applied to the
// project. Then Codex compares the results, reading only.
TEST_F(RealAssistants, separateCopiesAreEditedByEachProgramAndTwoResultsAreApplied) {
    serve("team");
    ASSERT_TRUE(writeFile(projectFile("README.md"), "the project\n"));
    const TeamRun run = runInCopies("Write the notes");
    ASSERT_EQ(run.copies.size(), m_assistants.size());
    for (const RunCopy& copy : run.copies) {
        const QString file = protocolOf(copy.provider) + ".txt";
        EXPECT_EQ(copy.exitCode, 0) << copy.provider.toStdString() << ":\n"
                                    << workspace().teamRuns.runOutput(copy, run).toStdString();
        const RunFiles::Review review =
            RunFiles::review(RunStore::baselineFolder(run), copy.directory);
        EXPECT_EQ(review.changes.size(), 1u) << copy.provider.toStdString();
        if (review.changes.size() != 1) {
            continue;
        }
        EXPECT_EQ(review.changes.front().path, file);
        EXPECT_EQ(review.changes.front().kind(), "Added");
        if (copy.provider != "gemini") {
            RunFiles::apply(review.changes, project(), copy.directory,
                            RunStore::newBackupFolder(run));
        }
        EXPECT_TRUE(received(protocolOf(copy.provider), "Write the notes"));
    }
    EXPECT_TRUE(readFile(projectFile("anthropic.txt")).startsWith("written through"));
    EXPECT_TRUE(readFile(projectFile("openai.txt")).startsWith("written through"));
    EXPECT_FALSE(QFileInfo::exists(projectFile("gemini.txt")));
    EXPECT_EQ(readFile(projectFile("README.md")), "the project\n");

    workspace().teamRuns.summarizeRun(run);
    const SessionPointer comparing = workspace().sessions.activeSession();
    ASSERT_TRUE(comparing);
    EXPECT_EQ(comparing->title(), "Compare team results");
    ASSERT_TRUE(waitForSessionsToFinish(90s));
    EXPECT_EQ(comparing->exitCode(), 0);
    EXPECT_TRUE(squeezed(screenText(comparing)).contains("ReviewtheClaudeCoderesultfirst"))
        << screenText(comparing).toStdString();
    EXPECT_TRUE(received("openai", "Compare these independent assistant results"));
}

// The desktop-action planner runs `codex exec --ignore-user-config` with its schema and
// validates the plan it writes; once Codex's status says it is signed out, the planner says
// so and starts nothing.
TEST_F(RealAssistants, theDesktopPlannerGetsAPlanFromCodex) {
    serve("plan");
    Workspace& model = openWorkspace();
    SessionPlannerHost host(model, scratch() + "/plans");
    ScriptedStepRunner runner;
    ComputerPlanner planner(host, runner, dialogs);
    planner.setTask("Note that we need milk");
    planner.prepare();
    ASSERT_TRUE(planner.planning());
    ASSERT_TRUE(waitUntil([&] { return !planner.planning(); }, 90s));
    ASSERT_TRUE(planner.plan().has_value()) << planner.message().toStdString();
    ASSERT_EQ(planner.plan()->steps.size(), 2);
    EXPECT_EQ(planner.plan()->steps[1].value, "Buy milk");
    EXPECT_TRUE(received("openai", "Note that we need milk"));
    EXPECT_TRUE(received("openai", "json_schema"));

    ASSERT_TRUE(QFile::remove(qEnvironmentVariable("CODEX_HOME") + "/auth.json"));
    model.providers.checkConnections();
    ASSERT_TRUE(waitUntil([&] { return !model.providers.checkingConnections(); }, 60s));
    ASSERT_EQ(model.providers.connectionStatus().value("codex"), "Sign in needed");
    const qsizetype sent = requests("openai").size();
    planner.setTask("Note that we need bread");
    planner.prepare();
    EXPECT_FALSE(planner.planning());
    EXPECT_TRUE(planner.message().contains("not signed in")) << planner.message().toStdString();
    processEventsFor(1s);
    EXPECT_EQ(requests("openai").size(), sent);
}

// A server that fails, drops the connection or is not there: every one-shot run and the
// planner end, with the program's own error on its screen.
TEST_F(RealAssistants, failingServersEndEveryRunWithTheProgramsErrorVisible) {
    for (const QString conversation : {"error-500", "drop"}) {
        SCOPED_TRACE(conversation.toStdString());
        serve(conversation);
        const TeamRun run = runInCopies("Do the failing task");
        for (const RunCopy& copy : run.copies) {
            expectFailedWithErrorShown(copy, run);
        }

        SessionPlannerHost host(workspace(), scratch() + "/plans");
        ScriptedStepRunner runner;
        ComputerPlanner planner(host, runner, dialogs);
        planner.setTask("Plan while failing");
        planner.prepare();
        EXPECT_TRUE(waitUntil([&] { return !planner.planning(); }, 90s));
        EXPECT_FALSE(planner.plan().has_value());
        EXPECT_TRUE(planner.message().contains("failed")) << planner.message().toStdString();
    }
}

// With nothing listening, every program gives up with its own error (Codex once its endless
// wait for the network is off, as prepare_home.py sets it), so every copy of the team run
// ends as failed, and the planner reports the failure.
TEST_F(RealAssistants, withNoServerEveryRunEndsWithTheProgramsError) {
    serve("answer");
    stopServer();
    startRunInCopies("Do the unanswered task");
    EXPECT_TRUE(waitForSessionsToFinish(60s));
    const TeamRun run = workspace().teamRuns.teamRuns().value(0);
    ASSERT_EQ(run.copies.size(), m_assistants.size());
    for (const RunCopy& copy : run.copies) {
        expectFailedWithErrorShown(copy, run);
    }

    SessionPlannerHost host(workspace(), scratch() + "/plans");
    ScriptedStepRunner runner;
    ComputerPlanner planner(host, runner, dialogs);
    planner.setTask("Plan without a server");
    planner.prepare();
    EXPECT_TRUE(waitUntil([&] { return !planner.planning(); }, 60s));
    EXPECT_FALSE(planner.plan().has_value());
    EXPECT_TRUE(planner.message().contains("failed")) << planner.message().toStdString();
}

// Interactive sessions against a failing server: each program shows its own error on its
// screen and is ready for the next task again, and its attention says so instead of
// "Working". Gemini CLI first asks whether to keep trying the server's error, which needs
// the user.
TEST_F(RealAssistants, interactiveSessionsShowTheServersErrorAndAreReadyAgain) {
    // Each program's own words for a failed request, the server's error or a dropped one.
    const QMap<QString, QString> errors = {
        {"claude", "● API Error: "},
        {"codex", "■ (We’re currently experiencing high demand|stream disconnected)"},
        {"gemini", "✕ \\[API Error:\\s"}};
    for (const QString conversation : {"error-500", "drop"}) {
        SCOPED_TRACE(conversation.toStdString());
        serve(conversation);
        Workspace& model = openWorkspace();
        model.launcher.setSelectedProviders(m_assistants);
        model.launcher.setPrompt("Answer the failing task");
        model.launcher.dispatchPrompt();
        ASSERT_EQ(model.sessions.sessions().size(), m_assistants.size());
        for (const SessionPointer& session : model.sessions.sessions()) {
            const QRegularExpression error(errors.value(session->providerID()));
            const auto state = [&] {
                const SessionAttention* attention = model.attention.attentionOf(session->id());
                return attention ? attention->state() : Attention::Exited;
            };
            // Gemini CLI asks whether to keep trying the server's error once its attempts
            // are spent (errors shown in full, prepare_home.py): the user stops it.
            if (conversation == "error-500" && session->providerID() == "gemini") {
                EXPECT_TRUE(waitUntil(
                    [&] {
                        return screenText(session).contains("Keep trying") &&
                               state() == Attention::NeedsInput;
                    },
                    60s))
                    << screenText(session).toStdString();
                session->send("2");
            }
            const auto ready = [&] {
                return error.match(screenText(session)).hasMatch() &&
                       (state() == Attention::Idle || state() == Attention::Exited ||
                        state() == Attention::Failed);
            };
            EXPECT_TRUE(waitUntil(ready, 60s)) << session->providerID().toStdString() << ":\n"
                                               << screenText(session).toStdString();
        }
        EXPECT_TRUE(received("anthropic", "Answer the failing task"));
        EXPECT_TRUE(received("openai", "Answer the failing task"));
    }
}
