// velk-bench-pty: end-to-end terminal throughput. Each corpus of the screen benchmark is
// written to a file and `cat` through a real pseudo-terminal three ways, in the same run:
//   velk  a headless TerminalSession (zsh -l -c, transport, screen), timed from start() to
//         onFinish;
//   tmux  a detached 80x24 tmux pane running the same cat, timed to its completion;
//   bare  a bare read loop on the master (poll + 16 KiB reads, bytes thrown away): what the
//         pseudo-terminal itself can carry.
// Then a session takes three floods of 64 MiB (the first corpus repeated, REP of a screenful,
// erase-display) while a 1 ms timer on the main thread records the longest gap between its
// ticks: the longest main-thread stall, and the most processor time the main thread spent
// between two ticks (its own work: a loaded machine stretches the gaps with other programs'
// time); tmux takes the same floods for comparison.
//
// Each figure is the best of VELK_BENCH_REPEAT runs (default 5), which keeps other load on
// the machine out of the comparison as far as possible. VELK_BENCH_CORPUS_MIB sets the
// corpus size (default 32); VELK_BENCH_CORPORA limits the run to the named corpora
// (comma-separated).
#include "ScreenCorpus.h"
#include "StallMeter.h"

#include "core/assistants/Provider.h"
#include "core/terminal/Pty.h"
#include "core/terminal/TerminalSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>

#include <poll.h>
#include <unistd.h>

