#include "FakeNotificationServer.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QMutexLocker>
#include <QVariantMap>

namespace {
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kName = QStringLiteral("org.freedesktop.Notifications");
}  // namespace

class FakeNotificationServerObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    explicit FakeNotificationServerObject(FakeNotificationServer& owner) : m_owner(owner) {}

public Q_SLOTS:
    uint Notify(const QString&, uint replaces, const QString&, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap&, int) {
        QMutexLocker lock(&m_owner.m_mutex);
        const uint id = replaces ? replaces : uint(m_owner.m_shown.size()) + 41;
        m_owner.m_shown.push_back({id, replaces, summary, body, actions});
        if (m_owner.m_holding) {
            setDelayedReply(true);
            m_owner.m_held.push_back(message().createReply(id));
        }
        return id;
    }

private:
    FakeNotificationServer& m_owner;
};

FakeNotificationServer::FakeNotificationServer(PrivateBus& bus)
    : m_object(std::make_unique<FakeNotificationServerObject>(*this)) {
    static int instances = 0;
    m_connectionName = QStringLiteral("fake-notifications-%1").arg(++instances);
    m_object->moveToThread(&m_thread);
    m_thread.start();
    QDBusConnection connection = bus.connect(m_connectionName);
    m_registered =
        connection.isConnected() &&
        connection.registerObject(kPath, m_object.get(), QDBusConnection::ExportAllSlots) &&
        connection.registerService(kName);
}

FakeNotificationServer::~FakeNotificationServer() {
    release();
    QDBusConnection(m_connectionName).unregisterObject(kPath);
    QDBusConnection::disconnectFromBus(m_connectionName);
    m_thread.quit();
    m_thread.wait();
}

std::vector<FakeNotificationServer::Shown> FakeNotificationServer::shown() const {
    QMutexLocker lock(&m_mutex);
    return m_shown;
}

void FakeNotificationServer::hold() {
    QMutexLocker lock(&m_mutex);
    m_holding = true;
}

void FakeNotificationServer::release() {
    std::vector<QDBusMessage> held;
    {
        QMutexLocker lock(&m_mutex);
        m_holding = false;
        held.swap(m_held);
    }
    for (const QDBusMessage& reply : held) {
        QDBusConnection(m_connectionName).send(reply);
    }
}

void FakeNotificationServer::invoke(uint id, const QString& action) {
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kName, QStringLiteral("ActionInvoked"));
    signal << id << action;
    QDBusConnection(m_connectionName).send(signal);
}

#include "FakeNotificationServer.moc"
