#pragma once

#include <QString>

// The user's own shell, as the desktop's terminals start it.
namespace LoginShell {

// $SHELL when it names an executable file, else the shell of the user's passwd entry, else
// /bin/bash.
QString userShell();

// The line that starts `shell` as a login shell: "/bin/bash -l".
QString startLine(const QString& shell);

// How the Terminal card names a shell: "Bash shell" for "/bin/bash".
QString displayName(const QString& shell);

}  // namespace LoginShell
