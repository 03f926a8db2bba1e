// Tool discovery, readiness, connection checks against the fake tools, connectors, and
// the sign-in and resume terminals.

#include "WorkspaceTestKit.h"

#include "core/assistants/AssistantTraits.h"
#include "core/assistants/ConnectionStatus.h"
#include "core/assistants/LocalTools.h"
#include "core/assistants/LoginShell.h"
#include "core/terminal/SpawnRequest.h"
#include "core/workspace/PreferenceKeys.h"
#include "core/workspace/StoredList.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

Provider connector(const QString& id, const QString& executable, const QString& templateText) {
    Provider provider;
    provider.id = id;
    provider.name = "Connector " + id;
    provider.executable = executable;
    provider.templateText = templateText;
    return provider;
}

bool makeExecutable(const QString& path) {
    return writeFile(path, "#!/bin/sh\n") &&
           QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace

class WorkspaceAssistants : public WorkspaceTest {
protected:
    Provider provider(const QString& id) { return workspace().providers.provider(id); }
};

TEST_F(WorkspaceAssistants, theFakeToolsAreFoundAndTheShellIsReadyButNeverCounted) {
    Workspace& model = openWorkspace();
    EXPECT_EQ(model.providers.available().value("claude"), fixturesBin() + "/claude");
    EXPECT_EQ(model.providers.available().value("antigravity"), fixturesBin() + "/agy");
    EXPECT_EQ(model.providers.available().value("shell"), LoginShell::userShell());
    // claude, codex, kimi and antigravity; "zai" has no template, the shell never counts.
    EXPECT_EQ(model.providers.readyCount(), 4);
    EXPECT_TRUE(model.providers.available().contains("zai"));
    EXPECT_FALSE(model.providers.isReady(provider("zai")));
    EXPECT_EQ(model.providers.connectionLabel(provider("zai")), "Profile needed");
    EXPECT_EQ(model.providers.connectionLabel(provider("shell")), "Ready");
    EXPECT_EQ(model.providers.connectionLabel(provider("kimi")), "Installed · login unchecked");
    EXPECT_EQ(provider("no-such-id").id, "shell");

    // A found tool with a blank template is not ready either.
    const Provider blank = connector("blank", "claude", " \n ");
    model.providers.saveProvider(blank);
    EXPECT_TRUE(model.providers.available().contains("blank"));
    EXPECT_FALSE(model.providers.isReady(blank));
    EXPECT_EQ(model.providers.connectionLabel(blank), "Not installed");
    EXPECT_EQ(model.providers.readyCount(), 4);
}

TEST_F(WorkspaceAssistants, executablesAreSearchedInPathThenInTheUsualFoldersAndPathsAreChecked) {
    Workspace& model = createWorkspace(false);
    const QString home = scratch() + "/home";
    ScopedEnvironment homeVariable("HOME", home.toLocal8Bit());
    ASSERT_TRUE(makeExecutable(home + "/.local/bin/velk-probe"));
    ASSERT_TRUE(makeExecutable(home + "/tools/probe"));
    ASSERT_TRUE(writeFile(home + "/tools/not-executable", "x"));
    ASSERT_TRUE(QDir().mkpath(home + "/tools/folder"));

    EXPECT_EQ(model.providers.executablePath("velk-probe"), home + "/.local/bin/velk-probe");
    EXPECT_EQ(model.providers.executablePath("~/tools/probe"), home + "/tools/probe");
    EXPECT_EQ(model.providers.executablePath(home + "/tools/probe"), home + "/tools/probe");
    // A path is only checked as given, never searched.
    for (const char* missing :
         {"~/probe", "~/tools/not-executable", "~/tools/folder", "no-such-velk-tool"}) {
        EXPECT_EQ(model.providers.executablePath(missing), std::nullopt) << missing;
    }
    // PATH comes first: a tool in it wins over the same name in ~/.local/bin.
    ASSERT_TRUE(makeExecutable(home + "/.local/bin/claude"));
    EXPECT_EQ(model.providers.executablePath("claude"), fixturesBin() + "/claude");
}

TEST_F(WorkspaceAssistants, codexCountsAccountAndApiKeyLoginsAndChecksReplaceTheWholeMap) {
    const auto codex = [](int code, const char* output, bool timedOut = false) {
        return ConnectionStatus::codexLabel(ToolResult{code, QString::fromUtf8(output), timedOut});
    };
    EXPECT_EQ(codex(0, "Logged in using ChatGPT\n"), "Signed in");
    EXPECT_EQ(codex(0, "API key configured - sk-proj-***\n"), "Signed in");
    EXPECT_EQ(codex(1, "Not logged in\n"), "Sign in needed");
    EXPECT_EQ(codex(0, "Not logged in\n"), "Sign in needed");
    EXPECT_EQ(codex(0, "logged in\n"), "Sign in needed");
    EXPECT_EQ(codex(1, "Logged in using ChatGPT\n"), "Sign in needed");
    EXPECT_EQ(codex(143, "", true), "Check timed out");

    const auto claude = [](int code, const char* output) {
        return ConnectionStatus::claudeLabel(ToolResult{code, QString::fromUtf8(output), false});
    };
    EXPECT_EQ(claude(1, "{\"loggedIn\": true}"), "Signed in");
    EXPECT_EQ(claude(0, "{\"loggedIn\": false}"), "Sign in needed");
    for (const char* unreadable : {"{\"loggedIn\": \"yes\"}", "[true]", ""}) {
        EXPECT_EQ(claude(0, unreadable), "Login status unavailable") << unreadable;
    }

    // The live checks ask the fake tools and replace the whole map.
    Workspace& model = openWorkspace();
    model.providers.setConnectionCheckTimeoutMs(400);
    // Modes of the fake codex and claude, then the labels they must give.
    const char* const cases[][4] = {
        {"chatgpt", "in", "Signed in", "Signed in"},
        {"apikey", "out", "Signed in", "Sign in needed"},
        {"none", "garbage", "Sign in needed", "Login status unavailable"},
        {"hang", "hang", "Check timed out", "Login status unavailable"},
    };
    for (const auto& [codexMode, claudeMode, codexLabel, claudeLabel] : cases) {
        ScopedEnvironment codexStatus("VELK_FAKE_CODEX_STATUS", codexMode);
        ScopedEnvironment claudeStatus("VELK_FAKE_CLAUDE_STATUS", claudeMode);
        model.providers.checkConnections();
        EXPECT_TRUE(model.providers.checkingConnections());
        model.providers.checkConnections();  // a second request while one runs follows it
        ASSERT_TRUE(waitUntil([&] { return !model.providers.checkingConnections(); }, 5s));
        EXPECT_EQ(model.providers.connectionStatus(),
                  (QMap<QString, QString>{{"codex", codexLabel}, {"claude", claudeLabel}}))
            << codexMode << " / " << claudeMode;
        EXPECT_EQ(model.providers.connectionLabel(provider("codex")), codexLabel);
    }
}

TEST_F(WorkspaceAssistants, aWorkspaceDestroyedDuringACheckIsLeftAlone) {
    ScopedEnvironment codex("VELK_FAKE_CODEX_STATUS", "hang");
    openWorkspace().providers.setConnectionCheckTimeoutMs(300);
    workspace().providers.checkConnections();
    TearDown();  // destroys the workspace while the check still runs
    processEventsFor(800ms);
    SUCCEED();
}

// A connector that cannot be read is set aside and the others stay, also through the next
// save of the list; a list of which nothing can be read leaves the built-in assistants.
// (Where the list puts a connector is the Assistants page tests' business.)
TEST_F(WorkspaceAssistants, aDamagedConnectorIsSetAsideAndTheOthersAreKept) {
    const QString damagedKey = StoredList::damagedKey(PreferenceKeys::providers);
    const Provider mine = connector("mine", "kimi", "kimi {prompt}");
    QJsonObject damaged = connector("damaged", "claude", "claude {prompt}").toJson();
    damaged.insert("template", 7);
    const QJsonArray stored{mine.toJson(), damaged, Provider::defaults().last().toJson()};
    preferences = MemoryPreferences({{PreferenceKeys::providers, QJsonDocument(stored).toJson()}});
    Workspace& model = createWorkspace(true);
    EXPECT_EQ(model.providers.providers(), QList<Provider>{mine} + Provider::defaults());
    EXPECT_TRUE(model.providers.isReady(model.providers.provider("mine")));
    const QJsonArray setAside{QJsonObject{{"entry", damaged}}};
    EXPECT_EQ(QJsonDocument::fromJson(preferences.values().value(damagedKey).toByteArray()).array(),
              setAside);

    // Saving stores the whole list, the finds set aside stay, and the new one is ready.
    model.notices.setDurationMs(60000);
    model.providers.saveProvider(connector("new", "codex", "codex {prompt}"));
    EXPECT_TRUE(model.providers.isReady(model.providers.provider("new")));
    EXPECT_EQ(model.notices.toast(), "Connector new configuration saved.");
    const auto saved =
        Provider::decodeList(preferences.values().value(PreferenceKeys::providers).toByteArray());
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(*saved, model.providers.providers());
    EXPECT_EQ(saved->size(), Provider::defaults().size() + 2);
    EXPECT_EQ(saved->first(), mine);
    EXPECT_EQ(QJsonDocument::fromJson(preferences.values().value(damagedKey).toByteArray()).array(),
              setAside);

    const std::pair<QByteArray, QJsonValue> unreadable[] = {
        {"not json",
         QJsonObject{{"value", QString::fromLatin1(QByteArray("not json").toBase64())}}},
        {QJsonDocument(QJsonArray{damaged}).toJson(), setAside.first()}};
    for (const auto& [value, find] : unreadable) {
        preferences = MemoryPreferences({{PreferenceKeys::providers, value}});
        EXPECT_EQ(createWorkspace(true).providers.providers(), Provider::defaults());
        EXPECT_EQ(
            QJsonDocument::fromJson(preferences.values().value(damagedKey).toByteArray()).array(),
            QJsonArray{find});
    }
}

// A list stored by an earlier version gains the built-ins added since, each after the one
// before it in card order; the user's connectors and changed built-ins stay as they were.
TEST_F(WorkspaceAssistants, aStoredListGainsNewBuiltInsAndKeepsTheUsersOwn) {
    QList<Provider> earlier = Provider::defaults();
    earlier.removeIf([](const Provider& p) { return p.id == "gemini" || p.id == "claude"; });
    earlier[0].templateText = "codex --model mine {prompt}";
    const Provider mine = connector("mine", "kimi", "kimi {prompt}");
    earlier.insert(earlier.size() - 1, mine);
    preferences = MemoryPreferences({{PreferenceKeys::providers, Provider::encodeList(earlier)}});

    QStringList ids;
    for (const Provider& p : createWorkspace(true).providers.providers()) {
        ids.append(p.id);
    }
    EXPECT_EQ(ids, QStringList({"claude", "codex", "kimi", "antigravity", "gemini", "zai", "mine",
                                "shell"}));
    EXPECT_EQ(workspace().providers.provider("codex").templateText, "codex --model mine {prompt}");
    EXPECT_EQ(workspace().providers.provider("gemini"), AssistantTraits::of("gemini").stock);
    EXPECT_EQ(workspace().providers.provider("mine"), mine);
}

// A stored Terminal card from an earlier version gets today's texts where it still has the
// old built-in ones; a text the user changed stays.
TEST_F(WorkspaceAssistants, storedBuiltInTextsAreUpdatedOnlyWhileTheyAreTheOldOnes) {
    const Provider shell = Provider::defaults().last();
    Provider old = shell;
    old.subtitle = "Your Mac · Zsh shell";
    old.executable = "/bin/zsh";
    old.templateText = "/bin/zsh -l";
    Provider changed = old;
    changed.subtitle = "My zsh";
    changed.id = "mine";  // the same old texts on a connector of the user's
    Provider edited = old;
    edited.templateText = "/bin/zsh -l -i";
    const struct {
        Provider stored, expected;
    } rows[] = {
        {old, shell},
        {changed, changed},
        {edited,
         [&] {
             Provider p = shell;
             p.templateText = "/bin/zsh -l -i";
             return p;
         }()},
    };
    for (const auto& row : rows) {
        preferences =
            MemoryPreferences({{PreferenceKeys::providers, Provider::encodeList({row.stored})}});
        QList<Provider> expected = Provider::defaults();
        if (row.expected.id == shell.id) {
            expected.last() = row.expected;
        } else {
            expected.prepend(row.expected);
        }
        EXPECT_EQ(createWorkspace(true).providers.providers(), expected)
            << row.stored.id.toStdString() << " " << row.stored.templateText.toStdString();
    }
}

TEST_F(WorkspaceAssistants, signInAndResumeOpenTheToolsOwnTerminalsOrTheEditorWhenNotInstalled) {
    Workspace& model = openWorkspace();
    model.launcher.signIn(provider("claude"));
    model.launcher.resume(provider("codex"));
    ASSERT_EQ(model.sessions.sessions().size(), 2);
    const SessionPointer signIn = model.sessions.sessions().first();
    EXPECT_EQ(signIn->title(), "Sign in · Claude Code");
    EXPECT_EQ(signIn->command(), shellQuote(fixturesBin() + "/claude") + " auth login");
    EXPECT_EQ(signIn->directory(), project());
    EXPECT_EQ(model.sessions.sessions().last()->title(), "Resume · Codex");
    EXPECT_EQ(model.sessions.sessions().last()->command(),
              shellQuote(fixturesBin() + "/codex") + ' ' +
                  AssistantTraits::of("codex").commands.notifications +
                  " resume --last --sandbox workspace-write");
    ASSERT_TRUE(waitForSessionsToFinish());
    EXPECT_TRUE(signIn->screen().plainText().contains("ARG2=login"));

    // A sign-in that ends has the states read again.
    ScopedEnvironment signedIn("VELK_FAKE_CLAUDE_STATUS", "in");
    model.launcher.signIn(provider("claude"));
    ASSERT_TRUE(waitUntil(
        [&] { return model.providers.connectionStatus().value("claude") == "Signed in"; }));
    ASSERT_TRUE(waitForSessionsToFinish());

    // Neither the shell nor a connector resumes; a connector not installed opens the editor.
    const Provider missing = connector("missing", "no-such-velk-tool", "x {prompt}");
    model.providers.saveProvider(connector("mine", "kimi", "kimi {prompt}"));
    model.launcher.resume(provider("shell"));
    model.launcher.resume(provider("mine"));
    model.launcher.signIn(missing);
    EXPECT_EQ(requestedConnector, missing);
    EXPECT_EQ(model.sessions.sessions().size(), 3);
}

// Kimi Code and Antigravity, when not installed, say where their makers explain installing
// them; the connector editor opens as before.
TEST_F(WorkspaceAssistants, builtInsNotInstalledSayHowToInstallThem) {
    ScopedEnvironment bare{"PATH", "/usr/bin:/bin"};
    Workspace& model = openWorkspace();
    EXPECT_FALSE(model.launcher.launch(QString(), provider("kimi")));
    EXPECT_EQ(requestedConnector, provider("kimi"));
    EXPECT_EQ(model.notices.toast(),
              "Kimi Code is not installed. Its maker’s page explains how to install it: "
              "https://www.kimi.com/code/docs/en/");
    model.launcher.signIn(provider("antigravity"));
    EXPECT_EQ(requestedConnector, provider("antigravity"));
    EXPECT_EQ(model.notices.toast(),
              "Antigravity is not installed. Its maker’s page explains how to install it: "
              "https://antigravity.google/docs/home");
}

// Started from the desktop's menu, VELK has a bare PATH; the folder the user's ~/.bashrc adds
// comes from the login shell's environment, read in the background, and discovery runs again.
// A shell that hangs in its startup files is stopped at the time-out and VELK goes on.
TEST(LoginEnvironment, toolsOnTheShellsPathAreFoundAndAHangingShellIsLeftBehind) {
    QTemporaryDir home;
    ScopedEnvironment homeVariable{"HOME", QFile::encodeName(home.path())};
    // A folder only VELK's own PATH has stays on the adopted one.
    ScopedEnvironment path{"PATH", "/usr/bin:/bin:/velk-own-folder"};
    ScopedEnvironment shell{"SHELL", "/bin/bash"};
    LoginShell::adopt({});
    const QString tools = home.filePath("tools");
    ASSERT_TRUE(QDir().mkpath(tools));
    ASSERT_TRUE(makeExecutable(tools + "/codex"));
    ASSERT_TRUE(writeFile(home.filePath(".bashrc"), "export PATH=\"$HOME/tools:$PATH\"\n"));

    Notices notices;
    notices.setDurationMs(60000);
    ProviderRegistry registry(nullptr, notices);
    EXPECT_FALSE(registry.available().contains("codex"));
    int settled = 0;
    QObject::connect(&registry, &ProviderRegistry::loginEnvironmentSettled,
                     [&settled] { ++settled; });
    registry.adoptLoginEnvironment();
    ASSERT_TRUE(waitUntil([&] { return settled == 1; }, 30s));
    EXPECT_EQ(registry.available().value("codex"), tools + "/codex");
    EXPECT_TRUE(LoginShell::searchPath().startsWith(tools + ":"));
    EXPECT_TRUE(LoginShell::searchPath().endsWith(":/velk-own-folder"));
    // Sessions and status checks see the same search path.
    EXPECT_TRUE(shellSpawnRequest("codex", home.path())
                    .environment.contains("PATH=" + LoginShell::searchPath()));
    EXPECT_TRUE(LocalTools::statusSearchPath().endsWith(":" + LoginShell::searchPath()));
    EXPECT_EQ(notices.toast(), "");

    LoginShell::adopt({});
    ASSERT_TRUE(writeFile(home.filePath(".bashrc"), "sleep 60\n"));
    registry.adoptLoginEnvironment(300);
    ASSERT_TRUE(waitUntil([&] { return settled == 2; }, 30s));
    EXPECT_EQ(notices.toast(),
              "Could not read your shell’s environment (bash did not finish within 0.3 s). "
              "Assistants whose folder your shell’s startup files add to PATH may not be found.");
    registry.refreshProviders();
    EXPECT_FALSE(registry.available().contains("codex"));
    EXPECT_EQ(LoginShell::searchPath(), "/usr/bin:/bin:/velk-own-folder");
}

// The Terminal card runs the user's own shell: $SHELL when it names one, else the passwd
// entry's.
TEST(LoginEnvironment, theUserShellComesFromShellThenThePasswdEntry) {
    {
        ScopedEnvironment shell{"SHELL", "/bin/zsh"};
        EXPECT_EQ(LoginShell::userShell(), "/bin/zsh");
    }
    for (const char* unusable : {"zsh", "/nonexistent/shell", ""}) {
        ScopedEnvironment shell{"SHELL", unusable};
        const QString chosen = LoginShell::userShell();
        EXPECT_TRUE(chosen.startsWith("/") && QFileInfo(chosen).isExecutable()) << unusable;
        EXPECT_NE(chosen, unusable);
    }
    EXPECT_EQ(LoginShell::startLine("/bin/bash"), "/bin/bash -l");
    EXPECT_EQ(LoginShell::startLine("/opt/my shells/fish"), "'/opt/my shells/fish' -l");
    EXPECT_EQ(LoginShell::displayName("/usr/bin/fish"), "Fish shell");
}
