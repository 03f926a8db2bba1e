// Sessions of the real assistant programs that come back after VELK went away without
// stopping them: each program restarts through its own resume form and shows the
// conversation it had, read from its own session files, against the local model server in a
// network namespace whose only interface is the loopback (run-isolated.sh).

#include "RealCliTestKit.h"
#include "core/terminal/TerminalScreen.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>

#include <list>

using namespace testing_support;
using namespace real_cli;
using namespace std::chrono_literals;

namespace {

QString squeezed(const SessionPointer& session) {
    return real_cli::squeezed(session->screen().plainText());
}

class RealAssistantRestore : public RealCliTest {};

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
