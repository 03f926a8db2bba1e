#pragma once

#include "core/assistants/Provider.h"
#include "core/runs/FileChange.h"
#include "core/runs/RunLimits.h"
#include "core/runs/TeamRun.h"
#include "core/runs/TeamRunSettings.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class HistoryStore;
class Notices;
class Preferences;
class ProjectModel;
class ProviderRegistry;
class QTimer;
class RunPreparation;
class SessionManager;
class TerminalSession;

// Team runs: preparing the project copies in the background, one assistant session per
// copy, how each session ended, the stored run records and the AI comparison.
// Main thread only.
class TeamRunController : public QObject {
    Q_OBJECT

public:
    static constexpr int kMaximumAssistants = 8;
    static constexpr int kOutputLength = 60000;            // user-perceived characters
    static constexpr int kComparisonOutputLength = 18000;  // per copy, likewise

    // With a `store`, the projects' team-run settings are read from and stored in it; without
    // one they are kept for this process only (unless a project has its own file).
    TeamRunController(SessionManager& sessions, ProviderRegistry& providers, ProjectModel& project,
                      const HistoryStore& history, Notices& notices, Preferences* store = nullptr,
                      QObject* parent = nullptr);
    // Waits for the run records still being saved.
    ~TeamRunController() override;

    // Newest first.
    const QList<TeamRun>& teamRuns() const { return m_teamRuns; }
    QString selectedRunID() const { return m_selectedRunID; }
    void setSelectedRunID(const QString& id);
    bool preparingRun() const { return m_preparingRun; }
    // Files copied so far and in all, over the baseline and every copy of the preparation;
    // both 0 until the project is listed.
    qint64 preparationCopied() const { return m_preparationCopied; }
    qint64 preparationTotal() const { return m_preparationTotal; }
    // How long the preparation's copying may take in all, once the project is listed.
    const std::optional<CopyEstimate>& preparationEstimate() const { return m_preparationEstimate; }
    // The "Large projects" setting (off unless stored): separate copies of projects up to
    // RunLimits::largeProjects() instead of the standard limits. Runs prepared, reviewed and
    // applied from now on use the limits it gives.
    bool largeProjects() const { return m_largeProjects; }
    void setLargeProjects(bool on);
    RunLimits runLimits() const {
        return m_largeProjects ? RunLimits::largeProjects() : RunLimits::standard();
    }
    // What the run's copies are compared and applied within: the wider of the limits it was
    // prepared with and those of the setting now, so that turning "Large projects" off
    // leaves the runs made with it reviewable.
    RunLimits limitsFor(const TeamRun& run) const;
    // Where run folders go; empty means the "Runs" application-data folder.
    void setRunStorageRoot(const QString& root) { m_runStorageRoot = root; }
    // How long a preparation may take before it is abandoned (60 s unless changed).
    void setPreparationTimeoutMs(int ms) { m_preparationTimeoutMs = ms; }

    // Reads the runs recorded in the storage root; keeps the current list when it cannot.
    void loadTeamRuns();
    // Copies the project once per assistant on a background thread, then starts one
    // one-shot session per assistant in its copy. An empty `storageRoot` means the storage
    // root set above. Reports through the notices.
    void startTeamRun(const QString& prompt, const QList<Provider>& providers,
                      const QString& project, const QString& storageRoot = QString());
    // Abandons the current preparation; its folder is removed when the copying ends.
    void cancelPreparation();
    bool copyRunning(const RunCopy& copy) const;
    // Gives the run `runID` the name shown for it (empty: its task again) and saves it.
    void renameRun(const QUuid& runID, const QString& name);
    // Forgets the run `runID`, whose folder has been deleted.
    void forgetRun(const QUuid& runID);
    // Where the run folders are: the root set, else the default one.
    QString runStorageRoot() const { return storageRoot(); }
    // Notes in the run's record that `changes` were applied from the copy `copyID` of the
    // run `runID` (each with the content it applied). For an apply of some of one file's
    // hunks, `partOf` is the copy's change they were taken from: the file is noted as partly
    // applied.
    void recordApplied(const QUuid& runID, const QUuid& copyID,
                       const std::vector<FileChange>& changes,
                       const std::optional<FileChange>& partOf = std::nullopt);
    // The live screen text (the setup's until the assistant starts), else the saved output
    // file, else the history entry's output.
    QString runOutput(const RunCopy& copy, const TeamRun& run) const;
    // Starts a read-only session of the results comparer over the copies' results.
    void summarizeRun(const TeamRun& run);

