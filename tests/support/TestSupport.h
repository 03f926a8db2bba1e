#pragma once

#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <functional>

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

}  // namespace testing_support
