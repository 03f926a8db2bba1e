#include "core/assistants/AssistantTraits.h"
#include "core/assistants/CommandTemplate.h"

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
