#pragma once

#include <QWidget>

class AttentionBoard;
class DesktopServices;
class KeepAwake;
class Navigator;
class Notices;
class PasteSafety;
class ProgramClipboard;
class ProjectModel;
class ProviderRegistry;
class QSpinBox;
class ScrollbackSetting;
class QPushButton;
class SessionRestore;
class Switch;
class TeamRunController;
class Theme;

// The models behind the Settings page's team-run settings of the project and its switch for
// restoring sessions; without them those controls are not shown.
struct SettingsRunModels {
    TeamRunController* teamRuns = nullptr;
    ProjectModel* project = nullptr;
    SessionRestore* restore = nullptr;
    // Its desktop-notification switch and the time after which a copy is Stalled.
    AttentionBoard* attention = nullptr;
};

// The Settings page: provider accounts, execution with the keep-awake, program clipboard
// and paste question switches, saved runs,
// and where local data lives, with buttons to the pages that manage each.
class SettingsPage : public QWidget {
    Q_OBJECT
public:
    // `desktop` may be null: then the saved runs folder does not open.
    SettingsPage(ProviderRegistry& providers, KeepAwake& keepAwake,
                 ProgramClipboard& programClipboard, PasteSafety& pasteSafety,
                 ScrollbackSetting& scrollback, Navigator& navigator, Notices& notices,
                 DesktopServices* desktop, Theme& theme, SettingsRunModels runs = {},
                 QWidget* parent = nullptr);

    Switch* keepAwakeSwitch() const { return m_keepAwake; }
    Switch* programClipboardSwitch() const { return m_programClipboard; }
    Switch* pasteSafetySwitch() const { return m_pasteSafety; }
    QSpinBox* scrollbackLines() const { return m_scrollbackLines; }
    Switch* restoreSessionsSwitch() const { return m_restoreSessions; }
    Switch* notificationsSwitch() const { return m_notifications; }
    // Minutes without output before a team-run copy is marked Stalled.
    QSpinBox* stalledMinutes() const { return m_stalledMinutes; }
    // Opens the team-run settings of the project folder.
    QPushButton* runSettingsButton() const { return m_runSettings; }
    // "Large projects": raises the limits of separate copies.
    Switch* largeProjectsSwitch() const { return m_largeProjects; }

private:
    Navigator& m_navigator;
    Switch* m_keepAwake;
    Switch* m_programClipboard;
    Switch* m_pasteSafety;
    QSpinBox* m_scrollbackLines;
    Switch* m_restoreSessions = nullptr;
    Switch* m_notifications = nullptr;
    QSpinBox* m_stalledMinutes = nullptr;
    QPushButton* m_runSettings = nullptr;
    Switch* m_largeProjects = nullptr;
};
