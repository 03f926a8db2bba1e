#pragma once

#include "FakeLoginManager.h"

#include <QDBusMessage>
#include <QMutex>
#include <QStringList>
#include <QThread>

#include <memory>
#include <vector>

class FakeNotificationServerObject;

// Plays a desktop's org.freedesktop.Notifications on a private bus, on a thread of its own:
// records every Notify and hands out ids (41, 42, … or the id it replaces). While held, it
// answers no Notify until released, as a hung server would not. It can send ActionInvoked,
// as a server does when the user chooses an action.
class FakeNotificationServer {
public:
    struct Shown {
        uint id = 0;
        uint replaces = 0;
        QString summary, body;
        QStringList actions;
    };

    explicit FakeNotificationServer(PrivateBus& bus);
    ~FakeNotificationServer();

    bool isRegistered() const { return m_registered; }
    std::vector<Shown> shown() const;

    void hold();
    // Answers every held call and answers the ones that follow at once.
    void release();
    // The user chose `action` on notification `id`.
    void invoke(uint id, const QString& action);

private:
    friend class FakeNotificationServerObject;

    QThread m_thread;
    std::unique_ptr<FakeNotificationServerObject> m_object;
    QString m_connectionName;
    bool m_registered = false;
    mutable QMutex m_mutex;
    std::vector<Shown> m_shown;
    bool m_holding = false;
    std::vector<QDBusMessage> m_held;  // replies not sent yet
};
