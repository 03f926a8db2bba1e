#pragma once

#include <QString>
#include <QStringList>

// The outcome of one run of a small local command (a login-status check).
struct ToolResult {
    // The exit status; 128 + the signal number when a signal ended the process; -1 when
    // the process could not be prepared or launched.
    int code = -1;
    // Standard output and standard error together, in arrival order, decoded as UTF-8 with
    // invalid bytes replaced; at most the first kMaxOutputBytes bytes.
    QString output;
    // The process was still running at the time-out and was stopped.
    bool timedOut = false;

    bool operator==(const ToolResult&) const = default;
};

// Runs short local commands with a time-out, and names VELK's application-data folders.
// Stateless; run() blocks its calling thread and is meant for background threads.
namespace LocalTools {

inline constexpr qint64 kMaxOutputBytes = 256000;
inline constexpr int kDefaultTimeoutMs = 20000;

// Runs `executable` (an absolute path) with `arguments`, in `directory` when given.
// Standard input is the null device; standard output and error go into one private
// capture file; PATH is replaced by statusSearchPath(). Its exit is awaited through
// the kernel's process descriptor; at the time-out it gets SIGTERM, and SIGKILL 0.2 s later if it
// still runs.
ToolResult run(const QString& executable, const QStringList& arguments,
               const QString& directory = QString(), int timeoutMs = kDefaultTimeoutMs);

// The search path given to status commands: the user's own tool folders, then the
// system's.
QString statusSearchPath();

// The folder `name` inside VELK's application-data folder. Nothing is created.
QString applicationData(const QString& name);

}  // namespace LocalTools