    // The project's team-run settings: its ".velk/team-runs.json" when present, else those
    // stored for it, else the defaults.
    TeamRunSettings settings(const QString& project) const;
    // Stores them where `settings.inProject` says; taking them out of the project removes the
    // project's file. False, with a notice, when they could not be written.
    bool saveSettings(const QString& project, const TeamRunSettings& settings);

    // Where a copy stands. A copy of a run with a setup command runs it first, in a terminal
    // session of its own; the assistant starts once it succeeded (or the user starts it anyway).
    enum class CopyPhase {
        SettingUp,    // the setup runs, or what it changed is being recorded
        SetupFailed,  // the setup ended with a failure or timed out; the assistant waits
        Running,      // the assistant works
        Interrupted,  // a session of the copy was cut short (VELK quit or crashed)
        Ended,        // the assistant's session ended; exitCode says how
    };
    CopyPhase copyPhase(const RunCopy& copy) const;
    // Runs the copy's setup again, starts its assistant without it, or starts an interrupted
    // copy again (its setup first when that never succeeded).
    void retrySetup(const QUuid& runID, const QUuid& copyID);
    void startWithoutSetup(const QUuid& runID, const QUuid& copyID);
    void restartCopy(const QUuid& runID, const QUuid& copyID);
    // Stops what runs in the copy: its assistant, or its setup. The copy then ends as any
    // session does and can be reviewed.
    void stopCopy(const QUuid& runID, const QUuid& copyID);
    // Whether the copy's last session ended because the user stopped it (this launch only).
    bool stoppedByUser(const RunCopy& copy) const { return m_stoppedCopies.contains(copy.id); }
    // Whether the session `id` runs one task and ends by itself: a copy's assistant or a
    // comparison.
    bool oneShotSession(const QUuid& id) const;
    // The exit status a setup that ran out of time is recorded with, as `timeout` has it.
    static constexpr int kSetupTimedOut = 124;

    // What every session of the copy `index` (0-based) of `run` gets in its environment:
    // VELK_COPY_INDEX (1…N), VELK_RUN_ID, VELK_COPY_DIR, and PORT and VELK_PORT_BASE, the first
    // port of the copy's block, when it has one.
    static QStringList copyEnvironment(const TeamRun& run, std::size_t index);

Q_SIGNALS:
    void selectedRunIDChanged();
    void preparingRunChanged();
    void preparationProgressChanged();
    void largeProjectsChanged();
    void teamRunsChanged();
    // The run's sessions have started.
    void runLaunched(const TeamRun& run);

private:
    QString storageRoot() const;
    void setPreparingRun(bool preparing);
    void publishPreparationProgress();
    void launchTeamRun(const TeamRun& run, const QList<Provider>& providers);
    void startAssistant(const QUuid& runID, std::size_t index, const Provider& provider);
    void startSetup(const QUuid& runID, std::size_t index);
    // Records what the setup left in the copy as made by setup, then starts the assistant.
    void recordSetupAndStart(const QUuid& runID, std::size_t index);
    void saveRun(const QUuid& runID);
    // Records the exit code and output of a session that worked in a run's copy.
    void recordFinishedCopy(const TerminalSession& session);

    SessionManager& m_sessions;
    ProviderRegistry& m_providers;
    ProjectModel& m_project;
    const HistoryStore& m_history;
    Notices& m_notices;

    QString m_selectedRunID;
    bool m_preparingRun = false;
    QList<TeamRun> m_teamRuns;
    QString m_runStorageRoot;
    int m_preparationTimeoutMs = 60000;
    RunPreparation* m_preparation = nullptr;
    QTimer* m_progressTimer = nullptr;
    qint64 m_preparationCopied = 0;
    qint64 m_preparationTotal = 0;
    std::optional<CopyEstimate> m_preparationEstimate;
    bool m_largeProjects = false;
    Preferences* m_store = nullptr;
    QHash<QString, TeamRunSettings> m_settings;  // without a store
    QSet<QUuid> m_recordingSetup;                // copies whose setup changes are being read
    QSet<QUuid> m_timedOutSetups;                // setup sessions stopped for taking too long
    QSet<QUuid> m_stoppedCopies;                 // copies whose session the user stopped
    QSet<QUuid> m_comparisons;                   // the comparison sessions started
    // Expires with this object, for the records' failures reported from another thread.
    std::shared_ptr<char> m_alive = std::make_shared<char>();
};
