#pragma once

#include "core/services/PowerInhibitor.h"

#include <QDBusConnection>
#include <QSet>

// Blocks idle sleep through systemd-logind: Manager.Inhibit("idle:sleep", who, why, "block")
// hands back a file descriptor, and the block lasts until every copy of it is closed. The
// bus is the system bus in the application; tests pass a private bus on which they register
// a fake login manager.
class LogindInhibitor : public PowerInhibitor {
public:
    static constexpr int kDefaultTimeoutMs = 1000;

    explicit LogindInhibitor(QDBusConnection bus = QDBusConnection::systemBus(),
                             int timeoutMs = kDefaultTimeoutMs);
    ~LogindInhibitor() override;  // closes the descriptors still held

    LogindInhibitor(const LogindInhibitor&) = delete;
    LogindInhibitor& operator=(const LogindInhibitor&) = delete;

    // The inhibitor descriptor (close-on-exec, so terminals started later do not inherit the
    // block), or -1 when no login manager answered within the time-out.
    int acquire(const QString& reason) override;
    // Closes a descriptor returned by acquire; any other number is ignored.
    void release(int handle) override;

    int heldCount() const { return int(m_held.size()); }

private:
    QDBusConnection m_bus;
    int m_timeoutMs;
    QSet<int> m_held;
};
