#include "PrivateDisplay.h"

#include "platform/LinuxDesktopServices.h"
#include "platform/X11Windows.h"

#include <QStandardPaths>

#include <chrono>
#include <csignal>
#include <functional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const PrivateDisplay* s_current = nullptr;

// There is no Qt event loop yet: these helpers block with plain sleeps.
bool pollUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return predicate();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Starts a program found on PATH; its standard output goes to `outputFd` (or /dev/null)
// and its standard error to /dev/null.
pid_t spawn(const std::vector<std::string>& arguments, int outputFd = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outputFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

bool exited(pid_t pid) {
    int status = 0;
    return pid <= 0 || ::waitpid(pid, &status, WNOHANG) == pid;
}

void stop(pid_t& pid) {
    if (pid <= 0) {
        return;
    }
    ::kill(pid, SIGTERM);
    if (!pollUntil([&] { return exited(pid); }, std::chrono::seconds(3))) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

}  // namespace

PrivateDisplay::PrivateDisplay() {
    start();
    if (ready()) {
        s_current = this;
    }
}

PrivateDisplay::~PrivateDisplay() {
    if (s_current == this) {
        s_current = nullptr;
    }
    stop(m_windowManager);
    stop(m_server);
}

const PrivateDisplay* PrivateDisplay::current() {
    return s_current;
}

void PrivateDisplay::start() {
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty()) {
        m_problem = QStringLiteral("needs Xvfb and openbox");
        return;
    }
    // Xvfb picks a free display itself and writes its number on the pipe.
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        m_problem = QStringLiteral("no pipe for Xvfb");
        return;
    }
    m_server = spawn({"Xvfb", "-displayfd", std::to_string(pipeFds[1]), "-screen", "0",
                      "1600x1000x24", "-nolisten", "tcp"},
                     -1);
    ::close(pipeFds[1]);
    std::string number;
    pollfd readable{pipeFds[0], POLLIN, 0};
    char buffer[16];
    while (m_server > 0 && number.find('\n') == std::string::npos &&
           ::poll(&readable, 1, 10000) > 0) {
        const ssize_t count = ::read(pipeFds[0], buffer, sizeof buffer);
        if (count <= 0) {
            break;
        }
        number.append(buffer, size_t(count));
    }
    ::close(pipeFds[0]);
    if (m_server <= 0 || number.empty() || number.back() != '\n') {
        m_problem = QStringLiteral("Xvfb did not start");
        return;
    }
    number.pop_back();
    m_name = QStringLiteral(":") + QString::fromStdString(number);
    qputenv("DISPLAY", m_name.toUtf8());
    if (!pollUntil([] { return x11WithXTestReachable(); }, std::chrono::seconds(10))) {
        m_problem = QStringLiteral("Xvfb %1 did not answer").arg(m_name);
        return;
    }
    // openbox now and then fails to open a display that has just started; try again.
    for (int attempt = 0; attempt < 3 && !X11Windows::windowManagerRunning(); ++attempt) {
        stop(m_windowManager);
        m_windowManager = spawn({"openbox", "--sm-disable"});
        pollUntil([this] { return X11Windows::windowManagerRunning() || exited(m_windowManager); },
                  std::chrono::seconds(10));
    }
    if (!X11Windows::windowManagerRunning()) {
        m_problem = QStringLiteral("openbox did not start on %1").arg(m_name);
    }
}
