// The Assistants page and the connector editor: which actions each provider offers, the
// editor's save rules and what saving builds, and the connection check and sign-in against
// the fake assistant tools.

#include "UiFixture.h"

#include "assistants/AssistantsPage.h"
#include "assistants/ConnectorEditor.h"
#include "support/TestSupport.h"
#include "terminal/TerminalScreen.h"
#include "terminal/TerminalSession.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

QPushButton* action(QWidget* card, const char* name) {
    return card ? card->findChild<QPushButton*>(QString::fromLatin1(name)) : nullptr;
}

QString statusOf(AssistantsPage& page, const QString& id) {
    QWidget* card = page.card(id);
    return card ? card->findChild<QLabel*>(QStringLiteral("status"))->text() : QString();
}

}  // namespace

class AssistantsPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        fixture.workspace.refreshProviders();
        page = std::make_unique<AssistantsPage>(fixture.workspace, fixture.theme);
        page->resize(1100, 800);
        page->show();
    }
    void TearDown() override {
        page.reset();
        fixture.workspace.stopAll();
        waitUntil([&] { return fixture.workspace.sessions().isEmpty(); }, 5s);
    }

    ConnectorEditor* openEditor(QPushButton* opener) {
        opener->click();
        return page->connectorEditor();
    }

    // The fake tools come first on PATH for every test here.
    ScopedEnvironment path{"PATH", fixturesBin().toLocal8Bit() + ':' + qgetenv("PATH")};
    UiFixture fixture;
    std::unique_ptr<AssistantsPage> page;
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
        QWidget* card = page->card(QString::fromLatin1(c.id));
        ASSERT_NE(card, nullptr) << c.id;
        EXPECT_EQ(action(card, "signIn") != nullptr, c.signIn) << c.id;
        EXPECT_EQ(action(card, "resume") != nullptr, c.resume) << c.id;
        EXPECT_EQ(action(card, "documentation") != nullptr, c.documentation) << c.id;
        EXPECT_NE(action(card, "launch"), nullptr) << c.id;
        EXPECT_NE(action(card, "configure"), nullptr) << c.id;
    }
    // Installed tools show their path; a missing one asks to be installed.
    EXPECT_EQ(page->card(QStringLiteral("claude"))
                  ->findChild<QLabel*>(QStringLiteral("location"))
                  ->text(),
              fixturesBin() + QStringLiteral("/claude"));
    Provider missing;
    missing.id = QStringLiteral("missing");
    missing.name = QStringLiteral("Missing");
    missing.executable = QStringLiteral("no-such-velk-tool");
    missing.templateText = QStringLiteral("x {prompt}");
    fixture.workspace.saveProvider(missing);
    QWidget* card = page->card(QStringLiteral("missing"));
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->findChild<QLabel*>(QStringLiteral("location"))->text(),
              QStringLiteral("Install this tool to connect it"));
    EXPECT_EQ(statusOf(*page, QStringLiteral("missing")), QStringLiteral("Not installed"));
    EXPECT_EQ(statusOf(*page, QStringLiteral("zai")), QStringLiteral("Profile needed"));

    action(page->card(QStringLiteral("claude")), "documentation")->click();
    ASSERT_EQ(fixture.desktop.openedUrls.size(), 1u);
    EXPECT_EQ(fixture.desktop.openedUrls.front(),
              fixture.workspace.provider(QStringLiteral("claude")).documentation);
}

