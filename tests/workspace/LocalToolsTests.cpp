// The local tool runner: capture, limits, environment and time-outs, with real processes.

#include "core/assistants/LocalTools.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kShell = "/bin/sh";

ToolResult runShell(const QString& script, int timeoutMs = LocalTools::kDefaultTimeoutMs,
                    const QString& directory = QString()) {
    return LocalTools::run(kShell, {"-c", script}, directory, timeoutMs);
}

QStringList captureFilesLeft() {
    return QDir(QDir::tempPath()).entryList({"VELK-status-*"}, QDir::Files);
}

}  // namespace

// Each test gets its own temporary folder, so capture files of other test processes do not
// count.
class LocalToolRunner : public ::testing::Test {
    QTemporaryDir m_temporary;
    testing_support::ScopedEnvironment m_variable{"TMPDIR", m_temporary.path().toLocal8Bit()};
};

TEST_F(LocalToolRunner, bothStreamsArriveInOrderCutAt256000BytesWithInvalidBytesReplaced) {
    const ToolResult result = runShell("echo one; echo two >&2; echo three; exit 7");
    EXPECT_EQ(result.code, 7);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.output, "one\ntwo\nthree\n");

    const ToolResult big = runShell("head -c 300000 /dev/zero | tr '\\000' x");
    EXPECT_EQ(big.code, 0);
    EXPECT_EQ(big.output.size(), LocalTools::kMaxOutputBytes);
    EXPECT_EQ(runShell("printf 'a\\377b'").output, "a\uFFFDb");
}

TEST_F(LocalToolRunner, theCommandSeesNoInputAPrivateCaptureFileAndTheReplacedSearchPath) {
    QTemporaryDir folder;
    const ToolResult result = runShell(
        "cat; stat -L -c %a /proc/self/fd/1; printf '%s\\n' \"$PATH\"; pwd", 5000, folder.path());
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.output,
              "600\n" + LocalTools::statusSearchPath() + "\n" + folder.path() + "\n");
    EXPECT_TRUE(LocalTools::statusSearchPath().startsWith(QDir::homePath() + "/.local/bin:"));
    EXPECT_FALSE(LocalTools::statusSearchPath().contains(".cargo"));

    // A command that cannot start reports -1 with the reason.
    const ToolResult missing = LocalTools::run("/nonexistent/tool", {});
    EXPECT_EQ(missing.code, -1);
    EXPECT_FALSE(missing.timedOut);
    EXPECT_FALSE(missing.output.isEmpty());
    EXPECT_TRUE(captureFilesLeft().isEmpty());
}

TEST_F(LocalToolRunner, aHangingCommandIsStoppedAtTheTimeOutAndKeepsItsOutputSoFar) {
    const ToolResult polite = runShell("echo started; exec sleep 30", 300);
    EXPECT_TRUE(polite.timedOut);
    EXPECT_EQ(polite.code, 128 + 15);
    EXPECT_EQ(polite.output, "started\n");

    // One that ignores SIGTERM gets SIGKILL 0.2 s later.
    const ToolResult stubborn = runShell("trap '' TERM; echo partial; exec sleep 30", 300);
    EXPECT_TRUE(stubborn.timedOut);
    EXPECT_EQ(stubborn.code, 128 + 9);
    EXPECT_EQ(stubborn.output, "partial\n");
    EXPECT_TRUE(captureFilesLeft().isEmpty());
}
