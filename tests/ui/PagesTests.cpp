// The Assistants page and the connector editor (which actions each provider offers, the
// editor's save rules and what saving builds, the connection check and sign-in against the
// fake assistant tools), the History page (filter, selection fallback, clearing, opening a
// snapshot's folder), the Appearance page (presets, hand-picked colours, the text size) and
// the Settings page's attention settings.

#include "UiFixture.h"

#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/PreferenceKeys.h"
#include "support/TestSupport.h"
#include "ui/appearance/AppearancePage.h"
#include "ui/assistants/AssistantsPage.h"
#include "ui/assistants/ConnectorEditor.h"
#include "ui/history/HistoryPage.h"
#include "ui/kit/Switch.h"
#include "ui/settings/SettingsPage.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

class AssistantsPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        fixture.workspace.providers.refreshProviders();
        page.resize(1100, 800);
        page.show();
    }
    void TearDown() override {
        fixture.workspace.sessions.stopAll();
        waitUntil([&] { return fixture.workspace.sessions.sessions().isEmpty(); }, 5s);
    }

    QPushButton* action(const QString& id, const char* name) {
        QWidget* card = page.card(id);
        return card ? card->findChild<QPushButton*>(QString::fromLatin1(name)) : nullptr;
    }
    QString label(const QString& id, const char* name) {
        QWidget* card = page.card(id);
        return card ? card->findChild<QLabel*>(QString::fromLatin1(name))->text() : QString();
    }
    ConnectorEditor* openEditor(QPushButton* opener) {
        opener->click();
        return page.connectorEditor();
    }
    // Fills the editor's three required fields.
    static void fill(ConnectorEditor* editor, const QString& name, const QString& executable,
                     const QString& launch) {
        editor->nameField()->setText(name);
        editor->executableField()->setText(executable);
        editor->templateField()->setText(launch);
    }

    // The fake tools come first on PATH for every test here.
    ScopedEnvironment path{"PATH", fixturesBin().toLocal8Bit() + ':' + qgetenv("PATH")};
    UiFixture fixture;
    AssistantsPage page{fixture.workspace.providers, fixture.workspace.launcher, fixture.navigator,
                        &fixture.desktop, fixture.theme};
};

TEST_F(AssistantsPageTest, eachCardOffersOnlyTheActionsItsProviderAllows) {
    struct Expected {
        const char* id;
        bool signIn, resume, documentation;
    };
    const Expected cases[] = {
        {"claude", true, true, true}, {"codex", true, true, true},
        {"kimi", true, true, true},   {"antigravity", false, true, true},
        {"zai", false, false, true},  {"shell", false, false, false},
    };
    for (const Expected& c : cases) {
        const QString id = QString::fromLatin1(c.id);
        ASSERT_NE(page.card(id), nullptr) << c.id;
        EXPECT_EQ(action(id, "signIn") != nullptr, c.signIn) << c.id;
        EXPECT_EQ(action(id, "resume") != nullptr, c.resume) << c.id;
        EXPECT_EQ(action(id, "documentation") != nullptr, c.documentation) << c.id;
        EXPECT_NE(action(id, "launch"), nullptr) << c.id;
        EXPECT_NE(action(id, "configure"), nullptr) << c.id;
    }
    // Installed tools show their path; a missing one asks to be installed.
    EXPECT_EQ(label("claude", "location"), fixturesBin() + "/claude");
    EXPECT_EQ(label("zai", "status"), "Profile needed");
    Provider missing = fixture.workspace.providers.provider("kimi");
    missing.id = "missing";
    missing.executable = "no-such-velk-tool";
    fixture.workspace.providers.saveProvider(missing);
    EXPECT_EQ(label("missing", "location"), "Install this tool to connect it");

    action("claude", "documentation")->click();
    EXPECT_EQ(fixture.desktop.openedUrls,
              std::vector{fixture.workspace.providers.provider("claude").documentation});
}

