#pragma once

class Dialogs;
class ProjectModel;
class SessionManager;

// Decides whether the application may quit now, asking the user where needed:
//   1. in an automation mode it always may;
//   2. unsaved editor changes the user keeps cancel the quit;
//   3. a team run being prepared is cancelled;
//   4. with sessions running the user confirms "Quit & stop" (anything else cancels);
//   5. on the way out every session is stopped.
// Returns true when the application should quit; every session has then been stopped.
bool confirmQuit(ProjectModel& project, SessionManager& sessions, Dialogs& dialogs,
                 bool automation);
