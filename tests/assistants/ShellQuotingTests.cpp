// The quoting is proved against the real login shell: generated prompts full of shell
// syntax go through Provider::command into `/bin/zsh -l -c`, and what printf prints must be
// the prompt, byte for byte, with nothing executed on the way.
#include "assistants/Provider.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <random>

namespace {

// The output of the command line run as `zsh -l -c` in the folder, or nothing if the shell
// hung or failed.
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
// quotes: substitutions and redirections that create files, globs, separators, escapes and
// quotes of both kinds, plus single characters of every kind (control characters included,
// NUL excluded: it cannot be part of a process argument) and Unicode.
QString generatedPrompt(std::mt19937& random) {
    static const QStringList attacks = {"$(touch sub)", "`touch tick`", "; touch semi ;", ">redir"};
    static const QStringList fragments = {
        "'",        "\"",   "\\",   "\\'",    "'\\''",   "`",       "$(",     ")",
        ";",        "&&",   "||",   "|",      "&",       "*",       "?",      "[a-z]",
        "~",        "#",    "!",    "!!",     "$HOME",   "${PATH}", "$'\\n'", "%s",
        "%d",       "-n",   "--",   "\n",     "\r\n",    "\t",      " ",      "  ",
        "{prompt}", "<",    ">",    ">>",     "2>&1",    "=(ls)",   "<(ls)",  "{a,b}",
        "é",        "中文", "🙂", "\u202e", "e\u0301", "\u00a0",  "\u3000", "😀'",
    };
    const auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    QString prompt;
    for (int pieces = pick(0, 12); pieces > 0; --pieces) {
        const int kind = pick(0, 9);
        if (kind < 4) {
            prompt += attacks.at(kind);
        } else if (kind == 4) {
            // Outside the surrogates of the basic plane, or an astral character.
            const char32_t codePoint =
                pick(0, 3) == 0 ? char32_t(pick(0x10000, 0x10FFFF)) : char32_t(pick(1, 0xD7FF));
            prompt += QString::fromUcs4(&codePoint, 1);
        } else if (kind == 5) {
            prompt += QChar(pick(1, 127));
        } else {
            prompt += fragments.at(pick(0, int(fragments.size()) - 1));
        }
    }
    return prompt;
}

Provider printingProvider() {
    Provider provider = Provider::defaults().first();
    provider.id = "printer";
    provider.templateText = "printf '%s' {prompt}";
    return provider;
}

}  // namespace

TEST(ShellQuotingThroughZsh, thousandsOfGeneratedPromptsArriveByteForByteAndRunNothing) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const Provider provider = printingProvider();
    ASSERT_TRUE(provider.receivesTasks());

    // The first batch starts with the empty prompt and the known attacks.
    QStringList known = {QString(),
                         "text ' ; $(touch SHOULD_NOT_EXIST)",
                         "a'b; $(touch hacked)",
                         "'",
                         "\\",
                         "ends with backslash\\",
                         "multi\nline\n$(touch nl)\n"};
    std::mt19937 random(20261206);
    constexpr int kBatches = 60;
    constexpr int kPromptsPerBatch = 50;
    for (int batch = 0; batch < kBatches; ++batch) {
        // Many prompts per shell keep the test fast; NUL separates their outputs because no
        // prompt can contain it.
        QStringList prompts;
        QString script;
        for (int i = 0; i < kPromptsPerBatch; ++i) {
            prompts << (known.isEmpty() ? generatedPrompt(random) : known.takeFirst());
            script += provider.command(prompts.last()) + "\nprintf '\\0'\n";
        }
        const auto output = runLoginShell(script, folder.path());
        ASSERT_TRUE(output) << "zsh hung or failed on batch " << batch;
        const QList<QByteArray> outputs = output->split('\0');
        ASSERT_EQ(outputs.size(), kPromptsPerBatch + 1) << "batch " << batch;
        for (int i = 0; i < kPromptsPerBatch; ++i) {
            ASSERT_EQ(outputs.at(i), prompts.at(i).toUtf8())
                << "command line: " << provider.command(prompts.at(i)).toStdString();
        }
        ASSERT_EQ(folderEntries(folder.path()), QStringList()) << "batch " << batch;
    }
}
