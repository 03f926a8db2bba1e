#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>
#include <tuple>
#include <type_traits>
#include <utility>

class QThreadPool;

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

// VELK's pool for blocking jobs (status checks that wait on other programs, copies, applies).
// It is not Qt's global pool: that one has as many threads as cores, so two slow status checks
// would starve everything else on a two-core machine. Created on first use as a child of the
// application, which waits for running jobs when it is destroyed.
QThreadPool& pool();

// Queues `task` on pool().
void start(std::function<void()> task);

// Runs `task` on the main thread, if the object `context` guards still exists then. Callable
// from any thread: the guard is only looked at on the main thread.
template <typename Task>
void deliver(QPointer<QObject> context, Task&& task) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [context = std::move(context), task = std::forward<Task>(task)]() mutable {
            if (context) {
                task();
            }
        },
        Qt::QueuedConnection);
}

}  // namespace Background

template <typename Work, typename Done>
BackgroundJob runInBackground(QObject* context, Work work, Done done) {
    BackgroundJob job;
    Background::start([context = QPointer<QObject>(context), job, work = std::move(work),
                       done = std::move(done)]() mutable {
        if (job.cancelled()) {
            return;
        }
        auto finish = [&](auto&&... result) {
            Background::deliver(context,
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
