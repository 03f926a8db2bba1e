// Shared by the benchmarks that measure how long the main thread is kept from its event loop.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <ctime>

// Processor time of the calling thread, in milliseconds.
inline double threadCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// A 1 ms timer on the main thread. Between two ticks it measures the wall-clock gap (what the
// user feels) and the main thread's own processor time (its work, without the time the machine
// gave to other programs).
class StallMeter {
public:
    StallMeter() {
        m_ticker.setTimerType(Qt::PreciseTimer);
        m_ticker.setInterval(1);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] {
            m_longestGapNs = std::max(m_longestGapNs, m_sinceTick.nsecsElapsed());
            m_sinceTick.restart();
            const double cpu = threadCpuMilliseconds();
            m_longestWorkMs = std::max(m_longestWorkMs, cpu - m_cpuAtTick);
            m_cpuAtTick = cpu;
        });
    }

    void start() {
        m_sinceTick.start();
        m_cpuAtTick = threadCpuMilliseconds();
        m_ticker.start();
    }
    void stop() { m_ticker.stop(); }

    double longestGapMs() const { return double(m_longestGapNs) / 1e6; }
    double longestWorkMs() const { return m_longestWorkMs; }

private:
    QTimer m_ticker;
    QElapsedTimer m_sinceTick;
    qint64 m_longestGapNs = 0;
    double m_cpuAtTick = 0;
    double m_longestWorkMs = 0;
};
