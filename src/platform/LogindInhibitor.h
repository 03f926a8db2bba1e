#pragma once

#include "core/services/PowerInhibitor.h"

#include <QDBusConnection>
#include <QSet>

#include <optional>

// Blocks idle sleep through systemd-logind: Manager.Inhibit("idle:sleep", who, why, "block")
// hands back a file descriptor, and the block lasts until every copy of it is closed. The
// application's inhibitor connects to the system bus at its first acquire, so that starting
// up never waits for that connection; tests pass a private bus on which they register a fake
// login manager.
class LogindInhibitor : public PowerInhibitor {
public:
    static constexpr int kDefaultTimeoutMs = 1000;

    explicit LogindInhibitor(int timeoutMs = kDefaultTimeoutMs);
    explicit LogindInhibitor(QDBusConnection bus, int timeoutMs = kDefaultTimeoutMs);
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
    std::optional<QDBusConnection> m_bus;  // unset until the first acquire connects
    int m_timeoutMs;
    QSet<int> m_held;
};
