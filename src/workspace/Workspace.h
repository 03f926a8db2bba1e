#pragma once

#include "assistants/AssistantTraits.h"
#include "assistants/Provider.h"
#include "files/FileEntry.h"
#include "runs/TeamRun.h"
#include "workspace/Destination.h"
#include "workspace/HistoryEntry.h"
#include "workspace/RunActivity.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

class DesktopServices;
class Dialogs;
class Preferences;
class PowerInhibitor;
class QTimer;
class TerminalSession;
class StepRunner;
class ComputerPlanner;
class PlannerHost;
class RunPreparation;

// The platform services a workspace works with. They must outlive the workspace.
struct WorkspaceServices {
    Preferences* preferences = nullptr;
    Dialogs* dialogs = nullptr;
    PowerInhibitor* inhibitor = nullptr;
    DesktopServices* desktop = nullptr;
    // Runs the steps of desktop-action plans; without one the workspace has no planner.
    StepRunner* stepRunner = nullptr;
};

using SessionPointer = std::shared_ptr<TerminalSession>;
using SessionCallback = std::function<void(TerminalSession&)>;

// The central model: project folder, assistants, terminal sessions, history, files and the
// editor buffer, notices and keep-awake. One instance lives for the whole process; every
// field is read and written on the main thread only. Published fields emit their change
// signal after each change.
class Workspace : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString folder READ folder NOTIFY folderChanged)
    Q_PROPERTY(bool keepAwake READ keepAwake WRITE setKeepAwake NOTIFY keepAwakeChanged)
    Q_PROPERTY(QString prompt READ prompt WRITE setPrompt NOTIFY promptChanged)
    Q_PROPERTY(QString toast READ toast NOTIFY toastChanged)

