#pragma once

#include "core/appearance/Theme.h"
#include "core/services/Dialogs.h"
#include "core/services/Preferences.h"
#include "core/workspace/Workspace.h"
#include "support/FakeServices.h"
#include "ui/navigation/Navigator.h"

#include <QTemporaryDir>

#include <memory>

// A workspace, navigator and theme (persistence off unless asked for), scripted dialogs and
// recording fakes for the desktop services, for tests of the pages.
struct UiFixture {
    // A persisting workspace reads `stored` from its preferences when it is built.
    explicit UiFixture(bool persist = false, QVariantMap stored = {})
        : preferences(std::move(stored)),
          workspace(persist, WorkspaceServices{&preferences, &dialogs, &inhibitor, &desktop}),
          navigator(workspace.sessions, workspace.launcher),
          theme(false, preferences) {}

    MemoryPreferences preferences;
    ScriptedDialogs dialogs;
    testing_support::FakeInhibitor inhibitor;
    testing_support::FakeDesktop desktop;
    Workspace workspace;
    Navigator navigator;
    Theme theme;
};
