#pragma once

#include "core/base/Result.h"

#include <QByteArray>
#include <QColor>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

struct SpawnRequest;

// Wraps a text in single quotes so the shell reads it as one literal word; every single
// quote inside becomes '\'' . Every prompt and executable path enters a command line only
// through this function.
QString shellQuote(const QString& text);

// The search path put in front of every command a terminal session runs, so the user's own
// tool folders come before the inherited path (the shell expands the variables).
constexpr const char* kShellPathPrefix =
    "export PATH=\"$HOME/.local/bin:$HOME/.npm-global/bin:$HOME/.kimi-code/bin:$HOME/.cargo/bin:"
    "/usr/local/bin:$PATH\"; ";

// How a terminal session runs `command` in `directory`: `/bin/zsh -l -c`, with the search
// path above put first, in the environment of the user's login shell once it is known.
SpawnRequest shellSpawnRequest(const QString& command, const QString& directory);

// Linux refuses to start a program with one argument of 128 KiB or more, its terminating
// NUL included (MAX_ARG_STRLEN), and a terminal session's whole command line, the search
// path it puts first included, is the one argument of `zsh -c`. A quoted task costs its
// UTF-8 bytes plus three more for each single quote.
constexpr qsizetype kMaximumArgumentBytes = 128 * 1024;
// The longest command, in UTF-8 bytes, that a terminal session can run.
qsizetype maximumCommandBytes();
bool commandLineFits(const QString& command);
// "This task is too long to pass to Codex (190 KB; the limit is 128 KB). …", for a command
// that does not fit.
QString taskTooLongNotice(const QString& toolName, const QString& commandLine);

// One command-line tool the workspace can run in a terminal: a coding assistant, a profile
// of a compatible client, the login shell, or a connector the user added.
struct Provider {
    QString id;
    QString name;
    QString subtitle;
    QString icon;
    QString colorHex;
    QString executable;
    QString templateText;  // "template" in JSON; may contain the {prompt} placeholder
    QString documentation;

    bool operator==(const Provider&) const = default;

    // The built-in providers, in card order; the last one ("shell") is the fallback.
    static const QList<Provider>& defaults();

    QColor color() const;
    std::optional<QUrl> documentationURL() const;
    // Whether the template can safely receive a prompt; the error says why not.
    Result<void> checkTemplate() const;
    // A caution about a template that may still be used: an interpreter receives the task.
    std::optional<QString> templateWarning() const;
    bool receivesTasks() const;
    // The interactive command line with the prompt inserted as one quoted word; a built-in's
    // stock template also gets the options that make the tool announce its state
    // (AssistantTraits::Commands::notifications).
    QString command(const QString& prompt) const;
    // The one-shot, non-interactive command line used for team runs.
    QString batchCommand(const QString& prompt) const;
    // Whether the one-shot form can read its task from standard input instead, for tasks
    // too long for the command line.
    bool readsBatchTaskFromInput() const;
    // That one-shot form with standard input read from `taskFile`, which holds the task.
    std::optional<QString> batchCommandReadingFile(const QString& taskFile) const;

    QJsonObject toJson() const;
    // Nothing when a key is missing or not a text.
    static std::optional<Provider> fromJson(const QJsonValue& value);
    // The stored list: a JSON array of provider objects. One bad object fails the list.
    static QByteArray encodeList(const QList<Provider>& providers);
    static std::optional<QList<Provider>> decodeList(const QByteArray& data);
};
