#pragma once

#include "core/runs/FileChange.h"
#include "core/runs/RunFiles.h"
#include "core/runs/RunReview.h"
#include "core/runs/RunSpace.h"
#include "core/runs/TeamRun.h"
#include "ui/runs/CompareDialog.h"

#include <QDialog>
#include <QPointer>
#include <QSet>
#include <QUuid>
#include <QWidget>

#include <map>
#include <optional>
#include <vector>

class AttentionBoard;
class DiffView;
class QComboBox;
class QLineEdit;
class QLabel;
class QListView;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;
class Theme;
class DesktopServices;
class Dialogs;
class Navigator;
class ProjectModel;
class ProviderRegistry;
class ReviewFileModel;
class ReviewLayout;
class SessionManager;
class TeamRunController;

// The "Team runs" page: the runs of the workspace, one card per assistant copy with its
// state and actions, the AI comparison, and the review of one copy's files with the apply of
// the ticked ones into the project.
class TeamRunsPage : public QWidget {
    Q_OBJECT

public:
    // `desktop` may be null: then copies do not open in the file manager.
    // `layout` keeps the diff's layout and wrapping across launches.
    // `attention` (may be null) gives each running copy's card the state its session shows.
    TeamRunsPage(TeamRunController& teamRuns, SessionManager& sessions,
                 const ProviderRegistry& providers, ProjectModel& project, ReviewLayout& layout,
                 Navigator& navigator, Dialogs& dialogs, DesktopServices* desktop,
                 const AttentionBoard* attention = nullptr, QWidget* parent = nullptr);

    // The run shown: the selected one, else the newest; nothing without runs.
    std::optional<TeamRun> shownRun() const;

    // Review state, for the window and for tests.
    const std::vector<FileChange>& changes() const { return m_changes; }
    // The copy's entries that could not be compared, with their reasons.
    const std::vector<RunFiles::SkippedEntry>& skipped() const { return m_skipped; }
    const QSet<QString>& selection() const;
    const QString& previewPath() const { return m_previewPath; }
    // The file whose line diff is shown: empty until it has been computed.
    const QString& shownPreview() const { return m_shownPreview; }
    bool inspecting() const { return m_review && m_review->inspecting(); }
    bool applying() const { return m_review && m_review->applying(); }
    const QString& status() const { return m_status; }
    std::optional<QUuid> reviewedCopy() const;

    // The actions behind the buttons.
    void inspect(const RunCopy& copy);
    void setTicked(const QString& path, bool ticked);
    void selectAll();
    void showPreview(const QString& path);
    void applySelected();
    // Applies the hunks ticked in the diff of the shown file, after confirming.
    void applyTickedHunks();
    // Opens the shown file in the Files page's editor: the project's file at its line
    // `oldLine` of the baseline (or `newLine` of the copy once applied), else the copy's file.
    void openInEditor(int oldLine, int newLine);
    void showOutput(const RunCopy& copy);
    // The versions of the shown file in every copy that changed it, against the baseline.
    void compareCopies();
    // The shown file as the project has it now next to the copy's, against the baseline.
    void compareWithProject();
    // Shows the name field for the shown run; Enter keeps the name, Escape leaves it.
    void startRename();
    // Deletes the shown run after confirming (twice when it holds backups); runDeleted()
    // follows when it was asked for and refused, failed or done.
    void deleteShownRun();

