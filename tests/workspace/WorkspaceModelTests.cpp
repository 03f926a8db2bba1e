// The workspace's own state: preferences in and out, the project folder and its recent
// list, notices, and the keep-awake assertion.

#include "WorkspaceTestKit.h"

#include "core/terminal/TerminalSession.h"
#include "core/workspace/PreferenceKeys.h"

#include <QElapsedTimer>
#include <QUrl>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

QVariantMap storedEverything(const QString& folder) {
    Provider custom = Provider::defaults().first();
    custom.id = "mine";
    custom.name = "Mine";
    HistoryEntry entry;
    entry.id = "6F9619FF-8B86-D011-B42D-00C04FC964FF";
    entry.provider = "claude";
    entry.title = "stored";
    entry.directory = folder;
    entry.started = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    entry.exitCode = 0;
    return {
        {PreferenceKeys::keepAwake, true},
        {PreferenceKeys::programClipboard, true},
        {PreferenceKeys::providers, Provider::encodeList({custom, Provider::defaults().last()})},
        {PreferenceKeys::recentFolders, QStringList{folder}},
        {PreferenceKeys::workspace, folder},
        {PreferenceKeys::history, HistoryEntry::encodeList({entry})},
    };
}

}  // namespace

class WorkspaceModel : public WorkspaceTest {};

TEST_F(WorkspaceModel, withPersistenceOffNothingIsReadOrWrittenAndWithItEveryKeyWithItsType) {
    preferences = MemoryPreferences(storedEverything(project()));
    Workspace& off = createWorkspace(false);
    EXPECT_EQ(off.providers.providers(), Provider::defaults());
    EXPECT_TRUE(off.history.history().isEmpty());
    EXPECT_TRUE(off.project.recentFolders().isEmpty());
    EXPECT_FALSE(off.keepAwake.enabled());
    EXPECT_FALSE(off.programClipboard.enabled());
    EXPECT_FALSE(off.project.hasFolder());

    off.notices.setDurationMs(60000);
    off.project.setFolder(project());
    off.keepAwake.setEnabled(true);
    off.providers.saveProvider(Provider::defaults().first());
    off.project.setRunnerCommand("exit 0");
    off.programClipboard.setEnabled(true);
    off.launcher.runCommand();
    // The clipboard setting reaches a session started after it and one already open.
    ASSERT_FALSE(off.sessions.sessions().isEmpty());
    EXPECT_TRUE(off.sessions.sessions().last()->clipboardWritesAllowed());
    off.programClipboard.setEnabled(false);
    EXPECT_FALSE(off.sessions.sessions().last()->clipboardWritesAllowed());
    ASSERT_TRUE(waitForSessionsToFinish());
    EXPECT_EQ(off.history.history().size(), 1);  // recorded in memory only
    off.history.clear();
    EXPECT_EQ(preferences.reads(), 0);
    EXPECT_EQ(preferences.writes(), 0);

    // With persistence on, every key is loaded and each change stored with its type.
    Workspace& model = createWorkspace(true);
    EXPECT_TRUE(model.keepAwake.enabled());
    EXPECT_TRUE(model.programClipboard.enabled());
    ASSERT_EQ(model.providers.providers().size(), Provider::defaults().size() + 1);
    EXPECT_EQ(model.providers.providers().first().id, "mine");
    EXPECT_EQ(model.project.recentFolders(), QStringList{project()});
    EXPECT_EQ(model.project.folder(), project());
    ASSERT_EQ(model.history.history().size(), 1);
    EXPECT_EQ(model.history.history().first().title, "stored");

    const QString other = scratch() + "/other";
    ASSERT_TRUE(QDir().mkpath(other));
    model.project.setFolder(other);
    model.keepAwake.setEnabled(false);
    model.programClipboard.setEnabled(false);
    model.history.clear();
    const QVariantMap& stored = preferences.values();
    EXPECT_EQ(stored.value(PreferenceKeys::workspace).typeId(), QMetaType::QString);
    EXPECT_EQ(stored.value(PreferenceKeys::workspace).toString(), other);
    EXPECT_EQ(stored.value(PreferenceKeys::recentFolders).toStringList(),
              QStringList({other, project()}));
    EXPECT_EQ(stored.value(PreferenceKeys::keepAwake), QVariant(false));
    EXPECT_EQ(stored.value(PreferenceKeys::programClipboard), QVariant(false));
    EXPECT_EQ(stored.value(PreferenceKeys::history).typeId(), QMetaType::QByteArray);
    EXPECT_EQ(HistoryEntry::decodeList(stored.value(PreferenceKeys::history).toByteArray()),
              QList<HistoryEntry>{});

    // A stored folder that no longer exists is skipped and kept in the preferences.
    const QString gone = scratch() + "/gone";
    preferences = MemoryPreferences({{PreferenceKeys::workspace, gone}});
    EXPECT_FALSE(createWorkspace(true).project.hasFolder());
    EXPECT_EQ(workspace().project.folderName(), "Choose a project");
    EXPECT_EQ(preferences.values().value(PreferenceKeys::workspace).toString(), gone);
}

