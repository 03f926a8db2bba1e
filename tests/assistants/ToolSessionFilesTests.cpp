#include "core/assistants/ToolSessionFiles.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using testing_support::ScopedEnvironment;

namespace {

// A rollout file as Codex writes it: the session meta first, the conversation after.
void writeRollout(const QString& home, const QString& id, const QString& folder,
                  const QDateTime& created) {
    const QString day = home + created.toLocalTime().toString("/yyyy/MM/dd");
    ASSERT_TRUE(QDir().mkpath(day));
    QFile file(day + "/rollout-" + created.toLocalTime().toString("yyyy-MM-ddThh-mm-ss") + "-" +
               id + ".jsonl");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const QString time = created.toString(Qt::ISODateWithMs);
    file.write(QStringLiteral("{\"timestamp\":\"%1\",\"type\":\"session_meta\",\"payload\":"
                              "{\"id\":\"%2\",\"timestamp\":\"%1\",\"cwd\":\"%3\"}}\n"
                              "{\"type\":\"response_item\",\"payload\":{}}\n")
                   .arg(time, id, folder)
                   .toUtf8());
}

}  // namespace

// Two Codex sessions VELK started in one folder, a minute apart, each find their own rollout
// file among one from before either began and one of another folder; then the same with
// the files in $CODEX_HOME, where the second conversation began only after a third session
// started: that one is in doubt, and neither of the later sessions gets an id.
TEST(ToolSessionFiles, eachSessionGetsTheConversationItStartedAndNoneWhenInDoubt) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QString project = home.path() + "/project";
    const QString other = home.path() + "/other";
    ASSERT_TRUE(QDir().mkpath(project) && QDir().mkpath(other));
    const QDateTime start = QDateTime::currentDateTimeUtc().addSecs(-600);
    const QUuid first = QUuid::createUuid();
    const QUuid second = QUuid::createUuid();
    const QUuid third = QUuid::createUuid();
    const QList<StartedToolSession> twoInOneFolder{{first, project, start},
                                                   {second, project + "/", start.addSecs(60)}};
    {
        ScopedEnvironment homeVariable("HOME", home.path().toLocal8Bit());
        ScopedEnvironment noCodexHome("CODEX_HOME", QByteArray());
        const QString sessions = home.path() + "/.codex/sessions";
        writeRollout(sessions, "earlier", project, start.addSecs(-30));
        writeRollout(sessions, "mine", project, start.addMSecs(400));
        writeRollout(sessions, "elsewhere", other, start.addSecs(61));
        writeRollout(sessions, "theirs", project, start.addSecs(61));
        const QList<ToolSessionFile> files = ToolSessionFiles::codex(start);
        EXPECT_EQ(files.size(), 3);
        const QHash<QUuid, QString> expected{{first, "mine"}, {second, "theirs"}};
        EXPECT_EQ(ToolSessionFiles::match(twoInOneFolder, files, {}), expected);
        // An id another session holds is not handed out again.
        EXPECT_EQ(ToolSessionFiles::match(twoInOneFolder, files, {"mine"}),
                  (QHash<QUuid, QString>{{second, "theirs"}}));
    }
    {
        const QString codexHome = home.path() + "/codex-home";
        ScopedEnvironment codexHomeVariable("CODEX_HOME", codexHome.toLocal8Bit());
        writeRollout(codexHome + "/sessions", "a", project, start.addSecs(1));
        writeRollout(codexHome + "/sessions", "b", project, start.addSecs(125));
        writeRollout(codexHome + "/sessions", "c", project, start.addSecs(130));
        QList<StartedToolSession> three = twoInOneFolder;
        three.append({third, project, start.addSecs(120)});
        EXPECT_EQ(ToolSessionFiles::match(three, ToolSessionFiles::codex(start), {}),
                  (QHash<QUuid, QString>{{first, "a"}}));
    }
}
