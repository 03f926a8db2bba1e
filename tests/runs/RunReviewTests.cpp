// The review of one copy as background jobs: newer previews win, an apply leaves the main
// thread free, failures come back as Errors with the engine's words.

#include "RunsTestSupport.h"
#include "core/base/Background.h"
#include "core/runs/RunReview.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <optional>
#include <tuple>
#include <vector>

namespace {

// A run whose folder holds the baseline; the project and the copy live beside it.
struct Layout {
    Layout() {
        scratch.write("project/main.txt", "original");
        RunFiles::snapshot(scratch.path("project"), scratch.path("run/baseline"));
        RunFiles::snapshot(scratch.path("run/baseline"), scratch.path("copy"));
        scratch.write("copy/main.txt", "edited");
        copy = RunCopy{QUuid::createUuid(), "claude", scratch.path("copy"), std::nullopt, 0};
        run = TeamRun{QUuid::createUuid(),
                      "Edit main.txt",
                      scratch.path("project"),
                      scratch.path("run"),
                      QDateTime::currentDateTimeUtc(),
                      std::vector<RunCopy>{copy}};
    }

    Scratch scratch;
    TeamRun run;
    RunCopy copy;
};

// Lets every job finish and every delivery run, so that one that should be dropped had its
// chance to arrive.
void settle() {
    Background::waitForIdle();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

}  // namespace

TEST(RunReview, aPreviewAskedForEarlierNeverArrivesAfterANewerOne) {
    // Reading the first file is slow: it finishes only once the second has been delivered.
    QSemaphore firstMayFinish;
    RunReview::Engine engine = RunReview::Engine::files();
    engine.preview = [&](const QString& root, const QString& path) {
        if (path == "slow.txt") {
            firstMayFinish.tryAcquire(1, 5000);
        }
        return root.section('/', -1) + ": " + path;
    };
    Layout layout;
    RunReview review(layout.run, layout.copy, engine);
    QSignalSpy previewed(&review, &RunReview::previewed);
    std::vector<RunReview::Preview> shown;
    QObject::connect(&review, &RunReview::previewed,
                     [&](const RunReview::Preview& preview) { shown.push_back(preview); });
    review.preview("slow.txt");
    review.preview("fast.txt");
    ASSERT_TRUE(previewed.wait(5000));
    firstMayFinish.release();
    settle();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown.front().path, "fast.txt");
    EXPECT_EQ(shown.front().before, "baseline: fast.txt");
    EXPECT_EQ(shown.front().after, "copy: fast.txt");
}

TEST(RunReview, anApplyRunsOnAPoolThreadWhileTheMainThreadGoesOn) {
    // The apply waits for a timer that only the main thread's event loop can fire: applied on
    // the main thread, it would wait in vain and report that.
    QSemaphore timerFired;
    std::atomic<QThread*> applyThread = nullptr;
    std::atomic_bool sawTimer = false;
    RunReview::Engine engine = RunReview::Engine::files();
    engine.apply = [&](const std::vector<FileChange>&, const QString&, const QString&,
                       const QString&, std::vector<RunFiles::ApplyRecovery>*,
                       const RunFiles::ApplyProgress&) {
        applyThread = QThread::currentThread();
        sawTimer = timerFired.tryAcquire(1, 5000);
    };
    Layout layout;
    RunReview review(layout.run, layout.copy, engine);
    QSignalSpy inspected(&review, &RunReview::inspected);
    review.inspect();
    EXPECT_TRUE(review.inspecting());
    ASSERT_TRUE(inspected.wait(5000));
    ASSERT_EQ(review.changes().size(), 1u);

    QSignalSpy applied(&review, &RunReview::applied);
    std::optional<Result<RunReview::Applied>> result;
    QObject::connect(&review, &RunReview::applied,
                     [&](const Result<RunReview::Applied>& arrived) { result = arrived; });
    QTimer::singleShot(0, [&] { timerFired.release(); });
    EXPECT_FALSE(review.apply({"elsewhere.txt"})) << "nothing chosen, nothing to apply";
    ASSERT_TRUE(review.apply({"main.txt"}));
    EXPECT_TRUE(review.applying());
    EXPECT_FALSE(review.apply({"main.txt"})) << "one apply at a time";
    ASSERT_TRUE(applied.wait(10000));
    EXPECT_FALSE(review.applying());
    EXPECT_TRUE(sawTimer);
    EXPECT_NE(applyThread.load(), QCoreApplication::instance()->thread());
    ASSERT_TRUE(result && result->ok());
    ASSERT_EQ(result->value().changes.size(), 1u);
    EXPECT_EQ(result->value().changes.front().path, "main.txt");
}

