// Start-up and idle cost of the whole application on an X display, next to a bare Qt Widgets
// window (this program started with --bare-window) and xterm where it is installed.
//
// Start-up: from fork() to the MapNotify of the program's main window, seen by an X client
// that listens on the root window; warm (the program ran just before) and, where the page
// cache may be dropped (root), cold (the median of --cold-runs, 5 unless given). The programs
// start in turns, and each line gives its ratio to the bare window's median. Idle: processor
// time and wake-ups (context switches of all threads) over 10 s, starting 12 s after the window
// mapped and without any input, so that blinking carets and cursors have stopped.
//
// Uses $DISPLAY when set, else starts its own Xvfb; starts one private D-Bus session bus for
// every program. Usage: velk-bench-desktop [--runs N] [--cold-runs N] [--idle-seconds S]
// [--velk PROGRAM]
// (another VELK executable, an earlier build for instance, instead of this build's)
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Program {
    std::string label;
    std::vector<std::string> argv;
    std::vector<std::string> environment;  // NAME=value added to ours
    std::string windowName;                // WM_NAME of the window whose mapping counts
};

pid_t launch(const Program& program) {
    const pid_t pid = fork();
    if (pid == 0) {
        for (const std::string& entry : program.environment) {
            putenv(strdup(entry.c_str()));
        }
        std::vector<char*> argv;
        for (const std::string& arg : program.argv) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        const int null = ::open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

void stop(pid_t pid) {
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

std::string windowName(xcb_connection_t* connection, xcb_window_t window) {
    xcb_get_property_cookie_t cookie = xcb_get_property(connection, 0, window, XCB_ATOM_WM_NAME,
                                                        XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
    if (!reply) {
        return {};
    }
    std::string name(static_cast<const char*>(xcb_get_property_value(reply)),
                     std::size_t(xcb_get_property_value_length(reply)));
    free(reply);
    return name;
}

// Starts the program and waits for its window to map; the milliseconds from fork() to the
// mapping, or nothing after 20 s. The program keeps running (its pid is stored).
std::optional<double> startAndWaitForMap(const Program& program, pid_t& pid) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    for (int attempt = 0; xcb_connection_has_error(connection) && attempt < 100; ++attempt) {
        // A display started a moment ago may not accept clients yet.
        xcb_disconnect(connection);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        connection = xcb_connect(nullptr, nullptr);
    }
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "cannot connect to the X display\n");
        std::exit(1);
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);

    const Clock::time_point started = Clock::now();
    pid = launch(program);
    std::optional<double> mappedAfter;
    const Clock::time_point deadline = started + std::chrono::seconds(20);
    pollfd descriptor{xcb_get_file_descriptor(connection), POLLIN, 0};
    while (!mappedAfter && Clock::now() < deadline) {
        xcb_generic_event_t* event = xcb_poll_for_event(connection);
        if (!event) {
            poll(&descriptor, 1, 100);
            continue;
        }
        if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
            const Clock::time_point seen = Clock::now();
            auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
            if (windowName(connection, map->window) == program.windowName) {
                mappedAfter = std::chrono::duration<double, std::milli>(seen - started).count();
            }
        }
        free(event);
    }
    xcb_disconnect(connection);
    return mappedAfter;
}

// Processor time and context switches of a process's live threads. The time comes from the
// scheduler's own count in nanoseconds: the tick-sampled utime and stime move in steps of 10 ms,
// a tenth of the whole idle budget over ten seconds.
struct Usage {
    double cpuSeconds = 0;
    double switches = 0;
};

Usage usageOf(pid_t pid) {
    Usage usage;
    const QString base = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(base + u'/' + task + QStringLiteral("/status"));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.contains("ctxt_switches:")) {
                    usage.switches += line.split(':').last().trimmed().toDouble();
                }
            }
        }
        // The first field is the time spent running, in nanoseconds.
        QFile schedstat(base + u'/' + task + QStringLiteral("/schedstat"));
        if (schedstat.open(QIODevice::ReadOnly)) {
            usage.cpuSeconds += schedstat.readAll().split(' ').first().toDouble() / 1e9;
        }
    }
    return usage;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

