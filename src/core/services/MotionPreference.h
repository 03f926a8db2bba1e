#pragma once

#include <QObject>

// Whether the desktop lets applications animate: on GNOME the "enable-animations" setting
// (Settings → Accessibility → Reduce animation). Views that move or flash things for show
// draw them steady while it is off.
class MotionPreference : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool animationsEnabled() const = 0;

Q_SIGNALS:
    // After the desktop's setting changed (emitted on the main thread).
    void animationsEnabledChanged();
};
