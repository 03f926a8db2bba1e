#include "core/assistants/AssistantTraits.h"

#include "core/assistants/ConnectionStatus.h"
#include "core/assistants/LoginShell.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

const QString kPromptWord = QStringLiteral("prompt");

// Claude Code runs hooks on its own events and writes the escape sequence a hook returns as
// "terminalSequence" into its terminal (notification and title sequences and BEL only);
// `--settings` adds these hooks to the user's settings for one session. They announce, as
// OSC 9 notifications: an approval or question on screen (the Notification event of
// Claude's permission and question dialogs, which it sends once a dialog has waited 6 s),
// the end of a turn (Stop), and a turn ended by an error (StopFailure).
QString claudeNotificationSettings() {
    const auto announce = [](const QString& text) {
        const QJsonObject output{
            {QStringLiteral("terminalSequence"), QStringLiteral("\x1b]9;%1\x07").arg(text)}};
        const QString json =
            QString::fromUtf8(QJsonDocument(output).toJson(QJsonDocument::Compact));
        return QJsonArray{QJsonObject{
            {QStringLiteral("type"), QStringLiteral("command")},
            {QStringLiteral("command"), QStringLiteral("printf '%s\\n' ") + shellQuote(json)}}};
    };
    const QJsonObject hooks{
        {QStringLiteral("Notification"),
         QJsonArray{QJsonObject{
             {QStringLiteral("matcher"), QStringLiteral("permission_prompt|elicitation_dialog")},
             {QStringLiteral("hooks"), announce(QStringLiteral("Claude Code needs your input"))}}}},
        {QStringLiteral("Stop"),
         QJsonArray{QJsonObject{{QStringLiteral("hooks"),
                                 announce(QStringLiteral("Claude Code finished the turn"))}}}},
        {QStringLiteral("StopFailure"),
         QJsonArray{QJsonObject{{QStringLiteral("hooks"),
                                 announce(QStringLiteral("Claude Code stopped on an error"))}}}},
    };
    const QJsonObject settings{{QStringLiteral("hooks"), hooks}};
    return QStringLiteral("--settings ") +
           shellQuote(QString::fromUtf8(QJsonDocument(settings).toJson(QJsonDocument::Compact)));
}

