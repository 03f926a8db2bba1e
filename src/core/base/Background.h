#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <tuple>
#include <type_traits>
#include <utility>

// The one way VELK runs work off the main thread:
//
//     runInBackground(this, [=](const BackgroundJob& job) { return slowWork(job); },
//                     [this](Result result) { show(result); });
//
// `work` runs on VELK's own thread pool; `done` then runs on the main thread with its result,
// unless the job was cancelled or `context` was destroyed in the meantime. The check happens on
// the main thread, where `context` is destroyed, so `done` never sees a dangling object.
// Long-lived resources (a terminal's I/O thread, the speech recognizer, the typing thread)
// keep their own threads; everything that is "compute this, then tell me" uses this.

// A handle to a job: the caller may cancel it, the work may ask whether it was cancelled and
// stop early. Copies share one flag.
class BackgroundJob {
public:
    BackgroundJob() : m_cancelled(std::make_shared<std::atomic_bool>(false)) {}

    void cancel() const { m_cancelled->store(true, std::memory_order_relaxed); }
    bool cancelled() const { return m_cancelled->load(std::memory_order_relaxed); }

private:
    std::shared_ptr<std::atomic_bool> m_cancelled;
};

namespace Background {

// Background jobs run on VELK's own threads for blocking work (status checks that wait on
// other programs, copies, applies), not on Qt's global pool: that one has as many threads as
// cores, so two slow status checks would starve everything else on a two-core machine. The
// application's end waits for running jobs.

// How many threads the pool grows to. Blocking jobs mostly wait (on other programs, on the
// disk), so more threads than cores keep a slow status check from holding up a copy or an
// apply.
inline constexpr std::size_t kThreadCount = 8;

// Returns once no job is queued or running (for tests and orderly ends).
void waitForIdle();

// Runs item(0) … item(count - 1) on the calling thread and on up to three background threads
// that are idle right now, and returns once every item has run. The caller takes items itself
// from the same shared counter and waits only for helpers that have already started, so a
// background job may call this while every other background thread is busy: it then does all
// the items alone rather than wait for help that cannot come. The first exception an item
// throws stops the items not yet started and is rethrown here once the others have ended.
void forEachInParallel(std::size_t count, const std::function<void(std::size_t)>& item);

// A task handed from one thread to another. Hand-overs go through queues guarded by a
// standard mutex rather than through the closures Qt carries across threads: the order they
// set up is then visible to ThreadSanitizer, which does not see Qt's own locking.
class Task {
public:
    virtual ~Task() = default;
    virtual void run() = 0;
};

template <typename Function>
class TaskOf final : public Task {
public:
    explicit TaskOf(Function function) : m_function(std::move(function)) {}
    void run() override { m_function(); }

private:
    Function m_function;
};

template <typename Function>
std::unique_ptr<Task> makeTask(Function&& function) {
    return std::make_unique<TaskOf<std::decay_t<Function>>>(std::forward<Function>(function));
}

// Runs `task` on one of VELK's background threads.
void start(std::unique_ptr<Task> task);
// Runs `task` on the main thread, in the order posted.
void post(std::unique_ptr<Task> task);

template <typename Function>
void start(Function&& function) {
    start(makeTask(std::forward<Function>(function)));
}

// Runs `task` on the main thread, if the object `context` guards still exists then. Callable
// from any thread: the guard is only looked at on the main thread.
template <typename Function>
void deliver(QPointer<QObject> context, Function&& task) {
    post(makeTask([context = std::move(context), task = std::forward<Function>(task)]() mutable {
        if (context) {
            task();
        }
    }));
}

}  // namespace Background

template <typename Work, typename Done>
BackgroundJob runInBackground(QObject* context, Work work, Done done) {
    BackgroundJob job;
    Background::start([context = QPointer<QObject>(context), job, work = std::move(work),
                       done = std::move(done)]() mutable {
        // The guard is handed back to the main thread rather than destroyed here: a QPointer
        // shares a count with its object, and that object is destroyed on the main thread.
        if (job.cancelled()) {
            Background::deliver(std::move(context), [] {});
            return;
        }
        auto finish = [&](auto&&... result) {
            Background::deliver(std::move(context),
                                [job, done = std::move(done),
                                 result = std::make_tuple(std::move(result)...)]() mutable {
                                    if (!job.cancelled()) {
                                        std::apply(done, std::move(result));
                                    }
                                });
        };
        if constexpr (std::is_invocable_v<Work&, const BackgroundJob&>) {
            if constexpr (std::is_void_v<std::invoke_result_t<Work&, const BackgroundJob&>>) {
                work(job);
                finish();
            } else {
                finish(work(job));
            }
        } else if constexpr (std::is_void_v<std::invoke_result_t<Work&>>) {
            work();
            finish();
        } else {
            finish(work());
        }
    });
    return job;
}
