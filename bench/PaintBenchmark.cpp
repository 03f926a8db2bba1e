// Terminal view paint costs, offscreen raster:
//  1. a full repaint of a 50 × 200 screen where every cell has its own colours, for the
//     view's batched drawing next to a cell-by-cell painter (fill and drawText per cell) on
//     the same screen;
//  2. paints per second while 64 MiB of coloured output floods a real session, for the
//     view's frame-paced repaints next to a view that asks for a repaint on every chunk;
//  3. the longest main-thread stall while hostile floods of 64 MiB (REP of a screenful after
//     every character, erase-display) go through a real session shown in the view, painting
//     included, next to the same session with nothing shown.
#include "ScreenCorpus.h"
#include "StallMeter.h"

#include "core/appearance/Theme.h"
#include "core/assistants/Provider.h"
#include "core/services/Preferences.h"
#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSession.h"
#include "ui/terminal/TerminalView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr int kRows = 50;
constexpr int kColumns = 200;

QByteArray denseColourScreen() {
    QByteArray bytes;
    for (int row = 0; row < kRows; ++row) {
        bytes += QByteArray("\x1b[") + QByteArray::number(row + 1) + ";1H";
        for (int column = 0; column < kColumns; ++column) {
            const int index = row * kColumns + column;
            bytes += "\x1b[38;5;" + QByteArray::number(index % 256) + ";48;5;" +
                     QByteArray::number((index * 7 + 3) % 256) + (index % 5 == 0 ? ";1m" : ";22m");
            bytes += char('!' + index % 90);
        }
    }
    return bytes;
}

// The reference: one fill and one drawText per cell.
void paintCellByCell(QPainter& painter, const TerminalScreen& screen, double w, int h,
                     const QFont& font, const QFont& bold, double ascent) {
    painter.fillRect(QRect(0, 0, 4000, 4000), QColor(0x08, 0x13, 0x22));
    for (int row = 0; row < screen.rows(); ++row) {
        for (int column = 0; column < screen.columns(); ++column) {
            const TerminalCell cell = screen.cell(row, column);
            const QRectF box(w * column + 10, h * row + 8, w, h);
            if (cell.background) {
                painter.fillRect(box, QColor::fromRgb(cell.background->rgb()));
            }
            painter.setFont(cell.bold ? bold : font);
            painter.setPen(cell.foreground ? QColor::fromRgb(cell.foreground->rgb())
                                           : QColor(0xD0, 0xDE, 0xEB));
            painter.drawText(QPointF(box.left(), box.top() + ascent), cell.text);
        }
    }
}

// Per-paint times: the median is the typical paint; the best is the paint undisturbed by
// the other programs sharing the processor, which on a busy machine the median is not.
struct PaintTime {
    double medianWall = 0;
    double medianCpu = 0;
    double bestWall = 0;
};

template <typename Paint>
PaintTime millisecondsPerPaint(Paint paint, int repeats) {
    paint();  // warm caches
    std::vector<double> wall;
    std::vector<double> cpu;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = threadCpuMilliseconds();
        paint();
        cpu.push_back(threadCpuMilliseconds() - cpuStart);
        wall.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    auto median = [](std::vector<double> values) {
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        return values[values.size() / 2];
    };
    return {median(wall), median(cpu), *std::min_element(wall.begin(), wall.end())};
}

void fullRepaint() {
    auto session =
        TerminalSession::create(QStringLiteral("shell"), QStringLiteral("bench"), QString(),
                                shellSpawnRequest(QString(), QDir::tempPath()));
    TerminalView view;
    view.setSession(session);
    const QSize size(int(std::ceil(20 + kColumns * view.cellWidth())) + 1,
                     16 + kRows * view.lineHeight() + 1);
    view.resize(size);
    QImage image(size, QImage::Format_RGB32);
    view.render(&image);  // fits the session to 50 × 200
    session->screen().feed(QByteArrayView(denseColourScreen()));
    if (session->screen().rows() != kRows || session->screen().columns() != kColumns) {
        std::printf("unexpected grid %d x %d\n", session->screen().rows(),
                    session->screen().columns());
    }

    const PaintTime batched = millisecondsPerPaint([&] { view.render(&image); }, 200);

    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(12.0 * 72.0 / view.logicalDpiY());
    QFont bold = font;
    bold.setBold(true);
    const double ascent = QFontMetricsF(font).ascent();
    const PaintTime cellByCell = millisecondsPerPaint(
        [&] {
            QPainter painter(&image);
            paintCellByCell(painter, session->screen(), view.cellWidth(), view.lineHeight(), font,
                            bold, ascent);
        },
        20);
    std::printf("full repaint, 50 x 200 cells, every cell its own colours (offscreen raster)\n");
    std::printf("  per paint, ms                    median wall  median cpu   best wall\n");
    std::printf("  TerminalView (batched runs)      %11.3f %11.3f %11.3f\n", batched.medianWall,
                batched.medianCpu, batched.bestWall);
    std::printf("  cell-by-cell painter (reference) %11.3f %11.3f %11.3f\n", cellByCell.medianWall,
                cellByCell.medianCpu, cellByCell.bestWall);
}

QByteArray floodChunk() {
    QByteArray chunk;
    for (int line = 0; line < 256; ++line) {
        for (int word = 0; word < 12; ++word) {
            chunk += "\x1b[38;5;" + QByteArray::number((line * 13 + word) % 256) + "mword" +
                     QByteArray::number(word) + ' ';
        }
        chunk += "\x1b[0m\r\n";
    }
    return chunk;
}

struct FloodResult {
    double seconds = 0;
    quint64 paints = 0;
};

