#pragma once

#include "appearance/Theme.h"
#include "platform/DesktopServices.h"
#include "platform/Dialogs.h"
#include "platform/PowerInhibitor.h"
#include "platform/Preferences.h"
#include "workspace/Workspace.h"

#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A workspace and theme with persistence off, scripted dialogs and recording fakes for the
// desktop services, for tests of the pages.
class RecordingDesktop : public DesktopServices {
public:
    bool openUrl(const QString& url) override {
        opened.append(url);
        return true;
    }
    std::optional<QString> openPrivacySettings(PrivacyPane) override { return std::nullopt; }
    std::optional<QString> launchDesktopEntry(const QString&) override { return std::nullopt; }
    bool accessibilityTrusted() override { return false; }
    QStringList opened;
};

class CountingInhibitor : public PowerInhibitor {
public:
    int acquire(const QString&) override { return ++held; }
    void release(int) override { --held; }
    int held = 0;
};

struct UiFixture {
    UiFixture()
        : workspace(false, WorkspaceServices{&preferences, &dialogs, &inhibitor, &desktop}),
          theme(false, preferences) {}

    MemoryPreferences preferences;
    ScriptedDialogs dialogs;
    CountingInhibitor inhibitor;
    RecordingDesktop desktop;
    Workspace workspace;
    Theme theme;
};
