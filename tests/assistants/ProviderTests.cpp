#include "assistants/Provider.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

namespace {

const QString kQuotedPlaceholder = QStringLiteral(
    "Place {prompt} outside quotes and without a backslash. VELK supplies the quotes.");
const QString kOpenQuote = QStringLiteral("Close the quotation mark in this command.");

Provider builtIn(const QString& id) {
    for (const Provider& provider : Provider::defaults()) {
        if (provider.id == id) {
            return provider;
        }
    }
    ADD_FAILURE() << "no built-in provider " << id.toStdString();
    return {};
}

Provider withTemplate(const QString& templateText, const QString& id = QStringLiteral("custom")) {
    Provider provider = builtIn(QStringLiteral("claude"));
    provider.id = id;
    provider.templateText = templateText;
    return provider;
}

}  // namespace

TEST(ProviderDefaults, areTheSixBuiltInsInCardOrderWithTheShellLast) {
    QStringList ids;
    for (const Provider& provider : Provider::defaults()) {
        ids << provider.id;
    }
    EXPECT_EQ(ids, QStringList({"claude", "codex", "kimi", "antigravity", "zai", "shell"}));
    EXPECT_EQ(builtIn("shell").templateText, "/bin/zsh -l");
    EXPECT_EQ(builtIn("zai").executable, "claude");
    EXPECT_TRUE(builtIn("zai").templateText.isEmpty());
}

TEST(ProviderDefaults, everyAssistantLinksToHttpsDocumentationAndTheShellToNone) {
    for (const Provider& provider : Provider::defaults()) {
        const auto url = provider.documentationURL();
        if (provider.id == u"shell") {
            EXPECT_FALSE(url.has_value());
            continue;
        }
        ASSERT_TRUE(url.has_value()) << provider.id.toStdString();
        EXPECT_EQ(url->scheme(), "https") << provider.id.toStdString();
    }
}

TEST(ProviderDefaults, onlyTheAssistantsThatTakeAPromptReceiveTasks) {
    for (const Provider& provider : Provider::defaults()) {
        const bool expected = provider.id != u"zai" && provider.id != u"shell";
        EXPECT_EQ(provider.receivesTasks(), expected) << provider.id.toStdString();
        EXPECT_FALSE(provider.templateError().has_value()) << provider.id.toStdString();
    }
}

TEST(ProviderDefaults, codexKeepsItsSandboxAndNeverBypassesApprovals) {
    for (const QString& line :
         {builtIn("codex").command("fix it"), builtIn("codex").batchCommand("fix it")}) {
        EXPECT_TRUE(line.contains("--sandbox workspace-write")) << line.toStdString();
        EXPECT_FALSE(line.contains("dangerously")) << line.toStdString();
        EXPECT_FALSE(line.contains("--yolo")) << line.toStdString();
        EXPECT_FALSE(line.contains("danger-full-access")) << line.toStdString();
    }
}

TEST(ShellQuote, wrapsInSingleQuotesAndSplicesEachQuote) {
    EXPECT_EQ(shellQuote(""), "''");
    EXPECT_EQ(shellQuote("a'b; $(touch hacked)"), "'a'\\''b; $(touch hacked)'");
    EXPECT_EQ(shellQuote("''"), "''\\'''\\'''");
    EXPECT_EQ(shellQuote("line\nbreak \\ `x`"), "'line\nbreak \\ `x`'");
}

TEST(TemplateError, acceptsPlaceholdersOutsideQuotesAnyNumberOfTimes) {
    for (const char* text : {"", "claude {prompt}", "{prompt}{prompt}", "run '{' {prompt} '}'",
                             "tool --x='a b' \"c\" {prompt}", "echo 'a\\' {prompt}",
                             "echo \\\" {prompt}", "echo \\{prompt", "echo trailing\\"}) {
        EXPECT_FALSE(withTemplate(text).templateError().has_value()) << text;
    }
}

