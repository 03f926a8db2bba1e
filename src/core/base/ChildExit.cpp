#include "core/base/ChildExit.h"

#include <QDeadlineTimer>

#include <cerrno>

#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

// Reaps `pid` if it has exited; -1 as status when another waiter already did.
std::optional<int> reapIfDone(pid_t pid) {
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(pid, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == pid) {
        return status;
    }
    if (result < 0) {
        return -1;
    }
    return std::nullopt;
}

}  // namespace

namespace ChildExit {

int openDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
    // pidfd descriptors are always close-on-exec.
    return int(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

std::optional<int> waitFor(pid_t pid, int timeoutMs) {
    const QDeadlineTimer deadline =
        timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeoutMs);
    if (const int fd = openDescriptor(pid); fd >= 0) {
        pollfd exited{fd, POLLIN, 0};
        int ready;
        do {
            const qint64 remaining = deadline.remainingTime();
            ready =
                ::poll(&exited, 1, remaining < 0 ? -1 : int(std::min<qint64>(remaining, 1 << 30)));
        } while (ready < 0 && errno == EINTR);
        ::close(fd);
        return reapIfDone(pid);
    }
    // No pidfd (an old kernel, or the child is already gone): check in short steps.
    constexpr timespec kStep{0, 20'000'000};
    for (;;) {
        if (auto status = reapIfDone(pid)) {
            return status;
        }
        if (deadline.hasExpired()) {
            return std::nullopt;
        }
        ::nanosleep(&kStep, nullptr);
    }
}

}  // namespace ChildExit