bool dropPageCache() {
    sync();
    QFile drop(QStringLiteral("/proc/sys/vm/drop_caches"));
    return drop.open(QIODevice::WriteOnly) && drop.write("3\n") == 2;
}

struct Startups {
    std::vector<double> warm;
    std::vector<double> cold;  // empty where the page cache cannot be dropped
};

// Every program's start-ups, taken in turns run by run: a slow spell of this shared machine
// then falls on all of them alike instead of on whichever was being measured, and their
// ratios hold still between runs. A short pause after each stop lets the display and the
// bus finish with the program that left. Nothing for a program whose window never mapped.
std::vector<std::optional<Startups>> measureStartups(const std::vector<Program>& programs, int runs,
                                                     int coldRuns) {
    std::vector<std::optional<Startups>> startups;
    for (const Program& program : programs) {
        pid_t pid = 0;
        // The first run prepares what a first start creates, and is not counted. It stays
        // open as long as a short session would, so that what is saved a few seconds in
        // (VELK's icon drawings) is there for the runs that count, as it is for a user's next
        // start.
        const bool mapped = startAndWaitForMap(program, pid).has_value();
        if (mapped) {
            std::this_thread::sleep_for(std::chrono::seconds(8));
        }
        stop(pid);
        startups.push_back(mapped ? std::optional<Startups>(Startups{}) : std::nullopt);
    }
    auto startEach = [&](bool cold) {
        for (std::size_t i = 0; i < programs.size(); ++i) {
            if (!startups[i] || (cold && !dropPageCache())) {
                continue;
            }
            pid_t pid = 0;
            if (const std::optional<double> ms = startAndWaitForMap(programs[i], pid)) {
                (cold ? startups[i]->cold : startups[i]->warm).push_back(*ms);
            }
            stop(pid);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    };
    for (int run = 0; run < runs; ++run) {
        startEach(false);
    }
    // A cold start reads from the disk, whose timing varies more than the processor's: the
    // median of several.
    for (int run = 0; run < coldRuns; ++run) {
        startEach(true);
    }
    return startups;
}

// "median 35 ms (best 31, 11 runs, 1.84x)": the ratio to the reference's median, if given.
std::string describe(const std::vector<double>& times, const std::vector<double>* reference) {
    if (times.empty()) {
        return "n/a (page cache cannot be dropped here)";
    }
    char text[128];
    int length =
        std::snprintf(text, sizeof text, "median %.0f ms (best %.0f, %d runs", median(times),
                      *std::min_element(times.begin(), times.end()), int(times.size()));
    if (reference && !reference->empty()) {
        length += std::snprintf(text + length, sizeof text - std::size_t(length), ", %.2fx",
                                median(times) / median(*reference));
    }
    std::snprintf(text + length, sizeof text - std::size_t(length), ")");
    return text;
}

void measureIdle(const Program& program, int idleSeconds) {
    pid_t pid = 0;
    startAndWaitForMap(program, pid);
    std::this_thread::sleep_for(std::chrono::seconds(12));
    const Usage before = usageOf(pid);
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const Usage after = usageOf(pid);
    stop(pid);
    std::printf("%-34s idle: %.3f %% CPU, %.1f wake-ups/s\n", program.label.c_str(),
                (after.cpuSeconds - before.cpuSeconds) / idleSeconds * 100.0,
                (after.switches - before.switches) / idleSeconds);
}

// Start-ups of all programs first, each line with its ratio to the first program's, then
// each program's idle cost.
void measure(const std::vector<Program>& programs, int runs, int coldRuns, int idleSeconds) {
    const std::vector<std::optional<Startups>> startups = measureStartups(programs, runs, coldRuns);
    const Startups* reference = startups.front() ? &*startups.front() : nullptr;
    for (std::size_t i = 0; i < programs.size(); ++i) {
        if (!startups[i]) {
            std::printf("%-34s did not map a window named \"%s\"\n", programs[i].label.c_str(),
                        programs[i].windowName.c_str());
            continue;
        }
        const bool compared = reference && i > 0;
        std::printf("%-34s start to window mapped: warm %s, cold %s\n", programs[i].label.c_str(),
                    describe(startups[i]->warm, compared ? &reference->warm : nullptr).c_str(),
                    describe(startups[i]->cold, compared ? &reference->cold : nullptr).c_str());
    }
    for (std::size_t i = 0; i < programs.size(); ++i) {
        if (startups[i]) {
            measureIdle(programs[i], idleSeconds);
        }
    }
}

std::optional<pid_t> startPrivateDisplay() {
    if (qEnvironmentVariableIsSet("DISPLAY")) {
        return std::nullopt;
    }
    int number = 90;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))) {
        ++number;
    }
    char display[16];
    std::snprintf(display, sizeof display, ":%d", number);
    const pid_t pid = launch(
        {"Xvfb", {"Xvfb", display, "-screen", "0", "1920x1080x24", "-nolisten", "tcp"}, {}, {}});
    for (int i = 0; i < 100 && !QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number));
         ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    setenv("DISPLAY", display, 1);
    return pid;
}