// (An unreadable list: WorkspaceAssistants.aDamagedConnectorIsSetAsideAndTheOthersAreKept.)
TEST_F(WorkspaceModel, aRepeatedProviderIdKeepsItsFirstEntry) {
    const Provider first = Provider::defaults().first();
    Provider second = first;
    second.name = "Second copy";
    second.executable = "/nonexistent/tool";
    preferences =
        MemoryPreferences({{PreferenceKeys::providers,
                            Provider::encodeList({first, second, Provider::defaults().last()})}});
    Workspace& model = createWorkspace(true);
    ASSERT_EQ(model.providers.providers().size(), Provider::defaults().size());
    EXPECT_EQ(model.providers.provider(first.id), first);
    EXPECT_EQ(model.providers.available().value(first.id), fixturesBin() + "/claude");
}

TEST_F(WorkspaceModel, foldersAreRecentOnceNewestFirstAtMostEightAndOneThatIsGoneChangesNothing) {
    Workspace& model = createWorkspace(false);
    model.notices.setDurationMs(60000);
    // Without a folder, reveal asks for one; with one, it shows it.
    dialogs.answerOpen(project());
    model.project.revealFolder();
    ASSERT_EQ(dialogs.openPanels().size(), 1u);
    EXPECT_FALSE(dialogs.openPanels().front().chooseFiles);
    EXPECT_TRUE(dialogs.openPanels().front().chooseFolders);
    EXPECT_EQ(model.project.folder(), project());
    EXPECT_TRUE(desktop.openedUrls.empty());
    model.project.revealFolder();
    ASSERT_EQ(desktop.openedUrls.size(), 1u);
    EXPECT_EQ(QUrl(desktop.openedUrls.front()).toLocalFile(), project());

    QStringList opened{project()};
    for (int i = 1; i <= 8; ++i) {
        opened.prepend(scratch() + QStringLiteral("/folder%1").arg(i));
        ASSERT_TRUE(QDir().mkpath(opened.first()));
        model.project.setFolder(opened.first());
    }
    EXPECT_EQ(model.project.recentFolders(), opened.mid(0, 8));
    // Opening one again moves it to the front without a second entry.
    const QString again = opened.at(5);
    model.project.setFolder(again + "/");
    EXPECT_EQ(model.project.recentFolders().size(), 8);
    EXPECT_EQ(model.project.recentFolders().first(), again);
    EXPECT_EQ(model.project.recentFolders().count(again), 1);
    EXPECT_EQ(model.notices.toast(), "Workspace opened: folder3");

    ASSERT_TRUE(writeFile(again + "/a.txt", "text"));
    model.project.openFile(FileEntry{again + "/a.txt", false});
    model.project.setEditorText("edited");
    const QStringList recent = model.project.recentFolders();
    ASSERT_TRUE(writeFile(scratch() + "/plain-file", "x"));
    for (const QString& gone : {scratch() + "/deleted", scratch() + "/plain-file"}) {
        model.project.setFolder(gone);
        EXPECT_EQ(model.notices.toast(),
                  "This project folder is no longer available. Choose another folder.");
        EXPECT_EQ(model.project.folder(), again);
        EXPECT_EQ(model.project.selectedFile(), again + "/a.txt");
        EXPECT_EQ(model.project.editorText(), "edited");
        EXPECT_EQ(model.project.recentFolders(), recent);
    }
}

