#include "core/runs/RunReview.h"

#include "core/runs/RunStore.h"

#include <exception>
#include <type_traits>
#include <utility>

namespace {

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

}  // namespace

RunReview::Engine RunReview::Engine::files() {
    return {[](const QString& baseline, const QString& copy) {
                return RunFiles::review(baseline, copy);
            },
            &RunFiles::preview, &RunFiles::apply, &RunFiles::readVersion};
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
    for (const std::optional<BackgroundJob>& job : {m_inspection, m_preview, m_diff}) {
        if (job) {
            job->cancel();
        }
    }
}

void RunReview::inspect() {
    if (m_inspection) {
        m_inspection->cancel();
    }
    m_review = {};
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
                m_review = result.value();
            }
            Q_EMIT inspected(result);
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
    m_applying = true;
    // The job is not kept: an apply runs to its end, and only the review being destroyed
    // keeps its result from being heard.
    runInBackground(
        this,
        [apply = m_engine.apply, chosen, project = m_run.project, copy = m_copy.directory,
         backup = RunStore::newBackupFolder(m_run)] {
            std::vector<RunFiles::ApplyRecovery> recovered;
            Result<void> result =
                attempt<void>([&] { apply(chosen, project, copy, backup, &recovered); });
            return std::make_pair(std::move(result), std::move(recovered));
        },
        [this,
         chosen](const std::pair<Result<void>, std::vector<RunFiles::ApplyRecovery>>& outcome) {
            m_applying = false;
            const auto& [result, recovered] = outcome;
            if (result) {
                Q_EMIT applied(Applied{chosen, recovered});
            } else {
                Error error = result.error();
                error.message = withRecoveries(recovered, error.message);
                Q_EMIT applied(error);
            }
        });
    return true;
}
