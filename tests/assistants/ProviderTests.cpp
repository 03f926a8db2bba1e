#include "core/assistants/AssistantTraits.h"
#include "core/assistants/LoginShell.h"
#include "core/assistants/Provider.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <optional>
#include <utility>
#include <vector>

namespace {

Provider builtIn(const QString& id) {
    for (const Provider& provider : Provider::defaults()) {
        if (provider.id == id) {
            return provider;
        }
    }
    ADD_FAILURE() << "no built-in provider " << id.toStdString();
    return {};
}

QString announcing(const QString& id) {
    return AssistantTraits::of(id).commands.notifications;
}

Provider withTemplate(const QString& templateText, const QString& id = "custom") {
    Provider provider = builtIn("claude");
    provider.id = id;
    provider.templateText = templateText;
    return provider;
}

// Rows of {what the code gave, what it should give}, checked one by one.
void expectRows(const std::vector<std::pair<QString, QString>>& rows) {
    for (const auto& [actual, expected] : rows) {
        SCOPED_TRACE(expected.toStdString());
        EXPECT_EQ(actual, expected);
    }
}

}  // namespace

// Where the shell would read the quoted task as code, or as anything but one plain
// argument, or a quote is left open, the template is refused with a message that says where
// {prompt} may go.
TEST(TemplateError, acceptsThePlaceholderOnlyAsAPlainArgumentOfACommand) {
    const QString quoted =
        "Place {prompt} outside quotes and without a backslash. VELK supplies the quotes.";
    const QString code =
        " runs its arguments as shell code. Give {prompt} to a tool that reads "
        "it as text.";
    const std::pair<QStringList, std::optional<QString>> groups[] = {
        {{"tool --task={prompt}",
          "tool -p{prompt} key:{prompt}",
          "tool \\${prompt}",
          "X=1 env Y=2 tool {prompt}",
          "TASK={prompt} tool",
          "cd src && tool {prompt} | tee log",
          "( tool {prompt} )",
          "{ tool {prompt}; }",
          "if true; then tool {prompt}; fi",
          "tool {prompt} 2>/dev/null >log",
          "tool <<< {prompt}",
          "tool {prompt} # the task",
          "tool \"$HOME/x\" $(cat flags) {prompt}",
          "tool --name=\"a b\"{prompt}",
          "cat <<EOF\nhello {not the task}\nEOF\ntool {prompt}",
          "for x in {prompt}; do tool \"$x\"; done",
          "case {prompt} in *) tool;; esac",
          "tool {prompt} | cat; sh -c 'true'",
          "sh -c 'tool \"$@\"'\ntool {prompt}",
          "/bin/zsh -l",
          "\"$HOME\"/bin/tool -c conf {prompt}",
          "",
          "tool {prompt}{prompt}",
          "run '{' {prompt} '}'",
          "tool --x='a b' \"c\" {prompt}",
          "echo 'a\\' {prompt}",
          "echo \\\" {prompt}",
          "echo \\{prompt",
          "echo trailing\\"},
         std::nullopt},
        {{"tool ${prompt}", "tool \"${prompt}\"", "tool $${prompt}"},
         "Remove the $ before {prompt}: after it the shell would read the task as code."},
        // zsh reads bytes: an apostrophe followed by a combining mark still opens a quote.
        {{"tool $'{prompt}'", "tool $'a\\'b {prompt}'", "claude \"{prompt}\"", "claude '{prompt}'",
          "claude \\{prompt}", "claude {prompt} \"x {prompt}\"", "claude \"it's {prompt}\"",
          "claude \"a\\\"{prompt}\"", "claude '\u0301{prompt}"},
         quoted},
        {{"claude {prompt} \"", "claude 'x", "claude {prompt} \"a\\\"", "say \"it's\" 'x"},
         "Close the quotation mark in this command."},
        {{"tool $(( {prompt} ))", "(( {prompt} ))", "tool $[{prompt}]", "let {prompt}",
          "repeat {prompt} tool", "tool $(( 1 + $((2)) + {prompt} ))"},
         "Place {prompt} outside $(( … )), (( … )), $[ … ], let and repeat: arithmetic runs the "
         "task as code."},
        {{"tool $(printf %s {prompt})", "tool `printf %s {prompt}`", "tool ${x:-{prompt}}",
          "tool <(printf %s {prompt})", "tool \"$(echo {prompt})\""},
         "Place {prompt} outside $(…), ${…} and `…`. VELK passes the task as one word of the "
         "command."},
        {{"cat <<EOF\n{prompt}\nEOF", "cat <<-'EOF'\n\tsays {prompt}\n\tEOF", "tool <<{prompt}",
          "cat <<EOF; true\nx\n{prompt}"},
         "Place {prompt} outside here-documents (<<): their text is expanded, so the task would "
         "run as code."},
        {{"tool # {prompt}", "tool x;# {prompt}"},
         "Place {prompt} before the # that starts a comment."},
        {{"eval {prompt}", "builtin eval tool {prompt}", "X=1 command eval {prompt}",
          "f() { eval {prompt}; }; f", "function f { eval {prompt}; }", "f () eval {prompt}",
          "for x (1) eval {prompt}", "case x in (a) eval {prompt};; esac"},
         "eval" + code},
        {{"source {prompt}"}, "source" + code},
        {{". {prompt}"}, "." + code},
        {{"trap {prompt} EXIT"}, "trap" + code},
        // Options of the command before it hide where a shell starts.
        {{"sh -c {prompt}", "env X=1 sh -c {prompt}", "sh -c{prompt}", "exec sh -ec 'x' {prompt}",
          "nice -n 10 sh -c {prompt}", "sudo -u ana sh -c {prompt}", "timeout 60 sh -c {prompt}",
          "env -u X /bin/sh -c {prompt}", "sh -c python3 {prompt}"},
         "sh -c" + code},
        {{"$SHELL -c {prompt}"}, "$SHELL -c" + code},
        {{"cd x && /bin/bash -lc {prompt}"}, "bash -c" + code},
        {{"sh <<< {prompt}", "printf '%s' {prompt} | sh", "tool {prompt} | tee log | sh",
          "nice -n 5 sh <<< {prompt}", "printf '%s' {prompt} | nice -n 5 sh"},
         "sh" + code},
        {{"{prompt}", "{prompt}{prompt}", "exec {prompt}", "X=1 {prompt} x", "tool; {prompt}",
          "tool | {prompt}", "( {prompt} )"},
         "Put the tool’s name first: {prompt} cannot be the command itself."},
        {{"tool > {prompt}", "tool 2>{prompt}", "tool < {prompt}", "tool &>{prompt}"},
         "Place {prompt} as an argument, not as the file of a redirection (<, >)."},
        {{"tool ={prompt}", "tool ~{prompt}", "tool *{prompt}", "tool {prompt}(N)",
          "tool x{a,b}{prompt}", "tool $HOME/{prompt}", "tool !{prompt}", "tool {prompt}[1]",
          "X=~{prompt} tool", "tool *(e:{prompt}:)", "tool (( {prompt} ))"},
         "Only plain text such as --task= may touch {prompt}. The shell would expand * ? [ ] { } "
         "( ) ~ ^ # ! $ or a leading = next to it."},
        {{"tool {prompt} $(true", "tool {prompt} ${x"},
         "Close the $(…), ${…}, `…` or (( … )) in this command."},
    };
    for (const auto& [texts, error] : groups) {
        for (const QString& text : texts) {
            const Provider provider = withTemplate(text);
            const Result<void> checked = provider.checkTemplate();
            EXPECT_EQ(checked ? std::nullopt : std::optional<QString>(checked.error().message),
                      error)
                << text.toStdString();
            EXPECT_EQ(provider.receivesTasks(), !error && text.contains("{prompt}"))
                << text.toStdString();
        }
    }
}

