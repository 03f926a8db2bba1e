#include "core/runs/RunPreparation.h"

#include "core/runs/PortBlocks.h"
#include "core/runs/RunFiles.h"
#include "core/runs/RunStore.h"
#include "core/services/AtomicFile.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <atomic>
#include <exception>
#include <limits>
#include <utility>

// Written by the copying threads, read by the main thread.
struct RunPreparation::Progress {
    std::atomic<qint64> copied{0};
    std::atomic<qint64> total{0};
    // The project's listing (files -1 until known) and how long its snapshot took (-1 until
    // it ended).
    std::atomic<qint64> listedFiles{-1};
    std::atomic<qint64> listedBytes{0};
    std::atomic<qint64> baselineNanoseconds{-1};
    int snapshots = 1;
};

namespace {

const QString kTimedOut = QStringLiteral(
    "Copying timed out. Make sure your project is downloaded locally, then try again.");

void removeFolder(const QString& folder) {
    // On the application's way out there is no pool left to hand the removal to.
    if (QCoreApplication::instance() == nullptr) {
        QDir(folder).removeRecursively();
        return;
    }
    Background::start([folder] { QDir(folder).removeRecursively(); });
}

// A prepared run on its way to the main thread. Whoever takes the run takes its folder; when
// the last copy of the hand-over is dropped untaken (the result was not delivered: the job was
// cancelled or its RunPreparation destroyed after the copying ended), the folder is removed.
class Handover {
public:
    explicit Handover(Result<TeamRun> result)
        : m_state(std::make_shared<State>(std::move(result))) {}

    Result<TeamRun> take() const {
        m_state->taken = true;
        return std::move(m_state->result);
    }

private:
    struct State {
        explicit State(Result<TeamRun> made) : result(std::move(made)) {}
        State(const State&) = delete;
        State& operator=(const State&) = delete;
        ~State() {
            if (!taken && result) {
                removeFolder(result->root);
            }
        }

        Result<TeamRun> result;
        bool taken = false;
    };

    std::shared_ptr<State> m_state;
};

Error cancelled() {
    return Error{Error::Kind::Cancelled, QStringLiteral("Run preparation cancelled.")};
}

}  // namespace

RunPreparation::RunPreparation(QObject* parent) : QObject(parent) {
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        if (m_job) {
            m_job->cancel();
        }
        finish(Error{Error::Kind::TimedOut, kTimedOut});
    });
}

RunPreparation::~RunPreparation() {
    cancel();
}

void RunPreparation::start(Request request, std::chrono::milliseconds timeout, Done done) {
    cancel();
    m_progress = std::make_shared<Progress>();
    m_progress->snapshots = int(request.assistants.size()) + 1;
    m_done = std::move(done);
    m_timeout.start(timeout);
    m_started.start();
    m_job = runInBackground(
        this,
        [request = std::move(request), progress = m_progress](const BackgroundJob& job) {
            return Handover(prepare(request, *progress, job));
        },
        [this](const Handover& handover) { finish(handover.take()); });
}

void RunPreparation::cancel() {
    if (m_job) {
        m_job->cancel();
    }
    m_job.reset();
    m_timeout.stop();
    m_done = {};
}

qint64 RunPreparation::copied() const {
    return m_progress ? m_progress->copied.load() : 0;
}

qint64 RunPreparation::total() const {
    return m_progress ? m_progress->total.load() : 0;
}

std::optional<CopyEstimate> RunPreparation::estimate() const {
    if (!m_progress || m_progress->listedFiles.load() < 0) {
        return std::nullopt;
    }
    CopyEstimate estimate;
    estimate.files = m_progress->listedFiles.load();
    estimate.bytes = m_progress->listedBytes.load();
    estimate.snapshots = m_progress->snapshots;
    if (const qint64 nanoseconds = m_progress->baselineNanoseconds.load(); nanoseconds > 0) {
        // Every later snapshot copies what the baseline did.
        estimate.bytesPerSecond =
            double(std::max<qint64>(1, estimate.bytes)) * 1e9 / double(nanoseconds);
        estimate.filesPerSecond = 1e18;
    }
    return estimate;
}

