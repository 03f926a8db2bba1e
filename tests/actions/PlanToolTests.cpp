#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct ToolRun {
    int exitCode = -1;
    QString output;
};

ToolRun validate(const QString& file) {
    QProcess tool;
    tool.start(QStringLiteral(VELK_PLAN_TOOL), {QStringLiteral("validate"), file});
    if (!tool.waitForFinished(10000)) {
        tool.kill();
        tool.waitForFinished();
        return {};
    }
    return {tool.exitCode(), QString::fromUtf8(tool.readAllStandardOutput())};
}

}  // namespace

TEST(PlanTool, printsOkOrTheMessageTheUserWouldSeeAndExitsNonZeroOnRejection) {
    QTemporaryDir folder;
    const QString valid = folder.filePath("valid.json");
    const QString invalid = folder.filePath("invalid.json");
    const QString broken = folder.filePath("broken.json");
    ASSERT_TRUE(testing_support::writeFile(
        valid, R"({"explanation":"Open an app","steps":[{"id":1,"title":"Open Calculator",)"
               R"("action":"open_app","app":"com.apple.calculator","value":""}]})"));
    ASSERT_TRUE(testing_support::writeFile(
        invalid, R"({"explanation":"x","steps":[{"id":1,"title":"Rejected",)"
                 R"("action":"key","app":"com.apple.TextEdit","value":"command+q"}]})"));
    ASSERT_TRUE(testing_support::writeFile(broken, R"({"explanation":"x","steps":[{"id":1.5}]})"));

    const ToolRun accepted = validate(valid);
    EXPECT_EQ(accepted.exitCode, 0);
    EXPECT_EQ(accepted.output, "ok\n");

    const ToolRun rejected = validate(invalid);
    EXPECT_EQ(rejected.exitCode, 1);
    EXPECT_EQ(rejected.output, "The plan requested an unsupported keyboard shortcut.\n");

    const ToolRun undecodable = validate(broken);
    EXPECT_EQ(undecodable.exitCode, 1);
    EXPECT_EQ(undecodable.output,
              QString::fromUtf8("The “id” value of step 1 is not a 64-bit integer.\n"));

    EXPECT_EQ(validate(folder.filePath("missing.json")).exitCode, 2);
}
