#pragma once

#include "appearance/Theme.h"
#include "platform/Dialogs.h"
#include "platform/Preferences.h"
#include "support/FakeServices.h"
#include "workspace/Workspace.h"

#include <QTemporaryDir>

#include <memory>

// A workspace and theme with persistence off, scripted dialogs and recording fakes for the
// desktop services, for tests of the pages.
struct UiFixture {
    UiFixture()
        : workspace(false, WorkspaceServices{&preferences, &dialogs, &inhibitor, &desktop}),
          theme(false, preferences) {}

    MemoryPreferences preferences;
    ScriptedDialogs dialogs;
    testing_support::FakeInhibitor inhibitor;
    testing_support::FakeDesktop desktop;
    Workspace workspace;
    Theme theme;
};
