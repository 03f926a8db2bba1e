// Tool discovery, readiness, connection checks against the fake tools, connectors, and
// the sign-in and resume terminals.

#include "WorkspaceTestKit.h"

#include "assistants/LocalTools.h"
#include "workspace/ConnectionStatus.h"
#include "workspace/PreferenceKeys.h"

#include <QFile>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

Provider connector(const QString& id, const QString& executable, const QString& templateText) {
    Provider provider;
    provider.id = id;
    provider.name = QStringLiteral("Connector ") + id;
    provider.executable = executable;
    provider.templateText = templateText;
    return provider;
}

bool makeExecutable(const QString& path) {
    return writeFile(path, "#!/bin/sh\n") &&
           QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace

class WorkspaceAssistants : public WorkspaceTest {};

TEST_F(WorkspaceAssistants, theFakeToolsAreFoundAndTheShellIsReadyButNeverCounted) {
    Workspace& model = openWorkspace();
    EXPECT_EQ(model.available().value(QStringLiteral("claude")),
              fixturesBin() + QStringLiteral("/claude"));
    EXPECT_EQ(model.available().value(QStringLiteral("antigravity")),
              fixturesBin() + QStringLiteral("/agy"));
    EXPECT_EQ(model.available().value(QStringLiteral("shell")), QStringLiteral("/bin/zsh"));
    // claude, codex, kimi and antigravity; "zai" has no template, the shell never counts.
    EXPECT_EQ(model.readyCount(), 4);

    const Provider zai = model.provider(QStringLiteral("zai"));
    EXPECT_TRUE(model.available().contains(QStringLiteral("zai")));
    EXPECT_FALSE(model.isReady(zai));
    EXPECT_EQ(model.connectionLabel(zai), QStringLiteral("Profile needed"));
    EXPECT_EQ(model.connectionLabel(model.provider(QStringLiteral("shell"))),
              QStringLiteral("Ready"));
    EXPECT_EQ(model.connectionLabel(model.provider(QStringLiteral("kimi"))),
              QStringLiteral("Installed · login unchecked"));
    EXPECT_EQ(model.provider(QStringLiteral("no-such-id")).id, QStringLiteral("shell"));
}

TEST_F(WorkspaceAssistants, executablesAreSearchedInPathThenInTheUsualFoldersAndPathsAreChecked) {
    Workspace& model = createWorkspace(false);
    const QString home = scratch() + QStringLiteral("/home");
    ScopedEnvironment homeVariable("HOME", home.toLocal8Bit());
    ASSERT_TRUE(makeExecutable(home + QStringLiteral("/.local/bin/velk-probe")));
    ASSERT_TRUE(makeExecutable(home + QStringLiteral("/tools/probe")));
    ASSERT_TRUE(writeFile(home + QStringLiteral("/tools/not-executable"), "x"));
    ASSERT_TRUE(QDir().mkpath(home + QStringLiteral("/tools/folder")));

    EXPECT_EQ(model.executablePath(QStringLiteral("velk-probe")),
              home + QStringLiteral("/.local/bin/velk-probe"));
    EXPECT_EQ(model.executablePath(QStringLiteral("~/tools/probe")),
              home + QStringLiteral("/tools/probe"));
    EXPECT_EQ(model.executablePath(home + QStringLiteral("/tools/probe")),
              home + QStringLiteral("/tools/probe"));
    // A path is only checked as given, never searched.
    EXPECT_EQ(model.executablePath(QStringLiteral("~/probe")), std::nullopt);
    EXPECT_EQ(model.executablePath(QStringLiteral("~/tools/not-executable")), std::nullopt);
    EXPECT_EQ(model.executablePath(QStringLiteral("~/tools/folder")), std::nullopt);
    EXPECT_EQ(model.executablePath(QStringLiteral("no-such-velk-tool")), std::nullopt);

    // PATH comes first: a tool in it wins over the same name in ~/.local/bin.
    ASSERT_TRUE(makeExecutable(home + QStringLiteral("/.local/bin/claude")));
    EXPECT_EQ(model.executablePath(QStringLiteral("claude")),
              fixturesBin() + QStringLiteral("/claude"));
}

TEST_F(WorkspaceAssistants, aFoundToolWithABlankTemplateIsNotReady) {
    Workspace& model = openWorkspace();
    const Provider blank =
        connector(QStringLiteral("blank"), QStringLiteral("claude"), QStringLiteral(" \n "));
    model.saveProvider(blank);
    EXPECT_TRUE(model.available().contains(QStringLiteral("blank")));
    EXPECT_FALSE(model.isReady(blank));
    EXPECT_EQ(model.connectionLabel(blank), QStringLiteral("Not installed"));
}

TEST_F(WorkspaceAssistants, codexStatusCountsAccountAndApiKeyLoginsButNothingElse) {
    const auto label = [](int code, const char* output, bool timedOut = false) {
        return ConnectionStatus::codexLabel(ToolResult{code, QString::fromUtf8(output), timedOut});
    };
    EXPECT_EQ(label(0, "Logged in using ChatGPT\n"), QStringLiteral("Signed in"));
    EXPECT_EQ(label(0, "API key configured - sk-proj-***\n"), QStringLiteral("Signed in"));
    EXPECT_EQ(label(1, "Not logged in\n"), QStringLiteral("Sign in needed"));
    EXPECT_EQ(label(0, "Not logged in\n"), QStringLiteral("Sign in needed"));
    EXPECT_EQ(label(0, "logged in\n"), QStringLiteral("Sign in needed"));
    EXPECT_EQ(label(1, "Logged in using ChatGPT\n"), QStringLiteral("Sign in needed"));
    EXPECT_EQ(label(143, "", true), QStringLiteral("Check timed out"));

    const auto claude = [](int code, const char* output) {
        return ConnectionStatus::claudeLabel(ToolResult{code, QString::fromUtf8(output), false});
    };
    EXPECT_EQ(claude(1, "{\"loggedIn\": true}"), QStringLiteral("Signed in"));
    EXPECT_EQ(claude(0, "{\"loggedIn\": false}"), QStringLiteral("Sign in needed"));
    EXPECT_EQ(claude(0, "{\"loggedIn\": \"yes\"}"), QStringLiteral("Login status unavailable"));
    EXPECT_EQ(claude(0, "[true]"), QStringLiteral("Login status unavailable"));
    EXPECT_EQ(claude(0, ""), QStringLiteral("Login status unavailable"));
}

struct StatusCase {
    const char* codexMode;
    const char* claudeMode;
    const char* codexLabel;
    const char* claudeLabel;
};

TEST_F(WorkspaceAssistants, connectionChecksAskTheFakeToolsAndReplaceTheWholeMap) {
    Workspace& model = openWorkspace();
    model.setConnectionCheckTimeoutMs(400);
    const StatusCase cases[] = {
        {"chatgpt", "in", "Signed in", "Signed in"},
        {"apikey", "out", "Signed in", "Sign in needed"},
        {"none", "garbage", "Sign in needed", "Login status unavailable"},
        {"hang", "hang", "Check timed out", "Login status unavailable"},
    };
    for (const StatusCase& c : cases) {
        ScopedEnvironment codex("VELK_FAKE_CODEX_STATUS", c.codexMode);
        ScopedEnvironment claude("VELK_FAKE_CLAUDE_STATUS", c.claudeMode);
        model.checkConnections();
        EXPECT_TRUE(model.checkingConnections());
        // A second request while one runs is ignored.
        model.checkConnections();
        ASSERT_TRUE(waitUntil([&] { return !model.checkingConnections(); }, 5s));
        const QMap<QString, QString> expected{
            {QStringLiteral("codex"), QString::fromUtf8(c.codexLabel)},
            {QStringLiteral("claude"), QString::fromUtf8(c.claudeLabel)}};
        EXPECT_EQ(model.connectionStatus(), expected) << c.codexMode << " / " << c.claudeMode;
        EXPECT_EQ(model.connectionLabel(model.provider(QStringLiteral("codex"))),
                  QString::fromUtf8(c.codexLabel));
    }
}

TEST_F(WorkspaceAssistants, aWorkspaceDestroyedDuringACheckIsLeftAlone) {
    ScopedEnvironment codex("VELK_FAKE_CODEX_STATUS", "hang");
    {
        Workspace& model = openWorkspace();
        model.setConnectionCheckTimeoutMs(300);
        model.checkConnections();
    }
    TearDown();  // destroys the workspace while the check still runs
    processEventsFor(800ms);
    SUCCEED();
}

TEST_F(WorkspaceAssistants, savingAConnectorInsertsItBeforeTheShellAndSavingAgainReplacesIt) {
    preferences = MemoryPreferences();
    Workspace& model = createWorkspace(true);
    model.setNoticeDurationMs(60000);
    Provider mine =
        connector(QStringLiteral("mine"), QStringLiteral("kimi"), QStringLiteral("kimi {prompt}"));
    model.saveProvider(mine);

    const int count = int(Provider::defaults().size()) + 1;
    ASSERT_EQ(model.providers().size(), count);
    EXPECT_EQ(model.providers().at(count - 2), mine);
    EXPECT_EQ(model.providers().last().id, QStringLiteral("shell"));
    EXPECT_TRUE(model.isReady(mine));
    EXPECT_EQ(model.toast(), QStringLiteral("Connector mine configuration saved."));
    EXPECT_EQ(
        Provider::decodeList(preferences.values().value(PreferenceKeys::providers).toByteArray()),
        model.providers());

    mine.name = QStringLiteral("Renamed");
    model.saveProvider(mine);
    EXPECT_EQ(model.providers().size(), count);
    EXPECT_EQ(model.providers().at(count - 2).name, QStringLiteral("Renamed"));
}

TEST_F(WorkspaceAssistants, signInOpensTheToolsOwnLoginOrTheEditorWhenNotInstalled) {
    Workspace& model = openWorkspace();
    const Provider claude = model.provider(QStringLiteral("claude"));
    model.signIn(claude);
    ASSERT_EQ(model.sessions().size(), 1);
    const SessionPointer session = model.sessions().first();
    EXPECT_EQ(session->title(), QStringLiteral("Sign in · Claude Code"));
    EXPECT_EQ(session->command(), shellQuote(fixturesBin() + QStringLiteral("/claude")) +
                                      QStringLiteral(" auth login"));
    EXPECT_EQ(session->directory(), project());
    ASSERT_TRUE(waitForSessionsToFinish());
    EXPECT_TRUE(session->screen().plainText().contains(QStringLiteral("ARG2=login")));

    const Provider missing =
        connector(QStringLiteral("missing"), QStringLiteral("no-such-velk-tool"),
                  QStringLiteral("x {prompt}"));
    model.signIn(missing);
    EXPECT_TRUE(model.presentConnector());
    EXPECT_EQ(model.editingProvider(), missing);
    EXPECT_EQ(model.sessions().size(), 1);
}

TEST_F(WorkspaceAssistants, resumeContinuesTheToolsLastSessionAndIgnoresOthers) {
    Workspace& model = openWorkspace();
    model.resume(model.provider(QStringLiteral("codex")));
    ASSERT_EQ(model.sessions().size(), 1);
    EXPECT_EQ(model.sessions().first()->title(), QStringLiteral("Resume · Codex"));
    EXPECT_EQ(model.sessions().first()->command(),
              shellQuote(fixturesBin() + QStringLiteral("/codex")) +
                  QStringLiteral(" resume --last --sandbox workspace-write"));

    const Provider mine =
        connector(QStringLiteral("mine"), QStringLiteral("kimi"), QStringLiteral("kimi {prompt}"));
    model.saveProvider(mine);
    model.resume(model.provider(QStringLiteral("shell")));
    model.resume(mine);
    EXPECT_EQ(model.sessions().size(), 1);
}
