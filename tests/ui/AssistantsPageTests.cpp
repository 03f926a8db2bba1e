// The Assistants page and the connector editor: which actions each provider offers, the
// editor's save rules and what saving builds, and the connection check and sign-in against
// the fake assistant tools.

#include "UiFixture.h"

#include "assistants/AssistantsPage.h"
#include "assistants/ConnectorEditor.h"
#include "support/TestSupport.h"
#include "terminal/TerminalScreen.h"
#include "terminal/TerminalSession.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

class AssistantsPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        fixture.workspace.refreshProviders();
        page.resize(1100, 800);
        page.show();
    }
    void TearDown() override {
        fixture.workspace.stopAll();
        waitUntil([&] { return fixture.workspace.sessions().isEmpty(); }, 5s);
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
    AssistantsPage page{fixture.workspace, fixture.theme};
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
    Provider missing = fixture.workspace.provider("kimi");
    missing.id = "missing";
    missing.executable = "no-such-velk-tool";
    fixture.workspace.saveProvider(missing);
    EXPECT_EQ(label("missing", "location"), "Install this tool to connect it");

    action("claude", "documentation")->click();
    EXPECT_EQ(fixture.desktop.openedUrls,
              std::vector{fixture.workspace.provider("claude").documentation});
}

TEST_F(AssistantsPageTest, theEditorAllowsSavingOnlyWithNameExecutableAndASoundTemplate) {
    ConnectorEditor* editor = openEditor(page.addConnectorButton());
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(fixture.workspace.presentConnector());
    EXPECT_FALSE(editor->profileBox()->isVisible());
    EXPECT_FALSE(editor->saveButton()->isEnabled());

    fill(editor, "Open Code", "opencode", QString());
    EXPECT_FALSE(editor->saveButton()->isEnabled()) << "no launch command yet";
    editor->templateField()->setText("opencode '{prompt}'");
    EXPECT_TRUE(editor->templateErrorLabel()->isVisible());
    EXPECT_FALSE(editor->templateErrorLabel()->text().isEmpty());
    EXPECT_FALSE(editor->saveButton()->isEnabled()) << "placeholder inside quotes";
    editor->templateField()->setText("opencode {prompt}");
    EXPECT_FALSE(editor->templateErrorLabel()->isVisible());
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
    const QList<Provider> before = fixture.workspace.providers();
    editor->cancelButton()->click();
    EXPECT_FALSE(fixture.workspace.presentConnector());
    EXPECT_TRUE(waitUntil([&] { return page.connectorEditor() == nullptr; }, 2s));
    EXPECT_EQ(fixture.workspace.providers(), before);
}

TEST_F(AssistantsPageTest, aNewConnectorLandsBeforeTheTerminalWithTheCustomDefaults) {
    fixture.theme.setAccentHex("A797FF");
    ConnectorEditor* editor = openEditor(page.addConnectorButton());
    ASSERT_NE(editor, nullptr);
    fill(editor, "Fake Kimi", "kimi", "kimi {prompt}");
    editor->saveButton()->click();

    const QList<Provider>& providers = fixture.workspace.providers();
    ASSERT_EQ(providers.size(), Provider::defaults().size() + 1);
    const Provider& added = providers.at(providers.size() - 2);
    EXPECT_EQ(providers.last().id, "shell");
    EXPECT_EQ(added.name, "Fake Kimi");
    EXPECT_FALSE(QUuid::fromString(added.id).isNull()) << added.id.toStdString();
    EXPECT_EQ(added.subtitle, "Custom · local CLI connector");
    EXPECT_EQ(added.icon, "puzzlepiece.extension");
    EXPECT_EQ(added.colorHex, "A797FF");
    EXPECT_FALSE(fixture.workspace.presentConnector());
    EXPECT_EQ(label(added.id, "status"), "Installed · login unchecked");
    // A custom connector can neither sign in nor resume.
    EXPECT_EQ(action(added.id, "signIn"), nullptr);
    EXPECT_EQ(action(added.id, "resume"), nullptr);
}

TEST_F(AssistantsPageTest, configuringKeepsIdSubtitleIconAndColourAndReplacesInPlace) {
    const Provider claude = fixture.workspace.provider("claude");
    ConnectorEditor* editor = openEditor(action("claude", "configure"));
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->heading()->text(), "Configure Claude Code");
    EXPECT_EQ(editor->nameField()->text(), claude.name);
    EXPECT_EQ(editor->templateField()->text(), claude.templateText);
    editor->nameField()->setText("Claude at work");
    editor->saveButton()->click();

    ASSERT_EQ(fixture.workspace.providers().size(), Provider::defaults().size());
    Provider expected = claude;
    expected.name = "Claude at work";
    EXPECT_EQ(fixture.workspace.providers().first(), expected);

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
    fixture.workspace.setConnectionCheckTimeoutMs(600);
    QPushButton* check = page.checkConnectionsButton();

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    check->click();
    EXPECT_FALSE(check->isEnabled());
    EXPECT_EQ(check->text(), "Checking accounts…");
    ASSERT_TRUE(waitUntil([&] { return !fixture.workspace.checkingConnections(); }, 5s));
    // The event loop kept running while the hanging status command was waited for.
    EXPECT_GT(ticks, 10);
    EXPECT_TRUE(check->isEnabled());
    EXPECT_EQ(check->text(), "Check connections");
    EXPECT_EQ(label("codex", "status"), "Check timed out");
    EXPECT_EQ(label("claude", "status"), "Signed in");

    ScopedEnvironment codexOut("VELK_FAKE_CODEX_STATUS", "none");
    ScopedEnvironment claudeGarbage("VELK_FAKE_CLAUDE_STATUS", "garbage");
    check->click();
    ASSERT_TRUE(waitUntil([&] { return !fixture.workspace.checkingConnections(); }, 5s));
    EXPECT_EQ(label("codex", "status"), "Sign in needed");
    EXPECT_EQ(label("claude", "status"), "Login status unavailable");
}

TEST_F(AssistantsPageTest, signInOpensATerminalRunningTheToolsLogin) {
    action("codex", "signIn")->click();
    ASSERT_EQ(fixture.workspace.sessions().size(), 1);
    const SessionPointer session = fixture.workspace.sessions().first();
    EXPECT_EQ(session->title(), "Sign in · Codex");
    EXPECT_TRUE(
        waitUntil([&] { return session->screen().plainText().contains("ARG1=login"); }, 10s))
        << session->screen().plainText().toStdString();
}

}  // namespace
