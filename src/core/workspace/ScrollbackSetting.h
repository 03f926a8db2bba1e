#pragma once

#include <QObject>

class Preferences;
class SessionManager;

// How many lines each terminal keeps scrolled off the top: 0 to 100,000, 2,000 unless
// changed. A change applies at once to every open session (a lower limit drops their oldest
// lines) and to every session started later. Main thread only.
class ScrollbackSetting : public QObject {
    Q_OBJECT
    Q_PROPERTY(int lines READ lines WRITE setLines NOTIFY linesChanged)

public:
    // With a `store` the setting is read now and stored on each change.
    ScrollbackSetting(Preferences* store, SessionManager& sessions, QObject* parent = nullptr);

    int lines() const { return m_lines; }
    // Kept between 0 and TerminalScreen::kMaxScrollbackLimit.
    void setLines(int lines);

Q_SIGNALS:
    void linesChanged();

private:
    void applyToSessions();

    Preferences* m_store;
    SessionManager& m_sessions;
    int m_lines;
};
