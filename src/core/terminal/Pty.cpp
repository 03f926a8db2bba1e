#include "core/terminal/Pty.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr char kFolderMessage[] = "VELK: cannot open the selected working folder.\r\n";
static_assert(sizeof(kFolderMessage) - 1 == 48);

constexpr int kFolderStatus = 126;
constexpr int kProgramStatus = 127;

// The kernel stores window sizes as 16-bit values; anything outside is clamped rather than
// silently wrapped.
winsize windowSize(int32_t rows, int32_t columns) {
    winsize size{};
    size.ws_row = static_cast<unsigned short>(std::clamp<int32_t>(rows, 1, 0xFFFF));
    size.ws_col = static_cast<unsigned short>(std::clamp<int32_t>(columns, 1, 0xFFFF));
    return size;
}

// The child's environment, built before fork: between fork and exec the child of a
// multi-threaded process may only make async-signal-safe calls, and setenv is not one.
std::vector<std::string> childEnvironment(const QStringList& changes) {
    std::vector<std::string> assignments{"TERM=xterm-256color", "COLORTERM=truecolor"};
    for (const QString& change : changes) {
        if (change.indexOf(u'=') > 0) {  // anything else names no variable
            assignments.push_back(change.toStdString());
        }
    }
    // The name of an assignment with its '=', which is never part of a name.
    const auto nameOf = [](std::string_view assignment) {
        return assignment.substr(0, assignment.find('=') + 1);
    };
    std::vector<std::string> variables;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const bool replaced = std::any_of(
            assignments.begin(), assignments.end(),
            [&](const std::string& assignment) { return nameOf(assignment) == nameOf(text); });
        if (!replaced) {
            variables.emplace_back(text);
        }
    }
    // Later assignments of one name win over earlier ones.
    for (auto it = assignments.begin(); it != assignments.end(); ++it) {
        const bool overridden =
            std::any_of(it + 1, assignments.end(),
                        [&](const std::string& later) { return nameOf(later) == nameOf(*it); });
        if (!overridden) {
            variables.push_back(*it);
        }
    }
    return variables;
}

// Pointers to the strings, ending in the null pointer execve expects.
std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (std::string& text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

void closeQuietly(int descriptor) {
    if (descriptor >= 0) {
        ::close(descriptor);
    }
}

}  // namespace

int32_t pty_spawn(const SpawnRequest& request, int32_t* master) {
    // Everything the child needs is prepared here, in the parent.
    std::vector<std::string> environment = childEnvironment(request.environment);
    const std::vector<char*> environmentPointers = pointersTo(environment);
    const std::string program = request.program.toStdString();
    std::vector<std::string> argumentTexts;
    for (const QString& argument : request.arguments) {
        argumentTexts.push_back(argument.toStdString());
    }
    const std::vector<char*> arguments = pointersTo(argumentTexts);
    const std::string directory = request.directory.toStdString();
    const int32_t rows = request.rows;
    const int32_t columns = request.columns;

    // Both sides are opened close-on-exec from the start: another thread that forks at the
    // same moment (any process launcher) must not inherit this terminal, or the session
    // would never see the end of its output.
    const int masterDescriptor = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (masterDescriptor < 0) {
        return -1;
    }
    char slaveName[128];
    if (::grantpt(masterDescriptor) != 0 || ::unlockpt(masterDescriptor) != 0 ||
        ::ptsname_r(masterDescriptor, slaveName, sizeof slaveName) != 0) {
        const int error = errno;
        closeQuietly(masterDescriptor);
        errno = error;
        return -1;
    }
    const int slave = ::open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        const int error = errno;
        closeQuietly(masterDescriptor);
        errno = error;
        return -1;
    }
    const winsize size = windowSize(rows, columns);
    ::ioctl(slave, TIOCSWINSZ, &size);

    // The child closes its end of this pipe once it leads its own session and process
    // group; the parent waits for that, so a stop right after the start cannot signal a
    // group that does not exist yet and miss the child.
    int started[2] = {-1, -1};
    if (::pipe2(started, O_CLOEXEC) != 0) {
        const int error = errno;
        closeQuietly(slave);
        closeQuietly(masterDescriptor);
        errno = error;
        return -1;
    }

    const pid_t pid = ::fork();
    if (pid < 0) {
        const int error = errno;
        closeQuietly(started[0]);
        closeQuietly(started[1]);
        closeQuietly(slave);
        closeQuietly(masterDescriptor);
        errno = error;
        return pid;
    }
    if (pid == 0) {
        // Child: only async-signal-safe calls from here on.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::setsid();
        ::ioctl(slave, TIOCSCTTY, 0);
        ::close(started[1]);
        ::dup2(slave, STDIN_FILENO);
        ::dup2(slave, STDOUT_FILENO);
        ::dup2(slave, STDERR_FILENO);
        if (slave > STDERR_FILENO) {
            ::close(slave);
        }
        if (::chdir(directory.c_str()) != 0) {
            [[maybe_unused]] const ssize_t written =
                ::write(STDERR_FILENO, kFolderMessage, sizeof(kFolderMessage) - 1);
            ::_exit(kFolderStatus);
        }
        ::execve(program.c_str(), arguments.data(), environmentPointers.data());
        ::_exit(kProgramStatus);
    }

    // Parent: the slave side belongs to the child alone, otherwise the end of the child's
    // output would never show on the master.
    ::close(slave);
    ::close(started[1]);
    char ignored = 0;
    while (::read(started[0], &ignored, 1) < 0 && errno == EINTR) {
    }
    ::close(started[0]);
    ::fcntl(masterDescriptor, F_SETFD, ::fcntl(masterDescriptor, F_GETFD) | FD_CLOEXEC);
    ::fcntl(masterDescriptor, F_SETFL, ::fcntl(masterDescriptor, F_GETFL) | O_NONBLOCK);
    *master = masterDescriptor;
    return pid;
}

int32_t pty_resize(int32_t descriptor, int32_t rows, int32_t columns) {
    const winsize size = windowSize(rows, columns);
    return ::ioctl(descriptor, TIOCSWINSZ, &size);
}

int32_t pty_wait(int32_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return pty_status(status);
}

int32_t pty_status(int waitStatus) {
    if (WIFEXITED(waitStatus)) {
        return WEXITSTATUS(waitStatus);
    }
    if (WIFSIGNALED(waitStatus)) {
        return 128 + WTERMSIG(waitStatus);
    }
    return -1;
}
