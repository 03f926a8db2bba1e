// The workspace's own state: preferences in and out, the project folder and its recent
// list, notices, and the keep-awake assertion.

#include "WorkspaceTestKit.h"

#include "workspace/PreferenceKeys.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

QVariantMap storedEverything(const QString& folder) {
    Provider custom = Provider::defaults().first();
    custom.id = QStringLiteral("mine");
    custom.name = QStringLiteral("Mine");
    HistoryEntry entry;
    entry.id = QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF");
    entry.provider = QStringLiteral("claude");
    entry.title = QStringLiteral("stored");
    entry.directory = folder;
    entry.started = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    entry.exitCode = 0;
    return {
        {PreferenceKeys::keepAwake, true},
        {PreferenceKeys::providers, Provider::encodeList({custom, Provider::defaults().last()})},
        {PreferenceKeys::recentFolders, QStringList{folder}},
        {PreferenceKeys::workspace, folder},
        {PreferenceKeys::history, HistoryEntry::encodeList({entry})},
    };
}

}  // namespace

class WorkspaceModel : public WorkspaceTest {};

TEST_F(WorkspaceModel, withPersistenceOffNothingIsReadOrWrittenWhateverIsStored) {
    preferences = MemoryPreferences(storedEverything(project()));
    Workspace& model = createWorkspace(false);

    EXPECT_EQ(model.providers(), Provider::defaults());
    EXPECT_TRUE(model.history().isEmpty());
    EXPECT_TRUE(model.recentFolders().isEmpty());
    EXPECT_FALSE(model.keepAwake());
    EXPECT_FALSE(model.hasFolder());

    model.setNoticeDurationMs(60000);
    model.setFolder(project());
    model.setKeepAwake(true);
    model.saveProvider(Provider::defaults().first());
    model.setRunnerCommand(QStringLiteral("exit 0"));
    model.runCommand();
    ASSERT_TRUE(waitForSessionsToFinish());
    EXPECT_EQ(model.history().size(), 1);  // recorded in memory only
    model.clearHistory();

    EXPECT_EQ(preferences.reads(), 0);
    EXPECT_EQ(preferences.writes(), 0);
}

TEST_F(WorkspaceModel, withPersistenceOnEveryKeyIsLoadedAndEachChangeStoredWithItsType) {
    preferences = MemoryPreferences(storedEverything(project()));
    Workspace& model = createWorkspace(true);

    EXPECT_TRUE(model.keepAwake());
    ASSERT_EQ(model.providers().size(), 2);
    EXPECT_EQ(model.providers().first().id, QStringLiteral("mine"));
    EXPECT_EQ(model.recentFolders(), QStringList{project()});
    EXPECT_EQ(model.folder(), project());
    ASSERT_EQ(model.history().size(), 1);
    EXPECT_EQ(model.history().first().title, QStringLiteral("stored"));

    const QString other = scratch() + QStringLiteral("/other");
    ASSERT_TRUE(QDir().mkpath(other));
    model.setFolder(other);
    model.setKeepAwake(false);
    model.clearHistory();
    const QVariantMap& stored = preferences.values();
    EXPECT_EQ(stored.value(PreferenceKeys::workspace).typeId(), QMetaType::QString);
    EXPECT_EQ(stored.value(PreferenceKeys::workspace).toString(), other);
    EXPECT_EQ(stored.value(PreferenceKeys::recentFolders).toStringList(),
              (QStringList{other, project()}));
    EXPECT_EQ(stored.value(PreferenceKeys::keepAwake), QVariant(false));
    EXPECT_EQ(stored.value(PreferenceKeys::history).typeId(), QMetaType::QByteArray);
    EXPECT_EQ(HistoryEntry::decodeList(stored.value(PreferenceKeys::history).toByteArray()),
              QList<HistoryEntry>{});
}

TEST_F(WorkspaceModel, aStoredFolderThatNoLongerExistsIsSkippedAndKeptInThePreferences) {
    const QString gone = scratch() + QStringLiteral("/gone");
    preferences = MemoryPreferences({{PreferenceKeys::workspace, gone}});
    Workspace& model = createWorkspace(true);
    EXPECT_FALSE(model.hasFolder());
    EXPECT_EQ(model.folderName(), QStringLiteral("Choose a project"));
    EXPECT_EQ(preferences.values().value(PreferenceKeys::workspace).toString(), gone);
}

