#pragma once

#include "core/base/Background.h"
#include "core/base/Result.h"
#include "core/runs/RunLimits.h"
#include "core/runs/TeamRun.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// The preparation of a team run's folders, as one background job: a snapshot of the project
// as the run's baseline, then one snapshot of the baseline per assistant. The result comes
// back on the main thread with the run, or with the Error whose message is shown to the user.
// Each copy also gets the extra files the request's patterns ask for and its own block of
// free ports (see PortBlocks); a copy whose ports could not be found goes without.
//
// The run folder belongs to the preparation until its result is handed over. A preparation
// that fails, is cancelled, times out or outlives its RunPreparation removes its folder,
// however far the copying got: also when the copying had already ended and only the hand-over
// to the main thread was pending.
class RunPreparation : public QObject {
    Q_OBJECT

public:
    struct Request {
        QString project;
        QString folder;          // the new run's folder; the preparation makes it
        QString prompt;          // recorded in the run
        QStringList assistants;  // provider ids: one copy each, in this order
        // When set, `task` is written to this file in the run folder once the copies are
        // made, for assistants that read a task too long for the command line from a file.
        QString taskFile;
        QString task;
        // Patterns (gitignore syntax) of files the listing skips that each copy gets too.
        QStringList extraPatterns = {};
        // How large a project may be copied.
        RunLimits limits = {};
    };

    using Done = std::function<void(Result<TeamRun> result)>;

    explicit RunPreparation(QObject* parent = nullptr);
    // Cancels the preparation still running.
    ~RunPreparation() override;

    bool running() const { return m_job.has_value(); }

    // Cancels the preparation still running, then prepares `request`. `done` runs on the main
    // thread with the result, unless cancel() is called or this object is destroyed first.
    // After `timeout` the preparation is cancelled and `done` hears an Error of kind TimedOut.
    void start(Request request, std::chrono::milliseconds timeout, Done done);
    void cancel();

    // Files copied so far and in all, over the baseline and every copy of the latest
    // preparation; both 0 until the project is listed. Callable while the copying goes on.
    qint64 copied() const;
    qint64 total() const;

    // The time all the copies of the latest preparation may take, once the project is
    // listed: from the assumed copy rate at first, then from the time the baseline took.
    // Nothing before the listing. Callable while the copying goes on.
    std::optional<CopyEstimate> estimate() const;
    // Lets the preparation running take `total` from its start if its timeout is sooner.
    void allowAtLeast(std::chrono::milliseconds total);

private:
    struct Progress;

    // The preparation itself, on a pool thread; see Request.
    static Result<TeamRun> prepare(const Request& request, Progress& progress,
                                   const BackgroundJob& job);
    void finish(Result<TeamRun> result);

    std::optional<BackgroundJob> m_job;
    std::shared_ptr<Progress> m_progress;
    Done m_done;
    QTimer m_timeout;
    QElapsedTimer m_started;
};
