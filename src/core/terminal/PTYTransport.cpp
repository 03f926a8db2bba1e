#include "core/terminal/PTYTransport.h"

#include "core/base/ChildExit.h"
#include "core/terminal/Pty.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr qsizetype kReadSize = 16 * 1024;
constexpr qsizetype kChunkLimit = 1024 * 1024;
constexpr qsizetype kWritePiece = 16 * 1024;
constexpr qsizetype kWritePassLimit = 256 * 1024;
// Without a process descriptor, how often the I/O thread looks whether the child has ended.
constexpr int kChildCheckMs = 1000;

void signalEventFd(int descriptor) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(descriptor, &one, sizeof one);
}

void drainEventFd(int descriptor) {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(descriptor, &count, sizeof count);
}

// Hands work from the I/O threads to the main thread in order.
//
// A hand-over of our own rather than QMetaObject::invokeMethod: every byte that crosses
// threads goes through a std::mutex, so ThreadSanitizer sees the ordering (Qt's own event
// queue synchronises inside the uninstrumented Qt library, which it cannot see). An
// eventfd watched by a QSocketNotifier on the main thread wakes the event loop; each
// wake-up delivers items for at most a few milliseconds and then returns to the loop, so
// timers, input and painting keep running between output chunks during a flood.
class MainThreadQueue {
public:
    static MainThreadQueue& instance() {
        // Never destroyed: I/O threads may still post while the process exits.
        static auto* queue = new MainThreadQueue;
        return *queue;
    }

    // Main thread only: opens the queue for the current application object.
    void open() {
        std::lock_guard lock(m_mutex);
        if (m_notifier != nullptr || QCoreApplication::instance() == nullptr) {
            return;
        }
        m_eventFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_eventFd < 0) {
            return;
        }
        m_notifier =
            new QSocketNotifier(m_eventFd, QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier,
                         [this] { deliver(); });
        QObject::connect(m_notifier, &QObject::destroyed, [this] { shut(); });
    }

    // Any thread. Items posted while no application object exists are dropped.
    void post(std::function<void()> item) {
        std::unique_lock lock(m_mutex);
        if (m_notifier == nullptr) {
            lock.unlock();
            return;  // `item` is destroyed here, outside the lock
        }
        m_items.push_back(std::move(item));
        if (!m_signalled) {
            m_signalled = true;
            signalEventFd(m_eventFd);
        }
    }

private:
    static constexpr qint64 kDeliveryBudgetMs = 4;

    void deliver() {
        QElapsedTimer elapsed;
        elapsed.start();
        do {
            std::function<void()> item;
            {
                std::lock_guard lock(m_mutex);
                if (m_items.empty()) {
                    break;
                }
                item = std::move(m_items.front());
                m_items.pop_front();
                if (m_items.empty() && m_signalled) {
                    // Nothing left: the next post signals again.
                    drainEventFd(m_eventFd);
                    m_signalled = false;
                }
            }
            item();
        } while (elapsed.elapsed() < kDeliveryBudgetMs);
        // Items still queued keep the eventfd readable, so the notifier fires again on the
        // next pass of the event loop.
    }

    void shut() {
        std::deque<std::function<void()>> dropped;
        std::lock_guard lock(m_mutex);
        dropped.swap(m_items);
        m_notifier = nullptr;
        ::close(m_eventFd);
        m_eventFd = -1;
        m_signalled = false;
    }

    std::mutex m_mutex;
    QSocketNotifier* m_notifier = nullptr;
    int m_eventFd = -1;
    bool m_signalled = false;
    std::deque<std::function<void()>> m_items;
};

struct Callbacks {
    PTYTransport::Output output;
    PTYTransport::Completion completion;
};

}  // namespace

// The state behind a transport. The I/O thread holds it for as long as it runs; its fields
// under "I/O thread only" are touched only by that thread (or, once it has ended, by
// whoever holds the core, after seeing `m_ended` under the mutex).
class PTYTransport::Core : public std::enable_shared_from_this<Core> {
public:
    Core(int master, int child, Output output, Completion completion)
        : m_callbacks(std::make_shared<const Callbacks>(
              Callbacks{std::move(output), std::move(completion)})),
          m_wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          m_child(child),
          m_master(master),
          m_childFd(child > 0 ? ChildExit::openDescriptor(child) : -1) {}

    ~Core() {
        for (const int descriptor : {m_master, m_wakeFd, m_childFd}) {
            if (descriptor >= 0) {
                ::close(descriptor);
            }
        }
    }

    // Any thread: true once the child has been reaped.
    bool childReaped() const { return m_reaped.load(); }

