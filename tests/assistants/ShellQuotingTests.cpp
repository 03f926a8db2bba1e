// The quoting is proved against the real login shell: generated prompts full of shell
// syntax go through Provider::command into `/bin/zsh -l -c`, and what the command prints
// must be the prompt, byte for byte, with nothing executed on the way. Generated templates
// prove the template check: whatever it accepts keeps every attack prompt inert.
#include "core/assistants/Provider.h"
#include "core/terminal/SpawnRequest.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <random>

namespace {

// The output of the command line run as `zsh -l -c` in the folder, or nothing if the shell
// hung, failed or could not start.
std::optional<QByteArray> runLoginShell(const QString& commandLine, const QString& folder) {
    QProcess shell;
    shell.setWorkingDirectory(folder);
    shell.start("/bin/zsh", {"-l", "-c", commandLine});
    shell.closeWriteChannel();
    if (!shell.waitForFinished(30000) || shell.exitStatus() != QProcess::NormalExit ||
        shell.exitCode() != 0) {
        return std::nullopt;
    }
    return shell.readAllStandardOutput();
}

QStringList folderEntries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

// A prompt assembled from fragments the shell would act on if any of them escaped the
// quotes: substitutions and redirections that create files, zsh's own expansions (=cmd,
// ~user, glob qualifiers that run code, history, braces), globs, separators, escapes and
// quotes of every kind, plus single characters of every kind (control characters
// included, NUL excluded: it cannot be part of a process argument) and Unicode.
QString generatedPrompt(std::mt19937& random) {
    static const QStringList attacks = {
        "$(touch sub)",         "`touch tick`",     "; touch semi ;",   ">redir",
        "\\'; touch ansi; : '", "*(e:touch qual:)", "a[$(touch arith)]"};
    static const QStringList fragments = {
        "'",    "\"",     "\\",      "\\'",      "'\\''",  "`",        "$(",    ")",    ";",
        "&&",   "||",     "|",       "&",        "*",      "?",        "[a-z]", "~",    "#",
        "!",    "!!",     "$HOME",   "${PATH}",  "$'\\n'", "%s",       "%d",    "-n",   "--",
        "\n",   "\r\n",   "\t",      " ",        "  ",     "{prompt}", "<",     ">",    ">>",
        "2>&1", "=(ls)",  "<(ls)",   "{a,b}",    "=ls",    "~root",    "~+",    "*(N)", "(#q.)",
        "^*",   "!$",     "{1..3}",  "$((1+1))", "<<EOF",  "$'\\''",   "=",     "é",    "中文",
        "🙂", "\u202e", "e\u0301", "\u00a0",   "\u3000", "😀'",
    };
    const auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    QString prompt;
    for (int pieces = pick(0, 12); pieces > 0; --pieces) {
        const int kind = pick(0, 11);
        if (kind < int(attacks.size())) {
            prompt += attacks.at(kind);
        } else if (kind == 7) {
            // Outside the surrogates of the basic plane, or an astral character.
            const char32_t codePoint =
                pick(0, 3) == 0 ? char32_t(pick(0x10000, 0x10FFFF)) : char32_t(pick(1, 0xD7FF));
            prompt += QString::fromUcs4(&codePoint, 1);
        } else if (kind == 8) {
            prompt += QChar(pick(1, 127));
        } else {
            prompt += fragments.at(pick(0, int(fragments.size()) - 1));
        }
    }
    return prompt;
}

// An accepted template in one of the contexts where the placeholder may stand, and what it
// prints for a prompt.
struct PrintingTemplate {
    QString text;
    std::function<QByteArray(const QByteArray&)> output;
};

const QList<PrintingTemplate>& printingTemplates() {
    const auto same = [](const QByteArray& p) { return p; };
    static const QList<PrintingTemplate> templates = {
        {"printf '%s' {prompt}", same},
        {"printf '%s' --task={prompt}", [](const QByteArray& p) { return "--task=" + p; }},
        {"X=1 printf '%s' {prompt}{prompt}", [](const QByteArray& p) { return p + p; }},
        {"( cd . && printf '%s' {prompt} )", same},
        {"if true; then printf '%s' {prompt}; fi", same},
        {"printf '%s' {prompt} | cat", same},
        {"cat <<< x{prompt}", [](const QByteArray& p) { return 'x' + p + '\n'; }},
        {"cat <<EOF\nfixed text\nEOF\nprintf '%s' {prompt} # {the end}",
         [](const QByteArray& p) { return "fixed text\n" + p; }},
        {"{ command printf '%s' {prompt} 2>/dev/null; }", same},
        {"printf '%s' \\${prompt}", [](const QByteArray& p) { return '$' + p; }},
    };
    return templates;
}

Provider withTemplate(const QString& templateText) {
    Provider provider = Provider::defaults().first();
    provider.id = "printer";
    provider.templateText = templateText;
    return provider;
}

// A template assembled from commands, settings for the placeholder and a construct around
// them: the settings the check must refuse (quotes, $, expansions, arithmetic, globs,
// here-documents, comments, the command position, redirections) and code-running commands
// mixed with the plain arguments and commands it accepts.
QString generatedTemplate(std::mt19937& random) {
    static const QStringList plainCommands = {"printf '%s\\n'",
                                              ":",
                                              "true",
                                              "print -r --",
                                              "X=1 printf '%s\\n'",
                                              "env X=1 true",
                                              "noglob printf '%s\\n'",
                                              "cat <<< x"};
    static const QStringList codeCommands = {
        "eval",         "sh -c",         "bash -lc",
        "zsh -c",       "source",        ".",
        "let",          "trap",          "sh",
        "repeat",       "exec",          "",
        "builtin eval", "env X=1 sh -c", "X=1 exec zsh -ec 'x'",
        "noglob eval",  "true |",        "true &&"};
    static const QStringList plainSettings = {"{P}",     "--task={P}", "\\${P}",   "-p{P}",
                                              "key:{P}", "{P}{P}",     "<<< x{P}", "x{P}"};
    static const QStringList otherSettings = {"${P}",
                                              "$${P}",
                                              "\"{P}\"",
                                              "'{P}'",
                                              "$'{P}'",
                                              "$'a\\'b {P}'",
                                              "\\{P}",
                                              "={P}",
                                              "~{P}",
                                              "*{P}",
                                              "{P}(N)",
                                              "*(e:{P}:)",
                                              "x{a,b}{P}",
                                              "$(( {P} ))",
                                              "(( {P} ))",
                                              "$[{P}]",
                                              "$(printf %s {P})",
                                              "`printf %s {P}`",
                                              "${x:-{P}}",
                                              "# {P}",
                                              "<<EOF\n{P}\nEOF",
                                              "<<'EOF'\n{P}\nEOF",
                                              "<<-EOF\n\t{P}\n\tEOF",
                                              "-c{P}",
                                              "a[{P}]",
                                              "\"$(echo {P})\"",
                                              ">{P}",
                                              "2>{P}",
                                              "$HOME{P}",
                                              "<<< {P}",
                                              "<({P})"};
    static const QList<std::pair<QString, QString>> constructs = {{"", ""},
                                                                  {"( ", " )"},
                                                                  {"{ ", "; }"},
                                                                  {"if true; then ", "; fi"},
                                                                  {"for x in 1; do ", "; done"},
                                                                  {"true && ", ""},
                                                                  {"", " | cat"},
                                                                  {"", " # end"},
                                                                  {"", " | sh"},
                                                                  {"f() { ", "; }; f"},
                                                                  {"for x (1) ", ""},
                                                                  {"case 1 in (1) ", ";; esac"}};
    const auto chance = [&](int in) {
        return std::uniform_int_distribution<int>(1, in)(random) == 1;
    };
    const auto any = [&](const QStringList& list) {
        return list.at(std::uniform_int_distribution<int>(0, int(list.size()) - 1)(random));
    };
    const auto segment = [&] {
        return any(chance(2) ? plainCommands : codeCommands) + ' ' +
               any(chance(2) ? plainSettings : otherSettings) + (chance(3) ? " x" : "");
    };
    const auto& [opener, closer] =
        constructs.at(std::uniform_int_distribution<int>(0, int(constructs.size()) - 1)(random));
    QString text = opener + segment() + (chance(3) ? "; " + segment() : QString()) + closer;
    return text.replace("{P}", "{prompt}");
}

}  // namespace

