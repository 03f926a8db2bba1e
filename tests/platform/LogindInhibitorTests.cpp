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

TEST_F(LogindInhibitorTest, takesIndependentIdleSleepBlocksAndReleasesOnlyWhatItHandedOut) {
    FakeLoginManager manager(bus);
    ASSERT_TRUE(manager.isRegistered());
    int foreign[2];
    ASSERT_EQ(::pipe(foreign), 0);
    {
        LogindInhibitor inhibitor(client());
        const int first = inhibitor.acquire("VELK is running a task");
        const int second = inhibitor.acquire("second");
        ASSERT_GE(first, 0);
        ASSERT_GE(second, 0);
        EXPECT_EQ(manager.heldCount(), 2);
        const FakeLoginManager::Call call = manager.calls().front();
        EXPECT_EQ(call.what, "idle:sleep");
        EXPECT_EQ(call.mode, "block");
        EXPECT_EQ(call.who, "VELK");
        EXPECT_EQ(call.why, "VELK is running a task");
        // Terminals started while the block is held must not keep it alive after release.
        EXPECT_TRUE(::fcntl(first, F_GETFD) & FD_CLOEXEC);

        inhibitor.release(first);
        // The bus library may still be dropping its own copy of the message for a moment.
        EXPECT_TRUE(waitUntil([&] { return manager.heldCount() == 1; }));
        EXPECT_EQ(inhibitor.heldCount(), 1);
        // Releasing the same handle again, or numbers it never handed out, closes nothing.
        inhibitor.release(first);
        inhibitor.release(foreign[0]);
        inhibitor.release(-1);
        EXPECT_EQ(manager.heldCount(), 1);
        EXPECT_TRUE(isOpen(second));
        EXPECT_TRUE(isOpen(foreign[0]));
    }
    // The inhibitor releases what it still holds when it goes.
    EXPECT_TRUE(waitUntil([&] { return manager.heldCount() == 0; }));
    ::close(foreign[0]);
    ::close(foreign[1]);
}

TEST_F(LogindInhibitorTest, failsWithoutALoginManagerOrABusAndGivesUpOnASilentOne) {
    EXPECT_EQ(LogindInhibitor(client(), kShortTimeoutMs).acquire("nobody listens"), -1);
    EXPECT_EQ(LogindInhibitor(QDBusConnection("never connected")).acquire("no bus"), -1);

    FakeLoginManager manager(bus, FakeLoginManager::Behaviour::NeverAnswer);
    ASSERT_TRUE(manager.isRegistered());
    LogindInhibitor inhibitor(client(), kShortTimeoutMs);
    EXPECT_EQ(inhibitor.acquire("silent manager"), -1);
    EXPECT_EQ(inhibitor.heldCount(), 0);
    EXPECT_EQ(manager.calls().size(), 1u);
}
