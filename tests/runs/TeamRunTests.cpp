#include "RunsTestSupport.h"
#include "core/base/Background.h"
#include "core/runs/RunSaveQueue.h"
#include "core/runs/RunSpace.h"
#include "core/runs/RunStore.h"
#include "core/runs/TeamRun.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace {

const QUuid kRunId = QUuid::fromString(QStringLiteral("6f1c1e0a-3b2d-4c5e-8f70-91a2b3c4d5e6"));
const QUuid kCopyId = QUuid::fromString(QStringLiteral("a1b2c3d4-e5f6-4a7b-8c9d-0e1f2a3b4c5d"));
const QUuid kSessionId = QUuid::fromString(QStringLiteral("0a0b0c0d-1e1f-4a4b-9c9d-aeafbebfcecf"));

// A run created the given seconds after 2001-01-01: one copy with a session that ended with
// 0, one not started yet.
TeamRun sampleRun(const QString& root, double createdSeconds = 86400.5) {
    return TeamRun{
        kRunId,
        QStringLiteral("Fix the \"tests\"\nand é ✓"),
        QStringLiteral("/home/ana/project"),
        root,
        QDateTime::fromMSecsSinceEpoch(978307200000 + qint64(createdSeconds * 1000), Qt::UTC),
        {{kCopyId, "codex", root + "/C1", kSessionId, 0},
         {QUuid::createUuid(), "claude", root + "/C2", std::nullopt, std::nullopt}}};
}

QJsonObject encoded(const TeamRun& run) {
    return QJsonDocument::fromJson(run.toJsonBytes()).object();
}

}  // namespace

TEST(TeamRunRecords, aRunIsStoredWithUpperCaseIdsSecondsSince2001AndNoEmptyKeysAndReadsBackEqual) {
    const TeamRun run = sampleRun(QStringLiteral("/runs/R1"), 86400.5);
    EXPECT_FALSE(run.toJsonBytes().contains('\n')) << "records are written without pretty printing";
    const QJsonObject object = encoded(run);
    EXPECT_EQ(object.value("id").toString(), "6F1C1E0A-3B2D-4C5E-8F70-91A2B3C4D5E6");
    EXPECT_EQ(object.value("created").toDouble(), 86400.5);
    const QJsonArray copies = object.value("copies").toArray();
    const QJsonObject first = copies.at(0).toObject();
    EXPECT_EQ(first.value("id").toString(), "A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D");
    EXPECT_EQ(first.value("session").toString(), "0A0B0C0D-1E1F-4A4B-9C9D-AEAFBEBFCECF");
    EXPECT_EQ(first.value("exitCode").toInt(-1), 0) << "an exit code of 0 is still recorded";
    const QJsonObject second = copies.at(1).toObject();
    EXPECT_EQ(second.keys(), (QStringList{"directory", "id", "provider"}));
    EXPECT_EQ(TeamRun::fromJsonBytes(run.toJsonBytes()), run);

    for (qint64 msecs : {1LL, 1001LL, 123456789LL, -86400001LL, 812345678901LL}) {
        TeamRun dated = run;
        dated.created = QDateTime::fromMSecsSinceEpoch(978307200000 + msecs, Qt::UTC);
        EXPECT_EQ(TeamRun::fromJsonBytes(dated.toJsonBytes())->created, dated.created) << msecs;
    }
}