TEST(ShellQuotingThroughZsh, thousandsOfGeneratedPromptsArriveByteForByteAndRunNothing) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (const PrintingTemplate& printing : printingTemplates()) {
        ASSERT_TRUE(withTemplate(printing.text).receivesTasks()) << printing.text.toStdString();
    }

    // The first batch starts with the empty prompt and the known attacks.
    QStringList known = {QString(),
                         "text ' ; $(touch SHOULD_NOT_EXIST)",
                         "a'b; $(touch hacked)",
                         "fix the quoting \\'; touch PWNED; : '",
                         "'",
                         "\\",
                         "ends with backslash\\",
                         "multi\nline\n$(touch nl)\n",
                         "=touch made-by-equals",
                         "*(e:'touch qualifier':)"};
    std::mt19937 random(20261206);
    constexpr int kBatches = 60;
    constexpr int kPromptsPerBatch = 50;
    qsizetype next = 0;
    for (int batch = 0; batch < kBatches; ++batch) {
        // Many prompts per shell keep the test fast; NUL separates their outputs because no
        // prompt can contain it. The templates take turns.
        QStringList prompts;
        QList<const PrintingTemplate*> used;
        QString script;
        for (int i = 0; i < kPromptsPerBatch; ++i) {
            prompts << (known.isEmpty() ? generatedPrompt(random) : known.takeFirst());
            used << &printingTemplates().at(next++ % printingTemplates().size());
            script += withTemplate(used.last()->text).command(prompts.last()) + "\nprintf '\\0'\n";
        }
        const auto output = runLoginShell(script, folder.path());
        ASSERT_TRUE(output) << "zsh hung or failed on batch " << batch;
        const QList<QByteArray> outputs = output->split('\0');
        ASSERT_EQ(outputs.size(), kPromptsPerBatch + 1) << "batch " << batch;
        for (int i = 0; i < kPromptsPerBatch; ++i) {
            ASSERT_EQ(outputs.at(i), used.at(i)->output(prompts.at(i).toUtf8()))
                << "command line: "
                << withTemplate(used.at(i)->text).command(prompts.at(i)).toStdString();
        }
        ASSERT_EQ(folderEntries(folder.path()), QStringList()) << "batch " << batch;
    }
}

