// The quoting is proved against the real login shell: generated prompts full of shell
// syntax go through Provider::command into `/bin/zsh -l -c`, and what printf prints must be
// the prompt, byte for byte, with nothing executed on the way.
#include "assistants/Provider.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

namespace {

struct ShellRun {
    QByteArray output;
    int exitCode = -1;
    bool finished = false;
};

ShellRun runLoginShell(const QString& commandLine, const QString& folder) {
    QProcess shell;
    shell.setWorkingDirectory(folder);
    shell.setProcessChannelMode(QProcess::SeparateChannels);
    shell.start(QStringLiteral("/bin/zsh"),
                {QStringLiteral("-l"), QStringLiteral("-c"), commandLine});
    shell.closeWriteChannel();
    ShellRun run;
    run.finished = shell.waitForFinished(30000);
    if (!run.finished) {
        shell.kill();
        shell.waitForFinished();
    }
    run.output = shell.readAllStandardOutput();
    run.exitCode = shell.exitCode();
    return run;
}

QStringList folderEntries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

// Prompts assembled from fragments the shell would act on if any of them escaped the
// quotes: substitutions that create files, redirections, globs, separators, escapes and
// quotes of both kinds, plus arbitrary printable and control characters and Unicode.
class PromptGenerator {
public:
    explicit PromptGenerator(std::uint32_t seed) : m_random(seed) {}

    QString next() {
        const int pieces = pick(0, 12);
        QString prompt;
        for (int i = 0; i < pieces; ++i) {
            prompt += piece();
        }
        return prompt;
    }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }

    QString piece() {
        static const QStringList fragments = {
            "'",        "\"",   "\\",   "\\'",    "'\\''",   "`",       "$(",     ")",
            ";",        "&&",   "||",   "|",      "&",       "*",       "?",      "[a-z]",
            "~",        "#",    "!",    "!!",     "$HOME",   "${PATH}", "$'\\n'", "%s",
            "%d",       "-n",   "--",   "\n",     "\r\n",    "\t",      " ",      "  ",
            "{prompt}", "<",    ">",    ">>",     "2>&1",    "=(ls)",   "<(ls)",  "{a,b}",
            "é",        "中文", "🙂", "\u202e", "e\u0301", "\u00a0",  "\u3000", "😀'",
        };
        const int counter = m_counter++;
        switch (pick(0, 9)) {
            case 0:
                return QStringLiteral("$(touch sub%1)").arg(counter);
            case 1:
                return QStringLiteral("`touch tick%1`").arg(counter);
            case 2:
                return QStringLiteral("; touch semi%1 ;").arg(counter);
            case 3:
                return QStringLiteral(">redir%1").arg(counter);
            case 4: {
                // Any single character from the basic plane outside the surrogates, or an
                // astral one; control characters included, NUL excluded (it cannot be part of
                // a process argument).
                const char32_t codePoint =
                    pick(0, 3) == 0 ? char32_t(pick(0x10000, 0x10FFFF)) : char32_t(pick(1, 0xD7FF));
                return QString::fromUcs4(&codePoint, 1);
            }
            case 5: {
                const char ascii = char(pick(1, 127));
                return QString(QLatin1Char(ascii));
            }
            default:
                return fragments.at(pick(0, int(fragments.size()) - 1));
        }
    }

    std::mt19937 m_random;
    int m_counter = 0;
};

Provider printingProvider() {
    Provider provider = Provider::defaults().first();
    provider.id = QStringLiteral("printer");
    provider.templateText = QStringLiteral("printf '%s' {prompt}");
    return provider;
}

}  // namespace

TEST(ShellQuotingThroughZsh, thousandsOfGeneratedPromptsArriveByteForByteAndRunNothing) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const Provider provider = printingProvider();
    ASSERT_TRUE(provider.receivesTasks());

    PromptGenerator generator(20261206);
    constexpr int kBatches = 60;
    constexpr int kPromptsPerBatch = 50;
    for (int batch = 0; batch < kBatches; ++batch) {
        // Many prompts per shell keep the test fast; NUL separates their outputs because no
        // prompt can contain it.
        QStringList prompts;
        QString script;
        for (int i = 0; i < kPromptsPerBatch; ++i) {
            prompts << (batch == 0 && i == 0 ? QString() : generator.next());
            script += provider.command(prompts.last()) + QStringLiteral("\nprintf '\\0'\n");
        }
        const ShellRun run = runLoginShell(script, folder.path());
        ASSERT_TRUE(run.finished) << "zsh hung on batch " << batch;
        ASSERT_EQ(run.exitCode, 0) << "batch " << batch;
        const QList<QByteArray> outputs = run.output.split('\0');
        ASSERT_EQ(outputs.size(), kPromptsPerBatch + 1) << "batch " << batch;
        for (int i = 0; i < kPromptsPerBatch; ++i) {
            ASSERT_EQ(outputs.at(i), prompts.at(i).toUtf8())
                << "command line: " << provider.command(prompts.at(i)).toStdString();
        }
        ASSERT_EQ(folderEntries(folder.path()), QStringList()) << "batch " << batch;
    }
}

TEST(ShellQuotingThroughZsh, eachCommandLineAloneIsOneCompleteShellCommand) {
    // The way sessions run them: the command line is the whole -c argument.
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    Provider provider = printingProvider();
    provider.templateText = QStringLiteral("/usr/bin/printf '%s' {prompt}");

    QStringList prompts = {QStringLiteral("text ' ; $(touch SHOULD_NOT_EXIST)"),
                           QStringLiteral("a'b; $(touch hacked)"),
                           QStringLiteral("'"),
                           QStringLiteral("\\"),
                           QStringLiteral("ends with backslash\\"),
                           QStringLiteral("multi\nline\n$(touch nl)\n")};
    PromptGenerator generator(7);
    while (prompts.size() < 150) {
        prompts << generator.next();
    }
    for (const QString& prompt : prompts) {
        const ShellRun run = runLoginShell(provider.command(prompt), folder.path());
        ASSERT_TRUE(run.finished);
        ASSERT_EQ(run.exitCode, 0) << provider.command(prompt).toStdString();
        ASSERT_EQ(run.output, prompt.toUtf8()) << provider.command(prompt).toStdString();
    }
    EXPECT_EQ(folderEntries(folder.path()), QStringList());
}

TEST(ShellQuotingThroughZsh, everyBuiltInHandsTheToolThePromptAsItsLastArgument) {
    // Stand-ins for the real tools print their last argument, so the interactive and the
    // one-shot line of every built-in are checked for the word the tool would receive.
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString standIns = QStringLiteral(
        "for tool in claude codex kimi agy; do "
        "eval \"$tool() { (( # )) && printf '%s' \\\"\\${@[-1]}\\\"; printf '\\\\0' }\"; done\n");
    const QString prompt = QStringLiteral("it's \"$(touch x)\" `id` \\n; *");

    for (const Provider& provider : Provider::defaults()) {
        if (!provider.receivesTasks()) {
            continue;
        }
        for (const QString& line : {provider.command(prompt), provider.batchCommand(prompt)}) {
            const ShellRun run = runLoginShell(standIns + line, folder.path());
            ASSERT_TRUE(run.finished);
            EXPECT_EQ(run.exitCode, 0) << line.toStdString();
            EXPECT_EQ(run.output, prompt.toUtf8() + '\0') << line.toStdString();
        }
    }
    EXPECT_EQ(folderEntries(folder.path()), QStringList());
}
