#pragma once

#include "core/services/DesktopServices.h"

#include <QObject>

class Dialogs;
class Notices;

// What desktop actions may do on this desktop: whether input can be synthesized, and the
// ways to open the settings that grant it or to start an application. Main thread only.
class Permissions : public QObject {
    Q_OBJECT

public:
    // `desktop` may be null: then nothing is granted and nothing opens.
    Permissions(DesktopServices* desktop, Dialogs& dialogs, Notices& notices,
                QObject* parent = nullptr);

    bool accessibility() const { return m_accessibility; }
    void refresh();
    void openAccessibility();
    void openScreenPermission();
    // Asks for an application's desktop entry and starts it.
    void openApplication();

Q_SIGNALS:
    void accessibilityChanged();

private:
    void openSettings(DesktopServices::PrivacyPane pane);

    DesktopServices* m_desktop;
    Dialogs& m_dialogs;
    Notices& m_notices;
    bool m_accessibility = false;
};
