#include "FakeNotificationServer.h"
#include "platform/FreedesktopNotifications.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using testing_support::waitUntil;

TEST(FreedesktopNotifications, showsReplacesByKeyAndTurnsTheServersActionIntoActivated) {
    PrivateBus bus;
    ASSERT_TRUE(bus.isRunning());
    QDBusConnection client = bus.connect(QStringLiteral("client"));
    FreedesktopNotifications notifications(client);
    EXPECT_FALSE(notifications.available());
    EXPECT_FALSE(notifications.notify(QStringLiteral("a"), QStringLiteral("s"), QString(),
                                      QStringLiteral("Show")));

    FakeNotificationServer server(bus);
    ASSERT_TRUE(server.isRegistered());
    EXPECT_TRUE(notifications.available());

    ASSERT_TRUE(notifications.notify(QStringLiteral("session-1"), QStringLiteral("Codex needs you"),
                                     QStringLiteral("project — Allow command?"),
                                     QStringLiteral("Show")));
    ASSERT_TRUE(waitUntil([&] { return server.shown().size() == 1; }));
    ASSERT_TRUE(notifications.notify(QStringLiteral("session-1"), QStringLiteral("Codex finished"),
                                     QStringLiteral("project"), QStringLiteral("Show")));
    ASSERT_TRUE(waitUntil([&] { return server.shown().size() == 2; }));
    std::vector<FakeNotificationServer::Shown> shown = server.shown();
    EXPECT_EQ(shown[0].summary, "Codex needs you");
    EXPECT_EQ(shown[0].actions, (QStringList{"default", "Show", "show", "Show"}));
    EXPECT_EQ(shown[1].replaces, 41u) << "the same key replaces the notification shown before";

    QString activated;
    QObject::connect(&notifications, &DesktopNotifications::activated,
                     [&](const QString& key) { activated = key; });
    server.invoke(41, QStringLiteral("show"));
    EXPECT_TRUE(waitUntil([&] { return !activated.isEmpty(); }));
    EXPECT_EQ(activated, "session-1");

    // A server that does not answer holds up nothing: the call goes out and returns, and a
    // second notification of the same key waits for the first one's id to replace it.
    server.hold();
    ASSERT_TRUE(notifications.notify(QStringLiteral("session-2"),
                                     QStringLiteral("Claude needs you"), QString(),
                                     QStringLiteral("Show")));
    ASSERT_TRUE(waitUntil([&] { return server.shown().size() == 3; }));
    ASSERT_TRUE(notifications.notify(QStringLiteral("session-2"), QStringLiteral("Claude finished"),
                                     QString(), QStringLiteral("Show")));
    server.release();
    ASSERT_TRUE(waitUntil([&] { return server.shown().size() == 4; }));
    shown = server.shown();
    EXPECT_EQ(shown[3].summary, "Claude finished");
    EXPECT_EQ(shown[3].replaces, shown[2].id);
}