// A run made with "Large projects" keeps its limits; one made with the standard limits, like
// every record written before runs kept them, has no key for them.
TEST(TeamRunRecords, aRunKeepsTheLimitsItWasMadeWithAndOlderRecordsReadAsStandard) {
    TeamRun large = sampleRun(QStringLiteral("/r"));
    large.limits = RunLimits::largeProjects();
    EXPECT_EQ(TeamRun::fromJsonBytes(large.toJsonBytes())->limits, RunLimits::largeProjects());
    const QJsonObject standard = encoded(sampleRun(QStringLiteral("/r")));
    EXPECT_FALSE(standard.contains("limits"));
    EXPECT_EQ(TeamRun::fromJson(standard)->limits, RunLimits::standard());
    QJsonObject broken = encoded(large);
    broken.insert("limits", QJsonObject{{"files", -3}, {"bytes", 1e300}});
    EXPECT_EQ(TeamRun::fromJson(broken)->limits, RunLimits::standard());
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
    QJsonObject farFuture = complete;
    farFuture.insert("created", 1e300);
    EXPECT_FALSE(TeamRun::fromJson(farFuture));
    QJsonObject noDirectory = complete.value("copies").toArray().at(0).toObject();
    QJsonObject fractionalExit = noDirectory;
    noDirectory.remove("directory");
    fractionalExit.insert("exitCode", 1.5);  // not an exit code
    for (const QJsonObject& copy : {noDirectory, fractionalExit}) {
        QJsonObject run = complete;
        run.insert("copies", QJsonArray{copy});
        EXPECT_FALSE(TeamRun::fromJson(run)) << QJsonDocument(copy).toJson().toStdString();
    }
}