TEST(TemplateWarning, namesAShellOrInterpreterThatReceivesTheTask) {
    const QString warning =
        " can run what it receives as a program. Check that it reads "
        "{prompt} only as text.";
    const std::pair<QString, std::optional<QString>> rows[] = {
        {"python3 -m tool {prompt}", "python3" + warning},
        {"/usr/bin/python3.11 tool.py --task={prompt}", "python3.11" + warning},
        {"ssh build-host claude {prompt}", "ssh" + warning},
        {"cd app && sudo -E node cli.js {prompt}", "node" + warning},
        {"bash run-assistant.sh {prompt}", "bash" + warning},
        {"nice -n 5 bash run-assistant.sh {prompt}", "bash" + warning},
        {"tool {prompt} bash", std::nullopt},
        {"perl -e 'print' <<< {prompt}", "perl" + warning},
        {"printf '%s' {prompt} | tee log | ruby", "ruby" + warning},
        {"claude {prompt}", std::nullopt},
        {"tool {prompt}; python3 after.py", std::nullopt},
        {"python3 -m tool", std::nullopt},
        // A refusal comes instead of a warning.
        {"python3 -c {prompt} $(", std::nullopt},
    };
    for (const auto& [text, expected] : rows) {
        const Provider provider = withTemplate(text);
        EXPECT_EQ(provider.templateWarning(), expected) << text.toStdString();
        EXPECT_EQ(!provider.checkTemplate(), text.endsWith('(')) << text.toStdString();
    }
}

