#pragma once

#include <QWidget>

#include <functional>

class ComputerPlanner;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QToolButton;
class QVBoxLayout;
class Launcher;
class Navigator;
class Notices;
class Permissions;
class ProjectModel;
class Theme;

// The manual desktop tools: open an application, open a terminal, show the project and the
// permissions card.
class DesktopToolsView : public QWidget {
    Q_OBJECT
public:
    DesktopToolsView(ProjectModel& project, Launcher& launcher, Permissions& permissions,
                     QWidget* parent = nullptr);

    QLabel* accessibilityStatus() const { return m_accessibility; }

private:
    void syncPermissions();

    ProjectModel& m_project;
    Launcher& m_launcher;
    Permissions& m_permissions;
    QLabel* m_accessibility = nullptr;
};

// The Desktop actions page: the request editor, planning controls, the plan's steps with their
// progress, the status line, and the manual tools.
class ComputerActionsPage : public QWidget {
    Q_OBJECT
public:
    // `quickDraft` answers the companion's current quick draft; without it the draft counts
    // as empty. The planner and the models must outlive the page.
    ComputerActionsPage(ComputerPlanner& planner, ProjectModel& project, Launcher& launcher,
                        Permissions& permissions, Notices& notices, Navigator& navigator,
                        Theme& theme, std::function<QString()> quickDraft = {},
                        QWidget* parent = nullptr);

    QPlainTextEdit* taskEditor() const { return m_task; }
    QPushButton* planButton() const { return m_plan; }
    QPushButton* stopButton() const { return m_stop; }
    QPushButton* runButton() const { return m_run; }
    QLabel* messageLabel() const { return m_message; }
    // The step rows shown now: "1. Title", in order.
    QStringList shownSteps() const;

private:
    void syncTask();
    void syncState();
    void rebuildSteps();
    void useVoiceDraft();

    ComputerPlanner& m_planner;
    Notices& m_notices;
    Navigator& m_navigator;
    std::function<QString()> m_quickDraft;
    QPlainTextEdit* m_task = nullptr;
    QPushButton* m_plan = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_run = nullptr;
    QLabel* m_message = nullptr;
    QLabel* m_explanation = nullptr;
    QVBoxLayout* m_steps = nullptr;
    QStringList m_shownSteps;
    QToolButton* m_toolsToggle = nullptr;
    DesktopToolsView* m_tools = nullptr;
};
