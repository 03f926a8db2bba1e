// velk-bench-review: the review of an assistant's copy, next to git on the same trees.
//
//   summary   lines added and removed per file for a copy with 5,000 changed files: the
//             review's reading of the changes and its line counts (RunReview, from inspect()
//             to the counts), next to `git diff --no-index --stat` of the same two trees;
//   diff      the full line diff of a 20,000-line file with 2,000 changed lines
//             (LineDiff::compute), next to `git diff --no-index`; then, apart, the changed
//             words of all 2,000 replaced lines, which the view marks as it shows them;
//   page      on the Team runs page with those 5,000 files: ticking one file, Select all,
//             showing the apply confirmation (until its event loop runs), and the longest
//             main-thread stall (StallMeter) while the 5,000 files are applied.
//
// Times are the median of VELK_BENCH_ROUNDS rounds (default 5) for the first two; the page
// figures are one pass, the tick the median of 50 ticks. Goal: no slower than git, no stall
// over 50 ms. VELK_BENCH_PART=diff runs the large file's diff alone, =summary leaves out the
// page.
#include "StallMeter.h"

#include "core/runs/FileDiff.h"
#include "core/runs/RunFiles.h"
#include "core/runs/RunReview.h"
#include "core/runs/RunStore.h"
#include "core/services/Preferences.h"
#include "core/workspace/Workspace.h"
#include "ui/kit/QtDialogs.h"
#include "ui/navigation/Navigator.h"
#include "ui/runs/ReviewFileModel.h"
#include "ui/runs/TeamRunsPage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kFiles = 5000;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(path.section(u'/', 0, -2));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        std::exit(1);
    }
}

// A small source file; `edited` changes two of its lines and adds one.
QByteArray sourceFile(int file, bool edited) {
    QByteArray text;
    for (int line = 0; line < 30; ++line) {
        text += "value_" + QByteArray::number(file) + "_" + QByteArray::number(line) + " = " +
                QByteArray::number(line * 7) + "\n";
        if (edited && (line == 4 || line == 20)) {
            text.replace(text.lastIndexOf("= "), 2, "= 1 + ");
        }
        if (edited && line == 12) {
            text += "added_" + QByteArray::number(file) + " = True\n";
        }
    }
    return text;
}

// Milliseconds `program` takes with `arguments`, run in `folder`.
double runProcess(const QString& folder, const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    process.waitForFinished(600000);
    return double(timer.nsecsElapsed()) / 1e6;
}

