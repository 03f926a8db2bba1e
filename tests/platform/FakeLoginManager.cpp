#include "FakeLoginManager.h"

#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QMutexLocker>
#include <QStandardPaths>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

PrivateBus::PrivateBus() {
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) {
        return;
    }
    m_daemon.start(daemon, {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    if (!m_daemon.waitForStarted(5000)) {
        return;
    }
    while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(5000)) {
    }
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
}

PrivateBus::~PrivateBus() {
    for (const QString& name : std::as_const(m_connectionNames)) {
        QDBusConnection::disconnectFromBus(name);
    }
    m_daemon.kill();
    m_daemon.waitForFinished(5000);
}

QDBusConnection PrivateBus::connect(const QString& connectionName) {
    m_connectionNames.append(connectionName);
    return QDBusConnection::connectToBus(m_address, connectionName);
}

class FakeLoginManagerObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    FakeLoginManagerObject(FakeLoginManager& owner, FakeLoginManager::Behaviour behaviour)
        : m_owner(owner), m_behaviour(behaviour) {}

public Q_SLOTS:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode) {
        {
            QMutexLocker lock(&m_owner.m_mutex);
            m_owner.m_calls.push_back({what, who, why, mode});
        }
        if (m_behaviour == FakeLoginManager::Behaviour::NeverAnswer) {
            setDelayedReply(true);  // and never send it
            return {};
        }
        const int writeEnd = m_owner.handOut();
        QDBusUnixFileDescriptor descriptor(writeEnd);  // keeps a copy of its own
        ::close(writeEnd);
        return descriptor;
    }

private:
    FakeLoginManager& m_owner;
    FakeLoginManager::Behaviour m_behaviour;
};

FakeLoginManager::FakeLoginManager(PrivateBus& bus, Behaviour behaviour)
    : m_object(std::make_unique<FakeLoginManagerObject>(*this, behaviour)) {
    static int instances = 0;
    m_connectionName = QStringLiteral("fake-login1-%1").arg(++instances);
    m_object->moveToThread(&m_thread);
    m_thread.start();
    QDBusConnection connection = bus.connect(m_connectionName);
    m_registered = connection.isConnected() &&
                   connection.registerObject(QStringLiteral("/org/freedesktop/login1"),
                                             m_object.get(), QDBusConnection::ExportAllSlots) &&
                   connection.registerService(QStringLiteral("org.freedesktop.login1"));
}

FakeLoginManager::~FakeLoginManager() {
    QDBusConnection(m_connectionName).unregisterObject(QStringLiteral("/org/freedesktop/login1"));
    QDBusConnection::disconnectFromBus(m_connectionName);
    m_thread.quit();
    m_thread.wait();
    for (int readEnd : m_readEnds) {
        ::close(readEnd);
    }
}

int FakeLoginManager::handOut() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return -1;
    }
    QMutexLocker lock(&m_mutex);
    m_readEnds.push_back(ends[0]);
    return ends[1];
}

std::vector<FakeLoginManager::Call> FakeLoginManager::calls() const {
    QMutexLocker lock(&m_mutex);
    return m_calls;
}

int FakeLoginManager::heldCount() const {
    QMutexLocker lock(&m_mutex);
    int held = 0;
    for (int readEnd : m_readEnds) {
        // Once every copy of the write end is closed, the read end reports hang-up.
        pollfd descriptor{readEnd, POLLIN, 0};
        if (::poll(&descriptor, 1, 0) == 0) {
            ++held;
        }
    }
    return held;
}

#include "FakeLoginManager.moc"