TEST(RunReview, failuresArriveAsErrorsWithTheEnginesMessage) {
    Layout layout;
    RunReview review(layout.run, layout.copy);
    QSignalSpy inspected(&review, &RunReview::inspected);
    std::optional<Result<RunFiles::Review>> inspection;
    QObject::connect(&review, &RunReview::inspected,
                     [&](const Result<RunFiles::Review>& arrived) { inspection = arrived; });
    QSignalSpy applied(&review, &RunReview::applied);
    std::optional<Result<RunReview::Applied>> application;
    QObject::connect(&review, &RunReview::applied,
                     [&](const Result<RunReview::Applied>& arrived) { application = arrived; });
    review.inspect();
    ASSERT_TRUE(inspected.wait(5000));
    ASSERT_TRUE(inspection && inspection->ok());

    // The project changed since the run began: the apply is refused and nothing is written.
    layout.scratch.write("project/main.txt", "edited by hand");
    ASSERT_TRUE(review.apply({"main.txt"}));
    ASSERT_TRUE(applied.wait(10000));
    ASSERT_TRUE(application && !application->ok());
    EXPECT_EQ(application->error().message,
              "main.txt changed in your project since this run began. Nothing was applied; "
              "review the conflict first.");
    EXPECT_EQ(layout.scratch.read("project/main.txt"), "edited by hand");

    // The run's folder, where the backup goes, is now a file: the system's failure keeps its
    // errno value.
    layout.scratch.write("project/main.txt", "original");
    layout.scratch.remove("run");
    layout.scratch.write("run", "a file where the folder was");
    ASSERT_TRUE(review.apply({"main.txt"}));
    ASSERT_TRUE(applied.wait(10000));
    ASSERT_TRUE(application && !application->ok());
    EXPECT_EQ(application->error().kind, Error::Kind::System);
    EXPECT_EQ(application->error().systemError, ENOTDIR);
    EXPECT_EQ(layout.scratch.read("project/main.txt"), "original");

    // The copy is gone: the review says so and lists nothing.
    layout.scratch.remove("copy");
    review.inspect();
    ASSERT_TRUE(inspected.wait(5000));
    ASSERT_TRUE(inspection && !inspection->ok());
    EXPECT_EQ(inspection->error().message, "This project folder no longer exists.");
    EXPECT_TRUE(review.changes().empty());
}

// An apply's progress reaches the main thread while the apply still runs.
TEST(RunReview, anApplyReportsHowFarItHasCome) {
    QSemaphore seen;
    RunReview::Engine engine = RunReview::Engine::files();
    engine.apply = [&](const std::vector<FileChange>&, const QString&, const QString&,
                       const QString&, std::vector<RunFiles::ApplyRecovery>*,
                       const RunFiles::ApplyProgress& progress) {
        progress(RunFiles::ApplyStep::Writing, 1200, 5000);
        seen.tryAcquire(1, 5000);
    };
    Layout layout;
    RunReview review(layout.run, layout.copy, engine);
    QSignalSpy inspected(&review, &RunReview::inspected);
    review.inspect();
    ASSERT_TRUE(inspected.wait(5000));
    std::vector<RunReview::Progress> reports;
    QObject::connect(&review, &RunReview::applyProgressed,
                     [&](const RunReview::Progress& progress) {
                         reports.push_back(progress);
                         seen.release();
                     });
    QSignalSpy applied(&review, &RunReview::applied);
    ASSERT_TRUE(review.apply({"main.txt"}));
    ASSERT_TRUE(applied.wait(10000));
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front(), (RunReview::Progress{RunFiles::ApplyStep::Writing, 1200, 5000}));

    // The apply itself reports each step of each file, and the end of the writing.
    std::vector<std::tuple<RunFiles::ApplyStep, std::size_t, std::size_t>> steps;
    RunFiles::apply(review.changes(), layout.run.project, layout.copy.directory,
                    layout.scratch.path("run/backup-1"), nullptr,
                    [&](RunFiles::ApplyStep step, std::size_t done, std::size_t total) {
                        steps.emplace_back(step, done, total);
                    });
    using Step = RunFiles::ApplyStep;
    EXPECT_EQ(steps,
              (std::vector<std::tuple<Step, std::size_t, std::size_t>>{{Step::Checking, 0, 1},
                                                                       {Step::BackingUp, 0, 1},
                                                                       {Step::Writing, 0, 1},
                                                                       {Step::Writing, 1, 1}}));
    EXPECT_EQ(layout.scratch.read("project/main.txt"), "edited");
}

