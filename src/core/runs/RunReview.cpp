#include "core/runs/RunReview.h"

#include "core/runs/RunStore.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QUuid>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <type_traits>
#include <utility>

namespace {

// What an apply job hands back.
struct Outcome {
    Result<std::vector<FileChange>> result = std::vector<FileChange>();
    std::vector<RunFiles::ApplyRecovery> recovered;
    std::map<QString, QString> refusals;
};

// The progress an apply's thread leaves for the main thread to read.
struct ProgressMeter {
    std::atomic<int> step{0};
    std::atomic<int> done{0};
    std::atomic<int> total{0};

    RunReview::Progress read() const {
        return {RunFiles::ApplyStep(step.load()), done.load(), total.load()};
    }
};

// The event that starts a review's line counts.
QEvent::Type countLinesEvent() {
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

// How often the main thread looks at an apply's progress.
constexpr int kProgressIntervalMs = 50;

QString sha256(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// Runs a file operation, turning whatever it throws into the Error shown to the user. The
// engine does not sort its own refusals (a conflict, a limit, an unsafe path) into kinds; only
// failures of the system carry their errno value.
template <typename T, typename Operation>
Result<T> attempt(Operation operation) {
    try {
        if constexpr (std::is_void_v<T>) {
            operation();
            return {};
        } else {
            return operation();
        }
    } catch (const RunFilesError& error) {
        if (error.domain() == QLatin1String("POSIX")) {
            return Error{Error::Kind::System, error.message(), error.code()};
        }
        return Error::invalid(error.message());
    } catch (const std::exception& error) {
        return Error::invalid(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        return Error::invalid(QStringLiteral("The operation failed."));
    }
}

// A change is the setup's while the copy still holds what the setup left there; one the
// assistant changed again after the setup is its own.
void markMadeBySetup(std::vector<FileChange>& changes, const RunCopy& copy) {
    for (FileChange& change : changes) {
        const auto made = copy.madeBySetup.find(change.path);
        change.madeBySetup =
            made != copy.madeBySetup.end() && made->second == change.after.value_or(QString());
    }
}

}  // namespace

RunReview::Engine RunReview::Engine::files(const RunLimits& limits) {
    return {[limits](const QString& baseline, const QString& copy) {
                return RunFiles::review(baseline, copy, {}, limits);
            },
            &RunFiles::preview,
            [limits](const std::vector<FileChange>& changes, const QString& project,
                     const QString& copy, const QString& backup,
                     std::vector<RunFiles::ApplyRecovery>* recovered,
                     const RunFiles::ApplyProgress& progress) {
                RunFiles::apply(changes, project, copy, backup, recovered, progress, limits);
            },
            nullptr};
}

std::vector<QUuid> RunReview::Overlaps::othersChanging(const QUuid& copy,
                                                       const QString& path) const {
    std::vector<QUuid> others;
    for (const auto& [id, paths] : changedByCopy) {
        if (id != copy && paths.contains(path)) {
            others.push_back(id);
        }
    }
    return others;
}

QString RunReview::projectRefusal(const FileChange& change, const QString& project) {
    try {
        const QString location = RunFiles::safeURL(change.path, project);
        struct stat status;
        if (::lstat(location.toLocal8Bit().constData(), &status) != 0) {
            if (errno == ENOENT || errno == ENOTDIR) {
                return change.before ? QStringLiteral(
                                           "removed from your project since this "
                                           "run began")
                                     : QString();
            }
            return QStringLiteral("cannot be read in your project: ") +
                   QString::fromLocal8Bit(std::strerror(errno));
        }
        if (S_ISDIR(status.st_mode)) {
            return QStringLiteral("a folder in your project stands where the copy has a file");
        }
        if (!S_ISREG(status.st_mode)) {
            return QStringLiteral("your project has something other than a file here");
        }
        if (!change.before) {
            return QStringLiteral("added to your project since this run began");
        }
        if (RunFiles::hash(location) != *change.before) {
            return QStringLiteral("changed in your project since this run began");
        }
        return QString();
    } catch (const RunFilesError& error) {
        return error.message();
    }
}

QString RunReview::withRecoveries(const std::vector<RunFiles::ApplyRecovery>& recovered,
                                  const QString& status) {
    QString text;
    for (const RunFiles::ApplyRecovery& recovery : recovered) {
        text += recovery.describe() + QStringLiteral("\n\n");
    }
    return text + status;
}

RunReview::RunReview(TeamRun run, RunCopy copy, QObject* parent)
    : RunReview(std::move(run), std::move(copy), Engine::files(), parent) {}

RunReview::RunReview(TeamRun run, RunCopy copy, Engine engine, QObject* parent)
    : QObject(parent),
      m_run(std::move(run)),
      m_copy(std::move(copy)),
      m_engine(std::move(engine)) {}

RunReview::~RunReview() {
    // Jobs still queued need not run at all; their results would not be delivered anyway.
    for (const std::optional<BackgroundJob>& job :
         {m_inspection, m_preview, m_diff, m_overlapJob, m_countJob}) {
        if (job) {
            job->cancel();
        }
    }
}

void RunReview::inspect() {
    if (m_inspection) {
        m_inspection->cancel();
    }
    if (m_overlapJob) {
        m_overlapJob->cancel();
        m_overlapJob.reset();
    }
    if (m_countJob) {
        m_countJob->cancel();
        m_countJob.reset();
    }
    m_countQueued = false;
    m_review = {};
    m_overlaps = {};
    m_lineCounts.clear();
    m_inspecting = true;
    m_inspection = runInBackground(
        this,
        [review = m_engine.review, baseline = RunStore::baselineFolder(m_run),
         copy = m_copy.directory] {
            return attempt<RunFiles::Review>([&] { return review(baseline, copy); });
        },
        [this](Result<RunFiles::Review> result) {
            m_inspecting = false;
            m_inspection.reset();
            if (result) {
                markMadeBySetup(result.value().changes, m_copy);
                m_review = result.value();
            }
            Q_EMIT inspected(result);
            if (result) {
                countLinesLater();
            }
        });
}

void RunReview::preview(const QString& path) {
    if (m_preview) {
        m_preview->cancel();
    }
    m_preview = runInBackground(
        this,
        [read = m_engine.preview, baseline = RunStore::baselineFolder(m_run),
         copy = m_copy.directory, path](const BackgroundJob& job) {
            Preview preview{path, {}, {}};
            // A preview never fails; should the engine throw, its message takes the place of
            // the text.
            const auto side = [&](const QString& root) {
                Result<QString> text = attempt<QString>([&] { return read(root, path); });
                return text ? text.value() : text.error().message;
            };
            preview.before = side(baseline);
            if (!job.cancelled()) {
                preview.after = side(copy);
            }
            return preview;
        },
        [this](const Preview& preview) {
            m_preview.reset();
            Q_EMIT previewed(preview);
        });
}

void RunReview::diff(const QString& path) {
    if (m_diff) {
        m_diff->cancel();
    }
    m_diff = runInBackground(
        this,
        [read = m_engine.read ? m_engine.read : &RunFiles::readVersion,
         baseline = RunStore::baselineFolder(m_run), copy = m_copy.directory,
         path](const BackgroundJob& job) {
            const FileVersion before = read(baseline, path);
            if (job.cancelled()) {
                return FileDiff{};
            }
            return LineDiff::compute(path, before, read(copy, path));
        },
        [this](const FileDiff& diff) {
            m_diff.reset();
            Q_EMIT diffed(diff);
        });
}

// The other copies' changes are read as the review reads this one's; a copy that cannot be
// read counts as changing nothing. The project files are checked for this copy's changes only.
void RunReview::findOverlaps() {
    m_overlapJob = runInBackground(
        this,
        [review = m_engine.review, baseline = RunStore::baselineFolder(m_run), run = m_run,
         copy = m_copy, changes = m_review.changes](const BackgroundJob& job) {
            Overlaps found;
            for (const RunCopy& each : run.copies) {
                std::set<QString>& paths = found.changedByCopy[each.id];
                if (each.id == copy.id) {
                    for (const FileChange& change : changes) {
                        paths.insert(change.path);
                    }
                    continue;
                }
                if (job.cancelled()) {
                    return found;
                }
                const Result<RunFiles::Review> other =
                    attempt<RunFiles::Review>([&] { return review(baseline, each.directory); });
                if (other) {
                    for (const FileChange& change : other->changes) {
                        paths.insert(change.path);
                    }
                }
            }
            for (const FileChange& change : changes) {
                if (job.cancelled()) {
                    break;
                }
                const QString refusal = projectRefusal(change, run.project);
                if (!refusal.isEmpty()) {
                    found.projectChanged[change.path] = refusal;
                }
            }
            return found;
        },
        [this](const Overlaps& found) {
            m_overlapJob.reset();
            m_overlaps = found;
            Q_EMIT overlapsFound();
        });
}

// The counts read every changed file on both sides. They start once the main thread has
// handled what the inspection's result queued, the list's layout and repaint among it (Qt
// posts repaints at low priority; this event comes after them), so that on a machine of few
// cores they do not slow the drawing of the list the reader is waiting for.
void RunReview::countLinesLater() {
    m_countQueued = true;
    QCoreApplication::postEvent(this, new QEvent(countLinesEvent()), Qt::LowEventPriority);
}

bool RunReview::event(QEvent* event) {
    if (event->type() != countLinesEvent()) {
        return QObject::event(event);
    }
    // An inspection started since then waits for its own result.
    if (std::exchange(m_countQueued, false)) {
        countLines();
    }
    return true;
}

void RunReview::countLines() {
    m_countJob = runInBackground(
        this,
        [read = m_engine.read, baseline = RunStore::baselineFolder(m_run), copy = m_copy.directory,
         changes = m_review.changes](const BackgroundJob& job) {
            // The two folders are opened once for all the files read below them.
            const RunFiles::VersionReader baselineFiles(baseline);
            const RunFiles::VersionReader copyFiles(copy);
            std::vector<LineDiff::LineCounts> counts(changes.size());
            Background::forEachInParallel(changes.size(), [&](std::size_t index) {
                if (!job.cancelled()) {
                    const QString& path = changes[index].path;
                    counts[index] =
                        read ? LineDiff::count(read(baseline, path), read(copy, path))
                             : LineDiff::count(baselineFiles.read(path), copyFiles.read(path));
                }
            });
            std::map<QString, LineDiff::LineCounts> found;
            for (std::size_t index = 0; index < changes.size(); ++index) {
                found[changes[index].path] = counts[index];
            }
            return found;
        },
        [this](const std::map<QString, LineDiff::LineCounts>& found) {
            m_countJob.reset();
            m_lineCounts = found;
            // The other copies and the project are read only now: on a machine of few cores
            // they would otherwise slow the counts the reader is waiting for.
            findOverlaps();
            Q_EMIT lineCountsFound();
        });
}

bool RunReview::apply(const QSet<QString>& paths) {
    if (m_applying) {
        return false;
    }
    std::vector<FileChange> chosen;
    for (const FileChange& change : m_review.changes) {
        if (paths.contains(change.path)) {
            chosen.push_back(change);
        }
    }
    if (chosen.empty()) {
        return false;
    }
    startApply(
        chosen, 0,
        [apply = m_engine.apply, chosen, project = m_run.project, copy = m_copy.directory,
         backup = RunStore::newBackupFolder(m_run)](std::vector<RunFiles::ApplyRecovery>* recovered,
                                                    const RunFiles::ApplyProgress& progress) {
            apply(chosen, project, copy, backup, recovered, progress);
            return chosen;
        });
    return true;
}

bool RunReview::applyHunks(const QString& path, const std::vector<HunkMerge::Range>& hunks) {
    const auto found = std::find_if(m_review.changes.begin(), m_review.changes.end(),
                                    [&](const FileChange& change) { return change.path == path; });
    if (m_applying || hunks.empty() || found == m_review.changes.end() || !found->before ||
        !found->after) {
        return false;
    }
    // The chosen lines are written to a file of their own in the run's folder, which the apply
    // then copies from as it copies from the assistant's copy; the file goes afterwards.
    startApply(
        {*found}, int(hunks.size()),
        [apply = m_engine.apply, read = m_engine.read ? m_engine.read : &RunFiles::readVersion,
         change = *found, hunks, baseline = RunStore::baselineFolder(m_run),
         project = m_run.project, copy = m_copy.directory,
         staging = m_run.root + QStringLiteral("/partial-") +
                   QUuid::createUuid().toString(QUuid::WithoutBraces),
         backup = RunStore::newBackupFolder(m_run)](std::vector<RunFiles::ApplyRecovery>* recovered,
                                                    const RunFiles::ApplyProgress& progress) {
            const FileVersion before = read(baseline, change.path);
            const FileVersion after = read(copy, change.path);
            if (before.state != FileVersion::State::Read ||
                after.state != FileVersion::State::Read || sha256(before.bytes) != change.before ||
                sha256(after.bytes) != change.after) {
                throw RunFilesError(QStringLiteral("The assistant changed ") + change.path +
                                    QStringLiteral(" after this review opened. Refresh changes "
                                                   "before applying."));
            }
            const std::optional<QByteArray> merged =
                HunkMerge::merge(before.bytes, after.bytes, hunks);
            if (!merged) {
                throw RunFilesError(QStringLiteral("The chosen changes no longer fit ") +
                                    change.path +
                                    QStringLiteral(". Refresh changes before applying."));
            }
            const FileChange partial{change.path, change.before, sha256(*merged), change.beforeMode,
                                     change.beforeMode};
            struct Staging {
                QString folder;
                ~Staging() { QDir(folder).removeRecursively(); }
            } const staged{staging};
            const QString file = RunFiles::safeURL(change.path, staging);
            QFile out(file);
            if (!QDir().mkpath(QFileInfo(file).absolutePath()) || !out.open(QIODevice::WriteOnly) ||
                out.write(*merged) != merged->size() || !out.flush() ||
                ::chmod(QFile::encodeName(file).constData(), mode_t(*change.beforeMode)) != 0) {
                throw RunFilesError(QStringLiteral("Could not prepare the chosen changes of ") +
                                    change.path + QStringLiteral(": ") + out.errorString());
            }
            out.close();
            apply({partial}, project, staging, backup, recovered, progress);
            return std::vector<FileChange>{partial};
        });
    return true;
}

void RunReview::startApply(std::vector<FileChange> chosen, int hunks, ApplyWork work) {
    m_applying = true;
    auto meter = std::make_shared<ProgressMeter>();
    auto* poll = new QTimer(this);
    poll->setInterval(kProgressIntervalMs);
    connect(poll, &QTimer::timeout, this, [this, meter, last = Progress{}]() mutable {
        const Progress now = meter->read();
        if (now != last) {
            last = now;
            Q_EMIT applyProgressed(now);
        }
    });
    poll->start();
    // The job is not kept: an apply runs to its end, and only the review being destroyed
    // keeps its result from being heard.
    runInBackground(
        this,
        [work = std::move(work), chosen, project = m_run.project, meter] {
            const RunFiles::ApplyProgress progress = [meter](RunFiles::ApplyStep step,
                                                             std::size_t done, std::size_t total) {
                meter->step = int(step);
                meter->done = int(done);
                meter->total = int(total);
            };
            Outcome outcome;
            outcome.result = attempt<std::vector<FileChange>>(
                [&] { return work(&outcome.recovered, progress); });
            if (outcome.result) {
                return outcome;
            }
            // The apply stops at the first file the project changed under; the user is shown
            // every such file with its reason, so one review settles them all.
            for (const FileChange& change : chosen) {
                const QString refusal = projectRefusal(change, project);
                if (!refusal.isEmpty()) {
                    outcome.refusals[change.path] = refusal;
                }
            }
            if (outcome.refusals.size() > 1) {
                outcome.result = Error::invalid(
                    QString::number(outcome.refusals.size()) +
                    QStringLiteral(" files changed in your project since this run began. Nothing "
                                   "was applied; each one is marked with its reason."));
            }
            return outcome;
        },
        [this, poll, hunks](const Outcome& outcome) {
            delete poll;
            m_applying = false;
            m_refusals = outcome.refusals;
            const auto& result = outcome.result;
            const auto& recovered = outcome.recovered;
            if (result) {
                Q_EMIT applied(Applied{result.value(), recovered, hunks});
            } else {
                Error error = result.error();
                error.message = withRecoveries(recovered, error.message);
                Q_EMIT applied(error);
            }
        });
}