public:
    // With `persist` the workspace loads its preferences now and stores each change; without
    // it (automation modes, tests) it neither reads nor writes a single key.
    Workspace(bool persist, WorkspaceServices services, QObject* parent = nullptr);
    ~Workspace() override;

    bool persist() const { return m_persist; }
    const WorkspaceServices& services() const { return m_services; }

    // --- Page and view state -------------------------------------------------------------
    Destination destination() const { return m_destination; }
    void setDestination(Destination destination);
    bool focusMode() const { return m_focusMode; }
    void setFocusMode(bool focusMode);
    QString prompt() const { return m_prompt; }
    void setPrompt(const QString& prompt);
    QSet<QString> selectedProviders() const { return m_selectedProviders; }
    void setSelectedProviders(const QSet<QString>& ids);
    bool separateCopies() const { return m_separateCopies; }
    void setSeparateCopies(bool separateCopies);
    QString runnerCommand() const { return m_runnerCommand; }
    void setRunnerCommand(const QString& command);

    // --- Project folder ------------------------------------------------------------------
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
    void revealFolder();

    // --- Notices -------------------------------------------------------------------------
    // The notice shown now; empty when none.
    QString toast() const { return m_toast; }
    QUuid toastToken() const { return m_toastToken; }
    // Shows a notice for noticeDurationMs(); a newer notice replaces it and keeps its own
    // full duration.
    void notify(const QString& message);
    int noticeDurationMs() const { return m_noticeDurationMs; }
    void setNoticeDurationMs(int ms) { m_noticeDurationMs = ms; }

    // --- Keep-awake and permissions ------------------------------------------------------
    bool keepAwake() const { return m_keepAwake; }
    void setKeepAwake(bool keepAwake);
    // Holds the power assertion while keep-awake is on and a session runs.
    void updateAwakeState();
    const RunActivity& activity() const { return m_activity; }
    bool accessibility() const { return m_accessibility; }
    void refreshPermissions();
    void openAccessibility();
    void openScreenPermission();
    void openApplication();

    // --- Assistants ----------------------------------------------------------------------
    const QList<Provider>& providers() const { return m_providers; }
    const QMap<QString, QString>& available() const { return m_available; }
    const QMap<QString, QString>& connectionStatus() const { return m_connectionStatus; }
    bool checkingConnections() const { return m_checkingConnections; }
    // How long each status command of a connection check may take (12 s unless changed).
    int connectionCheckTimeoutMs() const { return m_connectionCheckTimeoutMs; }
    void setConnectionCheckTimeoutMs(int ms) { m_connectionCheckTimeoutMs = ms; }
    bool presentConnector() const { return m_presentConnector; }
    void setPresentConnector(bool present);
    const std::optional<Provider>& editingProvider() const { return m_editingProvider; }
    void setEditingProvider(const std::optional<Provider>& provider);

    // The executable a provider names: a path (a leading "~" means the home folder), or a
    // name searched in PATH and then in the usual tool folders.
    std::optional<QString> executablePath(const QString& name) const;
    void refreshProviders();
    Provider provider(const QString& id) const;
    bool isReady(const Provider& provider) const;
    int readyCount() const;
    void checkConnections();
    QString connectionLabel(const Provider& provider) const;
    void signIn(const Provider& provider);
    void resume(const Provider& provider);
    // Replaces the provider with the same id in place, or inserts it before the last entry
    // (the shell); stores the list and refreshes the installed tools.
    void saveProvider(const Provider& provider);

    // --- Sessions ------------------------------------------------------------------------
    const QList<SessionPointer>& sessions() const { return m_sessions; }
    const QList<SessionPointer>& closingSessions() const { return m_closingSessions; }
    std::optional<QUuid> activeSessionID() const { return m_activeSessionID; }
    void setActiveSessionID(const std::optional<QUuid>& id);
    SessionPointer activeSession() const;
    SessionPointer startSession(const QString& providerID, const QString& title,
                                const QString& command, const QString& directory,
                                const SessionCallback& beforeStart = {},
                                const SessionCallback& onFinish = {});
    // Starts the provider in a session in the project folder; false (with a notice, or the
    // connector editor for a provider that is not ready) when nothing was started.
    bool launch(const QString& prompt, const Provider& provider);
    void dispatchPrompt();
    void closeSession(const SessionPointer& session);
    void stopAll();
    void runCommand();
    void runFile();
    void exportSession(const TerminalSession& session);
    void exportText(const QString& text, const QString& name);

    // --- History -------------------------------------------------------------------------
    static constexpr int kHistoryLimit = 50;
    static constexpr int kHistoryOutputLength = 60000;  // user-perceived characters
    const QList<HistoryEntry>& history() const { return m_history; }
    void saveHistory();
    void clearHistory();
    // The History page's list: entries whose title or provider contains the query,
    // case-insensitively; every entry for an empty query. Newest first.
    QList<HistoryEntry> filteredHistory(const QString& query) const;

    // --- Files and editor ----------------------------------------------------------------
    const QList<FileEntry>& files() const { return m_files; }
    QString browsingFolder() const { return m_browsingFolder; }
    QString selectedFile() const { return m_selectedFile; }
    QString editorText() const { return m_editorText; }
    void setEditorText(const QString& text);
    QString savedText() const { return m_savedText; }
    QString search() const { return m_search; }
    void setSearch(const QString& search);
    bool fileIsDirty() const { return m_editorText != m_savedText; }
    // The listing filtered by `search`.
    QList<FileEntry> filteredFiles() const;
    // Lists `folder`, else the browsing folder, else the project folder.
    void refreshFiles(const QString& folder = QString());
    void openFile(const FileEntry& entry);
    bool saveFile();
    void newFile();
    bool confirmDiscard();

    // --- Desktop actions ------------------------------------------------------------------
    // The desktop-action planner; null when the workspace was created without a step runner.
    ComputerPlanner* computer() const { return m_computer.get(); }

    // --- Team runs ------------------------------------------------------------------------
    static constexpr int kMaximumRunAssistants = 8;
    static constexpr int kRunOutputLength = 60000;         // user-perceived characters
    static constexpr int kComparisonOutputLength = 18000;  // per copy, likewise
    // Newest first.
    const QList<TeamRun>& teamRuns() const { return m_teamRuns; }
    QString selectedRunID() const { return m_selectedRunID; }
    void setSelectedRunID(const QString& id);
    bool preparingRun() const { return m_preparingRun; }
    // Files copied so far and in all, over the baseline and every copy of the preparation;
    // both 0 until the project is listed.
    qint64 preparationCopied() const { return m_preparationCopied; }
    qint64 preparationTotal() const { return m_preparationTotal; }
    // Where run folders go; empty means the "Runs" application-data folder.
    QString runStorageRoot() const { return m_runStorageRoot; }
    void setRunStorageRoot(const QString& root) { m_runStorageRoot = root; }
    // How long a preparation may take before it is abandoned (60 s unless changed).
    void setPreparationTimeoutMs(int ms) { m_preparationTimeoutMs = ms; }

    // Reads the runs recorded in the storage root; keeps the current list when it cannot.
    void loadTeamRuns();
    // Writes the run's record, or shows why it could not.
    void saveRun(const TeamRun& run);
    // Copies the project once per assistant on a background thread, then starts one
    // one-shot session per assistant in its copy. An empty `storageRoot` means
    // runStorageRoot(). Reports through notify().
    void startTeamRun(const QString& prompt, const QList<Provider>& providers,
                      const QString& project, const QString& storageRoot = QString());
    // Abandons the current preparation; its folder is removed when the copying ends.
    void cancelPreparation();
    // Records the exit code and output of a session that worked in a run's copy.
    void runSessionFinished(const TerminalSession& session);
    bool copyRunning(const RunCopy& copy) const;
    // The live screen text, else the saved output file, else the history entry's output.
    QString runOutput(const RunCopy& copy, const TeamRun& run) const;
    // Starts a read-only Codex session comparing the copies' results.
    void summarizeRun(const TeamRun& run);
    // After files were written into the project: reloads the editor's file when it is one of
    // `locations` (absolute paths), and closes it when it no longer exists.
    void reloadAppliedFiles(const QStringList& locations);

