#pragma once

#include "core/workspace/HistoryEntry.h"

#include <QWidget>

#include <optional>

class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class Theme;
class Dialogs;
class HistoryStore;
class Navigator;
class ProjectModel;

// The History page: search and read the saved snapshots of finished sessions, reopen a
// snapshot's folder, export its text, or clear the whole history.
class HistoryPage : public QWidget {
    Q_OBJECT
public:
    HistoryPage(HistoryStore& history, ProjectModel& project, Navigator& navigator,
                Dialogs& dialogs, Theme& theme, QWidget* parent = nullptr);

    // The entry the detail panel shows: the selected one while the list shows it, else the
    // newest listed entry; nothing when the list is empty.
    std::optional<HistoryEntry> shownEntry() const;
    QString selectedID() const { return m_selectedID; }
    void select(const QString& entryID);

    QLineEdit* searchField() const { return m_search; }
    QListWidget* list() const { return m_list; }
    QPlainTextEdit* outputView() const { return m_output; }
    QPushButton* clearButton() const { return m_clear; }
    QPushButton* openFolderButton() const { return m_openFolder; }
    QPushButton* exportButton() const { return m_export; }
    // True while the empty state ("Completed sessions will appear here.") is shown.
    bool showsEmptyState() const;

private:
    void clearHistory();
    void openFolder();
    // One row per snapshot, built when the history changes; a search only hides rows.
    void rebuildList();
    void filterList();
    void syncDetail();
    void applyTheme();

    HistoryStore& m_history;
    ProjectModel& m_project;
    Navigator& m_navigator;
    Dialogs& m_dialogs;
    Theme& m_theme;
    QString m_selectedID;
    QString m_shownOutput;
    QList<HistoryEntry> m_listed;
    QPushButton* m_clear = nullptr;
    QLineEdit* m_search = nullptr;
    QStackedWidget* m_body = nullptr;
    QWidget* m_emptyState = nullptr;
    QLabel* m_emptyIcon = nullptr;
    QListWidget* m_list = nullptr;
    QLabel* m_detailTitle = nullptr;
    QLabel* m_detailMeta = nullptr;
    QPlainTextEdit* m_output = nullptr;
    QPushButton* m_openFolder = nullptr;
    QPushButton* m_export = nullptr;
    QWidget* m_detail = nullptr;
};
