#pragma once

#include "core/files/FileEntry.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class DesktopServices;
class Dialogs;
class Notices;
class Preferences;
class TerminalSession;

// The open project: its folder and the recent ones, the file browser's listing, the editor
// buffer with its saved state, and the runner's command line. Main thread only.
class ProjectModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString folder READ folder NOTIFY folderChanged)

public:
    // With a `store` the model reads the stored folder and recent folders now and stores
    // each change; without one it neither reads nor writes. `desktop` may be null.
    ProjectModel(Preferences* store, Dialogs& dialogs, DesktopServices* desktop, Notices& notices,
                 QObject* parent = nullptr);

    // --- Folder ---------------------------------------------------------------------------
    // The open project folder; empty when none is open.
    QString folder() const { return m_folder; }
    bool hasFolder() const { return !m_folder.isEmpty(); }
    QStringList recentFolders() const { return m_recentFolders; }
    // The folder's last path component, or "Choose a project".
    QString folderName() const;
    void setFolder(const QString& path);
    // Opens a folder chosen by the launch (the command line or the example project): no
    // notice and no recent-list entry, just the folder and its listing.
    void adoptFolder(const QString& path);
    void chooseFolder();
    // Asks for a folder when none is open; true when one is open afterwards.
    bool ensureFolder();
    void revealFolder();

    // --- Listing and editor ---------------------------------------------------------------
    const QList<FileEntry>& files() const { return m_files; }
    QString browsingFolder() const { return m_browsingFolder; }
    QString selectedFile() const { return m_selectedFile; }
    QString editorText() const;
    void setEditorText(const QString& text);
    // The editor showing the buffer tells of each edit here instead of handing over its
    // text: `read` gives the text when it is needed (saving, running, comparing), `length`
    // is its length now. Announced as editorTextChanged().
    void editorEdited(std::function<QString()> read, qsizetype length);
    QString search() const { return m_search; }
    void setSearch(const QString& search);
    bool fileIsDirty() const;
    // The listing filtered by `search`.
    QList<FileEntry> filteredFiles() const;
    // Lists `folder`, else the browsing folder, else the project folder.
    void refreshFiles(const QString& folder = QString());
    void openFile(const FileEntry& entry);
    bool saveFile();
    void newFile();
    // Asks what to do with unsaved editor changes; false when the user cancels.
    bool confirmDiscard();
    // After files were written into the project: reloads the editor's file when it is one of
    // `locations` (absolute paths), and closes it when it no longer exists.
    void reloadAppliedFiles(const QStringList& locations);

    QString runnerCommand() const { return m_runnerCommand; }
    void setRunnerCommand(const QString& command);
    // Saves `text` to a file the user chooses, proposed as `name` in the project folder.
    void exportText(const QString& text, const QString& name);
    // Saves the session's screen text, proposed as "VELK-<provider>-session.txt".
    void exportSession(const TerminalSession& session);

Q_SIGNALS:
    void folderChanged();
    void recentFoldersChanged();
    void filesChanged();
    void browsingFolderChanged();
    void selectedFileChanged();
    void editorTextChanged();
    void savedTextChanged();
    void searchChanged();
    void runnerCommandChanged();

private:
    void setFiles(const QList<FileEntry>& files);
    // Shows `path` in the editor with `text` as both its buffer and its saved state.
    void showFile(const QString& path, const QString& text);

    Preferences* m_store;
    Dialogs& m_dialogs;
    DesktopServices* m_desktop;
    Notices& m_notices;

    QString m_folder;
    QStringList m_recentFolders;
    QList<FileEntry> m_files;
    QString m_browsingFolder;
    QString m_selectedFile;
    // The buffer; while m_readEditorText is set, the text is the editor's and m_editorText
    // is stale (m_editorLength is its length).
    mutable QString m_editorText;
    mutable std::function<QString()> m_readEditorText;
    qsizetype m_editorLength = 0;
    QString m_savedText;
    QString m_search;
    QString m_runnerCommand;
};