TEST_F(AssistantsPageTest, theEditorSavesOnlyASoundConnectorAndANewOneLandsBeforeTheTerminal) {
    fixture.theme.setAccentHex("A797FF");
    ConnectorEditor* editor = openEditor(page.addConnectorButton());
    ASSERT_NE(editor, nullptr);
    EXPECT_FALSE(editor->profileBox()->isVisible());
    EXPECT_FALSE(editor->saveButton()->isEnabled());

    fill(editor, "Open Code", "opencode", QString());
    EXPECT_FALSE(editor->saveButton()->isEnabled()) << "no launch command yet";
    editor->templateField()->setText("opencode '{prompt}'");
    EXPECT_TRUE(editor->templateErrorLabel()->isVisible());
    EXPECT_FALSE(editor->templateErrorLabel()->text().isEmpty());
    EXPECT_FALSE(editor->saveButton()->isEnabled()) << "placeholder inside quotes";
    // An interpreter that receives the task is a warning; a shell's -c is a refusal.
    editor->templateField()->setText("python3 -m opencode {prompt}");
    EXPECT_TRUE(editor->templateWarningLabel()->isVisible());
    EXPECT_TRUE(editor->templateWarningLabel()->text().startsWith("python3 can run"));
    EXPECT_TRUE(editor->saveButton()->isEnabled());
    editor->templateField()->setText("sh -c {prompt}");
    EXPECT_TRUE(editor->templateErrorLabel()->isVisible());
    EXPECT_FALSE(editor->templateWarningLabel()->isVisible());
    EXPECT_FALSE(editor->saveButton()->isEnabled());
    editor->templateField()->setText("opencode {prompt}");
    EXPECT_FALSE(editor->templateErrorLabel()->isVisible());
    EXPECT_FALSE(editor->templateWarningLabel()->isVisible());
    EXPECT_TRUE(editor->saveButton()->isEnabled());
    for (QLineEdit* required : {editor->executableField(), editor->nameField()}) {
        const QString text = required->text();
        required->clear();
        EXPECT_FALSE(editor->saveButton()->isEnabled()) << qPrintable(text) << " emptied";
        required->setText(text);
    }

    // The documentation link appears only for an address that passes the check.
    editor->documentationField()->setText("https://opencode.ai/docs");
    EXPECT_TRUE(editor->documentationLink()->isVisible());
    editor->documentationField()->setText("https://[unclosed");
    EXPECT_FALSE(editor->documentationLink()->isVisible());

    // Cancel closes the sheet and stores nothing.
    const QList<Provider> before = fixture.workspace.providers.providers();
    editor->cancelButton()->click();
    EXPECT_FALSE(fixture.navigator.presentConnector());
    EXPECT_TRUE(waitUntil([&] { return page.connectorEditor() == nullptr; }, 2s));
    EXPECT_EQ(fixture.workspace.providers.providers(), before);

    // What saving a new connector builds: the custom defaults with the theme's accent.
    editor = openEditor(page.addConnectorButton());
    ASSERT_NE(editor, nullptr);
    fill(editor, "Fake Kimi", "kimi", "kimi {prompt}");
    editor->saveButton()->click();

    const QList<Provider>& providers = fixture.workspace.providers.providers();
    ASSERT_EQ(providers.size(), Provider::defaults().size() + 1);
    const Provider& added = providers.at(providers.size() - 2);
    EXPECT_EQ(providers.last().id, "shell");
    EXPECT_EQ(added.name, "Fake Kimi");
    EXPECT_FALSE(QUuid::fromString(added.id).isNull()) << added.id.toStdString();
    EXPECT_EQ(added.subtitle, "Custom · local CLI connector");
    EXPECT_EQ(added.icon, "puzzlepiece.extension");
    EXPECT_EQ(added.colorHex, "A797FF");
    EXPECT_FALSE(fixture.navigator.presentConnector());
    EXPECT_EQ(label(added.id, "status"), "Installed · login unchecked");
    // A custom connector can neither sign in nor resume.
    EXPECT_EQ(action(added.id, "signIn"), nullptr);
    EXPECT_EQ(action(added.id, "resume"), nullptr);
}