void RunPreparation::allowAtLeast(std::chrono::milliseconds total) {
    if (!m_timeout.isActive()) {
        return;
    }
    const qint64 left = total.count() - m_started.elapsed();
    if (left > m_timeout.remainingTime()) {
        m_timeout.start(int(std::min<qint64>(left, std::numeric_limits<int>::max())));
    }
}

void RunPreparation::finish(Result<TeamRun> result) {
    m_job.reset();
    m_timeout.stop();
    if (const Done done = std::exchange(m_done, {})) {
        done(std::move(result));
    }
}

Result<TeamRun> RunPreparation::prepare(const Request& request, Progress& progress,
                                        const BackgroundJob& job) {
    // Each snapshot is one stage of equal size: the baseline, then one per copy.
    const qint64 stages = request.assistants.size() + 1;
    auto stageProgress = [&progress, stages](qint64 stage) {
        return [&progress, stages, stage](std::size_t copied, std::size_t total) {
            progress.total.store(qint64(total) * stages);
            progress.copied.store(stage * qint64(total) + qint64(copied));
        };
    };
    const auto failed = [&request](Error error) -> Result<TeamRun> {
        QDir(request.folder).removeRecursively();
        return error;
    };
    TeamRun run;
    run.root = request.folder;
    try {
        // A cancelled preparation stops between snapshots; one snapshot is not cut short.
        if (job.cancelled()) {
            return failed(cancelled());
        }
        const QString baseline = RunStore::baselineFolder(run);
        QElapsedTimer baselineTime;
        baselineTime.start();
        RunFiles::snapshot(request.project, baseline, stageProgress(0), request.limits,
                           [&progress](std::size_t files, qint64 bytes) {
                               progress.listedBytes.store(bytes);
                               progress.listedFiles.store(qint64(files));
                           });
        progress.baselineNanoseconds.store(std::max<qint64>(1, baselineTime.nsecsElapsed()));
        const QStringList extras = RunFiles::extraFiles(request.project, request.extraPatterns);
        for (qsizetype index = 0; index < request.assistants.size(); ++index) {
            if (job.cancelled()) {
                return failed(cancelled());
            }
            const QString copyFolder = RunStore::newCopyFolder(request.folder);
            RunFiles::snapshot(baseline, copyFolder, stageProgress(index + 1), request.limits);
            RunCopy copy{QUuid::createUuid(), request.assistants.at(index), copyFolder,
                         std::nullopt, std::nullopt};
            copy.extraFiles = RunFiles::copyExtraFiles(request.project, copyFolder, extras);
            run.copies.push_back(std::move(copy));
        }
        // Checked once the copies are made, which can take minutes: as late as can be
        // before the copies' sessions start. Without free ports the copies go without.
        if (const Result<std::vector<int>> ports = PortBlocks::reserve(int(run.copies.size()))) {
            for (std::size_t index = 0; index < run.copies.size(); ++index) {
                run.copies[index].portBase = ports->at(index);
            }
        }
    } catch (const RunFilesError& error) {
        return failed(error.toError());
    } catch (const std::exception& error) {
        return failed(Error::invalid(QString::fromLocal8Bit(error.what())));
    }
    run.id = QUuid::createUuid();
    run.prompt = request.prompt;
    run.project = request.project;
    run.created = QDateTime::currentDateTimeUtc();
    run.limits = request.limits;
    if (!request.taskFile.isEmpty()) {
        if (Result<void> written = AtomicFile::write(
                QDir(request.folder).filePath(request.taskFile), request.task.toUtf8());
            !written) {
            return failed(written.error());
        }
    }
    if (job.cancelled()) {
        return failed(cancelled());
    }
    return run;
}
