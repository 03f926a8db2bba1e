#pragma once

#include <QString>
#include <QStringList>

/// What to start on a new pseudo-terminal. The terminal layer runs exactly this: which
/// program, shell or search path a command needs is decided by whoever builds the request.
struct SpawnRequest {
    /// The file executed, as given (no search along PATH).
    QString program;
    /// The argument vector the program receives, from argv[0] on.
    QStringList arguments;
    /// "NAME=value" entries set on top of VELK's own environment (and of the terminal's own
    /// TERM and COLORTERM), replacing a variable of the same name.
    QStringList environment;
    /// The working folder the child starts in.
    QString directory;
    int rows = 24;
    int columns = 80;
};