Q_SIGNALS:
    void destinationChanged();
    void focusModeChanged();
    void promptChanged();
    void selectedProvidersChanged();
    void separateCopiesChanged();
    void runnerCommandChanged();
    void folderChanged();
    void recentFoldersChanged();
    void toastChanged();
    void keepAwakeChanged();
    void accessibilityChanged();
    void providersChanged();
    void availableChanged();
    void connectionStatusChanged();
    void checkingConnectionsChanged();
    void presentConnectorChanged();
    void editingProviderChanged();
    void sessionsChanged();
    void activeSessionIDChanged();
    void historyChanged();
    void filesChanged();
    void browsingFolderChanged();
    void selectedFileChanged();
    void editorTextChanged();
    void savedTextChanged();
    void searchChanged();
    void selectedRunIDChanged();
    void preparingRunChanged();
    void preparationProgressChanged();
    void teamRunsChanged();
    // A change of the whole model that no single field announces (the closing list).
    void changed();

private:
    void loadPreferences();
    // Each reads its stored list entry by entry; what cannot be read is set aside.
    void loadProviders();
    void loadHistory();
    void setFolderField(const QString& path);
    void setToast(const QString& toast);
    void setAvailable(const QMap<QString, QString>& available);
    void setConnectionStatus(const QMap<QString, QString>& status);
    void setCheckingConnections(bool checking);
    void setProviders(const QList<Provider>& providers);
    void setHistory(const QList<HistoryEntry>& history);
    void setFiles(const QList<FileEntry>& files);
    void setBrowsingFolder(const QString& folder);
    void setSelectedFile(const QString& file);
    void setSavedText(const QString& text);
    void storeProviders();
    // A stored list that repeats an id keeps the first entry with it.
    static QList<Provider> withoutDuplicateIDs(const QList<Provider>& providers);
    void setPreparingRun(bool preparing);
    void publishPreparationProgress();
    void launchTeamRun(const TeamRun& run, const QList<Provider>& providers);
    SessionPointer registerSession(const QString& providerID, const QString& title,
                                   const QString& command, const QString& directory,
                                   const SessionCallback& beforeStart,
                                   const SessionCallback& onFinish);
    void sessionFinished(TerminalSession& session, const QString& directory,
                         const SessionCallback& onFinish);
    void recordHistory(const TerminalSession& session, const QString& directory);

    const bool m_persist;
    WorkspaceServices m_services;
    std::unique_ptr<PlannerHost> m_plannerHost;
    std::unique_ptr<ComputerPlanner> m_computer;

    Destination m_destination = Destination::Workspace;
    QString m_folder;
    QList<Provider> m_providers;
    QMap<QString, QString> m_available;
    QMap<QString, QString> m_connectionStatus;
    bool m_checkingConnections = false;
    QString m_selectedRunID;
    bool m_preparingRun = false;
    QList<TeamRun> m_teamRuns;
    QString m_runStorageRoot;
    int m_preparationTimeoutMs = 60000;
    RunPreparation* m_preparation = nullptr;
    QTimer* m_progressTimer = nullptr;
    qint64 m_preparationCopied = 0;
    qint64 m_preparationTotal = 0;
    bool m_separateCopies = true;
    bool m_keepAwake = false;
    RunActivity m_activity;
    QSet<QString> m_selectedProviders = AssistantTraits::defaultTeam();
    QList<SessionPointer> m_sessions;
    std::optional<QUuid> m_activeSessionID;
    bool m_focusMode = false;
    QString m_prompt;
    QString m_toast;
    QList<HistoryEntry> m_history;
    QStringList m_recentFolders;
    QList<FileEntry> m_files;
    QString m_browsingFolder;
    QString m_selectedFile;
    QString m_editorText;
    QString m_savedText;
    QString m_search;
    bool m_presentConnector = false;
    std::optional<Provider> m_editingProvider;
    bool m_accessibility = false;
    QString m_runnerCommand;
    QUuid m_toastToken = QUuid::createUuid();
    QList<SessionPointer> m_closingSessions;
    int m_noticeDurationMs = 4000;
    int m_connectionCheckTimeoutMs = 12000;
};