    // Queues a task for the I/O thread; false when the thread has already ended.
    bool post(std::function<void()> task) {
        {
            std::lock_guard lock(m_mutex);
            if (m_ended) {
                return false;
            }
            m_tasks.push_back(std::move(task));
        }
        signalEventFd(m_wakeFd);
        return true;
    }

    void requestQuit() {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        signalEventFd(m_wakeFd);
    }

    void run();

    // I/O thread (or inline once it has ended).
    void signalGroups(int child) {
        if (m_master >= 0) {
            const pid_t foreground = ::tcgetpgrp(m_master);
            if (foreground >= 1 && foreground != child) {
                ::kill(-foreground, SIGTERM);
            }
        }
        // Never 0 or 1: kill(0) is our own group and kill(-1) every process we may signal.
        if (child > 1) {
            ::kill(-child, SIGTERM);
        }
    }

    void queueInput(const QByteArray& bytes) {
        if (m_master < 0 || bytes.isEmpty()) {
            return;
        }
        // The written front is dropped only now, so a large paste is not moved after every
        // partial write.
        if (m_inputOffset > 0) {
            m_input.remove(0, m_inputOffset);
            m_inputOffset = 0;
        }
        m_input.append(bytes);
        m_writerActive = true;
        writeAvailable();
    }

    void resizeTerminal(int rows, int columns) {
        if (m_master >= 0) {
            pty_resize(m_master, rows, columns);
        }
    }

    // Reaps the child if it has ended; its status then closes the terminal once drained.
    void reapChild() {
        int waitStatus = 0;
        pid_t result = -1;
        if (m_child > 0) {
            do {
                result = ::waitpid(m_child, &waitStatus, WNOHANG);
            } while (result < 0 && errno == EINTR);
            if (result == 0) {
                return;  // still running
            }
        }
        if (m_childFd >= 0) {
            ::close(m_childFd);
            m_childFd = -1;
        }
        m_reaped.store(true);
        // Reaped by someone else (or no child given): the status cannot be obtained.
        m_status = result == m_child ? pty_status(waitStatus) : -1;
        readAvailable();
    }

    void closeDescriptor() {
        if (m_master < 0) {
            return;
        }
        // The poll set is rebuilt from m_master on every pass of this thread, so nothing
        // watches the descriptor any more once it is -1 here.
        const int descriptor = m_master;
        m_master = -1;
        m_input.clear();
        m_inputOffset = 0;
        m_writerActive = false;
        ::close(descriptor);
    }

private:
    bool backlogFull() const { return m_backlog.load() >= kOutputBacklogLimit; }

    void readAvailable();
    void writeAvailable();
    void finishIfReady();
    void deliverOutput(QByteArray chunk);

public:
    // Main thread: offers the output not yet taken to the receiver once, and asks for another
    // turn while some is left; after the last byte, delivers a completion held back for it.
    void offerOutput(const Callbacks& callbacks);
    // Main thread: true when output is still to be taken, in which case the completion is
    // held back and delivered after it.
    bool holdCompletion(int status);

private:
    // Asks the main thread for a turn of offerOutput (under m_outputMutex).
    void postOffer();

    const std::shared_ptr<const Callbacks> m_callbacks;

    // Shared with other threads.
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;  // under m_mutex
    bool m_ended = false;                       // under m_mutex
    bool m_quit = false;                        // under m_mutex
    const int m_wakeFd;
    const int m_child;
    std::atomic<bool> m_reaped{false};
    std::atomic<qsizetype> m_backlog{0};  // bytes read but not yet taken by the receiver
    std::mutex m_outputMutex;
    std::deque<QByteArray> m_outputChunks;  // under m_outputMutex, oldest first
    bool m_offerPosted = false;             // under m_outputMutex: a turn is queued or running

    // Main thread only.
    QByteArray m_offered;  // the chunk being offered, taken out of m_outputChunks
    qsizetype m_offeredTaken = 0;
    std::optional<int> m_heldCompletion;

    // I/O thread only.
    int m_master = -1;
    int m_childFd = -1;  // the child's process descriptor until it is reaped, if the kernel has one
    bool m_writerActive = false;
    QByteArray m_input;
    qsizetype m_inputOffset = 0;
    std::optional<int> m_status;
    bool m_finished = false;
    bool m_readAgain = false;    // a pass stopped early; read again without waiting
    bool m_writeFailed = false;  // the terminal stopped taking input
};