namespace {

QByteArray shellQuoted(const QString& text) {
    QByteArray quoted = text.toUtf8();
    quoted.replace("'", "'\\''");
    return "'" + quoted + "'";
}

// Seconds from start() to onFinish of a session running `command`; nothing on failure.
std::optional<double> timeSession(const QString& command, const QString& folder,
                                  const std::function<void()>& whileRunning = {}) {
    auto session = TerminalSession::create(QStringLiteral("shell"), QStringLiteral("bench"),
                                           command, shellSpawnRequest(command, folder));
    QEventLoop loop;
    bool finished = false;
    session->setOnFinish([&](TerminalSession&) {
        finished = true;
        loop.quit();
    });
    QElapsedTimer timer;
    timer.start();
    session->start();
    if (whileRunning) {
        whileRunning();
    }
    if (!finished) {
        loop.exec();
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (session->exitCode() != 0) {
        std::fprintf(stderr, "session ended with %d\n", session->exitCode().value_or(-2));
        return std::nullopt;
    }
    return seconds;
}

// Seconds for a bare read loop to drain a child running `command` on a pseudo-terminal.
std::optional<double> timeBareLoop(const QString& command, const QString& folder) {
    QElapsedTimer timer;
    timer.start();
    int master = -1;
    const int pid = pty_spawn(shellSpawnRequest(command, folder), &master);
    if (pid < 1) {
        return std::nullopt;
    }
    char buffer[16384];
    for (;;) {
        pollfd descriptor{master, POLLIN, 0};
        if (::poll(&descriptor, 1, -1) < 0 && errno != EINTR) {
            break;
        }
        const ssize_t count = ::read(master, buffer, sizeof buffer);
        if (count > 0 || (count < 0 && (errno == EINTR || errno == EAGAIN))) {
            continue;
        }
        break;  // end of file or EIO: the child side is gone
    }
    ::close(master);
    const int status = pty_wait(pid);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    return status == 0 ? std::optional<double>(seconds) : std::nullopt;
}

int runQuietly(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit) {
        return -1;
    }
    return process.exitCode();
}

// Seconds for a detached 80x24 tmux pane to run `command` to its end, or nothing when tmux
// is missing or fails. The server is started beforehand with an idle session (so its start
// is not counted, and it outlives the pane); the pane signals a wait-for channel at its end.
std::optional<double> timeTmux(const QString& tmux, const QString& command) {
    const QStringList server = {
        QStringLiteral("-L"),
        QStringLiteral("velk-bench-%1").arg(QCoreApplication::applicationPid()),
        QStringLiteral("-f"), QStringLiteral("/dev/null")};
    if (runQuietly(tmux, server + QStringList{QStringLiteral("new-session"), QStringLiteral("-d"),
                                              QStringLiteral("-s"), QStringLiteral("idle"),
                                              QStringLiteral("sleep 3600")}) != 0) {
        return std::nullopt;
    }
    const QString paneCommand =
        command + QStringLiteral("; tmux -L velk-bench-%1 wait-for -S velk-bench-done")
                      .arg(QCoreApplication::applicationPid());
    QElapsedTimer timer;
    timer.start();
    const int started = runQuietly(
        tmux, server + QStringList{QStringLiteral("new-session"), QStringLiteral("-d"),
                                   QStringLiteral("-x"), QStringLiteral("80"), QStringLiteral("-y"),
                                   QStringLiteral("24"), paneCommand});
    const int waited =
        started == 0 ? runQuietly(tmux, server + QStringList{QStringLiteral("wait-for"),
                                                             QStringLiteral("velk-bench-done")})
                     : -1;
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    runQuietly(tmux, server + QStringList{QStringLiteral("kill-server")});
    return waited == 0 ? std::optional<double>(seconds) : std::nullopt;
}

// Keeps the shortest timing; a failed run makes the figure "n/a".
struct Best {
    std::optional<double> seconds;
    bool failed = false;
    void add(std::optional<double> measured) {
        failed |= !measured;
        if (measured && (!seconds || *measured < *seconds)) {
            seconds = measured;
        }
    }
    std::optional<double> value() const { return failed ? std::nullopt : seconds; }
};

QString rate(qsizetype bytes, std::optional<double> seconds) {
    return seconds ? QString::number(double(bytes) / 1e6 / *seconds, 'f', 1)
                   : QStringLiteral("n/a");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qsizetype mebibytes = 32;
    if (const char* value = std::getenv("VELK_BENCH_CORPUS_MIB")) {
        mebibytes = std::max(1, std::atoi(value));
    }
    int repeat = 5;
    if (const char* value = std::getenv("VELK_BENCH_REPEAT")) {
        repeat = std::max(1, std::atoi(value));
    }
    const QStringList selected =
        qEnvironmentVariable("VELK_BENCH_CORPORA").split(QLatin1Char(','), Qt::SkipEmptyParts);
    QTemporaryDir folder;
    const QString tmux = QStandardPaths::findExecutable(QStringLiteral("tmux"));
    const std::vector<ScreenCorpus> corpora = buildScreenCorpora(mebibytes * 1024 * 1024);

    std::printf("%-10s %10s %12s %12s %12s %10s %10s\n", "corpus", "MiB", "velk MB/s", "tmux MB/s",
                "bare MB/s", "velk/tmux", "velk/bare");
    for (const ScreenCorpus& corpus : corpora) {
        if (!selected.isEmpty() && !selected.contains(corpus.name)) {
            continue;
        }
        const QString path = folder.filePath(corpus.name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(corpus.bytes) != corpus.bytes.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        file.close();
        const QString command = QStringLiteral("cat ") + QString::fromUtf8(shellQuoted(path));
        // The three ways take turns, so a change in the machine's load hits them alike.
        Best velkBest, tmuxBest, bareBest;
        for (int run = 0; run < repeat; ++run) {
            velkBest.add(timeSession(command, folder.path()));
            tmuxBest.add(tmux.isEmpty() ? std::nullopt : timeTmux(tmux, command));
            bareBest.add(timeBareLoop(command, folder.path()));
        }
        const std::optional<double> velk = velkBest.value();
        const std::optional<double> peer = tmuxBest.value();
        const std::optional<double> bare = bareBest.value();
        const auto ratio = [&](std::optional<double> other) {
            return velk && other ? QString::number(*other / *velk, 'f', 2) + QLatin1Char('x')
                                 : QStringLiteral("n/a");
        };
        std::printf("%-10s %10.1f %12s %12s %12s %10s %10s\n", qPrintable(corpus.name),
                    double(corpus.bytes.size()) / (1024.0 * 1024.0),
                    qPrintable(rate(corpus.bytes.size(), velk)),
                    qPrintable(rate(corpus.bytes.size(), peer)),
                    qPrintable(rate(corpus.bytes.size(), bare)), qPrintable(ratio(peer)),
                    qPrintable(ratio(bare)));
        std::fflush(stdout);
        QFile::remove(path);
    }

    // The longest stall of the main thread while a session floods 64 MiB: a 1 ms timer
    // records the longest gap between two of its ticks. Three floods: the first corpus
    // repeated, REP of a screenful after every character (each 11 bytes rewrite the whole
    // screen), and erase-display.
    constexpr qsizetype kFloodSize = 64 * 1024 * 1024;
    const QByteArray& mixed = corpora.front().bytes;
    std::vector<ScreenCorpus> floods = {
        {QStringLiteral("mixed"), mixed.repeated(kFloodSize / mixed.size() + 1).first(kFloodSize)}};
    for (ScreenCorpus& flood : buildFloodCorpora(kFloodSize)) {
        floods.push_back(std::move(flood));
    }
    std::printf("\n%-10s %10s %12s %12s %22s %22s\n", "flood", "MiB", "velk MB/s", "tmux MB/s",
                "longest stall (velk)", "longest work (velk)");
    for (const ScreenCorpus& flood : floods) {
        const QString path = folder.filePath(QStringLiteral("flood"));
        {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(flood.bytes) != kFloodSize) {
                return 1;
            }
        }
        const QString command = QStringLiteral("cat ") + QString::fromUtf8(shellQuoted(path));
        StallMeter stalls;
        const std::optional<double> floodSeconds =
            timeSession(command, folder.path(), [&] { stalls.start(); });
        stalls.stop();
        const std::optional<double> tmuxSeconds =
            tmux.isEmpty() ? std::nullopt : timeTmux(tmux, command);
        std::printf("%-10s %10.1f %12s %12s %19.1f ms %19.1f ms\n", qPrintable(flood.name),
                    double(kFloodSize) / (1024.0 * 1024.0),
                    qPrintable(rate(kFloodSize, floodSeconds)),
                    qPrintable(rate(kFloodSize, tmuxSeconds)), stalls.longestGapMs(),
                    stalls.longestWorkMs());
        std::fflush(stdout);
        QFile::remove(path);
    }
    return 0;
}