FloodResult flood(const QString& file, bool perChunk) {
    const QString command = QStringLiteral("cat '") + file + QLatin1Char('\'');
    auto session = TerminalSession::create(QStringLiteral("shell"), QStringLiteral("flood"),
                                           command, shellSpawnRequest(command, QDir::tempPath()));
    FloodResult result;
    TerminalView* view = nullptr;
    std::unique_ptr<QWidget> holder;
    if (perChunk) {
        auto* plain = new TerminalView;
        plain->setSession(session);
        QObject::connect(session.get(), &TerminalSession::revisionChanged, plain,
                         qOverload<>(&QWidget::update));
        holder.reset(plain);
        view = plain;
    } else {
        static MemoryPreferences preferences;
        static Theme theme(false, preferences);
        auto* wrapper = new NativeTerminal(session, theme);
        holder.reset(wrapper);
        view = wrapper->view();
    }
    holder->resize(1200, 800);
    holder->show();
    QCoreApplication::processEvents();
    const quint64 before = view->paintCount();
    QElapsedTimer timer;
    timer.start();
    session->start();
    while (session->running() || !session->exitCode()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    result.seconds = timer.nsecsElapsed() / 1e9;
    result.paints = view->paintCount() - before;
    return result;
}

void floodPaintRate() {
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("flood.txt"));
    QFile out(file);
    out.open(QIODevice::WriteOnly);
    const QByteArray chunk = floodChunk();
    qint64 written = 0;
    while (written < 64ll * 1024 * 1024) {
        written += out.write(chunk);
    }
    out.close();

    const int frame = TerminalView().frameIntervalMs();
    const FloodResult paced = flood(file, false);
    const FloodResult eager = flood(file, true);
    std::printf("64 MiB coloured flood through a real session (display frame %d ms, %.0f/s)\n",
                frame, 1000.0 / frame);
    std::printf(
        "  TerminalView, frame-paced        %6.0f paints/s  (%llu paints in %.2f s, %.1f MiB/s)\n",
        paced.paints / paced.seconds, static_cast<unsigned long long>(paced.paints), paced.seconds,
        64 / paced.seconds);
    std::printf(
        "  repaint on every chunk (peer)    %6.0f paints/s  (%llu paints in %.2f s, %.1f MiB/s)\n",
        eager.paints / eager.seconds, static_cast<unsigned long long>(eager.paints), eager.seconds,
        64 / eager.seconds);
}

// Seconds for a session to run `command`, and the longest gap between two ticks of a 1 ms
// timer meanwhile: the longest the main thread was kept from its event loop. With `shown`,
// the session is shown in a frame-paced view of 1200 × 800 that paints as output arrives.
// The main thread's processor time between the same two ticks tells its own work apart
// from time the machine gave to other programs.
struct Stall {
    double seconds = 0;
    double longestGapMs = 0;
    double longestWorkMs = 0;
    quint64 paints = 0;
};

Stall floodWithTicker(const QString& command, bool shown) {
    auto session = TerminalSession::create(QStringLiteral("shell"), QStringLiteral("flood"),
                                           command, shellSpawnRequest(command, QDir::tempPath()));
    static MemoryPreferences preferences;
    static Theme theme(false, preferences);
    std::unique_ptr<NativeTerminal> terminal;
    if (shown) {
        terminal = std::make_unique<NativeTerminal>(session, theme);
        terminal->resize(1200, 800);
        terminal->show();
        QCoreApplication::processEvents();
    }
    StallMeter stalls;
    const quint64 before = terminal ? terminal->view()->paintCount() : 0;
    QElapsedTimer timer;
    timer.start();
    session->start();
    stalls.start();
    while (session->running() || !session->exitCode()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return {timer.nsecsElapsed() / 1e9, stalls.longestGapMs(), stalls.longestWorkMs(),
            terminal ? terminal->view()->paintCount() - before : 0};
}

void floodStalls() {
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("flood"));
    std::printf("hostile floods of 64 MiB through a real session: longest main-thread stall\n");
    std::printf("(wall: between two ticks of a 1 ms timer; work: the most processor time the\n");
    std::printf("main thread spent between two ticks, without what other programs took)\n");
    std::printf("  %-10s %-40s %s\n", "flood", "shown in the view", "nothing shown (peer)");
    for (const ScreenCorpus& corpus : buildFloodCorpora(64 * 1024 * 1024)) {
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(corpus.bytes) != corpus.bytes.size()) {
            std::printf("cannot write %s\n", qPrintable(file));
            return;
        }
        out.close();
        const QString command = QStringLiteral("cat '") + file + QLatin1Char('\'');
        const Stall shown = floodWithTicker(command, true);
        const Stall hidden = floodWithTicker(command, false);
        std::printf(
            "  %-10s wall %5.1f ms, work %5.1f ms (%5.2f s, %4llu paints)  wall %5.1f ms, work "
            "%5.1f ms (%5.2f s)\n",
            qPrintable(corpus.name), shown.longestGapMs, shown.longestWorkMs, shown.seconds,
            static_cast<unsigned long long>(shown.paints), hidden.longestGapMs,
            hidden.longestWorkMs, hidden.seconds);
        std::fflush(stdout);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    // "repaint", "flood" or "stall" runs one part alone.
    const QString only = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (only.isEmpty() || only == QLatin1String("repaint")) {
        fullRepaint();
    }
    if (only.isEmpty() || only == QLatin1String("flood")) {
        floodPaintRate();
    }
    if (only.isEmpty() || only == QLatin1String("stall")) {
        floodStalls();
    }
    return 0;
}
