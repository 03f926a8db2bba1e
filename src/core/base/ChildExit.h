#pragma once

#include <optional>

#include <sys/types.h>

// Waiting for a child process to end without a thread per child and without polling: the
// kernel hands out a descriptor per process (pidfd) that becomes readable when it exits, which
// an I/O thread can watch among its other descriptors or a caller can wait on with a time-out.
namespace ChildExit {

// A close-on-exec descriptor that becomes readable when `pid` exits, or -1 where the kernel
// has none (Linux before 5.3). The caller closes it.
int openDescriptor(pid_t pid);

// Reaps `pid` once it has exited, waiting at most `timeoutMs` (-1: without limit). The wait
// status (as waitpid gives it), or nothing when the child still runs after the time-out.
// A child already reaped elsewhere gives -1.
std::optional<int> waitFor(pid_t pid, int timeoutMs);

}  // namespace ChildExit
