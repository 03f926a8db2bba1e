#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(PlanTool, printsOkOrTheMessageTheUserWouldSeeAndExitsNonZeroOnRejection) {
    struct Row {
        QByteArray contents;  // empty: no file at all
        int exitCode;
        QString output;
    };
    const std::vector<Row> rows = {
        {R"({"explanation":"Open an app","steps":[{"id":1,"title":"Open Calculator",)"
         R"("action":"open_app","app":"com.apple.calculator","value":""}]})",
         0, "ok\n"},
        {R"({"explanation":"x","steps":[{"id":1,"title":"Rejected","action":"key",)"
         R"("app":"com.apple.TextEdit","value":"command+q"}]})",
         1, "The plan requested an unsupported keyboard shortcut.\n"},
        {R"({"explanation":"x","steps":[{"id":1.5}]})", 1,
         QString::fromUtf8("The “id” value of step 1 is not a 64-bit integer.\n")},
        {"", 2, ""},
    };
    QTemporaryDir folder;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.contents.toStdString());
        const QString file = folder.filePath(QString::number(row.exitCode) + row.output.left(3));
        if (!row.contents.isEmpty()) {
            ASSERT_TRUE(testing_support::writeFile(file, row.contents));
        }
        QProcess tool;
        tool.start(QStringLiteral(VELK_PLAN_TOOL), {QStringLiteral("validate"), file});
        ASSERT_TRUE(tool.waitForFinished(10000));
        EXPECT_EQ(tool.exitCode(), row.exitCode);
        EXPECT_EQ(QString::fromUtf8(tool.readAllStandardOutput()), row.output);
    }
}
