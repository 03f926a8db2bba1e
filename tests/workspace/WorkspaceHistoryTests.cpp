// History snapshots of finished sessions: one per session, newest first, at most 50, the
// last 60000 characters.

#include "WorkspaceTestKit.h"

#include "core/workspace/Characters.h"
#include "core/workspace/HistoryFile.h"
#include "core/workspace/PreferenceKeys.h"
#include "core/workspace/StoredList.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

HistoryEntry storedEntry(const QString& title) {
    HistoryEntry entry;
    entry.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    entry.provider = "codex";
    entry.title = title;
    entry.directory = "/tmp";
    entry.started = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    return entry;
}

QJsonArray setAside(const MemoryPreferences& preferences) {
    return QJsonDocument::fromJson(preferences.values()
                                       .value(StoredList::damagedKey(PreferenceKeys::history))
                                       .toByteArray())
        .array();
}

}  // namespace

class WorkspaceHistory : public WorkspaceTest {};

TEST_F(WorkspaceHistory, everyFinishedSessionAddsExactlyOneEntryAlsoWhenManyFinishTogether) {
    preferences = MemoryPreferences();
    Workspace& model = openWorkspace(true);
    // 51 sessions ending at about the same time: the first one's entry falls off the end.
    for (int i = 0; i < 51; ++i) {
        model.project.setRunnerCommand(QStringLiteral("sleep 0.3; exit %1").arg(i % 7));
        model.launcher.runCommand();
    }
    ASSERT_TRUE(waitForSessionsToFinish(30s));
    processEventsFor(100ms);  // nothing more arrives late

    ASSERT_EQ(model.history.history().size(), HistoryStore::kLimit);
    QSet<QString> ids;
    for (const HistoryEntry& entry : model.history.history()) {
        ids.insert(entry.id);
        EXPECT_EQ(entry.provider, "shell");
        EXPECT_EQ(entry.directory, project());
        EXPECT_EQ(entry.exitCode, entry.title.back().digitValue());
    }
    EXPECT_EQ(ids.size(), HistoryStore::kLimit);
    // The whole list is stored after every recording.
    EXPECT_EQ(
        HistoryEntry::decodeList(preferences.values().value(PreferenceKeys::history).toByteArray()),
        model.history.history());
}

TEST_F(WorkspaceHistory, theNewestEntryIsFirstAndTheOldestIsDroppedPastFifty) {
    QList<HistoryEntry> stored;
    for (int i = 0; i < HistoryStore::kLimit; ++i) {
        stored.append(storedEntry(QStringLiteral("stored %1").arg(i)));
    }
    preferences = MemoryPreferences({{PreferenceKeys::history, HistoryEntry::encodeList(stored)}});
    Workspace& model = openWorkspace(true);
    ASSERT_EQ(model.history.history(), stored);

    // The newest also ends by a signal: its status is the signal's.
    model.project.setRunnerCommand("kill -KILL $$");
    model.launcher.runCommand();
    ASSERT_TRUE(waitForSessionsToFinish());
    ASSERT_EQ(model.history.history().size(), HistoryStore::kLimit);
    EXPECT_EQ(model.history.history().first().title, "kill -KILL $$");
    EXPECT_EQ(model.history.history().first().exitCode, 128 + 9);
    EXPECT_EQ(model.history.history().first().started,
              model.sessions.sessions().first()->started());
    EXPECT_EQ(model.history.history().at(1), stored.first());
    EXPECT_EQ(model.history.history().last(), stored.at(HistoryStore::kLimit - 2));
}

