#pragma once

#include "core/files/FileEntry.h"

#include <QIcon>
#include <QPointer>
#include <QStyle>
#include <QWidget>

class CodeEditor;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QStackedWidget;
class QToolButton;
class Launcher;
class ProjectModel;
class Theme;

// The "Files & runner" page: the project's files one folder at a time, the built-in editor
// bound to the workspace's editor buffer, and the runner for the open file or a custom
// command. Everything it shows comes from the project model; every action calls it or the launcher.
class FilesPage : public QWidget {
    Q_OBJECT

public:
    FilesPage(ProjectModel& project, Launcher& launcher, Theme& theme, QWidget* parent = nullptr);
    ~FilesPage() override;

    // The parts, for tests and for the window's own navigation.
    QLabel* folderLabel() const { return m_folderLabel; }
    QToolButton* parentButton() const { return m_parentButton; }
    QLineEdit* searchField() const { return m_searchField; }
    QListWidget* fileList() const { return m_fileList; }
    QLabel* fileNameLabel() const { return m_fileName; }
    QLabel* dirtyDot() const { return m_dirtyDot; }
    QPushButton* saveButton() const { return m_saveButton; }
    QPushButton* runFileButton() const { return m_runFileButton; }
    QLineEdit* commandField() const { return m_commandField; }
    QPushButton* runCommandButton() const { return m_runCommandButton; }
    CodeEditor* editor() const { return m_editor; }
    // Opens `file` (absolute) in the editor, as choosing it in the list does, and puts the
    // caret at the start of `line` (1-based), scrolled into the middle of the view.
    void openAt(const QString& file, int line);
    // True while the "nothing open" message is shown instead of the editor.
    bool showsEmptyState() const;

protected:
    // The folder name is shortened with the fonts the style gives it, known once the page is
    // shown.
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildFileList();
    QWidget* buildEditorArea();
    QWidget* buildRunner();
    void syncFolder();
    void syncFiles();
    void syncOpenFile();
    void markOpenFile();
    void syncEditorText();
    void syncDirty();
    void syncRunnerCommand();
    void applyTheme();
    void choose(const FileEntry& entry);
    QIcon themedIcon(const QString& symbol, QStyle::StandardPixmap fallback) const;

    ProjectModel& m_project;
    Launcher& m_launcher;
    Theme& m_theme;
    QLabel* m_folderLabel = nullptr;
    QToolButton* m_parentButton = nullptr;
    QLineEdit* m_searchField = nullptr;
    QListWidget* m_fileList = nullptr;
    QStackedWidget* m_editorStack = nullptr;
    QWidget* m_emptyState = nullptr;
    QLabel* m_fileName = nullptr;
    QLabel* m_dirtyDot = nullptr;
    QPushButton* m_saveButton = nullptr;
    QPushButton* m_runFileButton = nullptr;
    CodeEditor* m_editor = nullptr;
    QLineEdit* m_commandField = nullptr;
    QPushButton* m_runCommandButton = nullptr;
    QString m_lastChoice;
    qint64 m_lastChoiceTime = 0;
    // Set while the page reports an edit of the editor to the model, which then has nothing
    // to push back.
    bool m_reportingEdit = false;
};
