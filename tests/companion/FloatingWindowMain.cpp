// Main of the floating-window tests: a display of their own (Xvfb) with the openbox window
// manager, started before the application object connects to it, so that stacking, focus
// and pointer events belong to these tests alone.
#include "platform/X11Windows.h"

#include <QApplication>
#include <QByteArray>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace {

pid_t spawn(const std::vector<std::string>& arguments, const posix_spawn_file_actions_t* actions) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], actions, nullptr, argv.data(), environ) != 0) {
        return 0;
    }
    return pid;
}

// Starts Xvfb on a display it picks itself and returns its number, or an empty text.
QByteArray startServer(pid_t& server) {
    int fds[2];
    if (pipe(fds) != 0) {
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    server = spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
                   &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    QByteArray number;
    char buffer[32];
    ssize_t count = 0;
    while (server && (count = read(fds[0], buffer, sizeof buffer)) != 0) {
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            break;
        }
        number.append(buffer, count);
        if (number.endsWith('\n')) {
            break;
        }
    }
    close(fds[0]);
    return number.trimmed();
}

void stop(pid_t pid) {
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    pid_t server = 0;
    pid_t windowManager = 0;
    bool ready = false;
    if (!QStandardPaths::findExecutable("Xvfb").isEmpty() &&
        !QStandardPaths::findExecutable("openbox").isEmpty()) {
        const QByteArray number = startServer(server);
        if (!number.isEmpty()) {
            qputenv("DISPLAY", ":" + number);
            // openbox now and then fails on a display that has just started; try again.
            for (int attempt = 0; attempt < 3 && !ready; ++attempt) {
                stop(windowManager);
                windowManager = spawn({"openbox", "--sm-disable"}, nullptr);
                for (int wait = 0; wait < 100 && !ready; ++wait) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    ready = X11Windows::windowManagerRunning();
                }
            }
        }
    }
    if (ready) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else {
        qputenv("VELK_NO_WINDOW_MANAGER", "1");
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int result = 0;
    {
        QApplication application(argc, argv);
        result = RUN_ALL_TESTS();
    }
    stop(windowManager);
    stop(server);
    return result;
}