std::optional<pid_t> startSessionBus() {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return std::nullopt;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address", nullptr);
        _exit(127);
    }
    close(pipeEnds[1]);
    char address[512] = {};
    const ssize_t read = ::read(pipeEnds[0], address, sizeof address - 1);
    close(pipeEnds[0]);
    if (read <= 0) {
        return std::nullopt;
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", QByteArray(address).trimmed().constData(), 1);
    return pid;
}

int bareWindow(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bare Qt window"));
    window.resize(1440, 900);
    window.show();
    return application.exec();
}

std::string writeVelkHome(const QString& folder, bool animatePet) {
    const QString config = folder + QStringLiteral("/config/Kelo AI");
    QDir().mkpath(config);
    // A runtime folder of its own keeps the single-instance socket apart from any other VELK
    // running for this user, which would otherwise be asked to show itself instead.
    QDir().mkpath(folder + QStringLiteral("/runtime"));
    QFile::setPermissions(folder + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile preferences(config + QStringLiteral("/VELK.conf"));
    if (preferences.open(QIODevice::WriteOnly)) {
        preferences.write(QByteArray("[General]\nkelo.pet.animate=") +
                          (animatePet ? "true" : "false") + "\n");
    }
    return folder.toStdString();
}

Program velk(const QString& home, bool animatePet, const std::string& program) {
    const std::string folder = writeVelkHome(home, animatePet);
    return {animatePet ? "VELK (pet animated)" : "VELK (pet still)",
            {program},
            {"HOME=" + folder, "XDG_CONFIG_HOME=" + folder + "/config",
             "XDG_DATA_HOME=" + folder + "/data", "XDG_CACHE_HOME=" + folder + "/cache",
             "XDG_RUNTIME_DIR=" + folder + "/runtime"},
            "VELK"};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--bare-window") == 0) {
        return bareWindow(argc, argv);
    }
    int runs = 11;  // warm starts per program; their median moves less than that of 5
    int coldRuns = 5;
    int idleSeconds = 10;
    std::string program = VELK_PROGRAM;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0) {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--cold-runs") == 0) {
            coldRuns = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--idle-seconds") == 0) {
            idleSeconds = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--velk") == 0) {
            program = argv[i + 1];
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    const std::optional<pid_t> display = startPrivateDisplay();
    const std::optional<pid_t> bus = startSessionBus();
    QTemporaryDir homes;

    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
        return 1;
    }
    std::vector<Program> programs = {
        {"bare Qt Widgets window", {self, "--bare-window"}, {}, "bare Qt window"}};
    if (!QStandardPaths::findExecutable(QStringLiteral("xterm")).isEmpty()) {
        programs.push_back({"xterm", {"xterm", "-T", "xterm"}, {}, "xterm"});
    } else {
        std::printf("%-34s not installed, skipped\n", "xterm");
    }
    programs.push_back(velk(homes.filePath(QStringLiteral("still")), false, program));
    programs.push_back(velk(homes.filePath(QStringLiteral("animated")), true, program));
    measure(programs, runs, coldRuns, idleSeconds);

    for (const std::optional<pid_t>& helper : {bus, display}) {
        if (helper) {
            stop(*helper);
        }
    }
    return 0;
}