void PTYTransport::Core::run() {
    pthread_setname_np(pthread_self(), "kelo.pty");
    std::deque<std::function<void()>> batch;
    for (;;) {
        bool quit = false;
        {
            std::lock_guard lock(m_mutex);
            batch.swap(m_tasks);
            quit = m_quit;
        }
        for (auto& task : batch) {
            task();
        }
        batch.clear();
        if (quit) {
            // The owner has gone: nobody takes a completion any more, but the child is still
            // reaped once it ends.
            closeDescriptor();
            m_finished = true;
        }
        if (m_master < 0 && m_finished && m_reaped.load()) {
            break;  // nothing can happen any more
        }

        // While the main thread is behind, the descriptor is left out of the poll set
        // entirely (not just its read interest): a hung-up terminal reports POLLHUP whatever
        // was asked, and the output still buffered must be read before anything closes.
        // poll skips entries with a negative descriptor.
        const bool watch = m_master >= 0 && !backlogFull();
        const bool watchChild = !m_reaped.load() && m_childFd >= 0;
        pollfd descriptors[3] = {{m_wakeFd, POLLIN, 0},
                                 {watch ? m_master : -1, POLLIN, 0},
                                 {watchChild ? m_childFd : -1, POLLIN, 0}};
        if (m_writerActive) {
            descriptors[1].events |= POLLOUT;
        }
        int timeout = -1;
        if (watch && m_readAgain) {
            timeout = 0;
        } else if (!m_reaped.load() && m_childFd < 0) {
            timeout = kChildCheckMs;
        }
        if (::poll(descriptors, 3, timeout) < 0) {
            continue;  // interrupted
        }
        if (descriptors[0].revents & POLLIN) {
            drainEventFd(m_wakeFd);
        }
        if (!m_reaped.load() && (m_childFd < 0 || descriptors[2].revents != 0)) {
            reapChild();
        }
        if (!watch || m_master < 0) {
            continue;
        }
        const short events = descriptors[1].revents;
        if (m_readAgain || (events & (POLLIN | POLLHUP | POLLERR))) {
            readAvailable();
        }
        if (m_master >= 0 && m_writerActive && (events & (POLLOUT | POLLERR))) {
            writeAvailable();
        }
    }

    // Tasks that raced with the end still run (a stop must signal and release its caller);
    // with the descriptor closed and completion delivered they do nothing else.
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
        batch.swap(m_tasks);
    }
    for (auto& task : batch) {
        task();
    }
}

void PTYTransport::Core::readAvailable() {
    if (m_master < 0) {
        finishIfReady();
        return;
    }
    if (backlogFull()) {
        m_readAgain = true;  // resumes when the main thread catches up
        return;
    }
    m_readAgain = false;

    QByteArray chunk;
    char buffer[kReadSize];
    bool end = false;
    while (chunk.size() < kChunkLimit) {
        const ssize_t count = ::read(m_master, buffer, sizeof buffer);
        if (count > 0) {
            if (chunk.isEmpty() && count == kReadSize) {
                chunk.reserve(kChunkLimit + kReadSize);  // a burst: grow once
            }
            chunk.append(buffer, count);
            continue;
        }
        if (count == 0) {
            end = true;
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        }
        // EIO once the child side of the terminal is gone, or any other failure.
        end = true;
        break;
    }
    const bool full = chunk.size() >= kChunkLimit;
    if (!chunk.isEmpty()) {
        deliverOutput(std::move(chunk));
    }
    if (full) {
        // Deliver big bursts in ~1 MiB pieces and let queued work (writes, resizes, stops)
        // run in between.
        m_readAgain = true;
        return;
    }
    if (end || m_status.has_value() || m_writeFailed) {
        closeDescriptor();
    }
    finishIfReady();
}

void PTYTransport::Core::writeAvailable() {
    if (m_master < 0) {
        return;
    }
    qsizetype passTotal = 0;
    while (m_inputOffset < m_input.size() && passTotal < kWritePassLimit) {
        const qsizetype piece = std::min(m_input.size() - m_inputOffset, kWritePiece);
        const ssize_t count = ::write(m_master, m_input.constData() + m_inputOffset, piece);
        if (count > 0) {
            m_inputOffset += count;
            passTotal += count;
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;  // the terminal is full; POLLOUT tells when it takes more
        }
        // The terminal takes no more input. Pending input is dropped; the descriptor is
        // closed by the read side once the output the child already wrote is drained, so
        // none of it is lost.
        m_input.clear();
        m_inputOffset = 0;
        m_writerActive = false;
        m_writeFailed = true;
        readAvailable();
        return;
    }
    if (m_inputOffset >= m_input.size()) {
        m_input.clear();
        m_inputOffset = 0;
        m_writerActive = false;
    }
    // Otherwise the pass limit stopped the loop; the writer stays active and the next poll
    // reports the descriptor writable at once.
}

void PTYTransport::Core::finishIfReady() {
    if (m_master >= 0 || !m_status.has_value() || m_finished) {
        return;
    }
    m_finished = true;
    MainThreadQueue::instance().post(
        [callbacks = m_callbacks, core = weak_from_this(), status = *m_status] {
            const auto alive = core.lock();
            if (alive && alive->holdCompletion(status)) {
                return;  // delivered after the output still to be taken
            }
            callbacks->completion(status);
        });
}