TEST(ProviderCommand, quotesThePromptIntoTheInteractiveAndTheOneShotLines) {
    Provider renamedKimi = builtIn("kimi");
    renamedKimi.id = "my-kimi";
    Provider kimiWithOptions = builtIn("kimi");
    kimiWithOptions.templateText = "kimi --yes {prompt}";
    Provider customCodex = builtIn("codex");
    customCodex.templateText = "codex --model o3 {prompt}";
    Provider zaiProfile = builtIn("zai");
    zaiProfile.templateText = "claude --settings ~/.zai.json {prompt}";

    expectRows({
        // Stock templates carry the options that make the tool announce its state.
        {builtIn("claude").command("hello"), "claude " + announcing("claude") + " 'hello'"},
        {builtIn("codex").command(""),
         "codex " + announcing("codex") + " --sandbox workspace-write"},
        {withTemplate("a {prompt} b {prompt}").command("it's"), "a 'it'\\''s' b 'it'\\''s'"},
        // Blanks around the template go, line breaks stay; no placeholder ignores the prompt.
        {withTemplate("\t\u00a0 tool {prompt} \u3000").command(""), "tool"},
        {withTemplate("\ntool\n").command("x"), "\ntool\n"},
        {builtIn("shell").command("rm -rf /"), LoginShell::userShell() + " -l"},
        {builtIn("zai").command("anything"), ""},
        // Kimi and Antigravity get their prompt options only with their stock templates.
        {builtIn("kimi").command("hello"), "kimi --prompt 'hello'"},
        {builtIn("kimi").command(""), "kimi"},
        {builtIn("antigravity").command("hi 'x'"), "agy --prompt-interactive 'hi '\\''x'\\'''"},
        {builtIn("antigravity").command(""), "agy"},
        {builtIn("gemini").command("hi"), "gemini --prompt-interactive 'hi'"},
        {renamedKimi.command("hello"), "kimi"},
        {kimiWithOptions.command("hello"), "kimi --yes 'hello'"},
        // One-shot forms for stock templates, the interactive line for everything else.
        {builtIn("codex").batchCommand("go"),
         "codex exec --skip-git-repo-check --sandbox workspace-write 'go'"},
        {builtIn("claude").batchCommand("go"), "claude --print --permission-mode acceptEdits 'go'"},
        {builtIn("kimi").batchCommand("go"), "kimi --prompt 'go'"},
        {builtIn("antigravity").batchCommand("go"), "agy --print 'go'"},
        {builtIn("claude").batchCommand(""), "claude --print --permission-mode acceptEdits ''"},
        {builtIn("gemini").batchCommand("go"),
         "gemini --skip-trust --approval-mode auto_edit --prompt 'go'"},
        {builtIn("shell").batchCommand("go"), LoginShell::userShell() + " -l"},
        {customCodex.batchCommand("go"), "codex --model o3 'go'"},
        {zaiProfile.batchCommand("go"), "claude --settings ~/.zai.json 'go'"},
        {withTemplate("mytool {prompt}").batchCommand("go"), "mytool 'go'"},
    });
    EXPECT_FALSE(renamedKimi.receivesTasks());

    // Only the stock one-shot forms of Codex and Claude Code read a task on standard input.
    expectRows({
        {builtIn("codex").batchCommandReadingFile("/runs/it's/task.txt").value_or(""),
         "codex exec --skip-git-repo-check --sandbox workspace-write - < "
         "'/runs/it'\\''s/task.txt'"},
        {builtIn("claude").batchCommandReadingFile("/runs/task.txt").value_or(""),
         "claude --print --permission-mode acceptEdits < '/runs/task.txt'"},
    });
    for (const Provider& provider : {builtIn("kimi"), builtIn("antigravity"), builtIn("gemini"),
                                     customCodex, withTemplate("mytool {prompt}")}) {
        EXPECT_FALSE(provider.readsBatchTaskFromInput()) << provider.id.toStdString();
        EXPECT_FALSE(provider.batchCommandReadingFile("/runs/task.txt"))
            << provider.id.toStdString();
    }
}

