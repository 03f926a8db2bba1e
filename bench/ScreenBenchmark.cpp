// velk-bench-screen: feeds each corpus, and a flood of REP and one of erase-display, into a
// TerminalScreen and into libvterm's screen at 24×80 and 50×200 in 64 KiB and 1 MiB chunks,
// then prints both throughputs side by side.
//
// VELK_BENCH_CORPUS_MIB sets the corpus size (default 32).
//
// `velk-bench-screen --once CORPUS velk|libvterm` feeds that corpus once into one screen
// (24×80, 64 KiB chunks) and does nothing else, for instruction counts per byte: run it under
// valgrind --tool=callgrind --toggle-collect='*feedVelkOnce*' (or '*feedLibvtermOnce*' for
// libvterm) and divide the collected instructions by the bytes.
#include "ScreenCorpus.h"

#include "core/terminal/TerminalScreen.h"

#include <benchmark/benchmark.h>
#include <vterm.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>

namespace {

struct ScreenSize {
    int rows;
    int columns;
};

constexpr ScreenSize kSizes[] = {{24, 80}, {50, 200}};
constexpr qsizetype kChunks[] = {64 * 1024, 1024 * 1024};

template <typename Feed>
void feedInChunks(const QByteArray& bytes, qsizetype chunk, Feed&& feed) {
    for (qsizetype offset = 0; offset < bytes.size(); offset += chunk) {
        feed(bytes.constData() + offset, std::min(chunk, bytes.size() - offset));
    }
}

// One whole feed of `bytes` into a new screen of each kind. Not inlined, so a profiler can
// count each one's instructions alone (see --once below).
[[gnu::noinline]] int feedVelkOnce(const QByteArray& bytes, ScreenSize size, qsizetype chunk) {
    TerminalScreen screen(size.rows, size.columns);
    feedInChunks(bytes, chunk, [&screen](const char* data, qsizetype length) {
        screen.feed(QByteArrayView(data, length));
    });
    return screen.row();
}

[[gnu::noinline]] int feedLibvtermOnce(const QByteArray& bytes, ScreenSize size, qsizetype chunk) {
    VTerm* terminal = vterm_new(size.rows, size.columns);
    vterm_set_utf8(terminal, 1);
    VTermScreen* screen = vterm_obtain_screen(terminal);
    vterm_screen_enable_altscreen(screen, 1);
    vterm_screen_reset(screen, 1);
    feedInChunks(bytes, chunk, [terminal](const char* data, qsizetype length) {
        vterm_input_write(terminal, data, std::size_t(length));
    });
    VTermPos cursor;
    vterm_state_get_cursorpos(vterm_obtain_state(terminal), &cursor);
    vterm_free(terminal);
    return cursor.row;
}

void benchmarkVelk(benchmark::State& state, const QByteArray* bytes, ScreenSize size,
                   qsizetype chunk) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(feedVelkOnce(*bytes, size, chunk));
    }
    state.SetBytesProcessed(state.iterations() * bytes->size());
}

void benchmarkLibvterm(benchmark::State& state, const QByteArray* bytes, ScreenSize size,
                       qsizetype chunk) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(feedLibvtermOnce(*bytes, size, chunk));
    }
    state.SetBytesProcessed(state.iterations() * bytes->size());
}

// Keeps the console output and remembers each run's throughput for the closing table.
class TableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto counter = run.counters.find("bytes_per_second");
            if (counter != run.counters.end()) {
                m_megabytesPerSecond[run.benchmark_name()] = counter->second.value / 1e6;
            }
        }
    }
    double megabytesPerSecond(const std::string& name) const {
        const auto found = m_megabytesPerSecond.find(name);
        return found == m_megabytesPerSecond.end() ? 0.0 : found->second;
    }

private:
    std::map<std::string, double> m_megabytesPerSecond;
};

std::string caseName(const QString& corpus, ScreenSize size, qsizetype chunk) {
    return QStringLiteral("%1/%2x%3/%4")
        .arg(corpus)
        .arg(size.rows)
        .arg(size.columns)
        .arg(chunk >= 1024 * 1024 ? QStringLiteral("1MiB") : QStringLiteral("64KiB"))
        .toStdString();
}

}  // namespace

int main(int argc, char** argv) {
    qsizetype mebibytes = 32;
    if (const char* value = std::getenv("VELK_BENCH_CORPUS_MIB")) {
        mebibytes = std::max(1, std::atoi(value));
    }
    std::vector<ScreenCorpus> corpora = buildScreenCorpora(mebibytes * 1024 * 1024);
    for (ScreenCorpus& flood : buildFloodCorpora(mebibytes * 1024 * 1024)) {
        corpora.push_back(std::move(flood));
    }

    if (argc == 4 && std::strcmp(argv[1], "--once") == 0) {
        const bool libvterm = std::strcmp(argv[3], "libvterm") == 0;
        for (const ScreenCorpus& corpus : corpora) {
            if (corpus.name == QLatin1String(argv[2])) {
                const int row = libvterm ? feedLibvtermOnce(corpus.bytes, kSizes[0], kChunks[0])
                                         : feedVelkOnce(corpus.bytes, kSizes[0], kChunks[0]);
                std::printf("%s: %lld bytes fed once into %s (cursor row %d)\n", argv[2],
                            static_cast<long long>(corpus.bytes.size()),
                            libvterm ? "libvterm" : "velk", row);
                return 0;
            }
        }
        std::fprintf(stderr, "no corpus named %s\n", argv[2]);
        return 2;
    }

    std::vector<std::string> cases;
    for (const ScreenCorpus& corpus : corpora) {
        for (const ScreenSize size : kSizes) {
            for (const qsizetype chunk : kChunks) {
                const std::string name = caseName(corpus.name, size, chunk);
                cases.push_back(name);
                benchmark::RegisterBenchmark(("velk/" + name).c_str(), benchmarkVelk, &corpus.bytes,
                                             size, chunk)
                    ->Unit(benchmark::kMillisecond);
                benchmark::RegisterBenchmark(("libvterm/" + name).c_str(), benchmarkLibvterm,
                                             &corpus.bytes, size, chunk)
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }

    benchmark::Initialize(&argc, argv);
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\n%-24s %12s %14s %8s\n", "corpus/size/chunk", "velk MB/s", "libvterm MB/s",
                "ratio");
    for (const std::string& name : cases) {
        const double velk = reporter.megabytesPerSecond("velk/" + name);
        const double libvterm = reporter.megabytesPerSecond("libvterm/" + name);
        if (velk == 0.0 && libvterm == 0.0) {
            continue;  // filtered out
        }
        std::printf("%-24s %12.1f %14.1f %7.1fx\n", name.c_str(), velk, libvterm,
                    libvterm > 0 ? velk / libvterm : 0.0);
    }
    benchmark::Shutdown();
    return 0;
}