// The other copies and the project are read for the overlaps only once this copy's line
// counts are in, so that the counts the reader waits for have the machine to themselves.
TEST(RunReview, theOtherCopiesAreReadOnlyOnceTheLineCountsAreIn) {
    Layout layout;
    const RunCopy other{QUuid::createUuid(), "codex", layout.scratch.path("other"), std::nullopt,
                        0};
    RunFiles::snapshot(layout.scratch.path("run/baseline"), other.directory);
    layout.run.copies.push_back(other);
    QSemaphore otherRead;
    std::atomic<bool> waited{false};
    std::atomic<bool> readWhileCounting{false};
    RunReview::Engine engine = RunReview::Engine::files();
    engine.review = [&, review = engine.review](const QString& baseline, const QString& copy) {
        if (copy == other.directory) {
            otherRead.release();
        }
        return review(baseline, copy);
    };
    engine.read = [&](const QString& root, const QString& path) {
        // The first read of the counts gives an overlap check started beside it time to begin.
        if (!waited.exchange(true) && otherRead.tryAcquire(1, 300)) {
            readWhileCounting = true;
        }
        return RunFiles::readVersion(root, path);
    };
    RunReview review(layout.run, layout.copy, engine);
    QSignalSpy overlaps(&review, &RunReview::overlapsFound);
    review.inspect();
    ASSERT_TRUE(overlaps.wait(5000));
    EXPECT_FALSE(readWhileCounting);
    EXPECT_EQ(review.lineCounts().at("main.txt"), (LineDiff::LineCounts{1, 1, true}));
    EXPECT_TRUE(review.overlaps().changedByCopy.at(other.id).empty());
}

// The counts read every changed file: they wait until the main thread has handled what the
// arrival of the changes queued, the list's repaint among it (posted at low priority, as Qt
// posts a window's), so that the reader sees the list before the counting takes the cores.
TEST(RunReview, theLineCountsStartOnlyOnceTheListIsRepainted) {
    Layout layout;
    QSemaphore firstRead;
    std::atomic<bool> read{false};
    RunReview::Engine engine = RunReview::Engine::files();
    engine.read = [&](const QString& root, const QString& path) {
        if (!read.exchange(true)) {
            firstRead.release();
        }
        return RunFiles::readVersion(root, path);
    };
    RunReview review(layout.run, layout.copy, engine);
    // Stands for the list's window: its repaint waits to see whether a count reads meanwhile.
    struct Window : QObject {
        bool readWhilePainting = false;
        QSemaphore* firstRead = nullptr;
        bool event(QEvent* event) override {
            if (event->type() != QEvent::UpdateRequest) {
                return QObject::event(event);
            }
            readWhilePainting = firstRead->tryAcquire(1, 300);
            return true;
        }
    } window;
    window.firstRead = &firstRead;
    QObject::connect(&review, &RunReview::inspected, [&] {
        QCoreApplication::postEvent(&window, new QEvent(QEvent::UpdateRequest),
                                    Qt::LowEventPriority);
    });
    QSignalSpy counted(&review, &RunReview::lineCountsFound);
    review.inspect();
    ASSERT_TRUE(counted.wait(5000));
    EXPECT_FALSE(window.readWhilePainting);
    EXPECT_EQ(review.lineCounts().at("main.txt"), (LineDiff::LineCounts{1, 1, true}));
}
