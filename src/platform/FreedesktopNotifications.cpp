#include "platform/FreedesktopNotifications.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
constexpr int kCallTimeoutMs = 2000;
}  // namespace

FreedesktopNotifications::FreedesktopNotifications(QDBusConnection bus, QObject* parent)
    : DesktopNotifications(parent), m_bus(std::move(bus)) {
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(actionInvoked(uint, QString)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(notificationClosed(uint, uint)));
}

bool FreedesktopNotifications::available() const {
    // Asks the bus itself, which always answers, not the notification server.
    return m_bus.isConnected() && m_bus.interface() &&
           m_bus.interface()->isServiceRegistered(kService).value();
}

bool FreedesktopNotifications::notify(const QString& key, const QString& summary,
                                      const QString& body, const QString& actionLabel) {
    if (!available()) {
        return false;
    }
    const Request request{summary, body, actionLabel};
    if (m_unanswered.contains(key)) {
        m_waiting.insert(key, request);
    } else {
        send(key, request);
    }
    return true;
}

void FreedesktopNotifications::send(const QString& key, const Request& request) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QStringList actions{QStringLiteral("default"), request.actionLabel,
                              QStringLiteral("show"), request.actionLabel};
    QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("ai.kelo.velk")}};
    call << QStringLiteral("VELK") << m_idByKey.value(key, 0u) << QStringLiteral("ai.kelo.velk")
         << request.summary << request.body << actions << hints << -1;
    m_unanswered.insert(key);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, key](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<uint> reply = *finished;
                m_unanswered.remove(key);
                if (reply.isValid()) {
                    m_idByKey.insert(key, reply.value());
                }
                if (const auto next = m_waiting.constFind(key); next != m_waiting.cend()) {
                    const Request request = *next;
                    m_waiting.erase(next);
                    send(key, request);
                }
            });
}

void FreedesktopNotifications::actionInvoked(uint id, const QString& action) {
    if (action != QStringLiteral("default") && action != QStringLiteral("show")) {
        return;
    }
    const QString key = m_idByKey.key(id);
    if (!key.isEmpty()) {
        Q_EMIT activated(key);
    }
}

void FreedesktopNotifications::notificationClosed(uint id, uint) {
    m_idByKey.remove(m_idByKey.key(id));
}
