// velk-bench-reflow: the cost of a width change on a full scrollback. 10,000 lines of text
// (lengths 0-400 columns, some coloured, some with double-width characters) are written to a
// 50×200 TerminalScreen, leaving a full scrollback; each iteration narrows it to 120 columns
// and widens it back, re-wrapping every line twice; a second case re-wraps 10,000 lines (an
// 8,000-row grid below the scrollback) the same way. The peer is libvterm (no reflow: it cuts
// and pads) resizing a screen of as many lines as VELK's scrollback and grid hold, the same
// text written to it.
#include "core/terminal/TerminalScreen.h"

#include <benchmark/benchmark.h>
#include <vterm.h>

#include <QByteArray>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRows = 50;
constexpr int kWide = 200;
constexpr int kNarrow = 120;
constexpr int kLines = 10000;

QByteArray makeText() {
    std::mt19937 random(7);
    QByteArray text;
    for (int line = 0; line < kLines; ++line) {
        const int length = int(random() % 400);
        int written = 0;
        while (written < length) {
            switch (random() % 8) {
                case 0:
                    text += "\x1b[3" + QByteArray::number(int(random() % 8)) + "mcolour\x1b[m ";
                    written += 7;
                    break;
                case 1:
                    text += "\xe4\xb8\xad\xe6\x96\x87 ";  // two double-width characters
                    written += 5;
                    break;
                default:
                    text += "word ";
                    written += 5;
                    break;
            }
        }
        text += "\r\n";
    }
    return text;
}

const QByteArray& text() {
    static const QByteArray bytes = makeText();
    return bytes;
}

void benchmarkVelk(benchmark::State& state, int rows) {
    TerminalScreen screen(rows, kWide);
    screen.feed(QByteArrayView(text()));
    for (auto _ : state) {
        screen.resize(rows, kNarrow);
        screen.resize(rows, kWide);
        benchmark::DoNotOptimize(screen.row());
    }
    state.counters["lines"] = screen.scrollbackSize() + rows;
}

void benchmarkLibvterm(benchmark::State& state) {
    const int rows = TerminalScreen::kScrollbackLimit + kRows;
    VTerm* terminal = vterm_new(rows, kWide);
    vterm_set_utf8(terminal, 1);
    VTermScreen* screen = vterm_obtain_screen(terminal);
    vterm_screen_reset(screen, 1);
    // In pieces, as a session would read them.
    for (qsizetype offset = 0; offset < text().size(); offset += 4096) {
        vterm_input_write(terminal, text().constData() + offset,
                          std::size_t(std::min<qsizetype>(4096, text().size() - offset)));
    }
    for (auto _ : state) {
        vterm_set_size(terminal, rows, kNarrow);
        vterm_set_size(terminal, rows, kWide);
        VTermPos cursor;
        vterm_state_get_cursorpos(vterm_obtain_state(terminal), &cursor);
        benchmark::DoNotOptimize(cursor.row);
    }
    state.counters["lines"] = rows;
    vterm_free(terminal);
}

// Keeps the console output and remembers each run's processor time per iteration (the
// machine may be shared, so wall time says less).
class TableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            m_milliseconds[run.benchmark_name()] = run.GetAdjustedCPUTime();
        }
    }
    double milliseconds(const std::string& name) const {
        const auto found = m_milliseconds.find(name);
        return found == m_milliseconds.end() ? 0.0 : found->second;
    }

private:
    std::map<std::string, double> m_milliseconds;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("velk/reflow-200-120-200", benchmarkVelk, kRows)
        ->Unit(benchmark::kMillisecond);
    // 10,000 lines at once: a grid of 8,000 rows below the full scrollback, all re-wrapped.
    benchmark::RegisterBenchmark("velk/reflow-10k-lines", benchmarkVelk, 8000)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("libvterm/resize-200-120-200", benchmarkLibvterm)
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nprocessor ms per width change, %d lines written, scrollback %d + %d rows:\n",
                kLines, TerminalScreen::kScrollbackLimit, kRows);
    std::printf("  velk (re-wraps)       %8.2f\n",
                reporter.milliseconds("velk/reflow-200-120-200") / 2);
    std::printf("  libvterm (cuts, peer) %8.2f\n",
                reporter.milliseconds("libvterm/resize-200-120-200") / 2);
    std::printf("  velk, 10,000 lines    %8.2f\n",
                reporter.milliseconds("velk/reflow-10k-lines") / 2);
    benchmark::Shutdown();
    return 0;
}