void PTYTransport::Core::deliverOutput(QByteArray chunk) {
    m_backlog.fetch_add(chunk.size());
    // While the main thread has not reached the last chunk yet, new output joins it (up to
    // the chunk limit) instead of costing one more turn.
    std::lock_guard lock(m_outputMutex);
    if (!m_outputChunks.empty() &&
        m_outputChunks.back().size() + chunk.size() <= kChunkLimit + kReadSize) {
        m_outputChunks.back().append(chunk);
    } else {
        m_outputChunks.push_back(std::move(chunk));
    }
    if (!m_offerPosted) {
        postOffer();
    }
}

void PTYTransport::Core::postOffer() {
    m_offerPosted = true;
    MainThreadQueue::instance().post([callbacks = m_callbacks, core = weak_from_this()] {
        if (const auto alive = core.lock()) {
            alive->offerOutput(*callbacks);
        }
        // Otherwise the transport is gone, and with it whoever wanted the output.
    });
}

void PTYTransport::Core::offerOutput(const Callbacks& callbacks) {
    if (m_offeredTaken == m_offered.size()) {
        std::lock_guard lock(m_outputMutex);
        if (!m_outputChunks.empty()) {
            m_offered = std::move(m_outputChunks.front());
            m_outputChunks.pop_front();
            m_offeredTaken = 0;
        }
    }
    // A copy (shared, not copied) keeps the bytes valid whatever the receiver does meanwhile.
    const QByteArray offered = m_offered;
    const QByteArrayView rest = QByteArrayView(offered).sliced(m_offeredTaken);
    if (!rest.isEmpty()) {
        const qsizetype taken = callbacks.output
                                    ? std::clamp<qsizetype>(callbacks.output(rest), 0, rest.size())
                                    : rest.size();
        m_offeredTaken += taken;
        if (m_offeredTaken == m_offered.size()) {
            m_offered.clear();
            m_offeredTaken = 0;
        }
        // Counted as taken only now, so a flood stays within the backlog limit however long
        // the receiver takes; the next chunk is still read while this one is being worked on.
        if (m_backlog.fetch_sub(taken) >= kOutputBacklogLimit) {
            signalEventFd(m_wakeFd);  // reading was paused; let it resume
        }
    }
    {
        std::lock_guard lock(m_outputMutex);
        if (!m_offered.isEmpty() || !m_outputChunks.empty()) {
            postOffer();  // behind whatever else waits for the main thread
            return;
        }
        m_offerPosted = false;
    }
    if (m_heldCompletion) {
        callbacks.completion(*std::exchange(m_heldCompletion, std::nullopt));
    }
}

bool PTYTransport::Core::holdCompletion(int status) {
    std::lock_guard lock(m_outputMutex);
    if (!m_offerPosted) {
        return false;
    }
    m_heldCompletion = status;
    return true;
}

PTYTransport::PTYTransport(int descriptor, int child, Output output, Completion completion)
    : m_core(std::make_shared<Core>(descriptor, child, std::move(output), std::move(completion))) {
    MainThreadQueue::instance().open();
    m_thread = std::thread([core = m_core] { core->run(); });
}

PTYTransport::~PTYTransport() {
    m_core->requestQuit();
    // A child still running is left to the thread, which holds the core, reaps the child when
    // it ends and then ends itself.
    if (m_thread.get_id() == std::this_thread::get_id() || !m_core->childReaped()) {
        m_thread.detach();
    } else {
        m_thread.join();
    }
}

void PTYTransport::send(QByteArray bytes) {
    m_core->post([core = m_core.get(), bytes = std::move(bytes)] { core->queueInput(bytes); });
}

void PTYTransport::resize(int rows, int columns) {
    m_core->post([core = m_core.get(), rows, columns] { core->resizeTerminal(rows, columns); });
}

void PTYTransport::stop(int child) {
    std::mutex mutex;
    std::condition_variable condition;
    bool done = false;
    const bool queued = m_core->post([&, core = m_core.get()] {
        core->signalGroups(child);
        std::lock_guard lock(mutex);
        done = true;
        condition.notify_one();
    });
    if (!queued) {
        // The I/O thread has ended (descriptor closed, completion delivered): only the
        // child's group is left to signal, and that needs no hop.
        m_core->signalGroups(child);
        return;
    }
    std::unique_lock lock(mutex);
    condition.wait(lock, [&] { return done; });
}

void PTYTransport::close() {
    m_core->post([core = m_core.get()] { core->closeDescriptor(); });
}
