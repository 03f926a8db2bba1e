// Sessions that come back after VELK was killed. The built velk program runs as a process of
// its own (fresh home and XDG folders, the stand-in assistants on PATH, the test's X display)
// and is driven with X11 key events as a user would: a task run in two assistants in one
// folder, then another folder opened and a terminal started there. It is then killed with
// SIGKILL, so nothing but what it wrote while running survives. VELK is started again on
// the same folders, built as the application builds it, and the restore notice of its
// window is read and clicked.
#include "E2eSupport.h"
#include "PrivateDisplay.h"
#include "app/VelkApplication.h"
#include "core/app/CommandLine.h"
#include "core/services/Preferences.h"
#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/Workspace.h"
#include "support/TestSupport.h"
#include "ui/window/MainWindow.h"
#include "ui/workspace/RestoreBar.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;
using testing_support::waitUntil;

namespace {

class RestoreAfterKill : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PrivateDisplay::current()) {
            GTEST_SKIP() << "needs a private X display with a window manager";
        }
        ASSERT_TRUE(m_home.ready());
        // The stand-ins stay running after their marker, as an assistant waiting for the
        // user does.
        m_home.environment.insert("VELK_FAKE_HANG", "1");
    }

    void TearDown() override {
        if (m_app) {
            m_app->workspace()->sessions.stopAll();
            waitUntil([&] { return !m_app->workspace()->sessions.anyRunning(); }, 10s);
            m_app.reset();
        }
    }

    QString path(const QString& relative) const { return m_home.path(relative); }

    // The sessions the running program has listed as open so far.
    QJsonArray journal() const {
        return QJsonDocument::fromJson(
                   testing_support::readFile(path("data/Kelo AI/open-sessions.json")))
            .array();
    }

    // The same home for the started program and for the start inside this test.
    VelkHome m_home;
    VelkProcess m_velk{m_home};
    std::unique_ptr<VelkApplication> m_app;
};

TEST_F(RestoreAfterKill, twoAssistantsAndAShellOpenWhenVelkWasKilledComeBackInTheirFolders) {
    const QString assistants = path("assistants folder");
    const QString shells = path("shell folder");
    const QString elsewhere = path("next project");
    for (const QString& folder : {assistants, shells, elsewhere}) {
        ASSERT_TRUE(QDir().mkpath(folder));
    }
    ASSERT_NO_FATAL_FAILURE(m_velk.start(VELK_EXECUTABLE, {"--workspace", assistants}));

    // The task goes to the two ticked assistants in the shared folder (Shift+Tab reaches the
    // working-mode choice before the task field).
    m_velk.type("Keep going");
    m_velk.press("shift+Tab");
    m_velk.press("space");
    m_velk.press("Tab");
    m_velk.press("ctrl+Return");
    ASSERT_TRUE(waitUntil([&] { return journal().size() == 2; }, 30s))
        << QJsonDocument(journal()).toJson().toStdString();
    // The last started terminal holds the focus: window commands take Control+Shift there.
    // Another folder is opened through the folder dialog and a terminal started in it.
    m_velk.press("ctrl+shift+o");
    const auto focusedIs = [&](bool mainWindow) {
        const std::optional<X11Windows::Window> focused = X11Windows::focusedWindow();
        return m_velk.hasFocus() && (focused->id == m_velk.window->id) == mainWindow;
    };
    ASSERT_TRUE(waitUntil([&] { return focusedIs(false); }, 10s)) << "no folder dialog";
    m_velk.type(shells);
    m_velk.press("Return");
    ASSERT_TRUE(waitUntil([&] { return focusedIs(true); }, 10s));
    // New Terminal is Control+N where the focus came back to, Control+Shift+N if that was
    // the terminal; each is pressed while no third session is listed yet.
    for (int round = 0; round < 3 && journal().size() == 2; ++round) {
        for (const char* keys : {"ctrl+n", "ctrl+shift+n"}) {
            if (journal().size() == 2) {
                m_velk.press(keys);
                waitUntil([&] { return journal().size() == 3; }, 3s);
            }
        }
    }
    ASSERT_EQ(journal().size(), 3) << QJsonDocument(journal()).toJson().toStdString();

    const QJsonArray open = journal();
    QString claudeConversation;
    for (const QJsonValue& entry : open) {
        if (entry["provider"].toString() == "claude") {
            claudeConversation = entry["toolSession"].toString();
        }
    }
    ASSERT_FALSE(claudeConversation.isEmpty()) << QJsonDocument(open).toJson().toStdString();
    ::kill(pid_t(m_velk.process.processId()), SIGKILL);
    ASSERT_TRUE(m_velk.process.waitForFinished(10000));
    ASSERT_EQ(m_velk.process.exitStatus(), QProcess::CrashExit);

    // Started again, on another project: nothing runs until the notice is accepted.
    m_home.apply();
    CommandLine commandLine;
    commandLine.workspace = elsewhere;
    m_app = std::make_unique<VelkApplication>(commandLine, std::make_unique<SettingsPreferences>());
    m_app->launch();
    ASSERT_TRUE(m_app->window());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_app->window()));
    SessionManager& sessions = m_app->workspace()->sessions;
    EXPECT_TRUE(sessions.sessions().isEmpty());
    auto* notice = m_app->window()->findChild<RestoreBar*>();
    ASSERT_TRUE(notice);
    ASSERT_TRUE(notice->isVisible());
    QPushButton* accept = nullptr;
    for (QPushButton* button : notice->findChildren<QPushButton*>()) {
        if (button->text() == "Restore 3 sessions") {
            accept = button;
        }
    }
    ASSERT_TRUE(accept);
    QTest::mouseClick(accept, Qt::LeftButton);
    EXPECT_FALSE(notice->isVisible());

    ASSERT_EQ(sessions.sessions().size(), 3);
    QMap<QString, SessionPointer> restored;
    for (const SessionPointer& session : sessions.sessions()) {
        restored.insert(session->providerID(), session);
    }
    ASSERT_EQ(restored.keys(), QStringList({"claude", "codex", "shell"}));
    const QMap<QString, QString> folders{
        {"claude", assistants}, {"codex", assistants}, {"shell", shells}};
    // The stand-ins print each argument as ARGn=; the resume form follows the options that
    // turn the tool's own notifications on.
    const QMap<QString, QStringList> markers{
        {"claude", {"FAKE_claude_RESUMED", "=--resume\nARG", "=" + claudeConversation + "\n"}},
        {"codex", {"FAKE_codex_RESUMED", "=resume\nARG", "=--last\n"}}};
    for (const auto& [provider, session] : restored.asKeyValueRange()) {
        EXPECT_EQ(session->directory(), folders[provider]) << provider.toStdString();
        // What runs there now: the marker of its resume form, its working folder.
        if (markers.contains(provider)) {
            EXPECT_TRUE(waitUntil(
                [&] {
                    const QString text = session->screen().plainText();
                    return std::all_of(
                        markers[provider].cbegin(), markers[provider].cend(),
                        [&](const QString& marker) { return text.contains(marker); });
                },
                10s))
                << session->screen().plainText().toStdString();
        }
        ASSERT_TRUE(session->running()) << provider.toStdString();
        EXPECT_EQ(QFile::symLinkTarget(QStringLiteral("/proc/%1/cwd").arg(session->pid())),
                  QDir(folders[provider]).canonicalPath())
            << provider.toStdString();
    }
}

}  // namespace
