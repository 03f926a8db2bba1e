#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>
#include <memory>
#include <thread>

/// Owns the master side of one pseudo-terminal and moves bytes between it and VELK without
/// ever blocking the main thread.
///
/// Each transport has its own I/O thread (named "kelo.pty") that owns the descriptor and
/// all reads and writes; the public operations may be called from any thread and hop to it.
/// Output is read in passes of 16 KiB reads collected into chunks of up to about 1 MiB and
/// offered to the main thread in order. The receiver takes as much of a chunk as it can
/// handle in one go and the rest is offered again on a later pass of the event loop, so
/// a flood never holds the main thread for long. When the main thread falls behind by a few
/// chunks, reading pauses until it catches up, so a flood cannot grow memory without bound.
///
/// The same thread watches the child for its end through the kernel's process descriptor
/// (pidfd) among its other descriptors, or, on kernels without one, checks for it once a
/// second, and reaps it; no thread waits per child.
///
/// Completion (the child's exit status) is delivered exactly once, on the main thread, after the
/// last output byte has been taken and only once the descriptor is closed, so no output can follow
/// it. The descriptor closes on end of file, on a read error, on close(), or when the child's
/// status is known and what it left in the terminal has been drained (a background process that
/// keeps the terminal open does not delay completion).
///
/// Construct on the main thread, which must run a Qt event loop for the deliveries.
class PTYTransport {
public:
    /// Receives output on the main thread and returns how many of its leading bytes it took;
    /// the rest comes again, before any later output, on a later pass of the event loop.
    using Output = std::function<qsizetype(QByteArrayView chunk)>;
    using Completion = std::function<void(int status)>;

    /// Takes ownership of `descriptor` (a non-blocking master), starts reading at once and
    /// watches `child` (the process on the terminal, not reaped by anyone else) for its end.
    PTYTransport(int descriptor, int child, Output output, Completion completion);
    /// Closes the descriptor if still open (no completion is delivered after this). When the
    /// child has ended, waits for the I/O thread to end, which takes at most one bounded read
    /// pass; otherwise leaves the thread to reap the child once it ends, without waiting.
    ~PTYTransport();
    PTYTransport(const PTYTransport&) = delete;
    PTYTransport& operator=(const PTYTransport&) = delete;

    /// Queues input for the child; written in order, in pieces, as the terminal accepts it.
    /// Dropped once the descriptor is closed.
    void send(QByteArray bytes);
    /// Sets the pseudo-terminal's window size (ignored once closed).
    void resize(int rows, int columns);
    /// Sends the terminate signal to the terminal's foreground process group (when it
    /// differs from the child's) and to the child's process group `child`. Returns once the
    /// signals have been sent.
    void stop(int child);
    /// Closes the pseudo-terminal; pending input is dropped. Closing twice does nothing.
    void close();

    /// Output not yet taken by the main thread at which a transport pauses reading.
    static constexpr qsizetype kOutputBacklogLimit = 4 * 1024 * 1024;

private:
    class Core;
    std::shared_ptr<Core> m_core;
    std::thread m_thread;
};
