#pragma once

#include <QDBusConnection>
#include <QMutex>
#include <QProcess>
#include <QStringList>
#include <QThread>

#include <memory>
#include <vector>

// A dbus-daemon of the test's own, so tests running at the same time never compete for a
// well-known name on the shared session bus.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();

    bool isRunning() const { return !m_address.isEmpty(); }
    QString address() const { return m_address; }
    // A new connection to the bus under a name of its own.
    QDBusConnection connect(const QString& connectionName);

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_connectionNames;
};

class FakeLoginManagerObject;

// Plays systemd-logind's Manager.Inhibit on a bus: each call hands out the write end of a
// new pipe and keeps the read end, so the test sees when every copy of the handed-out
// descriptor has been closed. Runs on a thread of its own, so the code under test may make
// blocking calls from the main thread.
class FakeLoginManager {
public:
    enum class Behaviour { Answer, NeverAnswer };

    struct Call {
        QString what, who, why, mode;
    };

    explicit FakeLoginManager(PrivateBus& bus, Behaviour behaviour = Behaviour::Answer);
    ~FakeLoginManager();

    bool isRegistered() const { return m_registered; }
    std::vector<Call> calls() const;
    // Inhibitors handed out whose descriptor is still open somewhere.
    int heldCount() const;

private:
    friend class FakeLoginManagerObject;
    int handOut();

    QThread m_thread;
    std::unique_ptr<FakeLoginManagerObject> m_object;
    QString m_connectionName;
    bool m_registered = false;
    mutable QMutex m_mutex;
    std::vector<Call> m_calls;
    std::vector<int> m_readEnds;
};