TEST_F(AssistantsPageTest, theEditorAllowsSavingOnlyWithNameExecutableAndASoundTemplate) {
    ConnectorEditor* editor = openEditor(page->addConnectorButton());
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(fixture.workspace.presentConnector());
    EXPECT_EQ(editor->heading()->text(), QStringLiteral("Add an assistant"));
    EXPECT_EQ(editor->templateField()->placeholderText(), QStringLiteral("opencode {prompt}"));
    EXPECT_FALSE(editor->profileBox()->isVisible());
    EXPECT_FALSE(editor->saveButton()->isEnabled());

    editor->nameField()->setText(QStringLiteral("Open Code"));
    editor->executableField()->setText(QStringLiteral("opencode"));
    EXPECT_FALSE(editor->saveButton()->isEnabled()) << "no launch command yet";
    editor->templateField()->setText(QStringLiteral("opencode '{prompt}'"));
    EXPECT_TRUE(editor->templateErrorLabel()->isVisible());
    EXPECT_FALSE(editor->templateErrorLabel()->text().isEmpty());
    EXPECT_FALSE(editor->saveButton()->isEnabled()) << "placeholder inside quotes";
    editor->templateField()->setText(QStringLiteral("opencode {prompt}"));
    EXPECT_FALSE(editor->templateErrorLabel()->isVisible());
    EXPECT_TRUE(editor->saveButton()->isEnabled());
    editor->executableField()->clear();
    EXPECT_FALSE(editor->saveButton()->isEnabled());
    editor->executableField()->setText(QStringLiteral("opencode"));
    editor->nameField()->clear();
    EXPECT_FALSE(editor->saveButton()->isEnabled());

    // The documentation link appears only for an address that passes the check.
    editor->documentationField()->setText(QStringLiteral("https://opencode.ai/docs"));
    EXPECT_TRUE(editor->documentationLink()->isVisible());
    editor->documentationField()->setText(QStringLiteral("https://[unclosed"));
    EXPECT_FALSE(editor->documentationLink()->isVisible());

    // Cancel closes the sheet and stores nothing.
    const QList<Provider> before = fixture.workspace.providers();
    editor->cancelButton()->click();
    EXPECT_FALSE(fixture.workspace.presentConnector());
    EXPECT_TRUE(waitUntil([&] { return page->connectorEditor() == nullptr; }, 2s));
    EXPECT_EQ(fixture.workspace.providers(), before);
}

TEST_F(AssistantsPageTest, aNewConnectorLandsBeforeTheTerminalWithTheCustomDefaults) {
    fixture.theme.setAccentHex(QStringLiteral("A797FF"));
    ConnectorEditor* editor = openEditor(page->addConnectorButton());
    ASSERT_NE(editor, nullptr);
    editor->nameField()->setText(QStringLiteral("Fake Kimi"));
    editor->executableField()->setText(QStringLiteral("kimi"));
    editor->templateField()->setText(QStringLiteral("kimi {prompt}"));
    editor->saveButton()->click();

    const QList<Provider>& providers = fixture.workspace.providers();
    ASSERT_EQ(providers.size(), Provider::defaults().size() + 1);
    const Provider& added = providers.at(providers.size() - 2);
    EXPECT_EQ(providers.last().id, QStringLiteral("shell"));
    EXPECT_EQ(added.name, QStringLiteral("Fake Kimi"));
    EXPECT_FALSE(QUuid::fromString(added.id).isNull()) << added.id.toStdString();
    EXPECT_EQ(added.subtitle, QStringLiteral("Custom · local CLI connector"));
    EXPECT_EQ(added.icon, QStringLiteral("puzzlepiece.extension"));
    EXPECT_EQ(added.colorHex, QStringLiteral("A797FF"));
    EXPECT_FALSE(fixture.workspace.presentConnector());
    ASSERT_NE(page->card(added.id), nullptr);
    EXPECT_EQ(statusOf(*page, added.id), QStringLiteral("Installed · login unchecked"));
    // A custom connector can neither sign in nor resume.
    EXPECT_EQ(action(page->card(added.id), "signIn"), nullptr);
    EXPECT_EQ(action(page->card(added.id), "resume"), nullptr);
}