TEST_F(AssistantsPageTest, configuringKeepsIdSubtitleIconAndColourAndReplacesInPlace) {
    const Provider claude = fixture.workspace.providers.provider("claude");
    ConnectorEditor* editor = openEditor(action("claude", "configure"));
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->heading()->text(), "Configure Claude Code");
    EXPECT_EQ(editor->nameField()->text(), claude.name);
    EXPECT_EQ(editor->templateField()->text(), claude.templateText);
    editor->nameField()->setText("Claude at work");
    editor->saveButton()->click();

    ASSERT_EQ(fixture.workspace.providers.providers().size(), Provider::defaults().size());
    Provider expected = claude;
    expected.name = "Claude at work";
    EXPECT_EQ(fixture.workspace.providers.providers().first(), expected);

    // The Z.ai profile gets its own placeholder and the separate-profile box.
    editor = openEditor(action("zai", "configure"));
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(editor->profileBox()->isVisible());
    EXPECT_EQ(editor->templateField()->placeholderText(),
              "claude --settings /path/to/zai-settings.json {prompt}");
    EXPECT_FALSE(editor->saveButton()->isEnabled()) << "its launch command is still empty";
}

TEST_F(AssistantsPageTest, checkConnectionsLabelsTheFakeToolsWhileTheWindowKeepsResponding) {
    ScopedEnvironment codex("VELK_FAKE_CODEX_STATUS", "hang");
    ScopedEnvironment claude("VELK_FAKE_CLAUDE_STATUS", "in");
    fixture.workspace.providers.setConnectionCheckTimeoutMs(600);
    QPushButton* check = page.checkConnectionsButton();

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    check->click();
    EXPECT_FALSE(check->isEnabled());
    EXPECT_EQ(check->text(), "Checking accounts…");
    ASSERT_TRUE(waitUntil([&] { return !fixture.workspace.providers.checkingConnections(); }, 5s));
    // The event loop kept running while the hanging status command was waited for.
    EXPECT_GT(ticks, 10);
    EXPECT_TRUE(check->isEnabled());
    EXPECT_EQ(check->text(), "Check connections");
    EXPECT_EQ(label("codex", "status"), "Check timed out");
    EXPECT_EQ(label("claude", "status"), "Signed in");

    ScopedEnvironment codexOut("VELK_FAKE_CODEX_STATUS", "none");
    ScopedEnvironment claudeGarbage("VELK_FAKE_CLAUDE_STATUS", "garbage");
    check->click();
    ASSERT_TRUE(waitUntil([&] { return !fixture.workspace.providers.checkingConnections(); }, 5s));
    EXPECT_EQ(label("codex", "status"), "Sign in needed");
    EXPECT_EQ(label("claude", "status"), "Login status unavailable");
}

TEST_F(AssistantsPageTest, signInOpensATerminalRunningTheToolsLogin) {
    action("codex", "signIn")->click();
    ASSERT_EQ(fixture.workspace.sessions.sessions().size(), 1);
    const SessionPointer session = fixture.workspace.sessions.sessions().first();
    EXPECT_EQ(session->title(), "Sign in · Codex");
    EXPECT_TRUE(
        waitUntil([&] { return session->screen().plainText().contains("ARG1=login"); }, 10s))
        << session->screen().plainText().toStdString();
}

// ---- History and Appearance ----------------------------------------------------------

HistoryEntry entry(const QString& provider, const QString& title, const QString& directory,
                   int exitCode, const QString& output) {
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    return {id, provider, title, directory, QDateTime::currentDateTimeUtc(), exitCode, output};
}

// A persisting workspace whose stored history holds three snapshots, newest first.
class HistoryPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        page.resize(1100, 700);
        page.show();
    }
    void TearDown() override {
        // The start-up connection check may still be running; let it finish first.
        waitUntil([&] { return !workspace.providers.checkingConnections(); });
    }
    // The snapshots the list shows (a search hides the others), top to bottom.
    QStringList listedIDs() const {
        QStringList ids;
        for (int row = 0; row < page.list()->count(); ++row) {
            if (!page.list()->item(row)->isHidden()) {
                ids << page.list()->item(row)->data(Qt::UserRole).toString();
            }
        }
        return ids;
    }

    QTemporaryDir folder;
    const QList<HistoryEntry> stored = {
        entry("codex", "Fix the parser", folder.path(), 0, "parser fixed"),
        entry("claude", "Write docs", folder.path(), 2, QString()),
        entry("shell", "Codex review", folder.filePath("gone"), 130, "review")};
    UiFixture fixture{true, {{PreferenceKeys::history, HistoryEntry::encodeList(stored)}}};
    Workspace& workspace = fixture.workspace;
    HistoryPage page{workspace.history, workspace.project, fixture.navigator, fixture.dialogs,
                     fixture.theme};
};

