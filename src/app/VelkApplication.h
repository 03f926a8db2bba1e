#pragma once

#include "app/CommandLine.h"

#include <QObject>
#include <QPointer>

#include <memory>

class DesktopServices;
class Preferences;
class PowerInhibitor;
class QWidget;
class QtDialogs;
class Theme;
class Workspace;

// The application delegate: creates the long-lived models in order, prepares the example
// project on first start, opens the main window and runs the automation modes.
class VelkApplication : public QObject {
    Q_OBJECT
public:
    VelkApplication(CommandLine commandLine, std::unique_ptr<Preferences> preferences,
                    QObject* parent = nullptr);
    ~VelkApplication() override;

    // Runs once; later calls do nothing.
    void launch();
    void showMainWindow();

    Workspace* workspace() const { return m_workspace.get(); }
    Theme* theme() const { return m_theme.get(); }

private:
    void openProjectFolder();

    CommandLine m_commandLine;
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<QtDialogs> m_dialogs;
    std::unique_ptr<PowerInhibitor> m_inhibitor;
    std::unique_ptr<DesktopServices> m_desktop;
    std::unique_ptr<Workspace> m_workspace;
    std::unique_ptr<Theme> m_theme;
    std::unique_ptr<QWidget> m_window;
};
