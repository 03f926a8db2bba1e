#include "ui/QuitPolicy.h"

#include "platform/Dialogs.h"
#include "terminal/TerminalSession.h"
#include "workspace/Workspace.h"

#include <algorithm>

bool confirmQuit(Workspace& workspace, Dialogs& dialogs, bool automation) {
    if (automation) {
        return true;
    }
    if (!workspace.confirmDiscard()) {
        return false;
    }
    const QList<SessionPointer>& sessions = workspace.sessions();
    const bool anyRunning = std::any_of(sessions.begin(), sessions.end(),
                                        [](const SessionPointer& s) { return s->running(); });
    if (anyRunning) {
        const int answer = dialogs.alert(
            {QStringLiteral("Quit and stop running sessions?"),
             QStringLiteral("Running assistants and terminal processes will be stopped."),
             {QStringLiteral("Quit & stop"), QStringLiteral("Cancel")},
             Dialogs::Style::Warning});
        if (answer != 0) {
            return false;
        }
    }
    workspace.stopAll();
    return true;
}
