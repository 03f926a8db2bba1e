// A team run's preparation as a background job: the run is handed over on the main thread,
// and a run nobody takes leaves no folder behind.

#include "RunsTestSupport.h"
#include "core/base/Background.h"
#include "core/runs/RunPreparation.h"
#include "core/runs/RunStore.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <tuple>

using namespace std::chrono_literals;

namespace {

enum class Then { HandOver, Cancel, Destroy };

}  // namespace

TEST(RunPreparation, aRunCopiedInFullIsHandedOverOrElseItsFolderIsRemoved) {
    // Each time the copying has ended and only the hand-over to the main thread is pending
    // when the requester decides.
    for (const Then then : {Then::HandOver, Then::Cancel, Then::Destroy}) {
        SCOPED_TRACE(int(then));
        Scratch scratch;
        scratch.write("project/main.txt", "original");
        const QString folder = scratch.path("runs/run");
        auto preparation = std::make_unique<RunPreparation>();
        std::optional<Result<TeamRun>> heard;
        preparation->start({scratch.path("project"), folder, "task", {"claude", "codex"}, {}, {}},
                           60s, [&](Result<TeamRun> result) { heard = std::move(result); });
        Background::waitForIdle();
        ASSERT_TRUE(QFileInfo::exists(folder + "/baseline/main.txt"));
        EXPECT_EQ(preparation->copied(), 3);
        EXPECT_EQ(preparation->total(), 3);
        // The estimate of the copying: the listing, at the rate the baseline was copied.
        const std::optional<CopyEstimate> estimate = preparation->estimate();
        ASSERT_TRUE(estimate.has_value());
        EXPECT_EQ(std::tuple(estimate->files, estimate->bytes, estimate->snapshots),
                  std::tuple(1, 8, 3));
        EXPECT_NE(estimate->bytesPerSecond, CopyEstimate::kAssumedBytesPerSecond);

        if (then == Then::Cancel) {
            preparation->cancel();
        } else if (then == Then::Destroy) {
            preparation.reset();
        }
        QCoreApplication::sendPostedEvents();
        Background::waitForIdle();  // the removal, when there is one

        if (then != Then::HandOver) {
            EXPECT_FALSE(heard.has_value());
            EXPECT_FALSE(QFileInfo::exists(folder));
            continue;
        }
        ASSERT_TRUE(heard.has_value() && heard->ok());
        const TeamRun& run = heard->value();
        EXPECT_EQ(run.root, folder);
        EXPECT_EQ(run.prompt, "task");
        ASSERT_EQ(run.copies.size(), 2u);
        EXPECT_EQ(run.copies[1].provider, "codex");
        EXPECT_EQ(scratch.read("runs/run/baseline/main.txt"), "original");
        for (const RunCopy& copy : run.copies) {
            EXPECT_EQ(QFileInfo(copy.directory).path(), folder);
            EXPECT_TRUE(QFileInfo::exists(copy.directory + "/main.txt"));
        }
        EXPECT_FALSE(preparation->running());
    }
}
