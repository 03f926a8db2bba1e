#include "core/runs/RunSaveQueue.h"

#include "core/base/Background.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

struct RunSaveQueue::State {
    struct Waiting {
        TeamRun run;
        Failure failed;
    };

    explicit State(Writer write) : write(std::move(write)) {}

    // Writes the record at the front, with the lock held on entry and on return but not
    // while writing. Only called while no other record is being written.
    void writeNext(std::unique_lock<std::mutex>& lock) {
        const QUuid id = order.front();
        order.pop_front();
        const auto found = waiting.find(id);
        Waiting next = std::move(found->second);
        waiting.erase(found);
        writing = true;
        lock.unlock();
        const Result<void> written = write(next.run);
        if (!written && next.failed) {
            next.failed(written.error());
        }
        lock.lock();
        writing = false;
        idle.notify_all();
    }

    // Writes until the queue is empty, taking turns with any thread in wait().
    void drain(std::unique_lock<std::mutex>& lock) {
        for (;;) {
            idle.wait(lock, [this] { return !writing; });
            if (order.empty()) {
                return;
            }
            writeNext(lock);
        }
    }

    const Writer write;
    std::mutex mutex;
    std::condition_variable idle;  // signalled whenever a write ends
    std::deque<QUuid> order;       // the runs waiting, oldest first, each once
    std::map<QUuid, Waiting> waiting;
    bool writing = false;
    bool jobStarted = false;  // a background job is draining or about to
};

RunSaveQueue::RunSaveQueue(Writer writer) : m_state(std::make_shared<State>(std::move(writer))) {}

RunSaveQueue::~RunSaveQueue() {
    wait();
}

void RunSaveQueue::save(const TeamRun& run, Failure failed) {
    std::unique_lock lock(m_state->mutex);
    const auto [at, added] = m_state->waiting.insert_or_assign(run.id, State::Waiting{run, failed});
    if (added) {
        m_state->order.push_back(run.id);
    }
    if (m_state->jobStarted) {
        return;
    }
    m_state->jobStarted = true;
    lock.unlock();
    Background::start([state = m_state] {
        std::unique_lock drained(state->mutex);
        state->drain(drained);
        state->jobStarted = false;
    });
}

void RunSaveQueue::wait() {
    std::unique_lock lock(m_state->mutex);
    m_state->drain(lock);
}
