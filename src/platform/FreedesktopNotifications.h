#pragma once

#include "core/services/DesktopNotifications.h"

#include <QDBusConnection>
#include <QHash>
#include <QSet>

/// Notifications through org.freedesktop.Notifications on the session bus: Notify with a
/// "default" action (clicking the notification) and the named one, replacing the previous
/// notification of the same key; ActionInvoked becomes activated(key).
///
/// Notify is called asynchronously, so a slow or hanging server never holds up the caller;
/// the id the server hands back is kept when its reply comes. A notification of a key whose
/// previous one is still unanswered waits for that reply (only the latest one waiting is
/// kept), so that it can replace the previous one by its id.
class FreedesktopNotifications : public DesktopNotifications {
    Q_OBJECT
public:
    explicit FreedesktopNotifications(QDBusConnection bus = QDBusConnection::sessionBus(),
                                      QObject* parent = nullptr);

    bool available() const override;
    /// True when the call went out (or waits for the previous one of its key); the server's
    /// answer comes later.
    bool notify(const QString& key, const QString& summary, const QString& body,
                const QString& actionLabel) override;

private Q_SLOTS:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    struct Request {
        QString summary, body, actionLabel;
    };
    void send(const QString& key, const Request& request);

    QDBusConnection m_bus;
    QHash<QString, uint> m_idByKey;
    QSet<QString> m_unanswered;         // keys whose Notify has not been answered yet
    QHash<QString, Request> m_waiting;  // the next notification of such a key
};
