// The built velk program started as a process of its own with `--workspace`, fresh home and
// XDG folders and the fake assistants on PATH, on the test's X display with a window
// manager. It is driven only with X11 key events, as a user at the keyboard would, and what
// it did is read back from what it wrote to disk: the history snapshots of the two
// sessions, each holding its pane's screen text. A screenshot of its window is kept in a
// folder the test prints.
#include "PrivateDisplay.h"
#include "Screenshots.h"
#include "core/services/Preferences.h"
#include "core/workspace/HistoryEntry.h"
#include "core/workspace/HistoryFile.h"
#include "platform/KeyboardSynthesis.h"
#include "platform/X11Windows.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <utility>

using namespace std::chrono_literals;
using testing_support::waitUntil;
using testing_support::writeFile;

namespace {

class ExternalLaunch : public ::testing::Test {
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
        // An empty zsh start-up file: the sessions' login shells read nothing of the user's.
        ASSERT_TRUE(writeFile(path("home/.zshenv"), {}));
    }

    void TearDown() override {
        if (m_velk.state() != QProcess::NotRunning) {
            m_velk.terminate();
            if (!m_velk.waitForFinished(5000)) {
                m_velk.kill();
                m_velk.waitForFinished(3000);
            }
        }
    }

    QString path(const QString& relative) const { return m_scratch.filePath(relative); }

    void startVelk(const QString& project) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", path("home"));
        environment.insert("XDG_CONFIG_HOME", path("config"));
        environment.insert("XDG_DATA_HOME", path("data"));
        environment.insert("XDG_CACHE_HOME", path("cache"));
        environment.insert("XDG_RUNTIME_DIR", path("runtime"));
        environment.insert("TMPDIR", path("tmp"));
        environment.insert("PATH",
                           testing_support::fixturesBin() + ':' + environment.value("PATH"));
        environment.insert("DISPLAY", PrivateDisplay::current()->name());
        // Both stand-ins report a sign-in, so the task goes out without a sign-in question.
        environment.insert("VELK_FAKE_CLAUDE_STATUS", "in");
        environment.insert("VELK_FAKE_CODEX_STATUS", "chatgpt");
        environment.insert("QT_QPA_PLATFORM", "xcb");
        m_velk.setProcessEnvironment(environment);
        m_velk.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_velk.start(VELK_EXECUTABLE, {"--workspace", project});
        ASSERT_TRUE(m_velk.waitForStarted(10000)) << m_velk.errorString().toStdString();
    }

    // The main window of the started program, once the window manager manages it: its first
    // window (the desktop companion's come after it).
    std::optional<X11Windows::Window> velkWindow() const {
        for (const X11Windows::Window& window : X11Windows::clientWindows()) {
            if (window.pid == m_velk.processId()) {
                return window;
            }
        }
        return std::nullopt;
    }

    bool velkHasFocus() const {
        const std::optional<X11Windows::Window> focused = X11Windows::focusedWindow();
        return focused && focused->id == m_mainWindow;
    }

    // Keys go out only while the program's window holds the focus.
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

    // The history snapshots the program has stored in its preferences file so far.
    QList<HistoryEntry> storedHistory() const {
        return HistoryFile::read(path("config/Kelo AI/VELK-history.jsonl"), 1000).entries;
    }

    // The window's pixels once the program has drawn its last changes: two grabs a little
    // apart that agree.
    static QImage settledGrab(quint64 window) {
        auto grab = [window] {
            return QGuiApplication::primaryScreen()->grabWindow(WId(window)).toImage();
        };
        QImage previous = grab();
        QImage current;
        waitUntil(
            [&] {
                testing_support::processEventsFor(150ms);
                current = grab();
                return std::exchange(previous, current) == current;
            },
            5s);
        return current;
    }

    QTemporaryDir m_scratch;
    QProcess m_velk;
    quint64 m_mainWindow = 0;
};

TEST_F(ExternalLaunch, aTaskTypedIntoTheStartedProgramRunsInTwoAssistantsInTheSharedFolder) {
    const QString project = path("greeting project");
    ASSERT_TRUE(writeFile(project + "/README.md", "# Greeting\n"));
    startVelk(project);

    std::optional<X11Windows::Window> window;
    ASSERT_TRUE(waitUntil([&] { return (window = velkWindow()).has_value(); }, 30s))
        << "no window of the started program";
    m_mainWindow = window->id;
    X11Windows::activate(window->id);
    ASSERT_TRUE(waitUntil([&] { return velkHasFocus(); }));

    // The window opens with the caret in the task field. Shift+Tab reaches the working-mode
    // choice just before it, Space picks "Shared folder", Tab comes back, and Control+Return
    // runs the task.
    type("Add a greeting");
    press("shift+Tab");
    press("space");
    press("Tab");
    press("ctrl+Return");

    // Each fake assistant exits right after printing its marker, so each session ends and
    // leaves its snapshot; the snapshot is the pane's screen text.
    QList<HistoryEntry> history;
    ASSERT_TRUE(waitUntil([&] { return (history = storedHistory()).size() >= 2; }, 30s))
        << "the program stored " << history.size() << " snapshots";
    ASSERT_EQ(history.size(), 2);
    QStringList providers;
    for (const HistoryEntry& entry : history) {
        providers << entry.provider;
        const QString marker = "FAKE_" + entry.provider + "_DONE";
        EXPECT_TRUE(entry.output.contains(marker)) << entry.output.toStdString();
        EXPECT_TRUE(entry.output.contains("ARG") && entry.output.contains("Add a greeting"))
            << entry.output.toStdString();
        const QString other = entry.provider == "claude" ? "FAKE_codex_" : "FAKE_claude_";
        EXPECT_FALSE(entry.output.contains(other)) << entry.output.toStdString();
        EXPECT_EQ(entry.exitCode, 0);
        // Shared folder: both ran in the project itself, not in a copy.
        EXPECT_EQ(QDir(entry.directory).canonicalPath(), QDir(project).canonicalPath());
    }
    providers.sort();
    EXPECT_EQ(providers, QStringList({"claude", "codex"}));

    const QString shot = screenshotFolder("external-launch") + "/after-task.png";
    ASSERT_TRUE(settledGrab(window->id).save(shot, "PNG"));

    // With every session finished, quitting asks nothing and the program ends cleanly. The
    // last started terminal took the keyboard focus, and inside a terminal Control+Q is the
    // program's, so the quit there is Control+Shift+Q.
    press("ctrl+shift+q");
    ASSERT_TRUE(m_velk.waitForFinished(15000));
    EXPECT_EQ(m_velk.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_velk.exitCode(), 0);
}

}  // namespace
