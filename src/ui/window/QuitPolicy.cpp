#include "ui/window/QuitPolicy.h"

#include "core/services/Dialogs.h"
#include "core/workspace/ProjectModel.h"
#include "core/workspace/SessionManager.h"

bool confirmQuit(ProjectModel& project, SessionManager& sessions, Dialogs& dialogs,
                 bool automation) {
    if (automation) {
        return true;
    }
    if (!project.confirmDiscard()) {
        return false;
    }
    if (sessions.anyRunning()) {
        const int answer = dialogs.alert(
            {QStringLiteral("Quit and stop running sessions?"),
             QStringLiteral("Running assistants and terminal processes will be stopped."),
             {QStringLiteral("Quit & stop"), QStringLiteral("Cancel")},
             Dialogs::Style::Warning});
        if (answer != 0) {
            return false;
        }
    }
    sessions.stopAll();
    return true;
}
