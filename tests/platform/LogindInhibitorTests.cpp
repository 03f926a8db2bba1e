#include "FakeLoginManager.h"
#include "platform/LogindInhibitor.h"
#include "support/TestSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

constexpr int kShortTimeoutMs = 300;

using testing_support::waitUntil;

bool isOpen(int descriptor) {
    return ::fcntl(descriptor, F_GETFD) != -1;
}

class LogindInhibitorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bus.isRunning()) << "dbus-daemon did not start"; }

    QDBusConnection client() { return bus.connect(QStringLiteral("client-%1").arg(++clients)); }

    PrivateBus bus;
    int clients = 0;
};

}  // namespace

TEST_F(LogindInhibitorTest, takesAnIdleSleepBlockAndReleasesItByClosingTheDescriptor) {
    FakeLoginManager manager(bus);
    ASSERT_TRUE(manager.isRegistered());
    LogindInhibitor inhibitor(client());

    const int handle = inhibitor.acquire(QStringLiteral("VELK is running a task"));
    ASSERT_GE(handle, 0);
    EXPECT_EQ(manager.heldCount(), 1);
    ASSERT_EQ(manager.calls().size(), 1u);
    const FakeLoginManager::Call call = manager.calls().front();
    EXPECT_EQ(call.what, "idle:sleep");
    EXPECT_EQ(call.mode, "block");
    EXPECT_EQ(call.who, "VELK");
    EXPECT_EQ(call.why, "VELK is running a task");
    // Terminals started while the block is held must not keep it alive after release.
    EXPECT_TRUE(::fcntl(handle, F_GETFD) & FD_CLOEXEC);

    inhibitor.release(handle);
    // The bus library may still be dropping its own copy of the message for a moment.
    EXPECT_TRUE(waitUntil([&] { return manager.heldCount() == 0; }));
    EXPECT_EQ(inhibitor.heldCount(), 0);
}

TEST_F(LogindInhibitorTest, blocksAreIndependentAndTheInhibitorReleasesWhatItStillHolds) {
    FakeLoginManager manager(bus);
    {
        LogindInhibitor inhibitor(client());
        const int first = inhibitor.acquire("first");
        const int second = inhibitor.acquire("second");
        ASSERT_GE(first, 0);
        ASSERT_GE(second, 0);
        EXPECT_EQ(manager.heldCount(), 2);
        inhibitor.release(first);
        EXPECT_TRUE(waitUntil([&] { return manager.heldCount() == 1; }));
        inhibitor.release(first);  // a second release of the same handle changes nothing
        EXPECT_EQ(manager.heldCount(), 1);
        EXPECT_TRUE(isOpen(second));
    }
    EXPECT_TRUE(waitUntil([&] { return manager.heldCount() == 0; }));
}

TEST_F(LogindInhibitorTest, releasingANumberItDidNotHandOutLeavesThatDescriptorAlone) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    LogindInhibitor inhibitor(client());
    inhibitor.release(ends[0]);
    inhibitor.release(-1);
    EXPECT_TRUE(isOpen(ends[0]));
    ::close(ends[0]);
    ::close(ends[1]);
}

TEST_F(LogindInhibitorTest, failsWhenNoLoginManagerIsOnTheBus) {
    LogindInhibitor inhibitor(client(), kShortTimeoutMs);
    EXPECT_EQ(inhibitor.acquire("nobody listens"), -1);
    EXPECT_EQ(inhibitor.heldCount(), 0);
}

TEST_F(LogindInhibitorTest, givesUpWhenTheLoginManagerNeverAnswers) {
    FakeLoginManager manager(bus, FakeLoginManager::Behaviour::NeverAnswer);
    ASSERT_TRUE(manager.isRegistered());
    LogindInhibitor inhibitor(client(), kShortTimeoutMs);
    EXPECT_EQ(inhibitor.acquire("silent manager"), -1);
    EXPECT_EQ(manager.calls().size(), 1u);
}

TEST(LogindInhibitor, failsOnABusThatIsNotConnected) {
    LogindInhibitor inhibitor(QDBusConnection(QStringLiteral("never connected")));
    EXPECT_EQ(inhibitor.acquire("no bus"), -1);
}
