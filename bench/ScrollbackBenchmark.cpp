// velk-bench-scrollback: what a long scrollback costs, next to a peer in the same run.
//
// search  100,000 lines of 80 columns fill a TerminalScreen whose scrollback limit is
//         100,000, with one marker line near the oldest end; TerminalSearch finds the marker
//         (a plain case-insensitive search, then a regular expression), the screen's text
//         captured afresh each time as when the find bar opens, then again with the text
//         kept, as for each further key typed. The peer is `grep -c` over the same text in a
//         file, process start included.
// memory  8 sessions (not started) each take 10,000 lines of 80 columns with a scrollback
//         limit of 10,000: the heap and resident size they add, and the bytes per line. The
//         peer is a tmux server holding the same 10,000 lines in each of 8 sessions
//         (history-limit 10000): its resident size and the history bytes it reports.
//
// Times are the median of VELK_BENCH_REPEAT runs (default 9), wall clock and, since a loaded
// machine stretches the wall clock, processor time. Run with no argument for both.
#include "StallMeter.h"

#include "core/assistants/Provider.h"
#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSearch.h"
#include "core/terminal/TerminalSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kColumns = 80;
constexpr char kMarker[] = "MARKER-7f3a";

int repeats() {
    const int asked = qEnvironmentVariableIntValue("VELK_BENCH_REPEAT");
    return asked > 0 ? asked : 9;
}

// `count` lines of exactly 80 columns, line `markerAt` carrying the marker.
QByteArray makeLines(int count, int markerAt) {
    static const char kWords[] =
        "the quick brown fox jumps over a lazy dog while build logs "
        "scroll past: compiling src/core/terminal/TerminalScreen.cpp ";
    QByteArray text;
    text.reserve(qsizetype(count) * (kColumns + 2));
    for (int line = 0; line < count; ++line) {
        QByteArray row = QByteArray::number(line).rightJustified(7, '0') + ' ';
        if (line == markerAt) {
            row += kMarker;
            row += ' ';
        }
        const int skip = line % 23;
        while (row.size() < kColumns) {
            row += QByteArray(kWords + skip).left(kColumns - row.size());
        }
        text += row;
        text += "\r\n";
    }
    return text;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

long residentKiB(pid_t pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').front().toLong();
        }
    }
    return -1;
}

double heapMiB() {
    return double(mallinfo2().uordblks) / (1024.0 * 1024.0);
}

double childrenCpuMilliseconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Milliseconds `program` takes to run to its end; its standard output in `output`, the
// processor time it took in `cpu`.
double timeProcess(const QString& program, const QStringList& arguments, QByteArray* output,
                   double* cpu = nullptr) {
    const double cpuBefore = childrenCpuMilliseconds();
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(-1);
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    if (cpu) {
        *cpu = childrenCpuMilliseconds() - cpuBefore;
    }
    if (output) {
        *output = process.readAllStandardOutput().trimmed();
    }
    return ms;
}