// How each tool resumes a conversation, from its maker's documentation:
// - Claude Code: `claude --session-id <uuid>` starts a conversation with that id and
//   `claude --resume <id>` resumes it; `--continue` takes the folder's latest
//   (https://code.claude.com/docs/en/cli-reference).
// - Codex: `codex resume <SESSION_ID>` or `codex resume --last`, the newest session of the
//   working folder (https://github.com/openai/codex/blob/main/docs/advanced.md, "Resuming
//   sessions"; `codex resume --help`). A new session's id cannot be chosen: VELK reads it from
//   the rollout file Codex writes for the session, else resumes the folder's latest.
// - Gemini CLI: `gemini --session-id <uuid>` starts a session with that id (`gemini --help`,
//   google-gemini/gemini-cli pull request 26060), `gemini --resume <uuid>` resumes it and
//   `--resume latest` the project's latest (https://geminicli.com/docs/cli/session-management).
QList<AssistantTraits> makeTable() {
    const QString shell = LoginShell::userShell();
    return {
        {
            .stock = {.id = QStringLiteral("claude"),
                      .name = QStringLiteral("Claude Code"),
                      .subtitle = QStringLiteral("Anthropic · coding agent"),
                      .icon = QStringLiteral("asterisk"),
                      .colorHex = QStringLiteral("E3AF94"),
                      .executable = QStringLiteral("claude"),
                      .templateText = QStringLiteral("claude {prompt}"),
                      .documentation = QStringLiteral("https://code.claude.com/docs/en/overview")},
            // A one-shot run cannot answer a question, so it may edit files in its working
            // folder without asking (acceptEdits) but still may not run commands.
            .commands = {.batch = QStringLiteral(
                             "claude --print --permission-mode acceptEdits {prompt}"),
                         .taskFromInput = QString(),
                         .signIn = QStringLiteral("auth login"),
                         .resume = QStringLiteral("--continue"),
                         .newSession = QStringLiteral("--session-id {session}"),
                         .resumeSession = QStringLiteral("--resume {session}"),
                         .notifications = claudeNotificationSettings()},
            .status = {.arguments = {QStringLiteral("auth"), QStringLiteral("status")},
                       .label = &ConnectionStatus::claudeLabel},
            .abilities = {.inDefaultTeam = true},
        },
        {
            .stock = {.id = QStringLiteral("codex"),
                      .name = QStringLiteral("Codex"),
                      .subtitle = QStringLiteral("OpenAI · coding agent"),
                      .icon = QStringLiteral("chevron.left.forwardslash.chevron.right"),
                      .colorHex = QStringLiteral("A6C9F8"),
                      .executable = QStringLiteral("codex"),
                      .templateText = QStringLiteral("codex --sandbox workspace-write {prompt}"),
                      .documentation = QStringLiteral("https://developers.openai.com/codex/cli")},
            .commands = {.batch = QStringLiteral(
                             "codex exec --skip-git-repo-check --sandbox workspace-write {prompt}"),
                         .taskFromInput = QStringLiteral("-"),
                         .signIn = QStringLiteral("login"),
                         .resume = QStringLiteral("resume --last --sandbox workspace-write"),
                         .resumeSession =
                             QStringLiteral("resume --sandbox workspace-write {session}"),
                         // Codex's own notifications, written as OSC 9 whether or not the
                         // terminal has the focus (VELK reads them for every pane).
                         .notifications = QStringLiteral(
                             "-c tui.notifications=true -c tui.notification_method=osc9 "
                             "-c tui.notification_condition=always")},
            .sessionFiles = {.since = &ToolSessionFiles::codex},
            .status = {.arguments = {QStringLiteral("login"), QStringLiteral("status")},
                       .label = &ConnectionStatus::codexLabel},
            .abilities = {.compareResults = QStringLiteral(
                              "codex exec --skip-git-repo-check --sandbox read-only {prompt}"),
                          .planDesktopActions = QStringLiteral(
                              "exec --ignore-user-config --ephemeral --skip-git-repo-check "
                              "--sandbox read-only --output-schema {schema} "
                              "--output-last-message {answer} {prompt}"),
                          .inDefaultTeam = true},
        },
        {
            .stock = {.id = QStringLiteral("kimi"),
                      .name = QStringLiteral("Kimi Code"),
                      .subtitle = QStringLiteral("Moonshot · K3 via your CLI settings"),
                      .icon = QStringLiteral("k.square"),
                      .colorHex = QStringLiteral("C0AAF9"),
                      .executable = QStringLiteral("kimi"),
                      .templateText = QStringLiteral("kimi"),
                      .documentation = QStringLiteral("https://www.kimi.com/code/docs/en/")},
            .commands = {.interactiveWithTask = QStringLiteral("kimi --prompt {prompt}"),
                         .batch = QStringLiteral("kimi --prompt {prompt}"),
                         .signIn = QStringLiteral("login"),
                         .resume = QStringLiteral("--continue")},
            .installHint = QStringLiteral("Kimi Code is not installed. Its maker’s page explains "
                                          "how to install it: https://www.kimi.com/code/docs/en/"),
        },
        {
            .stock = {.id = QStringLiteral("antigravity"),
                      .name = QStringLiteral("Antigravity"),
                      .subtitle = QStringLiteral("Google · coding agent"),
                      .icon = QStringLiteral("sparkle"),
                      .colorHex = QStringLiteral("99D8BA"),
                      .executable = QStringLiteral("agy"),
                      .templateText = QStringLiteral("agy"),
                      .documentation = QStringLiteral("https://antigravity.google/docs/home")},
            .commands = {.interactiveWithTask = QStringLiteral("agy --prompt-interactive {prompt}"),
                         .batch = QStringLiteral("agy --print {prompt}"),
                         .resume = QStringLiteral("--continue")},
            .installHint =
                QStringLiteral("Antigravity is not installed. Its maker’s page explains "
                               "how to install it: https://antigravity.google/docs/home"),
        },
        {
            .stock = {.id = QStringLiteral("gemini"),
                      .name = QStringLiteral("Gemini CLI"),
                      .subtitle = QStringLiteral("Google · coding agent"),
                      .icon = QStringLiteral("sparkles"),
                      .colorHex = QStringLiteral("8AB4F8"),
                      .executable = QStringLiteral("gemini"),
                      .templateText = QStringLiteral("gemini"),
                      .documentation = QStringLiteral("https://geminicli.com/docs/")},
            // One-shot runs edit files without asking (auto_edit) but still may not run
            // commands, and headless Gemini CLI refuses a folder the user has not trusted,
            // which every fresh copy is: --skip-trust trusts it for that run only.
            .commands = {.interactiveWithTask =
                             QStringLiteral("gemini --prompt-interactive {prompt}"),
                         .batch = QStringLiteral(
                             "gemini --skip-trust --approval-mode auto_edit --prompt {prompt}"),
                         .resume = QStringLiteral("--resume latest"),
                         .newSession = QStringLiteral("--session-id {session}"),
                         .resumeSession = QStringLiteral("--resume {session}")},
            // Gemini CLI has no sign-in or status command: it signs in from its first screen.
            .installHint = QStringLiteral("Gemini CLI is not installed. Its maker’s page explains "
                                          "how to install it: https://geminicli.com/docs/"),
        },
        {
            .stock = {.id = QStringLiteral("zai"),
                      .name = QStringLiteral("Z.ai"),
                      .subtitle = QStringLiteral("GLM · configure a separate CLI profile"),
                      .icon = QStringLiteral("z.square"),
                      .colorHex = QStringLiteral("7EE6E3"),
                      .executable = QStringLiteral("claude"),
                      .templateText = QString(),
                      .documentation = QStringLiteral("https://docs.z.ai/devpack/tool/claude")},
            .profileTemplate =
                QStringLiteral("claude --settings /path/to/zai-settings.json {prompt}"),
        },
        {
            .stock = {.id = kShellID,
                      .name = QStringLiteral("Terminal"),
                      .subtitle =
                          QStringLiteral("This computer · ") + LoginShell::displayName(shell),
                      .icon = QStringLiteral("terminal"),
                      .colorHex = QStringLiteral("90A4BE"),
                      .executable = shell,
                      .templateText = LoginShell::startLine(shell),
                      .documentation = QString()},
        },
    };
}

