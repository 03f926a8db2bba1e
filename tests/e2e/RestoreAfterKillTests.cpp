// Sessions that come back after VELK was killed. The built velk program runs as a process of
// its own (fresh home and XDG folders, the stand-in assistants on PATH, the test's X display)
// and is driven with X11 key events as a user would: a task run in two assistants in one
// folder, then another folder opened and a terminal started there. It is then killed with
// SIGKILL, so nothing but what it wrote while running survives. VELK is started again on
// the same folders, built as the application builds it, and the restore notice of its
// window is read and clicked.
#include "PrivateDisplay.h"
#include "app/VelkApplication.h"
#include "core/app/CommandLine.h"
#include "core/services/Preferences.h"
#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/Workspace.h"
#include "platform/KeyboardSynthesis.h"
#include "platform/X11Windows.h"
#include "support/TestSupport.h"
#include "ui/window/MainWindow.h"
#include "ui/workspace/RestoreBar.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

// Readable texts in failure messages.
void PrintTo(const QString& text, std::ostream* stream) {
    *stream << '"' << text.toStdString() << '"';
}

using namespace std::chrono_literals;
using testing_support::readFile;
using testing_support::waitUntil;
using testing_support::writeFile;

namespace {

class RestoreAfterKill : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PrivateDisplay::current()) {
            GTEST_SKIP() << "needs a private X display with a window manager";
        }
        ASSERT_TRUE(m_scratch.isValid());
        for (const char* folder : {"home", "config", "data", "cache", "runtime", "tmp"}) {
            ASSERT_TRUE(QDir().mkpath(path(folder)));
        }
        QFile::setPermissions(path("runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        ASSERT_TRUE(writeFile(path("home/.zshenv"), {}));
        m_savedPath = qgetenv("PATH");
        // The same for the started program and for the start inside this test.
        m_environment = {
            {"HOME", path("home")},
            {"XDG_CONFIG_HOME", path("config")},
            {"XDG_DATA_HOME", path("data")},
            {"XDG_CACHE_HOME", path("cache")},
            {"XDG_RUNTIME_DIR", path("runtime")},
            {"TMPDIR", path("tmp")},
            {"PATH", testing_support::fixturesBin() + ':' + QString::fromLocal8Bit(m_savedPath)},
            {"VELK_RESOURCES", VELK_SOURCE_DIR "/resources"},
            {"VELK_FAKE_CLAUDE_STATUS", "in"},
            {"VELK_FAKE_CODEX_STATUS", "chatgpt"},
            // The stand-ins stay running after their marker, as an assistant waiting for
            // the user does.
            {"VELK_FAKE_HANG", "1"},
        };
    }

    void TearDown() override {
        if (m_velk.state() != QProcess::NotRunning) {
            m_velk.kill();
            m_velk.waitForFinished(5000);
        }
        if (m_app) {
            m_app->workspace()->sessions.stopAll();
            waitUntil([&] { return !m_app->workspace()->sessions.anyRunning(); }, 10s);
            m_app.reset();
        }
        for (auto it = m_environment.cbegin(); it != m_environment.cend(); ++it) {
            qunsetenv(it.key().toUtf8());
        }
        qputenv("PATH", m_savedPath);
    }

    QString path(const QString& relative) const { return m_scratch.filePath(relative); }

    bool velkHasFocus() const {
        const std::optional<X11Windows::Window> focused = X11Windows::focusedWindow();
        return focused && focused->pid == m_velk.processId();
    }

    void press(const QString& keys) {
        const Result<void> pressed =
            KeyboardSynthesis::pressKeys(keys, [this] { return velkHasFocus(); });
        ASSERT_TRUE(pressed) << keys.toStdString() << ": " << pressed.error().message.toStdString();
    }

    void type(const QString& text) {
        const Result<void> typed =
            KeyboardSynthesis::typeText(text, [this] { return velkHasFocus(); });
        ASSERT_TRUE(typed) << typed.error().message.toStdString();
    }

    // The sessions the running program has listed as open so far.
    QJsonArray journal() const {
        return QJsonDocument::fromJson(readFile(path("data/Kelo AI/open-sessions.json"))).array();
    }

    std::optional<X11Windows::Window> windowOf(qint64 pid) const {
        for (const X11Windows::Window& window : X11Windows::clientWindows()) {
            if (window.pid == pid) {
                return window;
            }
        }
        return std::nullopt;
    }

    QTemporaryDir m_scratch;
    QByteArray m_savedPath;
    QMap<QString, QString> m_environment;
    QProcess m_velk;
    std::unique_ptr<VelkApplication> m_app;
};

TEST_F(RestoreAfterKill, twoAssistantsAndAShellOpenWhenVelkWasKilledComeBackInTheirFolders) {
    const QString assistants = path("assistants folder");
    const QString shells = path("shell folder");
    const QString elsewhere = path("next project");
    for (const QString& folder : {assistants, shells, elsewhere}) {
        ASSERT_TRUE(QDir().mkpath(folder));
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (auto it = m_environment.cbegin(); it != m_environment.cend(); ++it) {
        environment.insert(it.key(), it.value());
    }
    environment.insert("DISPLAY", PrivateDisplay::current()->name());
    environment.insert("QT_QPA_PLATFORM", "xcb");
    m_velk.setProcessEnvironment(environment);
    m_velk.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_velk.start(VELK_EXECUTABLE, {"--workspace", assistants});
    ASSERT_TRUE(m_velk.waitForStarted(10000)) << m_velk.errorString().toStdString();
    std::optional<X11Windows::Window> window;
    ASSERT_TRUE(waitUntil([&] { return (window = windowOf(m_velk.processId())).has_value(); }, 30s))
        << "no window of the started program";
    X11Windows::activate(window->id);
    ASSERT_TRUE(waitUntil([&] { return velkHasFocus(); }));

    // The task goes to the two ticked assistants in the shared folder (Shift+Tab reaches the
    // working-mode choice before the task field).
    type("Keep going");
    press("shift+Tab");
    press("space");
    press("Tab");
    press("ctrl+Return");
    ASSERT_TRUE(waitUntil([&] { return journal().size() == 2; }, 30s))
        << QJsonDocument(journal()).toJson().toStdString();
    // The last started terminal holds the focus: window commands take Control+Shift there.
    // Another folder is opened through the folder dialog and a terminal started in it.
    press("ctrl+shift+o");
    const auto focusedIs = [&](bool mainWindow) {
        const std::optional<X11Windows::Window> focused = X11Windows::focusedWindow();
        return velkHasFocus() && (focused->id == window->id) == mainWindow;
    };
    ASSERT_TRUE(waitUntil([&] { return focusedIs(false); }, 10s)) << "no folder dialog";
    type(shells);
    press("Return");
    ASSERT_TRUE(waitUntil([&] { return focusedIs(true); }, 10s));
    // New Terminal is Control+N where the focus came back to, Control+Shift+N if that was
    // the terminal; each is pressed while no third session is listed yet.
    for (int round = 0; round < 3 && journal().size() == 2; ++round) {
        for (const char* keys : {"ctrl+n", "ctrl+shift+n"}) {
            if (journal().size() == 2) {
                press(keys);
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
    ::kill(pid_t(m_velk.processId()), SIGKILL);
    ASSERT_TRUE(m_velk.waitForFinished(10000));
    ASSERT_EQ(m_velk.exitStatus(), QProcess::CrashExit);

    // Started again, on another project: nothing runs until the notice is accepted.
    for (auto it = m_environment.cbegin(); it != m_environment.cend(); ++it) {
        qputenv(it.key().toUtf8(), it.value().toUtf8());
    }
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