// Runs the event loop until `done` holds.
template <typename Done>
void waitFor(Done done) {
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("VELK_DIFF_MODULE")) {
        qputenv("VELK_DIFF_MODULE", VELK_DIFF_MODULE_FILE);
    }
    // Without a display (make bench on a machine with none) the pages are measured offscreen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int rounds = qEnvironmentVariableIsSet("VELK_BENCH_ROUNDS")
                           ? qEnvironmentVariableIntValue("VELK_BENCH_ROUNDS")
                           : 5;
    QTemporaryDir scratch;
    const QString root = scratch.path();

    // A project of 5,000 files, its run (baseline and one copy) with every file changed.
    const QString project = root + "/project";
    for (int file = 0; file < kFiles; ++file) {
        write(project + QString("/src/m%1/f%2.py").arg(file / 100).arg(file),
              sourceFile(file, false));
    }
    TeamRun run{QUuid::createUuid(),
                "Benchmark",
                project,
                root + "/runs/run",
                QDateTime::currentDateTimeUtc(),
                {}};
    const QString copyFolder = run.root + "/copy";
    run.copies.push_back(RunCopy{QUuid::createUuid(), "claude", copyFolder, std::nullopt, 0});
    RunFiles::snapshot(project, RunStore::baselineFolder(run));
    RunFiles::snapshot(project, copyFolder);
    for (int file = 0; file < kFiles; ++file) {
        write(copyFolder + QString("/src/m%1/f%2.py").arg(file / 100).arg(file),
              sourceFile(file, true));
    }
    if (!RunStore::save(run)) {
        std::fprintf(stderr, "could not save the run\n");
        return 1;
    }

    // VELK_BENCH_PART=diff measures the large file's diff alone (for a profiler).
    const bool diffOnly = qgetenv("VELK_BENCH_PART") == "diff";
    // The summary: the review's changes and line counts next to git's --stat.
    std::vector<double> ours;
    std::vector<double> theirs;
    std::vector<double> read;  // until the changes are known, before the counts
    int added = 0;
    int removed = 0;
    for (int round = 0; round < (diffOnly ? 0 : rounds); ++round) {
        RunReview review(run, run.copies.front());
        bool counted = false;
        bool overlapsFound = false;
        QObject::connect(&review, &RunReview::lineCountsFound, [&] { counted = true; });
        QObject::connect(&review, &RunReview::overlapsFound, [&] { overlapsFound = true; });
        QElapsedTimer timer;
        QObject::connect(&review, &RunReview::inspected,
                         [&] { read.push_back(double(timer.nsecsElapsed()) / 1e6); });
        timer.start();
        review.inspect();
        waitFor([&] { return counted; });
        ours.push_back(double(timer.nsecsElapsed()) / 1e6);
        // The check for overlaps with other work follows the counts; git runs once it is over.
        waitFor([&] { return overlapsFound; });
        added = removed = 0;
        for (const auto& [path, counts] : review.lineCounts()) {
            added += counts.added;
            removed += counts.removed;
        }
        theirs.push_back(runProcess(
            run.root, "git", {"diff", "--no-index", "--stat", "--patience", "baseline", "copy"}));
    }
    std::printf("%-58s %10s %10s\n", "", "VELK ms", "git ms");
    std::printf(
        diffOnly ? "%-58s (skipped)\n" : "%-58s %10.1f %10.1f\n",
        qPrintable(QString("summary: %1 files, +%2 -%3 lines").arg(kFiles).arg(added).arg(removed)),
        median(ours), median(theirs));
    if (!diffOnly) {
        std::printf("%-58s %10.1f\n", "  of which reading and hashing the changes", median(read));
    }

    // The full diff of one large file.
    QByteArray before;
    QByteArray after;
    for (int line = 0; line < 20000; ++line) {
        const QByteArray text = "    total += compute(item_" + QByteArray::number(line) +
                                ", factor=" + QByteArray::number(line % 97) + ")\n";
        before += text;
        after += line % 10 == 3 ? "    total -= compute(item_" + QByteArray::number(line) +
                                      ", factor=" + QByteArray::number(line % 89) + ")\n"
                                : text;
    }
    write(root + "/large/a.py", before);
    write(root + "/large/b.py", after);
    ours.clear();
    theirs.clear();
    FileDiff diff;
    std::vector<double> words;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        FileDiff computed =
            LineDiff::compute("a.py", RunFiles::readVersion(root + "/large", "a.py"),
                              RunFiles::readVersion(root + "/large", "b.py"));
        ours.push_back(double(timer.nsecsElapsed()) / 1e6);
        diff = std::move(computed);
        theirs.push_back(runProcess(root + "/large", "git",
                                    {"diff", "--no-index", "--patience", "a.py", "b.py"}));
        // The changed words of every replaced line, which the view marks as it writes them.
        FileDiff marked = diff;
        timer.restart();
        for (DiffHunk& hunk : marked.hunks) {
            const std::vector<int> partners = LineDiff::partners(hunk);
            for (std::size_t line = 0; line < partners.size(); ++line) {
                if (hunk.lines[line].kind == DiffLine::Kind::Removed && partners[line] >= 0) {
                    LineDiff::markChangedWords(hunk.lines[line],
                                               hunk.lines[std::size_t(partners[line])]);
                }
            }
        }
        words.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("%-58s %10.1f %10.1f\n",
                qPrintable(QString("diff: 20,000 lines, +%1 -%2, %3 hunks")
                               .arg(diff.added)
                               .arg(diff.removed)
                               .arg(diff.hunks.size())),
                median(ours), median(theirs));
    std::printf("%-58s %10.1f\n", "  then the changed words of every pair, as they are shown",
                median(words));

    if (diffOnly || qgetenv("VELK_BENCH_PART") == "summary") {
        return 0;
    }

    // The page, with the real confirmation dialog.
    MemoryPreferences preferences;
    QtDialogs dialogs;
    Workspace workspace(false, WorkspaceServices{&preferences, &dialogs, nullptr, nullptr});
    Navigator navigator(workspace.sessions, workspace.launcher);
    workspace.teamRuns.setRunStorageRoot(root + "/runs");
    workspace.teamRuns.loadTeamRuns();
    TeamRunsPage page(workspace.teamRuns, workspace.sessions, workspace.providers,
                      workspace.project, workspace.reviewLayout, navigator, dialogs, nullptr);
    page.resize(1400, 900);
    page.show();
    bool inspected = false;
    QObject::connect(&page, &TeamRunsPage::inspectionFinished, [&] { inspected = true; });
    page.inspect(run.copies.front());
    waitFor([&] { return inspected; });
    QElapsedTimer settle;
    settle.start();
    waitFor([&] { return settle.elapsed() > 3000; });  // marks and counts arrive

    QAbstractItemModel* files = page.changeList()->model();
    std::vector<double> ticks;
    for (int tick = 0; tick < 50; ++tick) {
        QElapsedTimer timer;
        timer.start();
        files->setData(files->index(tick * 97 % kFiles, 0), tick % 2 ? Qt::Unchecked : Qt::Checked,
                       Qt::CheckStateRole);
        QCoreApplication::processEvents();
        ticks.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    QElapsedTimer selectAll;
    selectAll.start();
    page.selectAllButton()->click();
    QCoreApplication::processEvents();
    const double selectAllMs = double(selectAll.nsecsElapsed()) / 1e6;

    // The confirmation counts as shown when its own event loop first runs; it is then
    // answered, and the apply's stalls are measured until it ends.
    double confirmationMs = 0;
    double confirmationCpuMs = 0;
    double cpuAtStart = 0;
    int confirmationHeight = 0;
    QElapsedTimer confirmation;
    QTimer::singleShot(0, [&] {
        confirmationMs = double(confirmation.nsecsElapsed()) / 1e6;
        confirmationCpuMs = threadCpuMilliseconds() - cpuAtStart;
        if (QWidget* box = QApplication::activeModalWidget()) {
            confirmationHeight = box->height();
            for (QAbstractButton* button : box->findChildren<QAbstractButton*>()) {
                if (button->text() == "Apply changes") {
                    button->click();
                }
            }
        }
    });
    bool applied = false;
    QObject::connect(&page, &TeamRunsPage::applyFinished, [&] { applied = true; });
    StallMeter stalls;
    cpuAtStart = threadCpuMilliseconds();
    confirmation.start();
    page.applySelected();
    stalls.start();
    QElapsedTimer applying;
    applying.start();
    waitFor([&] { return applied; });
    const double applyMs = double(applying.nsecsElapsed()) / 1e6;
    stalls.stop();

    std::printf("%-58s %10.2f\n", "page: tick one file (median of 50)", median(ticks));
    std::printf("%-58s %10.2f\n", "page: Select all", selectAllMs);
    std::printf("%-58s %10.1f   (%d px tall; main-thread CPU %.1f ms)\n",
                "page: apply confirmation shown", confirmationMs, confirmationHeight,
                confirmationCpuMs);
    std::printf("%-58s %10.1f   (apply %.0f ms; %s)\n",
                "page: longest main-thread stall while applying 5,000 files", stalls.longestGapMs(),
                applyMs, qPrintable(page.status().left(40)));
    std::printf("%-58s %10.1f\n", "page: longest main-thread work between ticks",
                stalls.longestWorkMs());
    return 0;
}
