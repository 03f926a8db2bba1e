// The built velk program started as a process of its own with `--workspace` in a fresh home,
// on the test's X display with a window manager. It is driven only with X11 key events, as a
// user at the keyboard would, and what it did is read back from what it wrote to disk: the
// history snapshots of the two sessions, each holding its pane's screen text. A screenshot of
// its window is kept in a folder the test prints.
#include "E2eSupport.h"
#include "PrivateDisplay.h"
#include "core/workspace/HistoryEntry.h"
#include "core/workspace/HistoryFile.h"
#include "support/TestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testing_support::waitUntil;

namespace {

TEST(ExternalLaunch, aTaskTypedIntoTheStartedProgramRunsInTwoAssistantsInTheSharedFolder) {
    if (!PrivateDisplay::current()) {
        GTEST_SKIP() << "needs a private X display with a window manager";
    }
    VelkHome home;
    ASSERT_TRUE(home.ready());
    const QString project = home.path("greeting project");
    ASSERT_TRUE(testing_support::writeFile(project + "/README.md", "# Greeting\n"));
    VelkProcess velk(home);
    ASSERT_NO_FATAL_FAILURE(velk.start(VELK_EXECUTABLE, {"--workspace", project}));

    // The window opens with the caret in the task field. Shift+Tab reaches the working-mode
    // choice just before it, Space picks "Shared folder", Tab comes back, and Control+Return
    // runs the task.
    velk.type("Add a greeting");
    velk.press("shift+Tab");
    velk.press("space");
    velk.press("Tab");
    velk.press("ctrl+Return");

    // Each fake assistant exits right after printing its marker, so each session ends and
    // leaves its snapshot; the snapshot is the pane's screen text.
    const auto stored = [&] {
        return HistoryFile::read(home.path("config/Kelo AI/VELK-history.jsonl"), 1000).entries;
    };
    QList<HistoryEntry> history;
    ASSERT_TRUE(waitUntil([&] { return (history = stored()).size() >= 2; }, 30s))
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
    ASSERT_TRUE(settledGrab(velk.window->id).save(shot, "PNG"));

    // With every session finished, quitting asks nothing and the program ends cleanly. The
    // last started terminal took the keyboard focus, and inside a terminal Control+Q is the
    // program's, so the quit there is Control+Shift+Q.
    velk.press("ctrl+shift+q");
    ASSERT_TRUE(velk.process.waitForFinished(15000));
    EXPECT_EQ(velk.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(velk.process.exitCode(), 0);
}

}  // namespace