// One unreadable snapshot costs only itself: it is set aside before the list is stored
// again, and the other snapshots stay. A value that is not a list at all is set aside whole.
TEST_F(WorkspaceHistory, aDamagedSnapshotIsSetAsideAndTheOthersAreKept) {
    const HistoryEntry first = storedEntry("first"), second = storedEntry("second");
    QJsonObject damaged = storedEntry("damaged").toJson();
    damaged.insert("exitCode", 1.5);
    const QJsonArray stored{first.toJson(), damaged, second.toJson()};
    preferences = MemoryPreferences(
        {{PreferenceKeys::history, QJsonDocument(stored).toJson(QJsonDocument::Compact)}});
    Workspace& model = openWorkspace(true);
    EXPECT_EQ(model.history.history(), QList<HistoryEntry>({first, second}));
    const QJsonArray setAsideAtStart{QJsonObject{{"entry", damaged}}};
    EXPECT_EQ(setAside(preferences), setAsideAtStart);

    model.project.setRunnerCommand("exit 3");
    model.launcher.runCommand();
    ASSERT_TRUE(waitForSessionsToFinish());
    const auto saved =
        HistoryEntry::decodeList(preferences.values().value(PreferenceKeys::history).toByteArray());
    ASSERT_TRUE(saved.has_value());
    ASSERT_EQ(saved->size(), 3);
    EXPECT_EQ(saved->mid(1), QList<HistoryEntry>({first, second}));
    // Reading the same damage again does not repeat it.
    preferences.setValue(PreferenceKeys::history,
                         QJsonDocument(stored).toJson(QJsonDocument::Compact));
    createWorkspace(true);
    EXPECT_EQ(setAside(preferences).size(), 1);

    // A value that is not a list is set aside whole, after the finds already there, and the
    // oldest finds go past the limit.
    QJsonArray finds;
    for (int i = 0; i < StoredList::kDamagedLimit; ++i) {
        finds.append(QJsonObject{{"entry", i}});
    }
    const QByteArray garbage("\x01not a list\xff", 13);
    preferences = MemoryPreferences(
        {{PreferenceKeys::history, garbage},
         {StoredList::damagedKey(PreferenceKeys::history), QJsonDocument(finds).toJson()}});
    EXPECT_TRUE(openWorkspace(true).history.history().isEmpty());
    const QJsonArray kept = setAside(preferences);
    ASSERT_EQ(kept.size(), StoredList::kDamagedLimit);
    EXPECT_EQ(kept.first(), finds.at(1));
    EXPECT_EQ(QByteArray::fromBase64(kept.last()["value"].toString().toLatin1()), garbage);
    workspace().project.setRunnerCommand("exit 0");
    workspace().launcher.runCommand();
    ASSERT_TRUE(waitForSessionsToFinish());
    EXPECT_EQ(workspace().history.history().size(), 1);
    EXPECT_EQ(setAside(preferences), kept);
}

// With a preferences folder the history lives in a file of its own beside the preferences:
// moved there from the key once, appended to as sessions end, and a line cut short by a
// crash costs only itself.
TEST_F(WorkspaceHistory, theHistoryFileTakesOverTheKeyAndSurvivesALineCutShort) {
    QList<HistoryEntry> stored;
    for (int i = 0; i < 3; ++i) {
        stored.append(storedEntry(QStringLiteral("stored %1").arg(i)));
    }
    preferences = MemoryPreferences({{PreferenceKeys::history, HistoryEntry::encodeList(stored)}});
    preferences.setFolder(scratch());
    const QString path = scratch() + "/" + HistoryStore::kFileName;
    const auto reopen = [&] {
        HistoryStore& history = createWorkspace(true).history;
        EXPECT_TRUE(waitUntil([&] { return history.loaded(); }));
        return &history;
    };

    HistoryStore* history = reopen();
    EXPECT_EQ(history->history(), stored);
    EXPECT_FALSE(preferences.contains(PreferenceKeys::history)) << "the key goes once moved";
    EXPECT_EQ(HistoryFile::read(path, HistoryStore::kLimit).entries, stored);

    workspace().project.setFolder(project());
    workspace().project.setRunnerCommand("exit 4");
    workspace().launcher.runCommand();
    ASSERT_TRUE(waitForSessionsToFinish());
    history->waitForWrites();
    ASSERT_EQ(history->history().size(), 4);
    EXPECT_EQ(history->history().first().exitCode, 4);

    // Killed in the middle of the next append: the line is cut short.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write(QJsonDocument(storedEntry("torn").toJson()).toJson(QJsonDocument::Compact).left(40));
    file.close();
    const QList<HistoryEntry> beforeCrash = history->history();
    history = reopen();
    EXPECT_EQ(history->history(), beforeCrash);

    // The next snapshot gets a line of its own.
    workspace().project.setFolder(project());
    workspace().project.setRunnerCommand("exit 5");
    workspace().launcher.runCommand();
    ASSERT_TRUE(waitForSessionsToFinish());
    history->waitForWrites();
    EXPECT_EQ(HistoryFile::read(path, HistoryStore::kLimit).entries, history->history());
    ASSERT_EQ(history->history().size(), 5);

    history->clear();
    history->waitForWrites();
    EXPECT_TRUE(reopen()->history().isEmpty());
}

