#include "terminal/Pty.h"

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
constexpr int kShellStatus = 127;

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
std::vector<std::string> childEnvironment() {
    std::vector<std::string> variables;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        if (text.starts_with("TERM=") || text.starts_with("COLORTERM=")) {
            continue;
        }
        variables.emplace_back(text);
    }
    variables.emplace_back("TERM=xterm-256color");
    variables.emplace_back("COLORTERM=truecolor");
    return variables;
}

void closeQuietly(int descriptor) {
    if (descriptor >= 0) {
        ::close(descriptor);
    }
}

}  // namespace

int32_t pty_spawn(const char* command, const char* directory, int32_t rows, int32_t columns,
                  int32_t* master) {
    // Everything the child needs is prepared here, in the parent.
    std::vector<std::string> environment = childEnvironment();
    std::vector<char*> environmentPointers;
    environmentPointers.reserve(environment.size() + 1);
    for (std::string& variable : environment) {
        environmentPointers.push_back(variable.data());
    }
    environmentPointers.push_back(nullptr);
    char shell[] = "/bin/zsh";
    char argument0[] = "zsh";
    char login[] = "-l";
    char commandFlag[] = "-c";
    std::string commandText(command);
    char* const arguments[] = {argument0, login, commandFlag, commandText.data(), nullptr};

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
        if (::chdir(directory) != 0) {
            [[maybe_unused]] const ssize_t written =
                ::write(STDERR_FILENO, kFolderMessage, sizeof(kFolderMessage) - 1);
            ::_exit(kFolderStatus);
        }
        ::execve(shell, arguments, environmentPointers.data());
        ::_exit(kShellStatus);
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
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}
