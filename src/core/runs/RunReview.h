#pragma once

#include "core/base/Background.h"
#include "core/base/Result.h"
#include "core/runs/FileChange.h"
#include "core/runs/FileDiff.h"
#include "core/runs/HunkMerge.h"
#include "core/runs/RunFiles.h"
#include "core/runs/TeamRun.h"

#include <QEvent>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

// The review of one assistant's copy in a team run: reading its changes against the run's
// baseline, the before/after texts of one file, and the apply of chosen changes into the
// project. Every file operation runs as a background job; the results come back on the main
// thread as signals carrying a Result, whose Error holds the message shown to the user.
//
// Newer requests win: a second inspect() or preview() cancels the one still running, whose
// result is then never delivered. An apply is never cancelled (it restores the project on its
// own if it fails half-way) and only one runs at a time; destroying the review while one runs
// lets it finish unheard.
class RunReview : public QObject {
    Q_OBJECT

public:
    // The file operations a review runs: RunFiles's unless a test puts others in. Each is
    // called on a pool thread and reports failure by throwing (RunFilesError or any
    // std::exception).
    struct Engine {
        std::function<RunFiles::Review(const QString& baseline, const QString& copy)> review;
        std::function<QString(const QString& root, const QString& path)> preview;
        std::function<void(const std::vector<FileChange>& changes, const QString& project,
                           const QString& copy, const QString& backup,
                           std::vector<RunFiles::ApplyRecovery>* recovered,
                           const RunFiles::ApplyProgress& progress)>
            apply;
        // One side of a file for its line diff; RunFiles::readVersion when not set.
        std::function<FileVersion(const QString& root, const QString& path)> read;

        // RunFiles's operations within `limits`.
        static Engine files(const RunLimits& limits = {});
    };

    // The texts of one file on both sides, as RunFiles::preview gives them.
    struct Preview {
        QString path;
        QString before;  // in the run's baseline
        QString after;   // in the copy
    };

    // What an apply wrote, and the interrupted earlier applies to the project that were
    // rolled back before it.
    struct Applied {
        std::vector<FileChange> changes;
        std::vector<RunFiles::ApplyRecovery> recovered;
        // For a file applied in part: how many of its hunks were written (0 for whole files).
        int hunks = 0;
    };

    // How far the apply running has come.
    struct Progress {
        RunFiles::ApplyStep step = RunFiles::ApplyStep::Checking;
        int done = 0;
        int total = 0;
        bool operator==(const Progress&) const = default;
    };

    // Where this copy's changes meet other work: the files each copy of the run changed,
    // and the files of this copy that changed in the project since the run began (an apply
    // of those is refused), with the reason.
    struct Overlaps {
        std::map<QUuid, std::set<QString>> changedByCopy;  // every copy of the run
        std::map<QString, QString> projectChanged;         // path -> why it is refused

        // The other copies that changed `path` too.
        std::vector<QUuid> othersChanging(const QUuid& copy, const QString& path) const;
    };

    // Why applying `change` to `project` would be refused now ("changed in your project since
    // this run began"), or empty when the project file is still the baseline's. Reads the
    // project; call it off the main thread.
    static QString projectRefusal(const FileChange& change, const QString& project);

    // `status` after the reports of the rolled-back applies, which the user must see first.
    static QString withRecoveries(const std::vector<RunFiles::ApplyRecovery>& recovered,
                                  const QString& status);

    RunReview(TeamRun run, RunCopy copy, QObject* parent = nullptr);
    RunReview(TeamRun run, RunCopy copy, Engine engine, QObject* parent = nullptr);
    ~RunReview() override;

    const TeamRun& run() const { return m_run; }
    const RunCopy& copy() const { return m_copy; }

    // The changes and skipped entries of the last inspection that succeeded; empty while one
    // runs.
    const std::vector<FileChange>& changes() const { return m_review.changes; }
    const std::vector<RunFiles::SkippedEntry>& skipped() const { return m_review.skipped; }

    // Found after each inspection, once its line counts are; empty until then.
    const Overlaps& overlaps() const { return m_overlaps; }
    // The chosen files the last apply refused because the project changed under them, with
    // each one's reason; empty after an apply that went ahead.
    const std::map<QString, QString>& refusals() const { return m_refusals; }
    // Lines added and removed per changed file, found after each inspection.
    const std::map<QString, LineDiff::LineCounts>& lineCounts() const { return m_lineCounts; }

    bool inspecting() const { return m_inspecting; }
    bool applying() const { return m_applying; }

    // Reads the copy's changes anew; inspected() follows.
    void inspect();
    // Reads both sides of `path` (relative); previewed() follows unless another preview is
    // asked for first.
    void preview(const QString& path);
    // Applies the changes of the last inspection whose paths are in `paths`, in review order,
    // backing up the replaced project files into a new backup folder of the run. False (and
    // nothing happens) while another apply runs or when no change is chosen; else applied()
    // follows.
    bool apply(const QSet<QString>& paths);
    // Applies part of the changed text file `path`: the baseline with the copy's lines of the
    // hunks `hunks` (as the diff of `path` numbers them) instead of its own, through the same
    // checks, backup and journal as apply(). Refused like it when the project file is no
    // longer the baseline's, and when either side changed since the review read them. False
    // (and nothing happens) while another apply runs, when no hunk is chosen or `path` is not
    // a changed file of the last inspection; else applied() follows.
    bool applyHunks(const QString& path, const std::vector<HunkMerge::Range>& hunks);
    // Diffs both sides of `path` (relative) off the main thread; diffed() follows unless
    // another diff is asked for first.
    void diff(const QString& path);

Q_SIGNALS:
    void inspected(const Result<RunFiles::Review>& result);
    void previewed(const RunReview::Preview& preview);
    void diffed(const FileDiff& diff);
    void overlapsFound();
    void lineCountsFound();
    // The changes written, or why nothing was (after the reports of any rolled-back applies).
    void applied(const Result<RunReview::Applied>& result);
    // An apply moved on (reported a few times a second, not for every file).
    void applyProgressed(const RunReview::Progress& progress);

protected:
    bool event(QEvent* event) override;

private:
    TeamRun m_run;
    RunCopy m_copy;
    Engine m_engine;
    RunFiles::Review m_review;
    bool m_inspecting = false;
    bool m_applying = false;
    std::optional<BackgroundJob> m_inspection;
    std::optional<BackgroundJob> m_preview;
    std::optional<BackgroundJob> m_diff;
    std::optional<BackgroundJob> m_overlapJob;
    Overlaps m_overlaps;
    std::map<QString, QString> m_refusals;
    std::optional<BackgroundJob> m_countJob;
    bool m_countQueued = false;  // the counts of the last inspection wait for their event
    std::map<QString, LineDiff::LineCounts> m_lineCounts;

    void countLinesLater();
    void countLines();
    // Runs `work` (which applies and returns the changes it wrote, throwing on failure) as the
    // one apply of this review, reporting its progress; `chosen` are the review's changes it
    // stands for, whose refusals are found when it fails.
    using ApplyWork = std::function<std::vector<FileChange>(
        std::vector<RunFiles::ApplyRecovery>* recovered, const RunFiles::ApplyProgress& progress)>;
    void startApply(std::vector<FileChange> chosen, int hunks, ApplyWork work);

    void findOverlaps();
};
