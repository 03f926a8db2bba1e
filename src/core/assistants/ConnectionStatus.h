#pragma once

#include <QString>

struct ToolResult;

// Login-status labels derived from the assistants' own status commands. Nothing is ever
// sent to an assistant's service; the tools answer from their local configuration.
namespace ConnectionStatus {

inline const QString signedIn = QStringLiteral("Signed in");
inline const QString signInNeeded = QStringLiteral("Sign in needed");
inline const QString timedOut = QStringLiteral("Check timed out");
inline const QString unavailable = QStringLiteral("Login status unavailable");

// `codex login status`. Codex prints "Logged in using …" for account logins and
// "API key configured …" for API-key logins, both with exit status 0 (on standard error),
// and "Not logged in" with status 1. Both success texts count, matched case-sensitively
// so that "Not logged in" never does.
QString codexLabel(const ToolResult& result);

// `claude auth status`: a JSON object with a boolean "loggedIn" on standard output. Only
// the output counts, not the exit status or a time-out.
QString claudeLabel(const ToolResult& result);

}  // namespace ConnectionStatus
