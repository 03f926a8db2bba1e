#pragma once

#include "core/base/Result.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

// The user's own shell, as the desktop's terminals start it, and the environment it sets up.
namespace LoginShell {

// $SHELL when it names an executable file, else the shell of the user's passwd entry, else
// /bin/bash.
QString userShell();

// The line that starts `shell` as a login shell: "/bin/bash -l".
QString startLine(const QString& shell);

// How the Terminal card names a shell: "Bash shell" for "/bin/bash".
QString displayName(const QString& shell);

// How long reading the login shell's environment may take before VELK goes on without it.
inline constexpr int kEnvironmentTimeoutMs = 3000;

// The environment of the user's login shell, read the way editors do: `shell` starts as a
// login shell that starts itself again as an interactive one, so its profile and its rc
// files both run, and prints its environment between two markers. Fails when the shell
// cannot start, fails, or has not finished after `timeoutMs`. Blocks; for background threads.
Result<QHash<QString, QString>> readEnvironment(const QString& shell, int timeoutMs);

// Makes the variables of `environment` that differ from VELK's own, apart from those that
// describe the shell process itself (PWD, SHLVL, TERM…), the environment VELK's children
// start with: discovery, status checks and terminal sessions read them from here.
// Thread-safe.
void adopt(const QHash<QString, QString>& environment);

// The adopted variables as "NAME=value" entries; empty until adopt().
QStringList adoptedEntries();

// An adopted variable's value; nothing when it was not adopted.
std::optional<QString> adoptedValue(const QString& name);

// The search path the user's shell has: the adopted PATH followed by the folders of VELK's
// own that it lacks, else VELK's own.
QString searchPath();

}  // namespace LoginShell
