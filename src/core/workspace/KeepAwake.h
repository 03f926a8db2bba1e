#pragma once

#include "core/workspace/RunActivity.h"

#include <QObject>

class PowerInhibitor;
class Preferences;
class SessionManager;

// The keep-awake setting: while it is on and a session runs, the computer does not sleep.
// Main thread only.
class KeepAwake : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool enabled READ enabled WRITE setEnabled NOTIFY enabledChanged)

public:
    // With a `store` the setting is read now and stored on each change. `inhibitor` may be
    // null: then nothing is held.
    KeepAwake(Preferences* store, PowerInhibitor* inhibitor, const SessionManager& sessions,
              QObject* parent = nullptr);

    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    const RunActivity& activity() const { return m_activity; }

Q_SIGNALS:
    void enabledChanged();

private:
    // Holds the power assertion while keep-awake is on and a session runs.
    void update();

    Preferences* m_store;
    const SessionManager& m_sessions;
    RunActivity m_activity;
    bool m_enabled = false;
};