TEST_F(AssistantsPageTest, configuringKeepsIdSubtitleIconAndColourAndReplacesInPlace) {
    const Provider claude = fixture.workspace.provider(QStringLiteral("claude"));
    ConnectorEditor* editor = openEditor(action(page->card(QStringLiteral("claude")), "configure"));
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->heading()->text(), QStringLiteral("Configure Claude Code"));
    EXPECT_EQ(editor->nameField()->text(), claude.name);
    EXPECT_EQ(editor->templateField()->text(), claude.templateText);
    editor->nameField()->setText(QStringLiteral("Claude at work"));
    editor->saveButton()->click();

    const QList<Provider>& providers = fixture.workspace.providers();
    ASSERT_EQ(providers.size(), Provider::defaults().size());
    Provider expected = claude;
    expected.name = QStringLiteral("Claude at work");
    EXPECT_EQ(providers.first(), expected);

    // The Z.ai profile gets its own placeholder and the separate-profile box.
    editor = openEditor(action(page->card(QStringLiteral("zai")), "configure"));
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(editor->profileBox()->isVisible());
    EXPECT_EQ(editor->templateField()->placeholderText(),
              QStringLiteral("claude --settings /path/to/zai-settings.json {prompt}"));
    EXPECT_FALSE(editor->saveButton()->isEnabled()) << "its launch command is still empty";
}

TEST_F(AssistantsPageTest, checkConnectionsLabelsTheFakeToolsWhileTheWindowKeepsResponding) {
    ScopedEnvironment codex("VELK_FAKE_CODEX_STATUS", "hang");
    ScopedEnvironment claude("VELK_FAKE_CLAUDE_STATUS", "in");
    fixture.workspace.setConnectionCheckTimeoutMs(600);
    if (qEnvironmentVariableIsSet("DISPLAY")) {
        // On a real display the window system's events keep flowing through the check too.
        EXPECT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    }
    QPushButton* check = page->checkConnectionsButton();
    EXPECT_EQ(check->text(), QStringLiteral("Check connections"));
    EXPECT_FALSE(check->toolTip().isEmpty());

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    check->click();
    EXPECT_FALSE(check->isEnabled());
    EXPECT_EQ(check->text(), QStringLiteral("Checking accounts…"));
    ASSERT_TRUE(waitUntil([&] { return !fixture.workspace.checkingConnections(); }, 5s));
    // The event loop kept running while the hanging status command was waited for.
    EXPECT_GT(ticks, 10);
    EXPECT_TRUE(check->isEnabled());
    EXPECT_EQ(check->text(), QStringLiteral("Check connections"));
    EXPECT_EQ(statusOf(*page, QStringLiteral("codex")), QStringLiteral("Check timed out"));
    EXPECT_EQ(statusOf(*page, QStringLiteral("claude")), QStringLiteral("Signed in"));

    ScopedEnvironment codexOut("VELK_FAKE_CODEX_STATUS", "none");
    ScopedEnvironment claudeGarbage("VELK_FAKE_CLAUDE_STATUS", "garbage");
    check->click();
    ASSERT_TRUE(waitUntil([&] { return !fixture.workspace.checkingConnections(); }, 5s));
    EXPECT_EQ(statusOf(*page, QStringLiteral("codex")), QStringLiteral("Sign in needed"));
    EXPECT_EQ(statusOf(*page, QStringLiteral("claude")),
              QStringLiteral("Login status unavailable"));
}

TEST_F(AssistantsPageTest, signInOpensATerminalRunningTheToolsLogin) {
    action(page->card(QStringLiteral("codex")), "signIn")->click();
    ASSERT_EQ(fixture.workspace.sessions().size(), 1);
    const SessionPointer session = fixture.workspace.sessions().first();
    EXPECT_EQ(session->title(), QStringLiteral("Sign in · Codex"));
    EXPECT_TRUE(waitUntil(
        [&] { return session->screen().plainText().contains(QStringLiteral("ARG1=login")); }, 10s))
        << session->screen().plainText().toStdString();
}