TEST(ProviderDocumentation, keepsOnlyWebAddressesWithAHost) {
    Provider provider = builtIn("claude");
    provider.documentation = "https://example.com/docs";
    EXPECT_EQ(provider.documentationURL(), QUrl("https://example.com/docs"));
    provider.documentation = "HTTP://Example.com";
    EXPECT_TRUE(provider.documentationURL().has_value());
    for (const char* text : {"", "https://[", "file:///tmp/docs", "https:", "https:///path-only",
                             "javascript:alert(1)", "not a link"}) {
        provider.documentation = text;
        EXPECT_FALSE(provider.documentationURL().has_value()) << text;
    }
}

TEST(ProviderJson, roundTripsUnderEightKeysAndOneBadObjectFailsTheWholeList) {
    const auto decoded = Provider::decodeList(Provider::encodeList(Provider::defaults()));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, Provider::defaults());
    const QJsonObject good = builtIn("claude").toJson();
    EXPECT_EQ(good.keys(), QStringList({"colorHex", "documentation", "executable", "icon", "id",
                                        "name", "subtitle", "template"}));

    const auto listWith = [&](const QJsonValue& second) {
        return QJsonDocument(QJsonArray{good, second}).toJson();
    };
    QJsonObject missingTemplate = good;
    missingTemplate.remove("template");
    QJsonObject numericColor = good;
    numericColor.insert("colorHex", 0xE3AF94);
    QJsonObject nullDocumentation = good;
    nullDocumentation.insert("documentation", QJsonValue::Null);
    for (const QByteArray& stored :
         {listWith(missingTemplate), listWith(numericColor), listWith(nullDocumentation),
          listWith(QJsonValue("claude")), QByteArray("{\"id\":\"claude\"}"), QByteArray("["),
          QByteArray()}) {
        EXPECT_FALSE(Provider::decodeList(stored).has_value()) << stored.toStdString();
    }

    QJsonObject extraKey = good;
    extraKey.insert("note", "kept out");
    const auto tolerant = Provider::decodeList(listWith(extraKey));
    ASSERT_TRUE(tolerant.has_value());
    EXPECT_EQ(tolerant->at(1), builtIn("claude"));
    EXPECT_EQ(Provider::decodeList("[]"), QList<Provider>());
}