TEST_F(WorkspaceModel, aCorruptProviderListKeepsTheBuiltInProviders) {
    QJsonObject missingKey = Provider::defaults().first().toJson();
    missingKey.remove(QStringLiteral("documentation"));
    const QJsonArray oneBadObject{Provider::defaults().last().toJson(), missingKey};
    for (const QVariant& corrupt :
         {QVariant(QByteArray("not json")), QVariant(QByteArray("{\"id\":\"claude\"}")),
          QVariant(QJsonDocument(oneBadObject).toJson()), QVariant(42)}) {
        preferences = MemoryPreferences({{PreferenceKeys::providers, corrupt}});
        Workspace& model = createWorkspace(true);
        EXPECT_EQ(model.providers(), Provider::defaults()) << corrupt.toString().toStdString();
        // The bad value stays until the next save of the list.
        EXPECT_EQ(preferences.values().value(PreferenceKeys::providers), corrupt);
    }
}

TEST_F(WorkspaceModel, aStoredListThatRepeatsAnIdKeepsTheFirstEntryWithIt) {
    Provider first = Provider::defaults().first();
    Provider second = first;
    second.name = QStringLiteral("Second copy");
    second.executable = QStringLiteral("/nonexistent/tool");
    preferences =
        MemoryPreferences({{PreferenceKeys::providers,
                            Provider::encodeList({first, second, Provider::defaults().last()})}});
    Workspace& model = createWorkspace(true);

    ASSERT_EQ(model.providers().size(), 2);
    EXPECT_EQ(model.provider(first.id), first);
    EXPECT_EQ(model.available().value(first.id), fixturesBin() + QStringLiteral("/claude"));
    EXPECT_EQ(model.readyCount(), 1);
}

TEST_F(WorkspaceModel, recentFoldersHoldEachFolderOnceNewestFirstAndAtMostEight) {
    Workspace& model = createWorkspace(false);
    model.setNoticeDurationMs(60000);
    QStringList opened;
    for (int i = 1; i <= 9; ++i) {
        const QString folder = scratch() + QStringLiteral("/folder%1").arg(i);
        ASSERT_TRUE(QDir().mkpath(folder));
        model.setFolder(folder);
        opened.prepend(folder);
    }
    EXPECT_EQ(model.recentFolders(), opened.mid(0, 8));

    // Opening one again moves it to the front without a second entry.
    const QString again = opened.at(5);
    model.setFolder(again + QStringLiteral("/"));
    EXPECT_EQ(model.recentFolders().size(), 8);
    EXPECT_EQ(model.recentFolders().first(), again);
    EXPECT_EQ(model.recentFolders().count(again), 1);
    EXPECT_EQ(model.toast(), QStringLiteral("Workspace opened: folder4"));
}

TEST_F(WorkspaceModel, openingAFolderThatIsGoneChangesNothing) {
    Workspace& model = openWorkspace();
    ASSERT_TRUE(writeFile(projectFile("a.txt"), "text"));
    model.refreshFiles();
    model.openFile(FileEntry{projectFile("a.txt"), false});
    model.setEditorText(QStringLiteral("edited"));
    const QStringList recent = model.recentFolders();

    model.setFolder(scratch() + QStringLiteral("/deleted"));
    EXPECT_EQ(model.toast(),
              QStringLiteral("This project folder is no longer available. Choose another folder."));
    EXPECT_EQ(model.folder(), project());
    EXPECT_EQ(model.selectedFile(), projectFile("a.txt"));
    EXPECT_EQ(model.editorText(), QStringLiteral("edited"));
    EXPECT_EQ(model.recentFolders(), recent);

    ASSERT_TRUE(writeFile(scratch() + QStringLiteral("/plain-file"), "x"));
    model.setFolder(scratch() + QStringLiteral("/plain-file"));
    EXPECT_EQ(model.folder(), project());
}