TEST(ShellQuotingThroughZsh, everyGeneratedTemplateTheCheckAcceptsKeepsTheAttackPromptsInert) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    // Each succeeds in some setting the check refuses: an ANSI-C quote closed by the task,
    // code-running commands, a command named by the task, expanded text, a comment left at
    // a line break.
    const QStringList attacks = {"fix the quoting \\'; touch PWNED1; : '", "touch PWNED2", "touch",
                                 "$(touch PWNED3)", "x\ntouch PWNED4 #"};
    std::mt19937 random(7031);
    int accepted = 0;
    int refused = 0;
    for (int round = 0; round < 600; ++round) {
        const Provider provider = withTemplate(generatedTemplate(random));
        if (!provider.checkTemplate()) {
            ++refused;
            continue;
        }
        ++accepted;
        for (const QString& attack : attacks) {
            // Each line gets its own shell: a syntax error in one must not hide another.
            runLoginShell(provider.command(attack), folder.path());
            ASSERT_TRUE(folderEntries(folder.path()).isEmpty())
                << "created " << folderEntries(folder.path()).join(", ").toStdString()
                << "\ntemplate: " << provider.templateText.toStdString()
                << "\ncommand line: " << provider.command(attack).toStdString();
        }
    }
    // The mix reaches both sides of the check.
    EXPECT_GT(accepted, 80);
    EXPECT_GT(refused, 300);
}

TEST(CommandLineLimit, theLongestCommandThatFitsStartsTheLoginShellAndOneByteMoreDoesNot) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    // A session runs its search path and the command as one argument of `zsh -c`. Quotes
    // cost four bytes each and the accented letters two: the command is measured in UTF-8
    // bytes of the quoted form.
    const auto sessionLine = [&](const QString& command) {
        return shellSpawnRequest(command, folder.path()).arguments.last();
    };
    const Provider provider = withTemplate("printf '%s' {prompt} >/dev/null");
    QString prompt = QString("it's é ").repeated(1000);
    prompt += QString(maximumCommandBytes() - provider.command(prompt).toUtf8().size(), u'x');
    ASSERT_EQ(provider.command(prompt).toUtf8().size(), maximumCommandBytes());
    EXPECT_TRUE(commandLineFits(provider.command(prompt)));
    EXPECT_TRUE(runLoginShell(sessionLine(provider.command(prompt)), folder.path()));

    prompt += u'x';
    EXPECT_FALSE(commandLineFits(provider.command(prompt)));
    EXPECT_FALSE(runLoginShell(sessionLine(provider.command(prompt)), folder.path()));
    // (What the user is told then: WorkspaceSessionsTests.cpp.)
}
