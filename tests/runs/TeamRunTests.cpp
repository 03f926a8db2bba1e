#include "RunsTestSupport.h"
#include "runs/RunStore.h"
#include "runs/TeamRun.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

const QUuid kRunId = QUuid::fromString(QStringLiteral("6f1c1e0a-3b2d-4c5e-8f70-91a2b3c4d5e6"));
const QUuid kCopyId = QUuid::fromString(QStringLiteral("a1b2c3d4-e5f6-4a7b-8c9d-0e1f2a3b4c5d"));
const QUuid kSessionId = QUuid::fromString(QStringLiteral("0a0b0c0d-1e1f-4a4b-9c9d-aeafbebfcecf"));

QDateTime reference(double seconds) {
    return QDateTime::fromMSecsSinceEpoch(978307200000 + qint64(seconds * 1000), Qt::UTC);
}

TeamRun sampleRun(const QString& root, double createdSeconds = 86400.5) {
    TeamRun run;
    run.id = kRunId;
    run.prompt = QStringLiteral("Fix the \"tests\"\nand é ✓");
    run.project = QStringLiteral("/home/ana/project");
    run.root = root;
    run.created = reference(createdSeconds);
    run.copies.push_back(
        {kCopyId, QStringLiteral("codex"), root + QStringLiteral("/C1"), kSessionId, 0});
    run.copies.push_back({QUuid::createUuid(), QStringLiteral("claude"),
                          root + QStringLiteral("/C2"), std::nullopt, std::nullopt});
    return run;
}

QJsonObject encoded(const TeamRun& run) {
    return QJsonDocument::fromJson(run.toJsonBytes()).object();
}

}  // namespace

TEST(TeamRunRecords, aRunIsStoredWithUpperCaseIdsAndSecondsSince2001AndReadsBackEqual) {
    const TeamRun run = sampleRun(QStringLiteral("/runs/R1"), 86400.5);
    const QByteArray bytes = run.toJsonBytes();
    EXPECT_FALSE(bytes.contains('\n')) << "records are written without pretty printing";
    const QJsonObject object = encoded(run);
    EXPECT_EQ(object.value("id").toString(),
              QStringLiteral("6F1C1E0A-3B2D-4C5E-8F70-91A2B3C4D5E6"));
    EXPECT_EQ(object.value("created").toDouble(), 86400.5);
    const QJsonObject copy = object.value("copies").toArray().first().toObject();
    EXPECT_EQ(copy.value("id").toString(), QStringLiteral("A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D"));
    EXPECT_EQ(copy.value("session").toString(),
              QStringLiteral("0A0B0C0D-1E1F-4A4B-9C9D-AEAFBEBFCECF"));
    EXPECT_EQ(copy.value("exitCode").toInt(-1), 0) << "an exit code of 0 is still recorded";

    const auto decoded = TeamRun::fromJsonBytes(bytes);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, run);
}

TEST(TeamRunRecords, datesWithMillisecondsSurviveARoundTrip) {
    for (qint64 msecs :
         {qint64(1), qint64(1001), qint64(123456789), qint64(-86400001), qint64(812345678901)}) {
        TeamRun run = sampleRun(QStringLiteral("/r"));
        run.created = QDateTime::fromMSecsSinceEpoch(978307200000 + msecs, Qt::UTC);
        const auto decoded = TeamRun::fromJsonBytes(run.toJsonBytes());
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->created.toMSecsSinceEpoch(), run.created.toMSecsSinceEpoch()) << msecs;
    }
}

TEST(TeamRunRecords, emptyOptionalCopyKeysAreLeftOutAndMayBeMissing) {
    const TeamRun run = sampleRun(QStringLiteral("/r"));
    const QJsonObject second = encoded(run).value("copies").toArray().at(1).toObject();
    EXPECT_FALSE(second.contains("session"));
    EXPECT_FALSE(second.contains("exitCode"));
    EXPECT_EQ(second.keys().size(), 3);

    const auto decoded = RunCopy::fromJson(second);
    ASSERT_TRUE(decoded);
    EXPECT_FALSE(decoded->session);
    EXPECT_FALSE(decoded->exitCode);
    EXPECT_EQ(decoded->toJson(), second);
}

TEST(TeamRunRecords, aRecordMissingOrMistypingAnyRequiredKeyIsRejected) {
    const QJsonObject complete = encoded(sampleRun(QStringLiteral("/r")));
    for (const QString key : {"id", "prompt", "project", "root", "created", "copies"}) {
        QJsonObject missing = complete;
        missing.remove(key);
        EXPECT_FALSE(TeamRun::fromJson(missing)) << "without " << key.toStdString();
        QJsonObject mistyped = complete;
        mistyped.insert(key, key == "created" ? QJsonValue("yesterday") : QJsonValue(42));
        EXPECT_FALSE(TeamRun::fromJson(mistyped)) << "mistyped " << key.toStdString();
    }
    QJsonObject badCopy = complete;
    QJsonArray copies = badCopy.value("copies").toArray();
    QJsonObject first = copies.first().toObject();
    first.remove("directory");
    copies.replace(0, first);
    badCopy.insert("copies", copies);
    EXPECT_FALSE(TeamRun::fromJson(badCopy));
    first = copies.first().toObject();
    first.insert("directory", "/d");
    first.insert("exitCode", 1.5);
    copies.replace(0, first);
    badCopy.insert("copies", copies);
    EXPECT_FALSE(TeamRun::fromJson(badCopy)) << "a fractional exit code is not an exit code";
    QJsonObject farFuture = complete;
    farFuture.insert("created", 1e300);
    EXPECT_FALSE(TeamRun::fromJson(farFuture));
}