TEST_F(HistoryPageTest, theFilterMatchesTitleOrProviderAndTheDetailFallsBackToTheNewest) {
    ASSERT_EQ(listedIDs().size(), 3);
    EXPECT_FALSE(page.showsEmptyState());
    EXPECT_EQ(page.shownEntry()->id, stored[0].id) << "nothing selected shows the newest";
    EXPECT_EQ(page.outputView()->toPlainText(), "parser fixed");

    page.select(stored[1].id);
    EXPECT_EQ(page.outputView()->toPlainText(), "No terminal output was captured.");
    EXPECT_TRUE(page.list()->item(1)->isSelected());

    // "codex" matches one provider and one title, case-insensitively; order stays newest first.
    const QPointer<QWidget> firstRow = page.list()->itemWidget(page.list()->item(0));
    page.searchField()->setText("CODEX");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(listedIDs(), QStringList({stored[0].id, stored[2].id}));
    EXPECT_TRUE(firstRow) << "a search hides rows, it does not rebuild them";
    // The selected snapshot is filtered out: the newest listed one is shown instead.
    EXPECT_EQ(page.shownEntry()->id, stored[0].id);

    page.searchField()->setText("nothing like this");
    EXPECT_TRUE(listedIDs().isEmpty());
    EXPECT_FALSE(page.shownEntry().has_value());
    page.searchField()->clear();
    EXPECT_EQ(listedIDs().size(), 3);
    EXPECT_EQ(page.shownEntry()->id, stored[1].id) << "the selection comes back";
}

TEST_F(HistoryPageTest, clearAsksFirstAndOnlyClearEmptiesTheHistory) {
    fixture.dialogs.answerAlert("Cancel");
    page.clearButton()->click();
    ASSERT_EQ(fixture.dialogs.alerts().size(), 1u);
    EXPECT_EQ(fixture.dialogs.alerts()[0].message, "Clear VELK’s saved history?");
    EXPECT_EQ(fixture.dialogs.alerts()[0].buttons, QStringList({"Clear", "Cancel"}));
    EXPECT_EQ(workspace.history.history().size(), 3);
    EXPECT_FALSE(page.showsEmptyState());

    fixture.dialogs.answerAlert("Clear");
    page.clearButton()->click();
    EXPECT_TRUE(workspace.history.history().isEmpty());
    EXPECT_TRUE(page.showsEmptyState());
    EXPECT_EQ(workspace.notices.toast(), "VELK history cleared.");
}

TEST_F(HistoryPageTest, openFolderReopensTheSnapshotsFolderButNotADeletedOne) {
    page.select(stored[2].id);  // its folder does not exist
    page.openFolderButton()->click();
    EXPECT_FALSE(workspace.project.hasFolder());
    EXPECT_EQ(workspace.notices.toast(),
              "This project folder is no longer available. Choose another folder.");

    fixture.navigator.setDestination(Destination::History);
    page.select(stored[0].id);
    page.openFolderButton()->click();
    EXPECT_EQ(workspace.project.folder(), QDir::cleanPath(folder.path()));
    EXPECT_EQ(fixture.navigator.destination(), Destination::Workspace);

    page.exportButton()->click();
    ASSERT_EQ(fixture.dialogs.savePanels().size(), 1u);
    EXPECT_EQ(fixture.dialogs.savePanels()[0].proposedName, "VELK-session.txt");
}

