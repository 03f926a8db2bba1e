#pragma once

#include "core/workspace/AttentionBoard.h"
#include "core/workspace/HistoryStore.h"
#include "core/workspace/KeepAwake.h"
#include "core/workspace/Launcher.h"
#include "core/workspace/Notices.h"
#include "core/workspace/PasteSafety.h"
#include "core/workspace/Permissions.h"
#include "core/workspace/ProgramClipboard.h"
#include "core/workspace/ProjectModel.h"
#include "core/workspace/ProviderRegistry.h"
#include "core/workspace/ReviewLayout.h"
#include "core/workspace/ScrollbackSetting.h"
#include "core/workspace/SessionManager.h"
#include "core/workspace/SessionRestore.h"
#include "core/workspace/TeamRunController.h"

class DesktopServices;
class Dialogs;
class Preferences;
class PowerInhibitor;

// The platform services the models work with. They must outlive the workspace.
struct WorkspaceServices {
    Preferences* preferences = nullptr;
    Dialogs* dialogs = nullptr;
    PowerInhibitor* inhibitor = nullptr;
    DesktopServices* desktop = nullptr;
};

// Owns the models of one window's work and wires them together: each model has one job,
// and the pages take the models they use, never the workspace. One instance lives for the
// whole process; everything in it is used on the main thread only.
class Workspace {
public:
    // With `persist` the models load their preferences now and store each change; without
    // it (automation modes, tests) they neither read nor write a single key.
    Workspace(bool persist, WorkspaceServices services);
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    const WorkspaceServices services;
    Notices notices;
    ProjectModel project;
    ProviderRegistry providers;
    SessionManager sessions;
    HistoryStore history;
    TeamRunController teamRuns;
    Launcher launcher;
    KeepAwake keepAwake;
    ProgramClipboard programClipboard;
    PasteSafety pasteSafety;
    ScrollbackSetting scrollback;
    Permissions permissions;
    AttentionBoard attention;
    ReviewLayout reviewLayout;
    // Last: it reads the others' state while they live.
    SessionRestore sessionRestore;
};
