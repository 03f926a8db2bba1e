#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

#include <chrono>
#include <functional>

#include <sys/resource.h>

namespace testing_support {

// Runs the event loop until the predicate holds or the time-out passes; returns the
// predicate's last value.
bool waitUntil(const std::function<bool()>& predicate,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Runs the event loop for a while.
void processEventsFor(std::chrono::milliseconds duration);

// Folder of the fake assistant command-line tools used by the tests.
QString fixturesBin();

// Writes a file (creating folders); returns false on failure.
bool writeFile(const QString& path, const QByteArray& contents);
QByteArray readFile(const QString& path);

// Sets an environment variable for the life of the object, then restores the former value
// (or unsets it again).
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const QByteArray& value)
        : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_former(qgetenv(name)) {
        qputenv(name, value);
    }
    ~ScopedEnvironment() {
        if (m_wasSet) {
            qputenv(m_name, m_former);
        } else {
            qunsetenv(m_name);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* m_name;
    bool m_wasSet;
    QByteArray m_former;
};

// The lowest descriptor number now free: a descriptor limit at it lets no new one open.
int lowestFreeDescriptor();

// Lowers the soft limit of open descriptors for the life of the object.
class DescriptorLimit {
public:
    explicit DescriptorLimit(rlim_t limit);
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &m_saved); }
    DescriptorLimit(const DescriptorLimit&) = delete;
    DescriptorLimit& operator=(const DescriptorLimit&) = delete;

private:
    rlimit m_saved{};
};

}  // namespace testing_support
