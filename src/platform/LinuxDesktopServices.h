#pragma once

#include "core/services/DesktopServices.h"

#include <QStringList>

// The desktop hand-offs on Linux: web addresses and folders through QDesktopServices (or
// xdg-open when no GUI application exists), privacy settings through the desktop's own
// settings application where one is known, applications through GIO, and the Accessibility
// query through X11.
class LinuxDesktopServices : public DesktopServices {
public:
    bool openUrl(const QString& url) override;
    Result<void> openPrivacySettings(PrivacyPane pane) override;
    Result<void> launchDesktopEntry(const QString& desktopFilePath) override;
    bool accessibilityTrusted() override;

    // The command that opens the pane on the current desktop ($XDG_CURRENT_DESKTOP), or an
    // empty list when this desktop has no such setting or its settings program is missing.
    static QStringList privacySettingsCommand(PrivacyPane pane);
    // The notice shown when privacySettingsCommand finds nothing.
    static QString missingSettingNotice(PrivacyPane pane);
};

// True when the X11 display named by $DISPLAY answers and offers the XTEST extension (asked
// through Xlib alone; the keys themselves are sent by the desktop module).
bool x11WithXTestReachable();
