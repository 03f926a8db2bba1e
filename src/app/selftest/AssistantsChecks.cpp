#include "app/selftest/SelfTest.h"

#include "core/assistants/Provider.h"

#include <QDir>
#include <QProcess>

namespace {

// Prompts that would create files or change the output if any part of them escaped the
// quotes.
const QStringList kHostilePrompts = {
    QStringLiteral("text ' ; $(touch SHOULD_NOT_EXIST)"),
    QStringLiteral("it's `touch tick` and \"$(touch dq)\""),
    QStringLiteral("back\\slash\\ ; * > redirected"),
    QStringLiteral("line one\nline two; touch newline\n"),
    QStringLiteral("ünïcödé 🙂 中文 '\\''"),
    QString(),
};

SelfTestResult quotingThroughTheLoginShell(SelfTestContext& context) {
    const QString folder = QDir(context.outputFolder).filePath(QStringLiteral("quoting"));
    if (!QDir().mkpath(folder)) {
        return QStringLiteral("cannot create %1").arg(folder);
    }
    Provider printer = Provider::defaults().first();
    printer.id = QStringLiteral("printer");
    printer.templateText = QStringLiteral("/usr/bin/printf '%s' {prompt}");

    for (const QString& prompt : kHostilePrompts) {
        const QString line = printer.command(prompt);
        QProcess shell;
        shell.setWorkingDirectory(folder);
        shell.start(QStringLiteral("/bin/zsh"), {QStringLiteral("-l"), QStringLiteral("-c"), line});
        shell.closeWriteChannel();
        if (!shell.waitForFinished(10000)) {
            shell.kill();
            shell.waitForFinished();
            return QStringLiteral("zsh did not finish: %1").arg(line);
        }
        if (shell.exitCode() != 0 || shell.readAllStandardOutput() != prompt.toUtf8()) {
            return QStringLiteral("the shell did not print the prompt unchanged: %1").arg(line);
        }
    }
    const QStringList created =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    if (!created.isEmpty()) {
        return QStringLiteral("a quoted prompt created files: %1").arg(created.join(u", "));
    }
    return std::nullopt;
}

SelfTestResult templatesAreChecked(SelfTestContext&) {
    for (const Provider& provider : Provider::defaults()) {
        if (!provider.checkTemplate()) {
            return QStringLiteral("the built-in template of %1 is refused").arg(provider.id);
        }
    }
    Provider custom = Provider::defaults().first();
    custom.id = QStringLiteral("custom");
    custom.templateText = QStringLiteral("claude \"{prompt}\"");
    if (custom.checkTemplate() || custom.receivesTasks()) {
        return QStringLiteral("a placeholder inside quotes was accepted");
    }
    custom.templateText = QStringLiteral("claude {prompt} 'open");
    if (const Result<void> checked = custom.checkTemplate();
        checked ||
        checked.error().message != QStringLiteral("Close the quotation mark in this command.")) {
        return QStringLiteral("an open quotation mark was accepted");
    }
    const Provider& kimi = Provider::defaults().at(2);
    if (kimi.command(QStringLiteral("hello")) != QStringLiteral("kimi --prompt 'hello'")) {
        return QStringLiteral("the Kimi Code command line is wrong: %1")
            .arg(kimi.command(QStringLiteral("hello")));
    }
    return std::nullopt;
}

}  // namespace

std::vector<SelfTestCheck> assistantsChecks() {
    return {
        {QStringLiteral("prompts reach the login shell as one literal word"),
         quotingThroughTheLoginShell},
        {QStringLiteral("command templates are checked and filled"), templatesAreChecked},
    };
}
