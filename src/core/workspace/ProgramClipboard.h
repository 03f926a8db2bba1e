#pragma once

#include <QObject>

class Preferences;
class SessionManager;

// The setting that lets programs in the terminals copy text to the clipboard (OSC 52). Off
// by default; while it is on, every session may hand its writes to its view, which applies
// them only when that session has the focus. Main thread only.
class ProgramClipboard : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool enabled READ enabled WRITE setEnabled NOTIFY enabledChanged)

public:
    // With a `store` the setting is read now and stored on each change.
    ProgramClipboard(Preferences* store, SessionManager& sessions, QObject* parent = nullptr);

    bool enabled() const { return m_enabled; }
    // Applies to the open sessions and to every session started later.
    void setEnabled(bool enabled);

Q_SIGNALS:
    void enabledChanged();

private:
    void applyToSessions();

    Preferences* m_store;
    SessionManager& m_sessions;
    bool m_enabled = false;
};