TEST(TemplateError, refusesAPlaceholderInsideQuotesOrAfterABackslash) {
    for (const char* text : {"claude \"{prompt}\"", "claude '{prompt}'", "claude \\{prompt}",
                             "claude {prompt} \"x {prompt}\"", "claude \"it's {prompt}\"",
                             "claude \"a\\\"{prompt}\""}) {
        EXPECT_EQ(withTemplate(text).templateError(), kQuotedPlaceholder) << text;
        EXPECT_FALSE(withTemplate(text).receivesTasks()) << text;
    }
}

TEST(TemplateError, refusesAQuoteLeftOpen) {
    for (const char* text :
         {"claude {prompt} \"", "claude 'x", "claude {prompt} \"a\\\"", "say \"it's\" 'x"}) {
        EXPECT_EQ(withTemplate(text).templateError(), kOpenQuote) << text;
        EXPECT_FALSE(withTemplate(text).receivesTasks()) << text;
    }
}

TEST(TemplateError, seesAQuoteFollowedByACombiningMarkAsTheQuoteTheShellSees) {
    // zsh reads bytes: an apostrophe followed by U+0301 still opens a quote, so the
    // placeholder after it sits inside quotes.
    EXPECT_EQ(withTemplate(QStringLiteral("claude '\u0301{prompt}")).templateError(),
              kQuotedPlaceholder);
}

TEST(ProviderCommand, insertsTheQuotedPromptForEveryPlaceholder) {
    EXPECT_EQ(builtIn("claude").command("hello"), "claude 'hello'");
    EXPECT_EQ(builtIn("claude").command(""), "claude");
    EXPECT_EQ(builtIn("codex").command(""), "codex --sandbox workspace-write");
    EXPECT_EQ(withTemplate("a {prompt} b {prompt}").command("it's"), "a 'it'\\''s' b 'it'\\''s'");
    EXPECT_EQ(withTemplate("{prompt}{prompt}").command("x"), "'x''x'");
}

TEST(ProviderCommand, trimsBlanksButKeepsLineBreaksAndIgnoresPromptsWithoutPlaceholder) {
    EXPECT_EQ(withTemplate(QStringLiteral("\t\u00a0 tool {prompt} \u3000")).command(""), "tool");
    EXPECT_EQ(withTemplate("\ntool\n").command("x"), "\ntool\n");
    EXPECT_EQ(builtIn("shell").command("rm -rf /"), "/bin/zsh -l");
    EXPECT_EQ(builtIn("zai").command("anything"), "");
}

TEST(ProviderCommand, givesKimiAndAntigravityTheirPromptOptionsOnlyWithStockTemplates) {
    EXPECT_EQ(builtIn("kimi").command("hello"), "kimi --prompt 'hello'");
    EXPECT_EQ(builtIn("kimi").command(""), "kimi");
    EXPECT_EQ(builtIn("antigravity").command("hi 'x'"),
              "agy --prompt-interactive 'hi '\\''x'\\'''");
    EXPECT_EQ(builtIn("antigravity").command(""), "agy");

    Provider renamedKimi = builtIn("kimi");
    renamedKimi.id = "my-kimi";
    EXPECT_EQ(renamedKimi.command("hello"), "kimi");
    EXPECT_FALSE(renamedKimi.receivesTasks());

    Provider kimiWithOptions = builtIn("kimi");
    kimiWithOptions.templateText = "kimi --yes {prompt}";
    EXPECT_EQ(kimiWithOptions.command("hello"), "kimi --yes 'hello'");
}

TEST(ProviderBatchCommand, usesEachToolsOneShotFormForStockTemplates) {
    EXPECT_EQ(builtIn("codex").batchCommand("go"),
              "codex exec --skip-git-repo-check --sandbox workspace-write 'go'");
    EXPECT_EQ(builtIn("claude").batchCommand("go"), "claude --print 'go'");
    EXPECT_EQ(builtIn("kimi").batchCommand("go"), "kimi --prompt 'go'");
    EXPECT_EQ(builtIn("antigravity").batchCommand("go"), "agy --print 'go'");
    EXPECT_EQ(builtIn("claude").batchCommand(""), "claude --print ''");
    EXPECT_EQ(builtIn("shell").batchCommand("go"), "/bin/zsh -l");
}

