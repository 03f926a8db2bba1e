#pragma once

#include "core/attention/AttentionTracker.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

class TerminalSession;

/// Keeps the attention of one terminal session current: follows the session's output,
/// input, title, progress, notifications and end, reads its visible screen when output has
/// been quiet, and publishes stateChanged when the derived state changes. Main thread only;
/// holds the session weakly (a session that goes away ends the tracking).
class SessionAttention : public QObject {
    Q_OBJECT
public:
    SessionAttention(const std::shared_ptr<TerminalSession>& session, AttentionPatterns patterns,
                     QObject* parent = nullptr);

    Attention state() const { return m_tracker.state(); }
    QString label() const { return attentionLabel(m_tracker.state(), m_tracker.exitCode()); }
    QString evidence() const { return m_tracker.evidence(); }
    QString question() const { return m_tracker.question(); }
    AttentionTracker& tracker() { return m_tracker; }
    /// Turns the stall check on (0: off) and re-derives the state under it.
    void setStallAfterMs(qint64 milliseconds);

    /// The visible rows of `session`'s screen joined by newlines, trailing blanks trimmed.
    static QString visibleScreen(const TerminalSession& session);

Q_SIGNALS:
    void stateChanged(Attention state);

private:
    qint64 now() const { return m_clock.elapsed(); }
    void reevaluate();

    std::weak_ptr<TerminalSession> m_session;
    AttentionTracker m_tracker;
    QElapsedTimer m_clock;
    QTimer m_check;
    Attention m_published = Attention::Starting;
};
