#include "FakeLoginManager.h"
#include "platform/FreedesktopNotifications.h"
#include "support/TestSupport.h"

#include <QDBusMessage>
#include <QMutex>
#include <QThread>
#include <QVariantMap>

#include <gtest/gtest.h>

using testing_support::waitUntil;

namespace {

// Plays a desktop's notification server: records every Notify and hands out ids.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        uint replaces = 0;
        QString summary, body;
        QStringList actions;
    };
    std::vector<Shown> shown() const {
        QMutexLocker lock(&mutex);
        return m_shown;
    }

public Q_SLOTS:
    uint Notify(const QString&, uint replaces, const QString&, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap&, int) {
        QMutexLocker lock(&mutex);
        m_shown.push_back({replaces, summary, body, actions});
        return replaces ? replaces : uint(m_shown.size()) + 40;
    }

private:
    mutable QMutex mutex;
    std::vector<Shown> m_shown;
};

}  // namespace

TEST(FreedesktopNotifications, showsReplacesByKeyAndTurnsTheServersActionIntoActivated) {
    PrivateBus bus;
    ASSERT_TRUE(bus.isRunning());
    QDBusConnection client = bus.connect(QStringLiteral("client"));
    FreedesktopNotifications notifications(client);
    EXPECT_FALSE(notifications.available());
    EXPECT_FALSE(notifications.notify(QStringLiteral("a"), QStringLiteral("s"), QString(),
                                      QStringLiteral("Show")));

    QThread thread;
    NotificationServer server;
    server.moveToThread(&thread);
    thread.start();
    QDBusConnection serverSide = bus.connect(QStringLiteral("server"));
    ASSERT_TRUE(serverSide.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                                          QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(serverSide.registerService(QStringLiteral("org.freedesktop.Notifications")));
    EXPECT_TRUE(notifications.available());

    ASSERT_TRUE(notifications.notify(QStringLiteral("session-1"), QStringLiteral("Codex needs you"),
                                     QStringLiteral("project — Allow command?"),
                                     QStringLiteral("Show")));
    ASSERT_TRUE(notifications.notify(QStringLiteral("session-1"), QStringLiteral("Codex finished"),
                                     QStringLiteral("project"), QStringLiteral("Show")));
    const std::vector<NotificationServer::Shown> shown = server.shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].summary, "Codex needs you");
    EXPECT_EQ(shown[0].actions, (QStringList{"default", "Show", "show", "Show"}));
    EXPECT_EQ(shown[1].replaces, 41u) << "the same key replaces the notification shown before";

    QString activated;
    QObject::connect(&notifications, &DesktopNotifications::activated,
                     [&](const QString& key) { activated = key; });
    QDBusMessage invoked = QDBusMessage::createSignal(
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"));
    invoked << 41u << QStringLiteral("show");
    serverSide.send(invoked);
    EXPECT_TRUE(waitUntil([&] { return !activated.isEmpty(); }));
    EXPECT_EQ(activated, "session-1");

    serverSide.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    thread.quit();
    thread.wait();
}

#include "NotificationsTests.moc"
