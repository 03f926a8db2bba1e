#pragma once

#include <QString>

#include <optional>

// Reads a launch-command template the way zsh will read the finished line, to decide
// where the {prompt} placeholder lands once it is replaced by one single-quoted word.
//
// Single quotes keep a task literal only where the shell reads them as quotes and then
// uses the word as plain text. So the placeholder is accepted only as a word, or glued to
// plain text (`--task={prompt}`), in the arguments of a command at the top level of the
// line: never inside quotes or after a backslash, after a $ (`${prompt}` becomes ANSI-C
// quoting, in which \' does not end the quote), inside $(…), ${…}, `…` or arithmetic
// ($((…)), ((…)), $[…], let), in a here-document or a comment, as the command itself, as
// the file of a redirection, or as an argument of a command that runs its arguments as
// shell code (eval, source, ., trap, a shell's -c, a shell at the end of a pipeline that
// carries the task). A shell counts wherever a command starts it (`nice -n 5 sh -c`), and a
// command named by an expansion (`$SHELL -c`) may be one. Commands are followed into
// subshells, groups, loops, case branches and function bodies. The reading covers what
// templates use; it is no full zsh parser, and no list of code-running commands is
// complete, so interpreters that receive the task draw a warning rather than a refusal.
namespace CommandTemplate {

struct Review {
    // Why the template cannot safely receive a task; nothing when it can.
    std::optional<QString> error;
    // A command that receives the task and may treat it as a program; only without error.
    std::optional<QString> warning;
};

Review review(const QString& templateText);

}  // namespace CommandTemplate
