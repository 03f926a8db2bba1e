#pragma once

#include "core/assistants/Provider.h"
#include "core/assistants/ToolSessionFiles.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

struct ToolResult;

// The login shell's provider id. The shell is the fallback provider and never counts as an
// assistant.
inline const QString kShellID = QStringLiteral("shell");

// Everything VELK knows about one built-in assistant, kept in one table (AssistantTraits.cpp)
// so that no other code tells assistants apart by their ids: models and pages ask the table
// what an assistant can do. A connector the user added has empty traits. Knowledge is grouped
// by what reads it; a new kind of knowledge about the tools (how one shows that it is working
// or waiting for an answer, how it is pointed at another server) gets its own named group here.
//
// Forms are command texts in which {prompt} marks where the task goes as one single-quoted
// word. Two kinds appear:
// - lines: whole command lines the login shell runs, finding the tool through PATH. The
//   interactive and one-shot lines stand for the stock template, so a built-in whose
//   template the user changed runs that template instead.
// - arguments: what follows the quoted path of the installed executable.
struct AssistantTraits {
    // The built-in's provider record as first stored: card texts, icon, colour, executable,
    // stock launch template and the maker's documentation page.
    Provider stock{};

    struct Commands {
        // The interactive line when a task is given, for a tool whose stock template has no
        // {prompt} because the task goes through an option; empty: the template takes it.
        QString interactiveWithTask{};
        // The one-shot, non-interactive line of a team run; empty: the interactive line.
        QString batch{};
        // What takes {prompt}'s place when the tool reads its task from standard input ("-"
        // for `codex exec -`, nothing for `claude --print`); absent when it cannot. Tasks too
        // long for a command line go that way.
        std::optional<QString> taskFromInput{};
        // Arguments that sign in, and that resume the last conversation in the project
        // folder; empty when the tool has no such command.
        QString signIn{};
        QString resume{};
        // Arguments added to an interactive start that give the conversation the id
        // {session} (a fresh UUID), empty when the tool takes no id of ours; and those that
        // resume the conversation {session} later, whether the id was ours or read from the
        // tool's session files. Sessions VELK restores after a restart use the second when
        // their id is known, else `resume` in the session's folder.
        QString newSession{};
        QString resumeSession{};
        // Arguments added to every interactive start (new, resumed or restored) that make the
        // tool announce in its own terminal, with a notification sequence, when it needs the
        // user and when a turn ends; for that session only, through the tool's documented
        // options, never by editing the user's configuration. The attention pattern files
        // (resources/attention) say what the announcements mean. Empty: the tool is read
        // from its title and screen alone.
        QString notifications{};
    } commands{};

    // For a tool that takes no id of ours but can resume by its own: the conversations it
    // recorded in its session files, begun at a given time or later, from which VELK learns
    // the id of a session it started. Blocks on the disk. None: no ids are looked for.
    struct SessionFiles {
        QList<ToolSessionFile> (*since)(const QDateTime&) = nullptr;
    } sessionFiles{};

    // How the sign-in state is read from the tool's local configuration, with no request to
    // its service: the arguments of its status command and the reader of what it prints.
    // No reader: the state is not checked.
    struct StatusCheck {
        QStringList arguments{};
        QString (*label)(const ToolResult&) = nullptr;
    } status{};

    // Jobs other parts of VELK give an assistant; an empty form means it does not take them.
    struct Abilities {
        // A read-only line that compares the results of a team run; it edits nothing.
        QString compareResults{};
        // Arguments that draft a desktop-action plan: {schema} is the JSON schema of a plan,
        // {answer} the file the plan is written to.
        QString planDesktopActions{};
        // Chosen for team runs until the user picks.
        bool inDefaultTeam = false;
    } abilities{};

    // For a service reached through another assistant's client: an example launch command
    // that points the client at a separate settings profile. Such a provider has no stock
    // template; it cannot run until the user writes one.
    QString profileTemplate{};

    // What the user reads when the tool is not installed and the connector editor alone
    // would not tell them how to get it: where its maker explains installing it.
    QString installHint{};

    // The built-ins, in card order; the login shell comes last.
    static const QList<AssistantTraits>& all();
    // The traits of the built-in with this id; empty traits for any other id.
    static const AssistantTraits& of(const QString& id);
    // The assistant that compares team results, and the one that plans desktop actions;
    // empty traits when none does.
    static const AssistantTraits& resultsComparer();
    static const AssistantTraits& desktopPlanner();
    // The ids chosen for team runs until the user picks.
    static QSet<QString> defaultTeam();

    bool isBuiltIn() const { return !stock.id.isEmpty(); }
    bool needsProfile() const { return !profileTemplate.isEmpty(); }
    // Whether `provider`, which has this built-in's id, still has the stock template, which
    // the lines assume.
    bool hasStockTemplate(const Provider& provider) const;

    // `form` with {prompt} replaced by `task` as one quoted word and each other {name} found
    // in `words` by its shell text as given. One pass: inserted text is never read again.
    static QString withTask(const QString& form, const QString& task,
                            const QHash<QString, QString>& words = {});
    // `form` reading its task from `taskFile` on standard input, the same words filled in;
    // nothing when this tool cannot read a task that way.
    std::optional<QString> withTaskFromFile(const QString& form, const QString& taskFile,
                                            const QHash<QString, QString>& words = {}) const;
};