TEST(AppearancePage, presetsApplyAndAHandPickedColourMakesThePaletteCustom) {
    MemoryPreferences preferences;
    Theme theme(true, preferences);
    AppearancePage page(theme);
    page.show();
    auto checkShown = [&](const QString& id) {
        return page.presetCard(id)->findChild<QLabel*>("check")->isVisible();
    };
    EXPECT_TRUE(checkShown("vira"));

    QTest::mouseClick(page.presetCard("ocean"), Qt::LeftButton);
    EXPECT_EQ(theme.presetID(), "ocean");
    EXPECT_EQ(theme.backgroundHex(), "081322");
    EXPECT_TRUE(checkShown("ocean"));
    EXPECT_FALSE(checkShown("vira"));

    // The colour dialog is answered by the test; cancelling changes nothing.
    std::optional<QColor> answer;
    page.setColorChooser([&](const QColor&, const QString&) { return answer; });
    page.accentButton()->click();
    EXPECT_EQ(theme.presetID(), "ocean");
    answer = QColor(255, 0, 128);
    page.accentButton()->click();
    EXPECT_EQ(theme.accentHex(), "FF0080");
    EXPECT_EQ(theme.presetID(), "custom");
    EXPECT_TRUE(page.accentButton()->text().contains("FF0080"));
    EXPECT_FALSE(checkShown("ocean"));
    // The colour was stored with the former preset id; "custom" waits for the next save.
    EXPECT_EQ(preferences.value("preset").toString(), "ocean");
    EXPECT_EQ(preferences.value("accent").toString(), "FF0080");

    page.restoreButton()->click();
    EXPECT_EQ(theme.presetID(), "vira");
    EXPECT_EQ(theme.accentHex(), "00D9FF");
}

TEST(AppearancePage, theTextSliderStaysWithinTenToTwentyPoints) {
    MemoryPreferences preferences;
    Theme theme(false, preferences);
    AppearancePage page(theme);
    QSlider* slider = page.fontSlider();
    EXPECT_EQ(slider->value(), 12);
    EXPECT_EQ(page.fontSizeLabel()->text(), "12 pt");

    slider->setValue(25);
    EXPECT_EQ(theme.fontSize(), 20.0);
    EXPECT_EQ(page.fontSizeLabel()->text(), "20 pt");
    slider->setValue(3);
    EXPECT_EQ(theme.fontSize(), 10.0);
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_EQ(theme.fontSize(), 11.0);

    // A size set elsewhere moves the slider without being rewritten by it.
    theme.setFontSize(16.0);
    EXPECT_EQ(slider->value(), 16);
    EXPECT_EQ(page.fontSizeLabel()->text(), "16 pt");
}

// The notification switch and the stalled time are stored with the preferences and read
// back by the next launch's workspace.
TEST(SettingsPage, theNotificationSwitchAndTheStalledTimeAreStored) {
    UiFixture fixture(true);
    Workspace& w = fixture.workspace;
    SettingsPage page(w.providers, w.keepAwake, w.programClipboard, w.pasteSafety, w.scrollback,
                      fixture.navigator, w.notices, &fixture.desktop, fixture.theme,
                      {&w.teamRuns, &w.project, &w.sessionRestore, &w.attention});
    ASSERT_TRUE(page.notificationsSwitch() && page.stalledMinutes());
    if (const QByteArray folder = qgetenv("VELK_SCREENSHOT_DIR"); !folder.isEmpty()) {
        page.resize(1100, 1100);
        page.grab().save(QString::fromLocal8Bit(folder) + "/settings-attention.png");
    }
    EXPECT_TRUE(page.notificationsSwitch()->isChecked());
    EXPECT_EQ(page.stalledMinutes()->value(), 10);

    page.notificationsSwitch()->click();
    page.stalledMinutes()->setValue(3);
    ASSERT_TRUE(fixture.preferences.contains(PreferenceKeys::attentionNotifications));
    EXPECT_FALSE(fixture.preferences.value(PreferenceKeys::attentionNotifications).toBool());
    EXPECT_EQ(fixture.preferences.value(PreferenceKeys::stalledAfterSeconds).toInt(), 180);

    const Workspace next(true, WorkspaceServices{&fixture.preferences, &fixture.dialogs,
                                                 &fixture.inhibitor, &fixture.desktop});
    EXPECT_FALSE(next.attention.notificationsEnabled());
    EXPECT_EQ(next.attention.stalledAfterSeconds(), 180);
}

}  // namespace