void searchBenchmark(const QTemporaryDir& folder) {
    constexpr int kLines = 100'000;
    TerminalScreen screen(24, kColumns);
    screen.setScrollbackLimit(TerminalScreen::kMaxScrollbackLimit);
    const QByteArray lines = makeLines(kLines + 24, 200);
    screen.feed(QByteArrayView(lines));
    std::printf("search: %d scrollback lines of %d columns, one marker near the oldest end\n",
                screen.scrollbackSize(), kColumns);

    auto timeSearch = [&screen](const QString& pattern, TerminalSearch::Options options,
                                std::size_t* found) {
        std::vector<double> times;
        std::vector<double> cpuTimes;
        for (int run = 0; run < repeats(); ++run) {
            TerminalSearch search;
            QElapsedTimer timer;
            const double cpu = threadCpuMilliseconds();
            timer.start();
            search.search(screen, pattern, options, {});
            times.push_back(double(timer.nsecsElapsed()) / 1e6);
            cpuTimes.push_back(threadCpuMilliseconds() - cpu);
            *found = search.matches().size();
        }
        return std::pair(median(times), median(cpuTimes));
    };
    std::size_t found = 0;
    const auto [plain, plainCpu] = timeSearch(QString::fromLatin1(kMarker).toLower(), {}, &found);
    std::printf("  VELK  plain, any case      %7.1f ms  (%5.1f ms processor; %zu match)\n", plain,
                plainCpu, found);
    const auto [regex, regexCpu] =
        timeSearch(QStringLiteral("marker-[0-9a-f]{4}"), {true, false}, &found);
    std::printf("  VELK  regular expression   %7.1f ms  (%5.1f ms processor; %zu match)\n", regex,
                regexCpu, found);
    // Typing on in the find bar: the screen has not changed, so its text is kept.
    TerminalSearch typing;
    typing.search(screen, QStringLiteral("m"), {}, {}, 1);
    std::vector<double> keptTimes;
    for (int run = 0; run < repeats(); ++run) {
        QElapsedTimer timer;
        timer.start();
        typing.search(screen, QString::fromLatin1(kMarker).toLower(), {}, {}, 1);
        keptTimes.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("  VELK  plain, text kept     %7.1f ms  (%zu match; the next key typed)\n",
                median(keptTimes), typing.matches().size());

    // The same text as the screen holds it, one line per line.
    const QString path = folder.filePath(QStringLiteral("scrollback.txt"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(screen.plainText().toUtf8()) < 0) {
        std::printf("  could not write %s\n", qPrintable(path));
        return;
    }
    file.close();
    QByteArray count;
    std::vector<double> grepTimes;
    std::vector<double> grepCpu;
    std::vector<double> grepAnyCase;
    std::vector<double> grepAnyCaseCpu;
    for (int run = 0; run < repeats(); ++run) {
        double cpu = 0;
        grepTimes.push_back(timeProcess(QStringLiteral("grep"),
                                        {QStringLiteral("-c"), QString::fromLatin1(kMarker), path},
                                        &count, &cpu));
        grepCpu.push_back(cpu);
        grepAnyCase.push_back(timeProcess(
            QStringLiteral("grep"), {QStringLiteral("-ci"), QStringLiteral("marker-7f3a"), path},
            nullptr, &cpu));
        grepAnyCaseCpu.push_back(cpu);
    }
    std::printf("  grep -c                    %7.1f ms  (%5.1f ms processor; %s match)\n",
                median(grepTimes), median(grepCpu), count.constData());
    std::printf("  grep -ci                   %7.1f ms  (%5.1f ms processor)\n",
                median(grepAnyCase), median(grepAnyCaseCpu));
}

void memoryBenchmark(const QTemporaryDir& folder) {
    constexpr int kSessions = 8;
    constexpr int kLines = 10'000;
    const QByteArray lines = makeLines(kLines + 24, -1);
    std::printf("memory: %d sessions, %d lines of %d columns each, scrollback limit %d\n",
                kSessions, kLines, kColumns, kLines);

    malloc_trim(0);
    const double heapBefore = heapMiB();
    const long residentBefore = residentKiB(getpid());
    std::vector<std::shared_ptr<TerminalSession>> sessions;
    for (int i = 0; i < kSessions; ++i) {
        auto session = TerminalSession::create(
            QStringLiteral("shell"), QStringLiteral("bench"), QStringLiteral("cat"),
            shellSpawnRequest(QStringLiteral("cat"), QDir::tempPath()));
        session->screen().setScrollbackLimit(kLines);
        session->screen().feed(QByteArrayView(lines));
        sessions.push_back(std::move(session));
    }
    const double heap = heapMiB() - heapBefore;
    const double resident = double(residentKiB(getpid()) - residentBefore) / 1024.0;
    const int kept = sessions.front()->screen().scrollbackSize();
    std::printf(
        "  VELK  heap %6.1f MiB, resident %6.1f MiB for all %d; %.0f bytes per line "
        "(%d lines kept each)\n",
        heap, resident, kSessions, heap * 1024 * 1024 / (double(kSessions) * kept), kept);

    // The peer: one tmux server, eight sessions each printing the same lines.
    const QString path = folder.filePath(QStringLiteral("lines.txt"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(lines) < 0) {
        return;
    }
    file.close();
    const QString socket = QStringLiteral("velkbench");
    auto tmux = [&socket](QStringList arguments) {
        QByteArray output;
        timeProcess(QStringLiteral("tmux"),
                    QStringList{QStringLiteral("-L"), socket, QStringLiteral("-f"),
                                QStringLiteral("/dev/null")} +
                        arguments,
                    &output);
        return output;
    };
    tmux({QStringLiteral("kill-server")});
    // The limit applies to panes made after it is set, and the server lives only while it
    // has a session: a first one holds it while the limit is set.
    tmux({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"),
          QStringLiteral("holder"), QStringLiteral("sleep 100000")});
    tmux({QStringLiteral("set"), QStringLiteral("-g"), QStringLiteral("history-limit"),
          QString::number(kLines)});
    const QString command = QStringLiteral("cat '%1'; exec sleep 100000").arg(path);
    for (int i = 0; i < kSessions; ++i) {
        tmux({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"),
              QStringLiteral("s%1").arg(i), QStringLiteral("-x"), QString::number(kColumns),
              QStringLiteral("-y"), QStringLiteral("24"), command});
    }
    long historyBytes = 0;
    int historyLines = 0;
    for (int wait = 0; wait < 600; ++wait) {
        historyBytes = 0;
        historyLines = 0;
        for (int i = 0; i < kSessions; ++i) {
            const QList<QByteArray> fields =
                tmux({QStringLiteral("display"), QStringLiteral("-p"), QStringLiteral("-t"),
                      QStringLiteral("s%1").arg(i),
                      QStringLiteral("#{history_size} #{history_bytes}")})
                    .split(' ');
            if (fields.size() == 2) {
                historyLines += fields[0].toInt();
                historyBytes += fields[1].toLong();
            }
        }
        if (historyLines >= kSessions * (kLines - 1)) {
            break;
        }
        QThread::msleep(100);
    }
    tmux({QStringLiteral("kill-session"), QStringLiteral("-t"), QStringLiteral("holder")});
    const pid_t server = pid_t(
        tmux({QStringLiteral("display"), QStringLiteral("-p"), QStringLiteral("#{pid}")}).toInt());
    const double serverResident = double(residentKiB(server)) / 1024.0;
    std::printf(
        "  tmux  resident %6.1f MiB (whole server), history %6.1f MiB for all %d; %.0f "
        "bytes per line (%d lines kept in all)\n",
        serverResident, double(historyBytes) / (1024.0 * 1024.0), kSessions,
        historyLines > 0 ? double(historyBytes) / historyLines : 0.0, historyLines);
    tmux({QStringLiteral("kill-server")});
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    QTemporaryDir folder;
    if (!folder.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    if (mode.isEmpty() || mode == QLatin1String("memory")) {
        memoryBenchmark(folder);  // first, so the search's buffers do not blur the heap figure
    }
    if (mode.isEmpty() || mode == QLatin1String("search")) {
        searchBenchmark(folder);
    }
    return 0;
}
