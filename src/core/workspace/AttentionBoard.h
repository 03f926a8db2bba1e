#pragma once

#include "core/attention/SessionAttention.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QUuid>

#include <deque>
#include <functional>
#include <memory>

class DesktopNotifications;
class Preferences;
class ProjectModel;
class ProviderRegistry;
class SessionManager;
class TerminalSession;

/// The attention of every open session: which works, which needs the user, which is done.
/// Follows each session the manager starts with its assistant's patterns, counts those that
/// need the user, and tells the desktop when a session starts needing the user or finishes
/// a turn while the window is not active: with the assistant, the project and what it
/// asked, at most once per state, at most kNotificationBurst within kNotificationWindowMs,
/// and not at all when the setting is off. Choosing the notification emits showRequested.
/// Sessions that run one task and end by themselves (team-run copies, comparisons) are
/// marked Stalled after stalledAfterSeconds() without output or progress.
class AttentionBoard : public QObject {
    Q_OBJECT
public:
    static constexpr int kNotificationBurst = 4;
    static constexpr qint64 kNotificationWindowMs = 60'000;
    static constexpr int kDefaultStalledAfterSeconds = 10 * 60;

    AttentionBoard(SessionManager& sessions, ProviderRegistry& providers, ProjectModel& project,
                   Preferences* preferences, QObject* parent = nullptr);
    ~AttentionBoard() override;

    /// Where notifications go; none: none are sent. Must outlive the board.
    void setNotifications(DesktopNotifications* notifications);
    /// Whether the window is the active one (the UI keeps this current).
    void setWindowActive(bool active) { m_windowActive = active; }

    /// The attention of the open session `id`; null for an unknown one.
    const SessionAttention* attentionOf(const QUuid& id) const;
    int needingYou() const;
    /// What session `id` showed before it ended (or shows now, while it runs).
    std::optional<Attention> lastStateBeforeEnd(const QUuid& id) const;

    bool notificationsEnabled() const { return m_notificationsEnabled; }
    void setNotificationsEnabled(bool enabled);

    /// Which sessions run one task and end by themselves; only those can stall (an
    /// interactive session waits for its user as long as it likes).
    void setOneShot(std::function<bool(const QUuid&)> isOneShot) {
        m_isOneShot = std::move(isOneShot);
    }
    /// How long a one-shot session may show nothing before it is Stalled (at least 1 s);
    /// stored with the preferences, applied to the sessions already followed too.
    int stalledAfterSeconds() const { return m_stalledAfterSeconds; }
    void setStalledAfterSeconds(int seconds);

Q_SIGNALS:
    void attentionChanged(const QUuid& session, Attention state);
    void needingYouChanged(int count);
    void showRequested(const QUuid& session);
    void notificationsEnabledChanged(bool enabled);
    void stalledAfterSecondsChanged(int seconds);

private:
    void follow(TerminalSession& session);
    void prune();
    void stateChanged(const QUuid& id, Attention state);
    void maybeNotify(const QUuid& id, Attention state);

    SessionManager& m_sessions;
    ProviderRegistry& m_providers;
    ProjectModel& m_project;
    Preferences* m_preferences = nullptr;
    DesktopNotifications* m_notifications = nullptr;
    bool m_notificationsEnabled = true;
    bool m_windowActive = true;
    int m_stalledAfterSeconds = kDefaultStalledAfterSeconds;
    std::function<bool(const QUuid&)> m_isOneShot;
    QHash<QUuid, std::shared_ptr<SessionAttention>> m_attention;
    QHash<QUuid, Attention> m_notified;   // the state each session was last notified for
    QHash<QUuid, Attention> m_previous;   // the state last seen
    QHash<QUuid, Attention> m_beforeEnd;  // the state an ended session showed before its end
    int m_lastCount = 0;
    QElapsedTimer m_clock;
    std::deque<qint64> m_sentAt;
};
