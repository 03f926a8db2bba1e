#include "core/Background.h"

#include <QCoreApplication>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include <pthread.h>

namespace Background {

namespace {

// Tasks waiting for a thread to take them, first in first out.
class TaskQueue {
public:
    void push(std::unique_ptr<Task> task) {
        const std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
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

private:
    std::mutex m_mutex;
    std::deque<std::unique_ptr<Task>> m_tasks;
};

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
        m_tasks.push_back(std::move(task));
        if (m_idle == 0 && m_threads.size() < kThreads) {
            m_threads.emplace_back([this] { work(); });
        } else {
            m_wake.notify_one();
        }
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
    // Blocking jobs mostly wait (on other programs, on the disk), so more threads than cores
    // keep a slow status check from holding up a copy or an apply.
    static constexpr std::size_t kThreads = 8;

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

TaskQueue& mainTasks() {
    static TaskQueue queue;
    return queue;
}

void runNext(TaskQueue& queue) {
    if (std::unique_ptr<Task> task = queue.take()) {
        task->run();
    }
}

}  // namespace

void start(std::unique_ptr<Task> task) {
    WorkerPool::instance().start(std::move(task));
}

void waitForIdle() {
    WorkerPool::instance().waitForIdle();
}

void post(std::unique_ptr<Task> task) {
    mainTasks().push(std::move(task));
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { runNext(mainTasks()); }, Qt::QueuedConnection);
}

}  // namespace Background
