#include "platform/FreedesktopNotifications.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
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
    return m_bus.isConnected() && m_bus.interface() &&
           m_bus.interface()->isServiceRegistered(kService).value();
}

bool FreedesktopNotifications::notify(const QString& key, const QString& summary,
                                      const QString& body, const QString& actionLabel) {
    if (!m_bus.isConnected()) {
        return false;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QStringList actions{QStringLiteral("default"), actionLabel, QStringLiteral("show"),
                              actionLabel};
    QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("ai.kelo.velk")}};
    call << QStringLiteral("VELK") << m_idByKey.value(key, 0u) << QStringLiteral("ai.kelo.velk")
         << summary << body << actions << hints << -1;
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return false;
    }
    m_idByKey.insert(key, reply.arguments().first().toUInt());
    return true;
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
