#include "core/workspace/Permissions.h"

#include "core/base/Publish.h"
#include "core/services/DesktopServices.h"
#include "core/services/Dialogs.h"
#include "core/workspace/Notices.h"

#include <QFileInfo>

Permissions::Permissions(DesktopServices* desktop, Dialogs& dialogs, Notices& notices,
                         QObject* parent)
    : QObject(parent), m_desktop(desktop), m_dialogs(dialogs), m_notices(notices) {
    refresh();
}

void Permissions::refresh() {
    publish(this, m_accessibility, m_desktop && m_desktop->accessibilityTrusted(),
            &Permissions::accessibilityChanged);
}

void Permissions::openAccessibility() {
    openSettings(DesktopServices::PrivacyPane::Accessibility);
}

void Permissions::openScreenPermission() {
    openSettings(DesktopServices::PrivacyPane::ScreenRecording);
}

void Permissions::openSettings(DesktopServices::PrivacyPane pane) {
    if (!m_desktop) {
        return;
    }
    if (const Result<void> opened = m_desktop->openPrivacySettings(pane); !opened) {
        m_notices.notify(opened.error().message);
    }
}

void Permissions::openApplication() {
    if (!m_desktop) {
        return;
    }
    Dialogs::OpenPanel panel;
    panel.startFolder = QStringLiteral("/usr/share/applications");
    panel.chooseFiles = true;
    panel.chooseFolders = false;
    panel.nameFilters = {QStringLiteral("Applications (*.desktop)")};
    const auto chosen = m_dialogs.open(panel);
    if (!chosen || QFileInfo(*chosen).suffix() != QStringLiteral("desktop")) {
        return;
    }
    if (const Result<void> launched = m_desktop->launchDesktopEntry(*chosen); !launched) {
        m_notices.notify(launched.error().message);
    }
}
