#pragma once

#include "core/app/CommandLine.h"
#include "core/runs/RunFiles.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class DesktopNotifications;
class DesktopServices;
class Dialogs;
class MainWindow;
class MotionPreference;
class Preferences;
class PowerInhibitor;
class QMenuBar;
class QtDialogs;
class Theme;
class StepRunner;
class CaretBlinkTimeout;
class CompanionController;
class CompanionModel;
class ComputerPlanner;
class Navigator;
class PetAttention;
class PlannerHost;
class TrayAttention;
class Workspace;

// The application delegate and composition root: creates the long-lived models in order and
// wires them (the workspace's models, the navigator, the desktop-action planner and its
// host), prepares the example project on first start, opens the main window with its menus,
// runs page capture, and governs quitting (closing the window only hides it).
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
    Navigator* navigator() const { return m_navigator.get(); }
    Theme* theme() const { return m_theme.get(); }
    ComputerPlanner* planner() const { return m_planner.get(); }
    MainWindow* window() const { return m_window.get(); }
    CompanionModel* companion() const { return m_companion.get(); }
    // The desktop companion's windows; absent in the automation modes.
    CompanionController* companionController() const { return m_companionController.get(); }

    // Menu commands.
    void about();
    void settings();
    void openProject();
    void newTerminal();
    void saveFile();
    void exportPreview();
    // Runs the quit policy and quits when it allows.
    void requestQuit();

    // Writes one PNG per main page into `folder`, then quits.
    void capturePages(const QString& folder);
    // Makes the next (+1) or previous (-1) session the active one, wrapping around.
    void switchSession(int step);

protected:
    // Closing the main window hides it to the tray, saying so the first time; without a
    // tray it quits through the quit policy.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What the first frame does not need, run once the window has gone to the display.
    void finishLaunch(const std::vector<RunFiles::ApplyRecovery>& recovered);
    void followAttention();
    void openProjectFolder();
    void installMenus();
    void captureNextPage(const QString& folder, int index);
    void captureCompanionWindows(const QString& folder);
    // Reviews a scripted change to the example project on the Team runs page and captures
    // it unified and side by side, then calls `done`.
    void captureReview(const QString& folder, const std::function<void()>& done);
    void captureTerminal(const QString& folder, const std::function<void()>& done);
    void startCompanion();
    // Keeps the theme's animation switch on the desktop's motion setting.
    void followDesktopMotion();

    CommandLine m_commandLine;
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<QtDialogs> m_dialogs;
    std::unique_ptr<PowerInhibitor> m_inhibitor;
    std::unique_ptr<DesktopServices> m_desktop;
    std::unique_ptr<StepRunner> m_stepRunner;
    std::unique_ptr<Workspace> m_workspace;
    std::unique_ptr<Navigator> m_navigator;
    std::unique_ptr<PlannerHost> m_plannerHost;
    std::unique_ptr<ComputerPlanner> m_planner;
    std::unique_ptr<Theme> m_theme;
    std::unique_ptr<MotionPreference> m_motion;
    std::unique_ptr<CompanionModel> m_companion;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<CompanionController> m_companionController;
    std::unique_ptr<TrayAttention> m_trayAttention;
    std::unique_ptr<PetAttention> m_petAttention;
    std::unique_ptr<CaretBlinkTimeout> m_caretBlinkTimeout;
    std::unique_ptr<DesktopNotifications> m_notifications;
    bool m_quitting = false;
    bool m_toldAboutTray = false;
    bool m_reviewCaptured = false;
    bool m_terminalCaptured = false;
};
