#pragma once

#include "core/services/DesktopNotifications.h"

#include <QDBusConnection>
#include <QHash>

/// Notifications through org.freedesktop.Notifications on the session bus: Notify with a
/// "default" action (clicking the notification) and the named one, replacing the previous
/// notification of the same key; ActionInvoked becomes activated(key).
class FreedesktopNotifications : public DesktopNotifications {
    Q_OBJECT
public:
    explicit FreedesktopNotifications(QDBusConnection bus = QDBusConnection::sessionBus(),
                                      QObject* parent = nullptr);

    bool available() const override;
    bool notify(const QString& key, const QString& summary, const QString& body,
                const QString& actionLabel) override;

private Q_SLOTS:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    QHash<QString, uint> m_idByKey;
};