TEST_F(WorkspaceHistory, aLongScreenKeepsExactlyItsLast60000Characters) {
    Workspace& model = openWorkspace();
    // 1250 lines of 79 characters and a line break: 100,000 characters of output.
    model.project.setRunnerCommand(QStringLiteral(
        "i=0; while [ $i -lt 1250 ]; do printf '%04d%075d\\n' $i 0; i=$((i+1)); done"));
    model.launcher.runCommand();
    ASSERT_TRUE(waitForSessionsToFinish());
    const QString screen = model.sessions.sessions().first()->screen().plainText();
    ASSERT_GT(screen.size(), 60000);
    ASSERT_EQ(model.history.history().size(), 1);
    const QString output = model.history.history().first().output;
    EXPECT_EQ(output.size(), 60000);
    EXPECT_EQ(output, screen.right(60000));
    EXPECT_TRUE(output.contains("1249"));

    // Characters are counted as the user sees them.
    const QString family = "👨‍👩‍👧";  // one character, eight code units
    const QString accented = "e\u0301";
    const QString text = family + "ab" + accented + family;
    EXPECT_EQ(Characters::last(text, 1), family);
    EXPECT_EQ(Characters::last(text, 2), accented + family);
    EXPECT_EQ(Characters::first(text, 2), family + "a");
    EXPECT_EQ(Characters::first(text, 100), text);
    EXPECT_EQ(Characters::last(text, 5), text);
    EXPECT_EQ(Characters::last(text, 0), QString());
}

TEST(HistoryEntryJson, roundTripsAndRejectsAListWithOneBadEntry) {
    HistoryEntry entry;
    entry.id = "6F9619FF-8B86-D011-B42D-00C04FC964FF";
    entry.provider = "claude";
    entry.title = "title";
    entry.directory = "/tmp";
    entry.started = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC);
    entry.exitCode = -1;
    entry.output = "out";
    EXPECT_DOUBLE_EQ(entry.toJson().value("started").toDouble(), 1700000000.123 - 978307200.0);
    EXPECT_EQ(HistoryEntry::decodeList(HistoryEntry::encodeList({entry, entry})),
              QList<HistoryEntry>({entry, entry}));

    for (const char* key :
         {"id", "provider", "title", "directory", "started", "exitCode", "output"}) {
        QJsonObject broken = entry.toJson();
        broken.remove(key);
        const QJsonArray list{entry.toJson(), broken};
        EXPECT_EQ(HistoryEntry::decodeList(QJsonDocument(list).toJson()), std::nullopt) << key;
    }
    for (const auto& [key, value] :
         {std::pair{"exitCode", QJsonValue(1.5)}, std::pair{"id", QJsonValue("not-a-uuid")}}) {
        QJsonObject wrong = entry.toJson();
        wrong.insert(key, value);
        EXPECT_EQ(HistoryEntry::fromJson(wrong), std::nullopt) << key;
    }
}