TEST(RunStorage, loadingSkipsBrokenRecordsAndListsTheRestNewestFirst) {
    Scratch storage;
    EXPECT_FALSE(RunStore::load(storage.path("Runs"))) << "no storage folder";
    storage.makeFolder("Runs");
    EXPECT_EQ(RunStore::load(storage.path("Runs")), std::vector<TeamRun>{});
    auto save = [&](const QString& folder, double created) {
        storage.makeFolder(folder);
        TeamRun run = sampleRun(storage.path(folder), created);
        run.id = QUuid::createUuid();
        EXPECT_TRUE(RunStore::save(run));
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
    EXPECT_EQ(RunStore::load(storage.path()), (std::vector<TeamRun>{newest, hidden, older}));
}

TEST(RunStorage, aSaveReplacesTheRecordWholeOrReportsTheNoticeAndKeepsNoTemporaryFile) {
    Scratch storage;
    storage.makeFolder("R");
    TeamRun run = sampleRun(storage.path("R"));
    run.copies[1].session = QUuid::createUuid();
    ASSERT_TRUE(RunStore::save(run));
    run.copies[1].exitCode = 137;
    ASSERT_TRUE(RunStore::save(run));
    EXPECT_EQ(RunStore::load(storage.path()), std::vector<TeamRun>{run});
    EXPECT_EQ(entries(storage.path("R")), QStringList{"run.json"});

    const Result<void> gone = RunStore::save(sampleRun(storage.path("gone")));
    ASSERT_FALSE(gone);
    const QString notice = gone.error().message;
    EXPECT_TRUE(notice.startsWith("Could not save the run record: ")) << notice.toStdString();
    EXPECT_GT(notice.size(), QStringLiteral("Could not save the run record: ").size());
    EXPECT_EQ(gone.error().systemError, ENOENT);
    // A folder standing where the record goes makes the final rename fail, even for root.
    storage.makeFolder("F/run.json/inner");
    EXPECT_FALSE(RunStore::save(sampleRun(storage.path("F"))));
    EXPECT_EQ(entries(storage.path("F")), QStringList{"run.json"})
        << "the temporary file is removed";
}

TEST(RunStorage, runCopyAndBackupFoldersAreFreshUuidsApartFromTheRecordIds) {
    const TeamRun run = sampleRun(QStringLiteral("/data/Runs/F"));
    const QRegularExpression uuid("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$");
    const QString folder = RunStore::newRunFolder(QStringLiteral("/data/Runs"));
    EXPECT_TRUE(folder.startsWith("/data/Runs/") && uuid.match(folder.mid(11)).hasMatch())
        << folder.toStdString();
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

// Deleting a run removes only its own folder below the runs folder: a record pointing
// elsewhere, a linked run folder or a record of another run is refused and nothing goes, and
// a link inside a copy is removed without touching what it points to.
TEST(RunStoreRemoval, onlyTheRunsOwnFolderIsDeletedAndLinksAreNotFollowed) {
    Scratch scratch;
    const QString runs = scratch.path("runs");
    scratch.write("outside/keep.txt", "precious");
    scratch.write("outside/run.json", "");
    const auto stored = [&](const QString& root, const QUuid& id) {
        QDir().mkpath(root);
        TeamRun run = sampleRun(root);
        run.id = id;
        EXPECT_TRUE(RunStore::save(run));
        return run;
    };
    const TeamRun elsewhere = stored(scratch.path("outside"), kRunId);
    scratch.link("runs/linked", scratch.path("outside"));
    TeamRun linked = elsewhere;
    linked.root = runs + "/linked";
    TeamRun other = stored(runs + "/other", QUuid::createUuid());
    other.id = kRunId;
    for (const TeamRun& refused : {elsewhere, linked, other}) {
        const Result<qint64> removed = RunStore::remove(refused, runs, true);
        ASSERT_FALSE(removed) << refused.root.toStdString();
        EXPECT_TRUE(removed.error().message.startsWith(
            "This run’s folder is not one of VELK’s run folders"));
    }
    EXPECT_EQ(scratch.read("outside/keep.txt"), "precious");
    EXPECT_TRUE(scratch.exists("runs/other/run.json"));

    const TeamRun run = stored(runs + "/mine", QUuid::createUuid());
    scratch.write("runs/mine/C1/a.txt", QByteArray(10000, 'a'));
    scratch.link("runs/mine/C1/escape", scratch.path("outside"));
    scratch.write("runs/mine/backup-1/a.txt", "old");
    const RunStore::DiskUsage usage = RunStore::diskUsage(run);
    EXPECT_GE(usage.total, 10000);
    EXPECT_GT(usage.backups, 0);
    const Result<qint64> kept = RunStore::remove(run, runs, false);
    ASSERT_TRUE(kept);
    EXPECT_EQ(entries(runs + "/mine"), QStringList{"backup-1"});
    EXPECT_EQ(scratch.read("outside/keep.txt"), "precious");
    EXPECT_EQ(kept.value() + RunStore::diskUsage(run).total, usage.total);
}

// Records written in the background: while one is being written, later saves wait behind it
// and a run's waiting saves fold into its newest state, so an older state never lands last.
// Whatever is still queued is written before the queue goes away.
TEST(RunSaveQueue, savesLandInOrderWithTheNewestStateOfEachRunLastAndNoneLostAtTheEnd) {
    const std::thread::id caller = std::this_thread::get_id();
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
    bool wroteOnCaller = false;
    QStringList written;
    // The first write off the caller's thread holds until released.
    const auto writer = [&](const TeamRun& run) -> Result<void> {
        std::unique_lock lock(mutex);
        if (std::this_thread::get_id() == caller) {
            wroteOnCaller = written.isEmpty();
        } else if (!entered) {
            entered = true;
            changed.notify_all();
            changed.wait(lock, [&] { return released; });
        }
        written.append(run.name);
        return {};
    };
    const auto named = [](const QUuid& id, const QString& name) {
        TeamRun run = sampleRun(QStringLiteral("/r"));
        run.id = id;
        run.name = name;
        return run;
    };
    const auto release = [&] {
        const std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    };
    const QUuid a = QUuid::createUuid();
    const QUuid b = QUuid::createUuid();

    auto queue = std::make_unique<RunSaveQueue>(writer);
    queue->save(named(a, "a1"));
    {
        std::unique_lock lock(mutex);
        ASSERT_FALSE(wroteOnCaller) << "the first save was written on the caller's thread";
        changed.wait(lock, [&] { return entered; });
    }
    for (int state = 2; state <= 50; ++state) {
        queue->save(named(a, "a" + QString::number(state)));
    }
    queue->save(named(b, "b1"));
    release();
    queue->wait();
    EXPECT_EQ(written, (QStringList{"a1", "a50", "b1"}));

    queue.reset();

    // With every background thread taken, what is still queued is written by the queue's end.
    {
        const std::lock_guard lock(mutex);
        written.clear();
    }
    bool threadsFree = false;
    for (std::size_t thread = 0; thread < Background::kThreadCount; ++thread) {
        Background::start([&] {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return threadsFree; });
        });
    }
    auto ending = std::make_unique<RunSaveQueue>(writer);
    ending->save(named(b, "b2"));
    ending.reset();
    {
        const std::lock_guard lock(mutex);
        EXPECT_EQ(written, QStringList{"b2"});
        threadsFree = true;
        changed.notify_all();
    }
    Background::waitForIdle();
}