TEST_F(WorkspaceModel, aNewerNoticeReplacesTheOlderAndKeepsItsFullDuration) {
    Workspace& model = createWorkspace(false);
    model.notices.setDurationMs(300);
    QElapsedTimer clock;
    clock.start();
    model.notices.notify("first");
    processEventsFor(150ms);
    model.notices.notify("second");
    const qint64 secondShownAt = clock.elapsed();
    EXPECT_EQ(model.notices.toast(), "second");

    // The first notice's timer has fired by now; it must not clear the second.
    waitUntil([&] { return clock.elapsed() >= 360; });
    EXPECT_EQ(model.notices.toast(), "second");
    ASSERT_TRUE(waitUntil([&] { return model.notices.toast().isEmpty(); }, 2s));
    EXPECT_GE(clock.elapsed() - secondShownAt, 290);
}

TEST_F(WorkspaceModel, keepAwakeHoldsTheAssertionOnlyWhileASessionRuns) {
    Workspace& model = openWorkspace();
    model.keepAwake.setEnabled(true);
    EXPECT_TRUE(inhibitor.reasons.empty());
    EXPECT_FALSE(model.keepAwake.activity().active());

    model.project.setRunnerCommand("sleep 0.4");
    model.launcher.runCommand();
    EXPECT_TRUE(model.keepAwake.activity().active());
    ASSERT_EQ(inhibitor.held.size(), 1u);
    EXPECT_EQ(inhibitor.reasons.front(), "VELK is running a task");

    ASSERT_TRUE(waitForSessionsToFinish());
    EXPECT_FALSE(model.keepAwake.activity().active());
    EXPECT_TRUE(inhibitor.held.empty());
    EXPECT_EQ(inhibitor.released, std::vector<int>{10});

    // Turning keep-awake off releases at once, with a session still running.
    model.project.setRunnerCommand("sleep 30");
    model.launcher.runCommand();
    ASSERT_EQ(inhibitor.held.size(), 1u);
    model.keepAwake.setEnabled(false);
    model.programClipboard.setEnabled(false);
    EXPECT_TRUE(inhibitor.held.empty());
    EXPECT_FALSE(model.keepAwake.activity().active());

    // An assertion that cannot be taken is tried again at the next evaluation.
    inhibitor.available = false;
    model.keepAwake.setEnabled(true);
    EXPECT_FALSE(model.keepAwake.activity().active());
    EXPECT_EQ(inhibitor.reasons.size(), 3u);
    inhibitor.available = true;
    model.launcher.runCommand();
    EXPECT_TRUE(model.keepAwake.activity().active());
    EXPECT_EQ(inhibitor.held.size(), 1u);
}

TEST_F(WorkspaceModel, theScrollbackLimitIsStoredKeptInRangeAndReachesEverySession) {
    preferences = MemoryPreferences({{PreferenceKeys::scrollbackLines, 500}});
    Workspace& model = createWorkspace(true);
    EXPECT_EQ(model.scrollback.lines(), 500);
    model.project.setFolder(project());
    model.project.setRunnerCommand("exit 0");
    model.launcher.runCommand();
    ASSERT_FALSE(model.sessions.sessions().isEmpty());
    const SessionPointer session = model.sessions.sessions().last();
    EXPECT_EQ(session->screen().scrollbackLimit(), 500);
    model.scrollback.setLines(250'000);
    EXPECT_EQ(model.scrollback.lines(), TerminalScreen::kMaxScrollbackLimit);
    EXPECT_EQ(session->screen().scrollbackLimit(), TerminalScreen::kMaxScrollbackLimit);
    EXPECT_EQ(preferences.values().value(PreferenceKeys::scrollbackLines),
              QVariant(TerminalScreen::kMaxScrollbackLimit));
    EXPECT_TRUE(waitForSessionsToFinish());
}
