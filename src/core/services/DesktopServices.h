#pragma once

#include "core/base/Result.h"

#include <QString>

// Hand-offs to the desktop: opening folders and web addresses, privacy settings and
// applications described by desktop entries.
class DesktopServices {
public:
    enum class PrivacyPane { Accessibility, ScreenRecording };

    virtual ~DesktopServices() = default;

    // Opens a folder in the file manager or a web address in the browser.
    virtual bool openUrl(const QString& url) = 0;
    // Opens the desktop's settings where this kind of permission is managed. Fails with the
    // notice to show when this desktop has no such setting.
    virtual Result<void> openPrivacySettings(PrivacyPane pane) = 0;
    // Launches the application described by a .desktop file.
    virtual Result<void> launchDesktopEntry(const QString& desktopFilePath) = 0;
    // True when an X11 display with the XTEST extension is reachable: synthetic keyboard
    // input can be delivered to other applications.
    virtual bool accessibilityTrusted() = 0;
};
