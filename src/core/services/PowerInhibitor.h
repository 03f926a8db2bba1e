#pragma once

#include <QString>

// Keeps the computer from sleeping while held. On Linux this is a systemd-logind
// "idle:sleep" block inhibitor; the returned descriptor is the assertion, and closing it
// releases the block.
class PowerInhibitor {
public:
    virtual ~PowerInhibitor() = default;
    // A handle >= 0 on success, -1 when no assertion could be taken (no login manager).
    virtual int acquire(const QString& reason) = 0;
    virtual void release(int handle) = 0;
};
