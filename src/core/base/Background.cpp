#include "core/base/Background.h"

#include <QCoreApplication>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <pthread.h>

namespace Background {

namespace {

// VELK's threads for blocking jobs. A small pool of its own rather than QThreadPool: every
// hand-over goes through a standard mutex and condition variable, which ThreadSanitizer sees
// (Qt's pool locks with futexes it does not see, and its own queue then looks raced).
class WorkerPool {
public:
    // Never destroyed: threads still running at exit (a status check waiting on a tool) must
    // not meet a destroyed pool. With an application object, its end waits for them instead.
    static WorkerPool& instance() {
        static WorkerPool* pool = [] {
            auto* made = new WorkerPool;
            qAddPostRoutine([] { WorkerPool::instance().shutdown(); });
            return made;
        }();
        return *pool;
    }

    void start(std::unique_ptr<Task> task) {
        std::unique_lock lock(m_mutex);
        if (m_stopping) {
            // The application is ending: run it here rather than lose it.
            lock.unlock();
            task->run();
            return;
        }
        enqueue(std::move(task));
    }

    // Starts `task` only if a thread can take it at once: an idle one, or a new one while the
    // pool may still grow. False otherwise (and while the application ends).
    bool startIfIdle(std::unique_ptr<Task> task) {
        const std::lock_guard lock(m_mutex);
        if (m_stopping || (m_tasks.size() >= m_idle && m_threads.size() >= kThreadCount)) {
            return false;
        }
        enqueue(std::move(task));
        return true;
    }

    void waitForIdle() {
        std::unique_lock lock(m_mutex);
        m_done.wait(lock, [this] { return m_tasks.empty() && m_running == 0; });
    }

    // Runs what is queued to its end, then joins every thread.
    void shutdown() {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        for (std::thread& thread : m_threads) {
            thread.join();
        }
        m_threads.clear();
    }

private:
    // Queues `task` under the lock. Workers woken but not yet at the queue still count as
    // idle while their task waits there, so a thread is added whenever the queue holds more
    // tasks than there are idle workers to take them.
    void enqueue(std::unique_ptr<Task> task) {
        m_tasks.push_back(std::move(task));
        if (m_tasks.size() > m_idle && m_threads.size() < kThreadCount) {
            m_threads.emplace_back([this] { work(); });
        } else {
            m_wake.notify_one();
        }
    }

    void work() {
        pthread_setname_np(pthread_self(), "velk.background");
        std::unique_lock lock(m_mutex);
        for (;;) {
            ++m_idle;
            m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            --m_idle;
            if (m_tasks.empty()) {
                return;
            }
            std::unique_ptr<Task> task = std::move(m_tasks.front());
            m_tasks.pop_front();
            ++m_running;
            lock.unlock();
            task->run();
            task.reset();
            lock.lock();
            --m_running;
            if (m_tasks.empty() && m_running == 0) {
                m_done.notify_all();
            }
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::deque<std::unique_ptr<Task>> m_tasks;
    std::vector<std::thread> m_threads;
    std::size_t m_idle = 0;
    std::size_t m_running = 0;
    bool m_stopping = false;
};

// One forEachInParallel call, shared with the helpers it started. A helper that starts only
// after the caller has closed the call leaves without touching `item`, which is the caller's
// and may be gone by then.
class ParallelItems {
public:
    ParallelItems(std::size_t count, const std::function<void(std::size_t)>& item)
        : m_count(count), m_item(item) {}

    // Runs items until none is left or one has failed.
    void takeItems() {
        while (!m_failed.load(std::memory_order_relaxed)) {
            const std::size_t index = m_next.fetch_add(1, std::memory_order_relaxed);
            if (index >= m_count) {
                return;
            }
            try {
                m_item(index);
            } catch (...) {
                const std::lock_guard lock(m_mutex);
                if (!m_error) {
                    m_error = std::current_exception();
                }
                m_failed.store(true, std::memory_order_relaxed);
            }
        }
    }

    // On a background thread.
    void help() {
        {
            const std::lock_guard lock(m_mutex);
            if (m_closed) {
                return;
            }
            ++m_helping;
        }
        takeItems();
        const std::lock_guard lock(m_mutex);
        if (--m_helping == 0) {
            m_helpersDone.notify_all();
        }
    }

    // On the caller's thread, once its own takeItems() has returned: no helper joins after
    // this, and the ones that did have finished their items when it returns.
    void close() {
        std::unique_lock lock(m_mutex);
        m_closed = true;
        m_helpersDone.wait(lock, [this] { return m_helping == 0; });
        // The caller takes the only reference to the error, so the exception is freed on its
        // thread and not by whichever helper happens to drop this object last.
        if (std::exception_ptr error = std::exchange(m_error, nullptr)) {
            lock.unlock();
            std::rethrow_exception(std::move(error));
        }
    }

private:
    const std::size_t m_count;
    const std::function<void(std::size_t)>& m_item;
    std::atomic<std::size_t> m_next{0};
    std::atomic<bool> m_failed{false};
    std::mutex m_mutex;
    std::condition_variable m_helpersDone;
    std::size_t m_helping = 0;
    bool m_closed = false;
    std::exception_ptr m_error;
};

// Tasks for the main thread. One wake-up is posted to the main thread per batch, and only by
// the thread that found the batch empty: Qt's event queue is locked with futexes that
// ThreadSanitizer does not see, so concurrent posts from several workers would look raced.
class MainTasks {
public:
    static MainTasks& instance() {
        static MainTasks tasks;
        return tasks;
    }

    void push(std::unique_ptr<Task> task) {
        const std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
        if (m_wakePending) {
            return;
        }
        m_wakePending = true;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { instance().runBatch(); }, Qt::QueuedConnection);
    }

private:
    // Runs the queued tasks one at a time, taking each from the shared queue: a task that
    // spins a nested event loop (a modal dialog) lets a later wake-up run the following tasks
    // in their order instead of holding them back.
    void runBatch() {
        {
            const std::lock_guard lock(m_mutex);
            m_wakePending = false;
        }
        while (std::unique_ptr<Task> task = take()) {
            task->run();
        }
    }

    std::unique_ptr<Task> take() {
        const std::lock_guard lock(m_mutex);
        if (m_tasks.empty()) {
            return nullptr;
        }
        std::unique_ptr<Task> task = std::move(m_tasks.front());
        m_tasks.pop_front();
        return task;
    }

    std::mutex m_mutex;
    std::deque<std::unique_ptr<Task>> m_tasks;
    bool m_wakePending = false;
};

}  // namespace

void start(std::unique_ptr<Task> task) {
    WorkerPool::instance().start(std::move(task));
}

void waitForIdle() {
    WorkerPool::instance().waitForIdle();
}

void forEachInParallel(std::size_t count, const std::function<void(std::size_t)>& item) {
    // Hashing and copying are bound by the cores and the disk: beyond four threads in all,
    // more only contend.
    constexpr unsigned kMostThreads = 4;
    if (count == 0) {
        return;
    }
    const std::size_t threads = std::min<std::size_t>(
        count, std::clamp(std::thread::hardware_concurrency(), 1U, kMostThreads));
    const auto items = std::make_shared<ParallelItems>(count, item);
    for (std::size_t helper = 1; helper < threads; ++helper) {
        if (!WorkerPool::instance().startIfIdle(makeTask([items] { items->help(); }))) {
            break;
        }
    }
    items->takeItems();
    items->close();
}

void post(std::unique_ptr<Task> task) {
    MainTasks::instance().push(std::move(task));
}

}  // namespace Background
