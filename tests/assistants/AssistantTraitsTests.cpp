#include "core/assistants/AssistantTraits.h"
#include "core/assistants/CommandTemplate.h"
#include "core/attention/AttentionReplay.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <optional>
#include <utility>

// The table's forms never pass through the connector editor, so nothing else holds them to
// the rules a user's launch command must follow. A form that hands the task to the shell
// as code, or one meant to carry a task that has no {prompt}, fails here.
TEST(AssistantTraits, everyBuiltInFormPassesTheTemplateCheckAndFillingReadsNothingTwice) {
    for (const AssistantTraits& traits : AssistantTraits::all()) {
        const QString tool = traits.stock.executable + u' ';
        // {form, whether it must carry the task; nothing: it may}
        const std::pair<QString, std::optional<bool>> forms[] = {
            {traits.stock.templateText, std::nullopt},
            {traits.profileTemplate, true},
            {traits.commands.interactiveWithTask, true},
            {traits.commands.batch, true},
            {traits.abilities.compareResults, true},
            {tool + traits.abilities.planDesktopActions, true},
            {tool + traits.commands.signIn, false},
            {tool + traits.commands.resume, false},
            {tool + traits.commands.notifications, false},
            {tool + traits.status.arguments.join(u' '), false},
        };
        for (const auto& [form, carriesTask] : forms) {
            if (form.trimmed().isEmpty() || form == tool) {
                continue;
            }
            SCOPED_TRACE(form.toStdString());
            EXPECT_EQ(CommandTemplate::review(form).error.value_or(QString()).toStdString(), "");
            if (carriesTask) {
                EXPECT_EQ(form.contains(QStringLiteral("{prompt}")), *carriesTask);
            }
        }
    }

    // A task or a file name that spells a placeholder stays what it is.
    EXPECT_EQ(AssistantTraits::withTask("tool {answer} {prompt}", "{answer}",
                                        {{"answer", "'/tmp/{prompt}'"}}),
              "tool '/tmp/{prompt}' '{answer}'");
}

// What the interactive starts make each tool announce, read through its attention patterns:
// Claude Code's hooks are run as Claude runs them (the settings word taken apart by a shell,
// each hook's command run by one) and the sequence each returns is fed to a terminal screen;
// Codex's notifications are the texts the pinned version writes.
TEST(AssistantTraits, theAnnouncementsOfInteractiveStartsMeanWhatTheirPatternsSay) {
    const auto run = [](const QString& command) {
        QProcess shell;
        shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
        EXPECT_TRUE(shell.waitForFinished(10000)) << command.toStdString();
        return shell.readAllStandardOutput();
    };
    const auto stateAfter = [](const QByteArray& output, const QString& assistant) {
        return attentionWord(
                   replayAttention(output, 24, 80, AttentionPatterns::forAssistant(assistant))
                       .state())
            .toStdString();
    };

    const QList<QByteArray> words = run(QStringLiteral("printf '%s\\0' ") +
                                        AssistantTraits::of("claude").commands.notifications)
                                        .split('\0');
    ASSERT_EQ(words.size(), 3);  // --settings, the settings, and after the last NUL
    EXPECT_EQ(words[0], "--settings");
    const QJsonObject hooks = QJsonDocument::fromJson(words[1]).object().value("hooks").toObject();
    const std::pair<const char*, const char*> claudeEvents[] = {
        {"Notification", "needs input"}, {"Stop", "idle"}, {"StopFailure", "idle"}};
    for (const auto& [event, expected] : claudeEvents) {
        SCOPED_TRACE(event);
        const QJsonObject hook =
            hooks.value(event).toArray().at(0)["hooks"].toArray().at(0).toObject();
        const QJsonObject output =
            QJsonDocument::fromJson(run(hook.value("command").toString())).object();
        EXPECT_EQ(stateAfter(output.value("terminalSequence").toString().toUtf8(), "claude"),
                  expected);
    }
    EXPECT_EQ(hooks.value("Notification").toArray().at(0)["matcher"].toString(),
              "permission_prompt|elicitation_dialog");

    const std::pair<const char*, const char*> codexNotifications[] = {
        {"Approval requested: echo approved > approved.txt", "needs input"},
        {"Approval requested by docs-server", "needs input"},
        {"Codex wants to edit notes.txt", "needs input"},
        {"Question requested", "needs input"},
        {"The command ran.", "idle"},
        {"Agent turn complete", "idle"},
    };
    for (const auto& [text, expected] : codexNotifications) {
        EXPECT_EQ(stateAfter(QByteArray("\x1b]9;") + text + '\a', "codex"), expected) << text;
    }
}
