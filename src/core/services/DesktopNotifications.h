#pragma once

#include <QObject>
#include <QString>

/// Desktop notifications with one action that brings the user back to what they are about.
/// Implementations: the freedesktop notification service over D-Bus, and fakes in tests.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    /// Whether a notification server answers; without one nothing is shown.
    virtual bool available() const = 0;
    /// Shows `summary` and `body`, replacing the notification shown before under `key`;
    /// choosing `actionLabel` (or the notification itself) emits activated(key). Returns
    /// whether the server took it.
    virtual bool notify(const QString& key, const QString& summary, const QString& body,
                        const QString& actionLabel) = 0;

Q_SIGNALS:
    void activated(const QString& key);
};
