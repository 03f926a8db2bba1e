#include "core/terminal/TerminalEventLog.h"

bool TerminalEventLog::add(TerminalEvent event, qint64 nowMs) {
    if (int(m_recordedAt.size()) == kRateLimit) {
        if (nowMs - m_recordedAt.front() < kRateWindowMs) {
            return false;
        }
        m_recordedAt.pop_front();
    }
    m_recordedAt.push_back(nowMs);
    if (int(m_events.size()) == kCapacity) {
        m_events.pop_front();
    }
    if (!event.timestamp.isValid()) {
        event.timestamp = QDateTime::currentDateTime();
    }
    m_events.push_back(std::move(event));
    return true;
}