TEST(ProviderBatchCommand, fallsBackToTheInteractiveLineForCustomisedOrUnknownProviders) {
    Provider codex = builtIn("codex");
    codex.templateText = "codex --model o3 {prompt}";
    EXPECT_EQ(codex.batchCommand("go"), "codex --model o3 'go'");

    Provider zai = builtIn("zai");
    zai.templateText = "claude --settings ~/.zai.json {prompt}";
    EXPECT_EQ(zai.batchCommand("go"), "claude --settings ~/.zai.json 'go'");

    EXPECT_EQ(withTemplate("mytool {prompt}").batchCommand("go"), "mytool 'go'");
}

TEST(ProviderDocumentation, keepsOnlyWebAddressesWithAHost) {
    Provider provider = builtIn("claude");
    const auto urlOf = [&](const QString& text) {
        provider.documentation = text;
        return provider.documentationURL();
    };
    EXPECT_EQ(urlOf("https://example.com/docs"), QUrl("https://example.com/docs"));
    EXPECT_TRUE(urlOf("HTTP://Example.com").has_value());
    EXPECT_FALSE(urlOf("").has_value());
    EXPECT_FALSE(urlOf("https://[").has_value());
    EXPECT_FALSE(urlOf("file:///tmp/docs").has_value());
    EXPECT_FALSE(urlOf("https:").has_value());
    EXPECT_FALSE(urlOf("https:///path-only").has_value());
    EXPECT_FALSE(urlOf("javascript:alert(1)").has_value());
    EXPECT_FALSE(urlOf("not a link").has_value());
}

TEST(ProviderColor, readsTheCardColourFromItsHexText) {
    EXPECT_EQ(builtIn("claude").color(), QColor(0xE3, 0xAF, 0x94));
}

TEST(ProviderJson, roundTripsTheBuiltInsUnderTheirEightKeys) {
    const QByteArray stored = Provider::encodeList(Provider::defaults());
    const auto decoded = Provider::decodeList(stored);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, Provider::defaults());

    const QJsonObject object = builtIn("codex").toJson();
    EXPECT_EQ(object.keys(), QStringList({"colorHex", "documentation", "executable", "icon", "id",
                                          "name", "subtitle", "template"}));
    EXPECT_EQ(object.value("template").toString(), "codex --sandbox workspace-write {prompt}");
}

TEST(ProviderJson, oneBadObjectFailsTheWholeList) {
    const QJsonObject good = builtIn("claude").toJson();
    const auto listWith = [&](const QJsonValue& second) {
        return QJsonDocument(QJsonArray{good, second}).toJson();
    };
    QJsonObject missingTemplate = good;
    missingTemplate.remove("template");
    QJsonObject numericColor = good;
    numericColor.insert("colorHex", 0xE3AF94);
    QJsonObject nullDocumentation = good;
    nullDocumentation.insert("documentation", QJsonValue::Null);

    EXPECT_FALSE(Provider::decodeList(listWith(missingTemplate)).has_value());
    EXPECT_FALSE(Provider::decodeList(listWith(numericColor)).has_value());
    EXPECT_FALSE(Provider::decodeList(listWith(nullDocumentation)).has_value());
    EXPECT_FALSE(Provider::decodeList(listWith(QJsonValue("claude"))).has_value());
    EXPECT_FALSE(Provider::decodeList("{\"id\":\"claude\"}").has_value());
    EXPECT_FALSE(Provider::decodeList("[").has_value());
    EXPECT_FALSE(Provider::decodeList("").has_value());

    QJsonObject extraKey = good;
    extraKey.insert("note", "kept out");
    const auto tolerant = Provider::decodeList(listWith(extraKey));
    ASSERT_TRUE(tolerant.has_value());
    EXPECT_EQ(tolerant->at(1), builtIn("claude"));
    EXPECT_EQ(Provider::decodeList("[]"), QList<Provider>());
}
