#include "core/Background.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

// Drains the pool and the queued deliveries, so a skipped `done` has had every chance to run.
void settle() {
    Background::waitForIdle();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
}

}  // namespace

TEST(Background, theResultArrivesOnTheMainThreadWhileTheWorkRanElsewhere) {
    QObject context;
    QThread* workThread = nullptr;
    QThread* doneThread = nullptr;
    int received = 0;
    runInBackground(
        &context,
        [&] {
            workThread = QThread::currentThread();
            return 42;
        },
        [&](int value) {
            doneThread = QThread::currentThread();
            received = value;
        });
    ASSERT_TRUE(testing_support::waitUntil([&] { return received != 0; }));
    EXPECT_EQ(received, 42);
    EXPECT_EQ(doneThread, QCoreApplication::instance()->thread());
    EXPECT_NE(workThread, doneThread);
}

TEST(Background, aDestroyedContextOrACancelledJobNeverHearsTheResult) {
    // The work waits until the test has destroyed the context (or cancelled the job), so the
    // result is always produced after that: the delivery must be dropped on the main thread.
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "context destroyed");
        auto context = std::make_unique<QObject>();
        QSemaphore started;
        QSemaphore release;
        std::atomic_bool sawCancel = false;
        bool delivered = false;
        const BackgroundJob job = runInBackground(
            context.get(),
            [&](const BackgroundJob& self) {
                started.release();
                release.acquire();
                sawCancel = self.cancelled();
                return 1;
            },
            [&](int) { delivered = true; });
        started.acquire();
        if (cancel) {
            job.cancel();
        } else {
            context.reset();
        }
        release.release();
        settle();
        EXPECT_FALSE(delivered);
        EXPECT_EQ(sawCancel.load(), cancel);
    }
}

TEST(Background, blockingJobsDoNotWaitForQtsGlobalPool) {
    // Fill Qt's global pool with jobs that block; a background job must still finish.
    QSemaphore release;
    QThreadPool& global = *QThreadPool::globalInstance();
    for (int i = 0; i < global.maxThreadCount(); ++i) {
        global.start([&release] { release.acquire(); });
    }
    QObject context;
    bool done = false;
    runInBackground(
        &context, [] {}, [&] { done = true; });
    const bool finished = testing_support::waitUntil([&] { return done; });
    release.release(global.maxThreadCount());
    global.waitForDone();
    EXPECT_TRUE(finished);
}
