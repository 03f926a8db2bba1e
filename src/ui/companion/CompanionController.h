#pragma once

#include "core/companion/DesktopGeometry.h"

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class CompanionControls;
class CompanionModel;
class DesktopPet;
class Preferences;
class QMenu;
class QSystemTrayIcon;
class Theme;
class WindowLift;
class HistoryStore;
class Launcher;
class Navigator;
class Notices;
class SessionManager;

// A frameless, translucent, always-on-top tool window shown on every virtual desktop and
// kept out of the task bar and the window switcher. Both companion windows are one.
class CompanionPanel : public QWidget {
    Q_OBJECT
public:
    CompanionPanel(const QString& title, bool withShadow, QWidget* parent = nullptr);

    // Shows the panel above other windows without taking the keyboard focus.
    void orderFrontRegardless();
    // Shows the panel above other windows and gives it the keyboard focus.
    void makeKeyAndOrderFront();

    bool withShadow() const { return m_withShadow; }

private:
    void prepareNativeWindow();

    bool m_withShadow;
};

// Puts the companion on the desktop: the pet window, the quick-draft window beside it and
// the tray icon with its menu. It keeps the pet on an attached screen, remembers where the
// user dragged it ("kelo.pet.x"/"kelo.pet.y", the pet's bottom-left corner with y growing
// upward from the primary screen's bottom edge), answers the model's requests, hands a
// finished draft to the workspace and tears everything down on shutdown().
class CompanionController : public QObject {
    Q_OBJECT
public:
    static constexpr double kPetWidth = 176;
    static constexpr double kPetHeight = 186;
    static constexpr double kControlsWidth = 340;
    static constexpr double kControlsHeight = 394;
    // A press that moves the mouse this far or less in total is a click.
    static constexpr double kClickSlop = 3;

    struct Actions {
        std::function<void()> showMain;  // brings the main window to the front
        std::function<void()> quit;      // asks the application to quit
        // The main window's frame and its buttons and fields, in Qt's global coordinates,
        // which the pet's first position leaves uncovered; empty when there is none.
        std::function<QRect()> mainFrame{};
        std::function<QList<QRect>()> mainControls{};
    };
    using ScreenSource = std::function<ScreenLayout()>;
    // The window's models the companion works with: its draft goes to the launcher's task,
    // read-aloud reads the active session or the latest history entry.
    struct Models {
        Launcher& launcher;
        const SessionManager& sessions;
        const HistoryStore& history;
        Notices& notices;
        Navigator& navigator;
    };

    // `screens` describes the attached screens; by default Qt's. The position is kept in
    // `preferences`. Every reference must outlive the controller.
    CompanionController(CompanionModel& model, Models models, Theme& theme,
                        Preferences& preferences, Actions actions, ScreenSource screens = {},
                        QObject* parent = nullptr);
    ~CompanionController() override;

    CompanionPanel* panel() const { return m_panel.get(); }
    CompanionPanel* controlsPanel() const { return m_controlsPanel.get(); }
    DesktopPet* pet() const;
    CompanionControls* controls() const;
    // The tray icon; absent where the desktop has no tray, and after shutdown.
    QSystemTrayIcon* statusItem() const { return m_statusItem.get(); }
    // The tray icon's menu, built also where there is no tray.
    QMenu* statusMenu() const { return m_statusMenu.get(); }

    // Window frames in the desktop convention.
    QRectF petFrame() const;
    QRectF controlsFrame() const;

    void updateVisibility();
    void updateSize();
    void constrainPosition();
    void positionControls();
    void savePosition();
    void restorePosition();
    void resetPosition();
    void showControls();
    void dismissControls();
    void toggleControls();
    void findPet();

    // Tray and menu actions.
    void openMain();
    void openSettingsPage();
    void stopAudio();
    void toggle();

    // The model's requests to hand the draft to the workspace and to read output aloud.
    void useDraft();
    void readOutput();

    // Dragging the pet, in Qt's global coordinates, as the pet's interaction view reports it.
    void pressPet(const QPointF& globalPosition);
    void dragPet(const QPointF& globalPosition);
    // Returns whether the press was a click (the mouse stayed within the click slop).
    bool releasePet();

    void shutdown();

private:
    ScreenLayout screens() const;
    void movePanel(QWidget* panel, const QPointF& desktopOrigin);
    QRectF frameOf(const QWidget* panel) const;
    void buildStatusItem();

    CompanionModel& m_model;
    Models m_models;
    Theme& m_theme;
    Preferences& m_preferences;
    Actions m_actions;
    ScreenSource m_screens;

    std::unique_ptr<CompanionPanel> m_panel;
    std::unique_ptr<CompanionPanel> m_controlsPanel;
    QPointer<DesktopPet> m_pet;
    WindowLift* m_petLift = nullptr;  // floats the pet's window; owned by it
    QPointer<CompanionControls> m_controls;
    std::unique_ptr<QMenu> m_statusMenu;
    std::unique_ptr<QSystemTrayIcon> m_statusItem;

    // The drag in progress: where the mouse was pressed and where the pet was then.
    QPointF m_pressMouse;
    QPointF m_pressOrigin;
    bool m_pressed = false;
    bool m_moved = false;
};

// The attached screens as Qt reports them, in the desktop convention.
ScreenLayout qtScreenLayout();