TEST(RunStorage, loadingSkipsBrokenRecordsAndListsTheRestNewestFirst) {
    Scratch storage;
    auto save = [&](const QString& folder, double created) {
        storage.makeFolder(folder);
        TeamRun run = sampleRun(storage.path(folder), created);
        run.id = QUuid::createUuid();
        EXPECT_FALSE(RunStore::save(run));
        return run;
    };
    const TeamRun older = save("A", 100);
    const TeamRun newest = save("B", 300);
    const TeamRun hidden = save(".hidden", 200);
    storage.makeFolder("no-record");
    storage.write("not-json/run.json", "{\"id\": ");
    QJsonObject incomplete = encoded(sampleRun("/x"));
    incomplete.remove("copies");
    storage.write("incomplete/run.json", QJsonDocument(incomplete).toJson());
    storage.write("stray-file", "not a run folder");
    storage.makeFolder("folder-as-record/run.json");

    const auto runs = RunStore::load(storage.path());
    ASSERT_TRUE(runs);
    ASSERT_EQ(runs->size(), 3u);
    EXPECT_EQ((*runs)[0], newest);
    EXPECT_EQ((*runs)[1], hidden);
    EXPECT_EQ((*runs)[2], older);
}

TEST(RunStorage, aMissingStorageFolderLoadsNothing) {
    Scratch storage;
    EXPECT_FALSE(RunStore::load(storage.path("Runs")));
    storage.makeFolder("Runs");
    const auto runs = RunStore::load(storage.path("Runs"));
    ASSERT_TRUE(runs);
    EXPECT_TRUE(runs->empty());
}

TEST(RunStorage, aSavedExitCodeIsThereAfterReloadingAndNoTemporaryFileIsLeft) {
    Scratch storage;
    storage.makeFolder("R");
    TeamRun run = sampleRun(storage.path("R"));
    run.copies[1].session = QUuid::createUuid();
    ASSERT_FALSE(RunStore::save(run));
    run.copies[1].exitCode = 137;
    ASSERT_FALSE(RunStore::save(run));

    const auto runs = RunStore::load(storage.path());
    ASSERT_TRUE(runs && runs->size() == 1);
    EXPECT_EQ(runs->front().copies[1].session, run.copies[1].session);
    EXPECT_EQ(runs->front().copies[1].exitCode, 137);
    EXPECT_EQ(
        QDir(storage.path("R")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{"run.json"});
}

TEST(RunStorage, aFailedSaveReportsTheNoticeAndKeepsTheFormerRecord) {
    Scratch storage;
    TeamRun missingFolder = sampleRun(storage.path("gone"));
    const auto notice = RunStore::save(missingFolder);
    ASSERT_TRUE(notice);
    EXPECT_TRUE(notice->startsWith("Could not save the run record: ")) << notice->toStdString();
    EXPECT_GT(notice->size(), QStringLiteral("Could not save the run record: ").size());

    // A folder standing where the record goes makes the final rename fail, even for root.
    storage.makeFolder("R/run.json/inner");
    EXPECT_TRUE(RunStore::save(sampleRun(storage.path("R"))));
    EXPECT_EQ(
        QDir(storage.path("R")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{"run.json"})
        << "the temporary file is removed";
}

TEST(RunStorage, runFolderNamesAreFreshUuidsApartFromTheRecordIds) {
    const TeamRun run = sampleRun(QStringLiteral("/data/Runs/F"));
    const QRegularExpression uuid(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    const QString folder = RunStore::newRunFolder(QStringLiteral("/data/Runs"));
    EXPECT_TRUE(folder.startsWith("/data/Runs/"));
    EXPECT_TRUE(uuid.match(folder.mid(11)).hasMatch()) << folder.toStdString();
    EXPECT_NE(folder, RunStore::newRunFolder(QStringLiteral("/data/Runs")));
    const QString copyFolder = RunStore::newCopyFolder(run.root);
    EXPECT_TRUE(uuid.match(copyFolder.mid(run.root.size() + 1)).hasMatch());
    EXPECT_NE(copyFolder,
              run.root + u'/' + run.copies[0].id.toString(QUuid::WithoutBraces).toUpper());
    EXPECT_EQ(RunStore::baselineFolder(run), "/data/Runs/F/baseline");
    EXPECT_EQ(RunStore::outputFile(run, run.copies[0]),
              "/data/Runs/F/output-A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D.txt");
    const QString backup = RunStore::newBackupFolder(run);
    EXPECT_TRUE(backup.startsWith("/data/Runs/F/backup-"));
    EXPECT_NE(backup, RunStore::newBackupFolder(run)) << "each apply gets its own backup";
}
