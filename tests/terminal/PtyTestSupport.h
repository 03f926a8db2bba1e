#pragma once

#include <QByteArray>
#include <QString>

#include <set>

// Helpers shared by the terminal process tests.
namespace pty_testing {

// Open descriptors of this process (the entries of /proc/self/fd).
std::set<int> openDescriptors();

// Process ids of this process's children, live or zombie (ended, not yet reaped), or only
// the zombies.
std::set<int> children(bool zombiesOnly = false);

// True while `pid` names a process that has not ended (a zombie counts as ended).
bool processAlive(int pid);

// The integer printed after `prefix` in `text` (up to the next non-digit), or -1.
int numberAfter(const QByteArray& text, const QByteArray& prefix);

}  // namespace pty_testing