TEST_F(WorkspaceModel, withoutAFolderRevealAsksForOneAndWithOneOpensIt) {
    Workspace& model = createWorkspace(false);
    model.setNoticeDurationMs(60000);
    dialogs.answerOpen(project());
    model.revealFolder();
    ASSERT_EQ(dialogs.openPanels().size(), 1u);
    EXPECT_FALSE(dialogs.openPanels().front().chooseFiles);
    EXPECT_TRUE(dialogs.openPanels().front().chooseFolders);
    EXPECT_EQ(model.folder(), project());
    EXPECT_TRUE(desktop.openedUrls.empty());

    model.revealFolder();
    ASSERT_EQ(desktop.openedUrls.size(), 1u);
    EXPECT_EQ(QUrl(desktop.openedUrls.front()).toLocalFile(), project());
}

TEST_F(WorkspaceModel, aNewerNoticeReplacesTheOlderAndKeepsItsFullDuration) {
    Workspace& model = createWorkspace(false);
    model.setNoticeDurationMs(300);
    QElapsedTimer clock;
    clock.start();
    model.notify(QStringLiteral("first"));
    processEventsFor(150ms);
    model.notify(QStringLiteral("second"));
    const qint64 secondShownAt = clock.elapsed();
    EXPECT_EQ(model.toast(), QStringLiteral("second"));

    // The first notice's timer has fired by now; it must not clear the second.
    waitUntil([&] { return clock.elapsed() >= 360; });
    EXPECT_EQ(model.toast(), QStringLiteral("second"));
    ASSERT_TRUE(waitUntil([&] { return model.toast().isEmpty(); }, 2s));
    EXPECT_GE(clock.elapsed() - secondShownAt, 290);
}

TEST_F(WorkspaceModel, noticesLastFourSecondsByDefault) {
    Workspace& model = createWorkspace(false);
    ASSERT_EQ(model.noticeDurationMs(), 4000);
    QElapsedTimer clock;
    clock.start();
    model.notify(QStringLiteral("first"));
    processEventsFor(1000ms);
    model.notify(QStringLiteral("second"));
    waitUntil([&] { return clock.elapsed() >= 4300; }, 6s);
    EXPECT_EQ(model.toast(), QStringLiteral("second"));
    ASSERT_TRUE(waitUntil([&] { return model.toast().isEmpty(); }, 3s));
    EXPECT_GE(clock.elapsed(), 4950);
}

TEST_F(WorkspaceModel, keepAwakeHoldsTheAssertionOnlyWhileASessionRuns) {
    Workspace& model = openWorkspace();
    model.setKeepAwake(true);
    EXPECT_TRUE(inhibitor.reasons.empty());
    EXPECT_FALSE(model.activity().active());

    model.setRunnerCommand(QStringLiteral("sleep 0.4"));
    model.runCommand();
    EXPECT_TRUE(model.activity().active());
    ASSERT_EQ(inhibitor.held.size(), 1u);
    EXPECT_EQ(inhibitor.reasons.front(), QStringLiteral("VELK is running a task"));

    ASSERT_TRUE(waitForSessionsToFinish());
    EXPECT_FALSE(model.activity().active());
    EXPECT_TRUE(inhibitor.held.empty());
    EXPECT_EQ(inhibitor.released, std::vector<int>{10});

    // Turning keep-awake off releases at once, with a session still running.
    model.setRunnerCommand(QStringLiteral("sleep 30"));
    model.runCommand();
    ASSERT_EQ(inhibitor.held.size(), 1u);
    model.setKeepAwake(false);
    EXPECT_TRUE(inhibitor.held.empty());
    EXPECT_FALSE(model.activity().active());
}

TEST_F(WorkspaceModel, anAssertionThatCannotBeTakenIsTriedAgainAtTheNextEvaluation) {
    inhibitor.available = false;
    Workspace& model = openWorkspace();
    model.setKeepAwake(true);
    model.setRunnerCommand(QStringLiteral("sleep 30"));
    model.runCommand();
    EXPECT_FALSE(model.activity().active());
    EXPECT_EQ(inhibitor.reasons.size(), 1u);

    inhibitor.available = true;
    model.updateAwakeState();
    EXPECT_TRUE(model.activity().active());
    EXPECT_EQ(inhibitor.held.size(), 1u);
}
