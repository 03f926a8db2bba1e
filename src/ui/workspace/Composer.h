#pragma once

#include <QFrame>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class Launcher;
class ProjectModel;
class ProviderRegistry;
class TeamRunController;

// The task composer: project line, number of selected ready assistants, the working-mode
// picker, the prompt editor bound to the launcher's prompt, and "Run task" (disabled while a
// run is being prepared or the prompt is blank; "Preparing…" with a Cancel button while
// preparing).
class Composer : public QFrame {
    Q_OBJECT
public:
    Composer(Launcher& launcher, const ProjectModel& project, const ProviderRegistry& providers,
             TeamRunController& teamRuns, QWidget* parent = nullptr);

    QPushButton* runButton() const { return m_run; }
    QPushButton* cancelButton() const { return m_cancel; }
    // "Copying 12 of 40 files" while a team run is being prepared.
    QLabel* progressLabel() const { return m_progress; }
    QPlainTextEdit* editor() const { return m_editor; }
    QLabel* projectLabel() const { return m_projectLabel; }
    QLabel* selectedLabel() const { return m_selected; }
    QPushButton* separateCopiesButton() const { return m_separate; }
    QPushButton* sharedFolderButton() const { return m_shared; }

private:
    void update();

    Launcher& m_launcher;
    const ProjectModel& m_project;
    const ProviderRegistry& m_providers;
    TeamRunController& m_teamRuns;
    QLabel* m_projectLabel;
    QLabel* m_selected;
    QPushButton* m_separate;
    QPushButton* m_shared;
    QPlainTextEdit* m_editor;
    QPushButton* m_run;
    QPushButton* m_cancel;
    QLabel* m_progress;
};
