// Sessions of the real assistant programs that come back after VELK went away without
// stopping them: each program restarts through its own resume form and shows the
// conversation it had, read from its own session files, against the local model server in a
// network namespace whose only interface is the loopback (run-isolated.sh).

#include "core/terminal/TerminalScreen.h"
#include "workspace/WorkspaceTestKit.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>

#include <list>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

QString cliFolder() {
    const QString chosen = qEnvironmentVariable("VELK_ASSISTANT_CLIS");
    return chosen.isEmpty() ? QStringLiteral(VELK_ASSISTANT_CLIS) : chosen + "/node_modules/.bin";
}

QString fixture(const QString& name) {
    return QStringLiteral(VELK_ASSISTANT_CLI_FIXTURES "/") + name;
}

// The screen's text without blanks or line ends, which the programs' layouts move about.
QString squeezed(const SessionPointer& session) {
    return session->screen().plainText().remove(QRegularExpression("\\s"));
}

class RealAssistantRestore : public WorkspaceTest {
protected:
    void SetUp() override {
        WorkspaceTest::SetUp();
        if (qEnvironmentVariable("VELK_ASSISTANTS_ISOLATED") != "1") {
            GTEST_SKIP() << "Not inside a network namespace of its own (run-isolated.sh starts "
                            "one): the real assistant programs are not run.";
        }
        if (!QFileInfo(cliFolder() + "/claude").isExecutable()) {
            GTEST_SKIP() << "The pinned assistant programs are not installed in "
                         << cliFolder().toStdString() << ": `make deps` installs them.";
        }
    }
    void TearDown() override {
        WorkspaceTest::TearDown();
        if (m_server.state() != QProcess::NotRunning) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
    }

    // The model server on `conversation`, and the home that points the programs at it.
    void serve(const QString& conversation) {
        const QString portFile = scratch() + "/port";
        m_server.setProcessChannelMode(QProcess::ForwardedChannels);
        m_server.start("python3", {fixture("model_server.py"),
                                   fixture("conversations/" + conversation + ".json"),
                                   scratch() + "/requests.jsonl", portFile});
        ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(portFile); }, 20s));
        QProcess prepare;
        prepare.start("python3", {fixture("prepare_home.py"), scratch() + "/home",
                                  "http://127.0.0.1:" + QString::fromUtf8(readFile(portFile)),
                                  cliFolder(), project()});
        ASSERT_TRUE(prepare.waitForFinished(30000));
        ASSERT_EQ(prepare.exitCode(), 0) << prepare.readAllStandardError().toStdString();
        for (const QByteArray& line : prepare.readAllStandardOutput().split('\n')) {
            const qsizetype equals = line.indexOf('=');
            if (equals > 0) {
                m_names.push_back(line.left(equals));
                m_environment.push_back(std::make_unique<ScopedEnvironment>(
                    m_names.back().constData(), line.mid(equals + 1)));
            }
        }
    }

    QProcess m_server;
    std::list<QByteArray> m_names;  // before the variables, which keep pointers into it
    std::vector<std::unique_ptr<ScopedEnvironment>> m_environment;
};

}  // namespace

// Each program by its own conversation id: Claude Code and Gemini CLI by the one VELK gave
// them, Codex by the one VELK read from its rollout file, so that two sessions of one program
// in one folder, started one after the other, each reopen their own. Each resumed screen
// shows the task of the first start, which no restart command carries, and not the other's.
TEST_F(RealAssistantRestore, eachProgramResumesItsOwnConversationAfterVelkWentAway) {
    serve("answer");
    ScopedEnvironment data("XDG_DATA_HOME", (scratch() + "/data").toLocal8Bit());
    const QStringList programs{"claude", "codex", "gemini"};
    {
        Workspace first(true, services());
        first.launcher.setSeparateCopies(false);
        first.project.setFolder(project());
        first.launcher.setSelectedProviders({programs.cbegin(), programs.cend()});
        first.launcher.setPrompt("Remember the pelican");
        first.launcher.dispatchPrompt();
        const auto answered = [&] {
            for (const SessionPointer& session : first.sessions.sessions()) {
                EXPECT_TRUE(waitUntil(
                    [&] { return squeezed(session).contains("Hellofromthescriptedmodel"); }, 90s))
                    << session->providerID().toStdString() << ":\n"
                    << session->screen().plainText().toStdString();
            }
        };
        answered();
        for (const QString& program : programs) {
            ASSERT_TRUE(
                first.launcher.launch("Remember the heron", first.providers.provider(program)));
        }
        ASSERT_EQ(first.sessions.sessions().size(), 6);
        answered();
        QSet<QString> ids;
        for (const SessionPointer& session : first.sessions.sessions()) {
            EXPECT_TRUE(waitUntil(
                [&] { return !first.sessions.toolSessionID(session->id()).isEmpty(); }, 30s))
                << session->providerID().toStdString();
            ids.insert(first.sessions.toolSessionID(session->id()));
        }
        EXPECT_EQ(ids.size(), 6);
    }  // gone without a clean shutdown

    Workspace& second = createWorkspace(true);
    ASSERT_EQ(second.sessionRestore.offered().size(), 6);
    second.sessionRestore.restore();
    ASSERT_EQ(second.sessions.sessions().size(), 6);
    for (const SessionPointer& session : second.sessions.sessions()) {
        const bool heron = session->title().contains("heron");
        const QString own = heron ? "heron" : "pelican";
        EXPECT_EQ(session->directory(), project());
        EXPECT_FALSE(session->command().contains(own));
        EXPECT_TRUE(waitUntil([&] { return squeezed(session).contains("Rememberthe" + own); }, 90s))
            << session->providerID().toStdString() << ":\n"
            << session->screen().plainText().toStdString();
        EXPECT_FALSE(squeezed(session).contains(heron ? "pelican" : "heron"))
            << session->screen().plainText().toStdString();
    }
}
