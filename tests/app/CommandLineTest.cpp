#include "core/app/CommandLine.h"

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

TEST(CommandLine, switchesMatchWholeArgumentsAnywhereAndTakeTheArgumentAfterThem) {
    const CommandLine line =
        parse({"--workspace", "/p", "-x", "--self-test", "--test-output", "/out"});
    EXPECT_TRUE(line.selfTest);
    EXPECT_EQ(line.workspace, QStringLiteral("/p"));
    EXPECT_EQ(line.selfTestOutputFolder(), QStringLiteral("/out"));
    EXPECT_TRUE(line.automation());

    const CommandLine nearMisses = parse({"--self-test=1", "--workspaces", "/p"});
    EXPECT_FALSE(nearMisses.selfTest);
    EXPECT_FALSE(nearMisses.workspace.has_value());
    EXPECT_FALSE(nearMisses.automation());
    EXPECT_FALSE(parse({"--workspace"}).workspace.has_value());

    // Capturing without a folder is an automation mode that captures nothing.
    EXPECT_TRUE(parse({"--capture"}).automation());
    EXPECT_FALSE(parse({"--capture"}).captureFolder.has_value());
    EXPECT_EQ(parse({"--capture", "/shots"}).captureFolder, QStringLiteral("/shots"));
}

TEST(CommandLine, theDefaultTestOutputIsAFolderOfThisUserInsideTheTemporaryFolder) {
    const QString folder = parse({"--self-test"}).selfTestOutputFolder();
    // Inside the temporary folder, never beside it (where an ordinary user cannot write), and
    // named for the user, since other users share the temporary folder.
    EXPECT_EQ(QFileInfo(folder).absolutePath(), QDir::tempPath());
    EXPECT_EQ(QFileInfo(folder).fileName(), QStringLiteral("VELK-tests-%1").arg(getuid()));
}
