#pragma once

#include <QDateTime>
#include <QString>

#include <deque>

/// A notification or bell from the program in a terminal.
struct TerminalEvent {
    enum class Kind { Notification, Bell };
    Kind kind = Kind::Bell;
    QString title;
    QString body;
    QDateTime timestamp;
};

/// The latest events of one terminal: at most kCapacity kept (the oldest dropped), and at
/// most kRateLimit recorded within any kRateWindowMs, so a program flooding notifications
/// or bells costs little; the rest are dropped.
class TerminalEventLog {
public:
    static constexpr int kCapacity = 32;
    static constexpr int kRateLimit = 10;
    static constexpr qint64 kRateWindowMs = 1000;

    /// Records `event` unless the rate limit is reached at `nowMs`, a monotonic clock in
    /// milliseconds; returns whether it was recorded. An event without a timestamp is given
    /// the current time once it is recorded (a flood of dropped events never reads the clock).
    bool add(TerminalEvent event, qint64 nowMs);
    /// Oldest first.
    const std::deque<TerminalEvent>& events() const { return m_events; }

private:
    std::deque<TerminalEvent> m_events;
    std::deque<qint64> m_recordedAt;  // times of the latest kRateLimit events recorded
};
