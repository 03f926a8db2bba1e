#include "core/base/Background.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

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
#if defined(__SANITIZE_THREAD__)
    // Qt's pool hands work over through futexes ThreadSanitizer cannot see, so it reports races
    // inside Qt here; VELK's own pool is checked by the other tests.
    GTEST_SKIP() << "Qt's global pool is opaque to ThreadSanitizer";
#endif
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

TEST(Background, parallelItemsEachRunOnceAndAFailureReachesTheCaller) {
    constexpr std::size_t kItems = 1000;
    std::vector<std::atomic_int> visits(kItems);
    Background::forEachInParallel(kItems, [&](std::size_t index) { ++visits[index]; });
    for (std::size_t index = 0; index < kItems; ++index) {
        ASSERT_EQ(visits[index].load(), 1) << "item " << index;
    }

    try {
        Background::forEachInParallel(kItems, [&](std::size_t index) {
            if (index == 3) {
                throw std::runtime_error("item 3 failed");
            }
        });
        ADD_FAILURE() << "the failure was lost";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "item 3 failed");
    }
}

TEST(Background, parallelItemsFinishWhenEveryBackgroundThreadIsBusy) {
    // Every background thread runs a job that waits until all of them have started, then
    // spreads its own items: no thread is idle to help, so each job must do its items itself
    // rather than wait for helpers that cannot run until it ends.
    constexpr std::size_t kItems = 64;
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t started = 0;
    std::size_t finished = 0;
    std::vector<std::vector<std::atomic_int>> visits(Background::kThreadCount);
    for (std::size_t job = 0; job < Background::kThreadCount; ++job) {
        visits[job] = std::vector<std::atomic_int>(kItems);
        Background::start([&, job] {
            {
                std::unique_lock lock(mutex);
                ++started;
                changed.notify_all();
                changed.wait(lock, [&] { return started == Background::kThreadCount; });
            }
            Background::forEachInParallel(kItems,
                                          [&, job](std::size_t index) { ++visits[job][index]; });
            const std::lock_guard lock(mutex);
            ++finished;
            changed.notify_all();
        });
    }
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return finished == Background::kThreadCount; });
    }
    for (std::size_t job = 0; job < Background::kThreadCount; ++job) {
        for (std::size_t index = 0; index < kItems; ++index) {
            ASSERT_EQ(visits[job][index].load(), 1) << "job " << job << ", item " << index;
        }
    }
}