    // The parts, for tests.
    QComboBox* runPicker() const { return m_runPicker; }
    QPushButton* compareButton() const { return m_compareButton; }
    // Why Compare with AI cannot be used right now; hidden when it can.
    QLabel* compareReason() const { return m_compareReason; }
    QPushButton* renameButton() const { return m_renameButton; }
    QLineEdit* nameField() const { return m_nameField; }
    QPushButton* deleteButton() const { return m_deleteButton; }
    // What became of the last rename or delete of a run.
    QLabel* runMessage() const { return m_runMessage; }
    QWidget* cardsArea() const { return m_cards; }
    QListView* changeList() const { return m_changeList; }
    ReviewFileModel* fileModel() const { return m_files; }
    QListWidget* skippedList() const { return m_skippedList; }
    QLabel* modeNote() const { return m_modeNote; }
    QPushButton* applyButton() const { return m_applyButton; }
    // Why Apply cannot be used right now; empty when it can.
    QLabel* applyReason() const { return m_applyReason; }
    QPushButton* selectAllButton() const { return m_selectAllButton; }
    QLabel* counterLabel() const { return m_counter; }
    // Lines added and removed over the copy's text files, once counted.
    QLabel* lineTotals() const { return m_lineTotals; }
    // Each row's "+2 −1", painted at its right end.
    static constexpr int kCountsRole = Qt::UserRole + 1;
    QLabel* statusLabel() const { return m_statusLabel; }
    QPlainTextEdit* statusReport() const { return m_statusReport; }
    QLabel* reviewMessage() const { return m_reviewMessage; }
    DiffView* diffView() const { return m_diffView; }
    QPushButton* compareCopiesButton() const { return m_compareCopiesButton; }
    QPushButton* compareProjectButton() const { return m_compareProjectButton; }
    // Shown for a file too large to compare here: opens both versions with the desktop's
    // applications.
    QPushButton* openBothButton() const { return m_openBothButton; }
    CompareDialog* compareDialog() const { return m_compareDialog; }
    QDialog* outputSheet() const { return m_outputSheet; }
    bool showsEmptyState() const;

Q_SIGNALS:
    // A review finished reading the copy's changes (or failed to).
    void inspectionFinished();
    // An apply finished (or failed); the status says which.
    void applyFinished();
    // A delete was refused, failed or done; runMessage() says which.
    void runDeleted();
    // The runs' sizes on disk were measured.
    void runSizesMeasured();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildRunArea();
    QWidget* buildReviewArea();
    void scheduleSync();
    void syncRuns();
    void syncCards(const TeamRun& run);
    // Compare with AI and its reason, while copies run and after.
    void syncCompareControls(const TeamRun& run);
    void syncReview();
    // The rows' marks and line counts, after what they show changed (not after a tick).
    void syncList();
    // The counter, Apply button and its reason, after a tick.
    void syncApplyControls();
    // The diff of the file picked, its note and buttons.
    void syncPreview();
    // "Applying 1,200 of 5,000 files…" while an apply runs.
    QString m_progress;
    std::optional<RunCopy> findReviewedCopy(const TeamRun& run) const;
    // Why the copy cannot be applied from while something runs in it.
    QString runningReason(const RunCopy& copy) const;
    // The assistants' names of the copies `ids` of the shown run, joined.
    QString copyNames(const std::vector<QUuid>& ids) const;
    // The marks after a change in the list: mode, applied, shared, refused.
    QStringList changeMarks(const RunCopy& copy, const FileChange& change) const;
    void closeReview();
    void forgetReviewed();
    void inspectionArrived(const Result<RunFiles::Review>& result);
    void diffArrived(const FileDiff& diff);
    void applyArrived(RunReview* review, const Result<RunReview::Applied>& result);

    TeamRunController& m_teamRuns;
    SessionManager& m_sessions;
    const ProviderRegistry& m_providers;
    ProjectModel& m_project;
    Navigator& m_navigator;
    Dialogs& m_dialogs;
    DesktopServices* m_desktop;
    const AttentionBoard* m_attention;
    bool m_syncScheduled = false;

    QStackedWidget* m_stack = nullptr;
    QWidget* m_emptyState = nullptr;
    QComboBox* m_runPicker = nullptr;
    QPushButton* m_compareButton = nullptr;
    QLabel* m_compareReason = nullptr;
    QPushButton* m_renameButton = nullptr;
    QLineEdit* m_nameField = nullptr;
    QPushButton* m_deleteButton = nullptr;
    QLabel* m_runMessage = nullptr;
    QWidget* m_cards = nullptr;
    QVBoxLayout* m_cardsLayout = nullptr;
    QLabel* m_reviewTitle = nullptr;
    QLabel* m_reviewMessage = nullptr;
    QListView* m_changeList = nullptr;
    ReviewFileModel* m_files = nullptr;
    ReviewLayout& m_layout;
    QLabel* m_skippedTitle = nullptr;
    QListWidget* m_skippedList = nullptr;
    QPushButton* m_selectAllButton = nullptr;
    QLabel* m_counter = nullptr;
    QLabel* m_lineTotals = nullptr;
    QPushButton* m_applyButton = nullptr;
    QLabel* m_applyReason = nullptr;
    QLabel* m_statusLabel = nullptr;
    QPlainTextEdit* m_statusReport = nullptr;  // a status too long for the label
    QStackedWidget* m_previewStack = nullptr;
    QLabel* m_modeNote = nullptr;
    DiffView* m_diffView = nullptr;
    QPushButton* m_compareCopiesButton = nullptr;
    QPushButton* m_compareProjectButton = nullptr;
    QPushButton* m_openBothButton = nullptr;
    QPointer<CompareDialog> m_compareDialog;
    QPointer<QDialog> m_outputSheet;

    // Review state; not kept across launches.
    QUuid m_reviewRun;
    // The review of the copy chosen, a child of the page. One replaced while its apply runs
    // lives on until that apply ends, so the editor still follows the applied files.
    RunReview* m_review = nullptr;
    std::vector<FileChange> m_changes;
    std::vector<RunFiles::SkippedEntry> m_skipped;
    QString m_previewPath;
    QString m_requestedPreview;  // the file whose diff is computed or shown
    QString m_shownPreview;
    QString m_status;
    // The runs' sizes on disk, and the runs they were measured for.
    std::map<QUuid, RunStore::DiskUsage> m_runSizes;
    QList<QUuid> m_measuredRuns;
    std::optional<BackgroundJob> m_sizeJob;
    // The sizes wait for the review being read (and its lines counted): a run's copies are
    // walked file by file, which would slow the list the reader is waiting for.
    bool m_sizesAfterReview = false;
    bool m_deleting = false;
    void measureRuns();
    void setRunMessage(const QString& message);
    // The files the last apply refused, with their reasons.
    std::map<QString, QString> m_refusals;
};