// What is known of a connector the user added: nothing.
const AssistantTraits& noTraits() {
    static const AssistantTraits none;
    return none;
}

const AssistantTraits& firstThat(bool (*has)(const AssistantTraits&)) {
    const QList<AssistantTraits>& table = AssistantTraits::all();
    const auto found = std::find_if(table.cbegin(), table.cend(), has);
    return found != table.cend() ? *found : noTraits();
}

// Replaces each {name} found in `words` by its text, in one pass.
QString fill(const QString& form, const QHash<QString, QString>& words) {
    QString line;
    qsizetype from = 0;
    for (qsizetype open = form.indexOf(u'{'); open >= 0; open = form.indexOf(u'{', open + 1)) {
        const qsizetype close = form.indexOf(u'}', open + 1);
        if (close < 0) {
            break;
        }
        const auto word = words.constFind(form.sliced(open + 1, close - open - 1));
        if (word != words.cend()) {
            line += form.sliced(from, open - from) + *word;
            from = close + 1;
            open = close;
        }
    }
    return line + form.sliced(from);
}

}  // namespace

const QList<AssistantTraits>& AssistantTraits::all() {
    static const QList<AssistantTraits> table = makeTable();
    return table;
}

const AssistantTraits& AssistantTraits::of(const QString& id) {
    if (id.isEmpty()) {
        return noTraits();
    }
    const QList<AssistantTraits>& table = all();
    const auto found = std::find_if(table.cbegin(), table.cend(),
                                    [&id](const AssistantTraits& t) { return t.stock.id == id; });
    return found != table.cend() ? *found : noTraits();
}

const AssistantTraits& AssistantTraits::resultsComparer() {
    return firstThat(
        [](const AssistantTraits& t) { return !t.abilities.compareResults.isEmpty(); });
}

const AssistantTraits& AssistantTraits::desktopPlanner() {
    return firstThat(
        [](const AssistantTraits& t) { return !t.abilities.planDesktopActions.isEmpty(); });
}

QSet<QString> AssistantTraits::defaultTeam() {
    QSet<QString> team;
    for (const AssistantTraits& traits : all()) {
        if (traits.abilities.inDefaultTeam) {
            team.insert(traits.stock.id);
        }
    }
    return team;
}

bool AssistantTraits::hasStockTemplate(const Provider& provider) const {
    return isBuiltIn() && provider.templateText == stock.templateText;
}

QString AssistantTraits::withTask(const QString& form, const QString& task,
                                  const QHash<QString, QString>& words) {
    QHash<QString, QString> filled = words;
    filled.insert(kPromptWord, shellQuote(task));
    return fill(form, filled);
}

std::optional<QString> AssistantTraits::withTaskFromFile(
    const QString& form, const QString& taskFile, const QHash<QString, QString>& words) const {
    if (!commands.taskFromInput) {
        return std::nullopt;
    }
    QHash<QString, QString> filled = words;
    filled.insert(kPromptWord, *commands.taskFromInput);
    QString line = fill(form, filled);
    // An empty stand-in leaves the blank before it.
    while (line.endsWith(u' ')) {
        line.chop(1);
    }
    return line + QStringLiteral(" < ") + shellQuote(taskFile);
}
