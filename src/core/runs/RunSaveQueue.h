#pragma once

#include "core/base/Result.h"
#include "core/runs/TeamRun.h"

#include <functional>
#include <memory>

// Writes run records off the caller's thread, one at a time, in the order they were asked
// for. A record written with an fsync can take tens of milliseconds, too long for the main
// thread, yet two saves of one run must never land out of order: the older state would
// overwrite the newer. So there is one writer at a time taking records from the front of one
// queue; a save of a run that is still waiting replaces the waiting record in its place (only
// the newest state of a run is worth writing), while a save of a run whose record is being
// written right now waits behind it.
//
// Thread-safe. Writes run on a background job, or on a thread waiting in wait(), whichever
// takes the next record first; `failed` is called on that thread.
class RunSaveQueue {
public:
    using Writer = std::function<Result<void>(const TeamRun&)>;
    using Failure = std::function<void(const Error&)>;

    explicit RunSaveQueue(Writer writer);
    // Waits for every record queued.
    ~RunSaveQueue();
    RunSaveQueue(const RunSaveQueue&) = delete;
    RunSaveQueue& operator=(const RunSaveQueue&) = delete;

    // Queues `run`'s record; `failed`, when given, learns why it could not be written.
    void save(const TeamRun& run, Failure failed = {});
    // Returns once every record queued before the call has been written (or failed). Helps
    // by writing waiting records itself, so it never depends on a free background thread.
    void wait();

private:
    struct State;
    std::shared_ptr<State> m_state;
};
