#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class TeamRunController;

// The team-run settings of one project: the setup command each copy runs before its assistant
// starts, its time-out, the extra files copied in (one gitignore pattern a line), and whether
// the settings are saved in the project for teammates. Save stores them and closes.
class TeamRunSettingsDialog : public QDialog {
    Q_OBJECT

public:
    TeamRunSettingsDialog(TeamRunController& teamRuns, const QString& project,
                          QWidget* parent = nullptr);

    // The parts, for tests.
    QLineEdit* setupField() const { return m_setup; }
    QSpinBox* timeoutField() const { return m_timeout; }
    QPlainTextEdit* extraFilesField() const { return m_extraFiles; }
    QCheckBox* inProjectBox() const { return m_inProject; }
    QPushButton* saveButton() const { return m_save; }

    // Stores what the fields say; false (the dialog stays) when it could not be written.
    bool save();

private:
    TeamRunController& m_teamRuns;
    QString m_project;
    QLineEdit* m_setup = nullptr;
    QSpinBox* m_timeout = nullptr;
    QPlainTextEdit* m_extraFiles = nullptr;
    QCheckBox* m_inProject = nullptr;
    QPushButton* m_save = nullptr;
};
