#pragma once

#include <QByteArray>
#include <QString>

#include <set>

// Helpers shared by the terminal process tests.
namespace pty_testing {

// Open descriptors of this process (the entries of /proc/self/fd).
std::set<int> openDescriptors();

// Process ids of this process's children that are zombies (ended, not yet reaped).
std::set<int> zombieChildren();

// Process ids of all live or zombie children of this process.
std::set<int> children();

// True while `pid` names a process that has not ended (a zombie counts as ended).
bool processAlive(int pid);

// The integer printed after `prefix` in `text` (up to the next non-digit), or -1.
int numberAfter(const QByteArray& text, const QByteArray& prefix);

}  // namespace pty_testing
