#pragma once

#include <QStringList>
#include <QWidget>

#include <functional>

class Composer;
class QLabel;
class QPushButton;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;
class Launcher;
class Navigator;
class PasteSafety;
class ProjectModel;
class ProviderRegistry;
class SessionDeck;
class AttentionBoard;
class DesktopServices;
class SessionManager;
class TeamRunController;
class Theme;

// The Workspace page: the welcome panel (no sessions) or the session deck above the task
// composer, and the inspector on the right (project, assistants, working mode).
class WorkspacePage : public QWidget {
    Q_OBJECT
public:
    WorkspacePage(SessionManager& sessions, ProjectModel& project,
                  const ProviderRegistry& providers, Launcher& launcher,
                  TeamRunController& teamRuns, Navigator& navigator, PasteSafety& pasteSafety,
                  Theme& theme, DesktopServices* desktop = nullptr,
                  const AttentionBoard* attention = nullptr, QWidget* parent = nullptr);

    Composer* composer() const { return m_composer; }
    // Made when the first session starts: null until then.
    SessionDeck* deck() const { return m_deck; }
    bool showsWelcome() const;

private:
    QWidget* buildWelcome();
    QWidget* buildInspector();
    void syncContent();
    void rebuildConnectedTools();
    void rebuildAssistants();
    void updateProjectCard();
    void updateModeCard();
    void applyTheme();

    const SessionManager& m_sessions;
    ProjectModel& m_project;
    const ProviderRegistry& m_providers;
    Launcher& m_launcher;
    Navigator& m_navigator;
    Theme& m_theme;
    QStackedWidget* m_content;
    QWidget* m_welcome;
    SessionDeck* m_deck = nullptr;
    std::function<SessionDeck*()> m_makeDeck;
    Composer* m_composer;
    QVBoxLayout* m_connectedTools;
    QVBoxLayout* m_assistants;
    QLabel* m_projectName;
    QLabel* m_projectHint;
    QPushButton* m_projectButton;
    QLabel* m_modeText;
    QToolButton* m_terminalButton;
    QList<QLabel*> m_themedIcons;
    // What the two provider lists show now: a signal that would rebuild one into the same
    // rows (a connection check that found what the last one did) leaves it as it is.
    QStringList m_shownTools;
    QStringList m_shownAssistants;
};
