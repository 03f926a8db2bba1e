#include "app/CommandLine.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {
CommandLine parse(QStringList args) {
    args.prepend(QStringLiteral("velk"));
    return CommandLine::parse(args);
}
}  // namespace

TEST(CommandLine, switchesAreFoundAnywhereAndTakeTheArgumentAfterThem) {
    const CommandLine line =
        parse({"--workspace", "/p", "-x", "--self-test", "--test-output", "/out"});
    EXPECT_TRUE(line.selfTest);
    EXPECT_EQ(line.workspace, QStringLiteral("/p"));
    EXPECT_EQ(line.selfTestOutputFolder(), QStringLiteral("/out"));
    EXPECT_TRUE(line.automation());
}

TEST(CommandLine, captureWithoutAFolderIsAnAutomationModeThatCapturesNothing) {
    const CommandLine line = parse({"--capture"});
    EXPECT_TRUE(line.automation());
    EXPECT_FALSE(line.captureFolder.has_value());
    EXPECT_EQ(parse({"--capture", "/shots"}).captureFolder, QStringLiteral("/shots"));
}

TEST(CommandLine, theDefaultTestOutputIsAFolderOfThisUserInsideTheTemporaryFolder) {
    const QString folder = parse({"--self-test"}).selfTestOutputFolder();
    // Inside the temporary folder, never beside it (where an ordinary user cannot write), and
    // named for the user, since other users share the temporary folder.
    EXPECT_EQ(QFileInfo(folder).absolutePath(), QDir::tempPath());
    EXPECT_EQ(QFileInfo(folder).fileName(), QStringLiteral("VELK-tests-%1").arg(getuid()));
    EXPECT_EQ(parse({"--self-test", "--test-output", "/x/y"}).selfTestOutputFolder(),
              QStringLiteral("/x/y"));
}

TEST(CommandLine, switchesMustMatchWholeArguments) {
    const CommandLine line = parse({"--self-test=1", "--workspaces", "/p"});
    EXPECT_FALSE(line.selfTest);
    EXPECT_FALSE(line.workspace.has_value());
    EXPECT_FALSE(line.automation());
    EXPECT_FALSE(parse({"--workspace"}).workspace.has_value());
}
