#pragma once

#include "core/terminal/SpawnRequest.h"

#include <cstdint>

// Process functions behind every terminal: start a command on a new pseudo-terminal, set
// the terminal's size, and wait for the child's end.
//
// Exit status convention used throughout the terminal code: the child's exit code (0 to
// 255) when it exited, 128 + the signal number when a signal ended it, 126 when the working
// folder could not be entered, 127 when the program could not start, -1 when the status
// could not be obtained.

/// Starts the request's program with its arguments in its folder on a new pseudo-terminal of
/// its rows x columns, as the leader of a new session whose controlling terminal is that
/// pseudo-terminal (so its process id is also its process group id). The child gets
/// VELK's own environment with TERM=xterm-256color and COLORTERM=truecolor, then the
/// request's variables.
///
/// On success stores the master descriptor (close-on-exec, non-blocking) in `master` and
/// returns the child's process id (>= 1). On failure returns a value below 1 and leaves the
/// reason in errno.
int32_t pty_spawn(const SpawnRequest& request, int32_t* master);

/// Sets the window size of the pseudo-terminal behind `descriptor`; the kernel tells the
/// foreground process group. Returns the result of the size-setting call (0 or -1).
int32_t pty_resize(int32_t descriptor, int32_t rows, int32_t columns);

/// The exit status (see above) of a wait status as waitpid reports it.
int32_t pty_status(int waitStatus);

/// Blocks until the child `pid` has ended and returns its exit status (see above). Retries
/// when a signal interrupts the wait. Never call it on the main thread.
int32_t pty_wait(int32_t pid);
