#include "core/workspace/AttentionBoard.h"

#include "core/services/DesktopNotifications.h"
#include "core/services/Preferences.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/PreferenceKeys.h"
#include "core/workspace/ProjectModel.h"
#include "core/workspace/ProviderRegistry.h"
#include "core/workspace/SessionManager.h"

#include <algorithm>

AttentionBoard::AttentionBoard(SessionManager& sessions, ProviderRegistry& providers,
                               ProjectModel& project, Preferences* preferences, QObject* parent)
    : QObject(parent),
      m_sessions(sessions),
      m_providers(providers),
      m_project(project),
      m_preferences(preferences) {
    m_clock.start();
    if (m_preferences && m_preferences->contains(PreferenceKeys::attentionNotifications)) {
        m_notificationsEnabled =
            m_preferences->value(PreferenceKeys::attentionNotifications).toBool();
    }
    if (m_preferences && m_preferences->contains(PreferenceKeys::stalledAfterSeconds)) {
        m_stalledAfterSeconds =
            std::max(1, m_preferences->value(PreferenceKeys::stalledAfterSeconds).toInt());
    }
    connect(&sessions, &SessionManager::sessionStarted, this, &AttentionBoard::follow);
    connect(&sessions, &SessionManager::sessionsChanged, this, &AttentionBoard::prune);
}

AttentionBoard::~AttentionBoard() = default;

void AttentionBoard::setNotifications(DesktopNotifications* notifications) {
    if (m_notifications) {
        disconnect(m_notifications, nullptr, this, nullptr);
    }
    m_notifications = notifications;
    if (m_notifications) {
        connect(m_notifications, &DesktopNotifications::activated, this,
                [this](const QString& key) { Q_EMIT showRequested(QUuid::fromString(key)); });
    }
}

void AttentionBoard::setNotificationsEnabled(bool enabled) {
    if (m_notificationsEnabled == enabled) {
        return;
    }
    m_notificationsEnabled = enabled;
    if (m_preferences) {
        m_preferences->setValue(PreferenceKeys::attentionNotifications, enabled);
    }
    Q_EMIT notificationsEnabledChanged(enabled);
}

void AttentionBoard::setStalledAfterSeconds(int seconds) {
    seconds = std::max(1, seconds);
    if (m_stalledAfterSeconds == seconds) {
        return;
    }
    m_stalledAfterSeconds = seconds;
    if (m_preferences) {
        m_preferences->setValue(PreferenceKeys::stalledAfterSeconds, seconds);
    }
    for (auto it = m_attention.begin(); it != m_attention.end(); ++it) {
        if (m_isOneShot && m_isOneShot(it.key())) {
            it.value()->setStallAfterMs(qint64(seconds) * 1000);
        }
    }
    Q_EMIT stalledAfterSecondsChanged(seconds);
}

const SessionAttention* AttentionBoard::attentionOf(const QUuid& id) const {
    return m_attention.value(id).get();
}

int AttentionBoard::needingYou() const {
    return int(std::count_if(m_attention.cbegin(), m_attention.cend(), [](const auto& attention) {
        return attention->state() == Attention::NeedsInput;
    }));
}

std::optional<Attention> AttentionBoard::lastStateBeforeEnd(const QUuid& id) const {
    const SessionAttention* attention = attentionOf(id);
    if (!attention) {
        return std::nullopt;
    }
    const Attention now = attention->state();
    const bool ended = now == Attention::Exited || now == Attention::Failed;
    return ended ? m_beforeEnd.value(id, now) : now;
}

void AttentionBoard::follow(TerminalSession& session) {
    const SessionPointer pointer = m_sessions.find(session.id());
    if (!pointer) {
        return;
    }
    const QUuid id = session.id();
    auto attention = std::make_shared<SessionAttention>(
        pointer, AttentionPatterns::forAssistant(session.providerID()));
    connect(attention.get(), &SessionAttention::stateChanged, this,
            [this, id](Attention state) { stateChanged(id, state); });
    if (m_isOneShot && m_isOneShot(id)) {
        attention->setStallAfterMs(qint64(m_stalledAfterSeconds) * 1000);
    }
    m_attention.insert(id, std::move(attention));
    stateChanged(id, m_attention.value(id)->state());
}

void AttentionBoard::prune() {
    bool removed = false;
    for (auto it = m_attention.begin(); it != m_attention.end();) {
        if (!m_sessions.find(it.key())) {
            m_notified.remove(it.key());
            m_previous.remove(it.key());
            m_beforeEnd.remove(it.key());
            it = m_attention.erase(it);
            removed = true;
        } else {
            ++it;
        }
    }
    if (removed && needingYou() != m_lastCount) {
        m_lastCount = needingYou();
        Q_EMIT needingYouChanged(m_lastCount);
    }
}

void AttentionBoard::stateChanged(const QUuid& id, Attention state) {
    maybeNotify(id, state);
    Q_EMIT attentionChanged(id, state);
    if (const int count = needingYou(); count != m_lastCount) {
        m_lastCount = count;
        Q_EMIT needingYouChanged(count);
    }
}

void AttentionBoard::maybeNotify(const QUuid& id, Attention state) {
    const Attention previous = m_previous.value(id, Attention::Starting);
    m_previous.insert(id, state);
    if (state == Attention::Exited || state == Attention::Failed) {
        m_beforeEnd.insert(id, previous);
    }
    const bool asks = state == Attention::NeedsInput;
    const bool finished =
        (state == Attention::Idle || state == Attention::Exited || state == Attention::Failed) &&
        previous == Attention::Working;
    if (!asks && !finished) {
        if (state != m_notified.value(id, state)) {
            m_notified.remove(id);  // a new state: the next question may be told again
        }
        return;
    }
    if (m_notified.value(id, Attention::Starting) == state || m_windowActive ||
        !m_notificationsEnabled || !m_notifications) {
        return;
    }
    const qint64 now = m_clock.elapsed();
    while (!m_sentAt.empty() && now - m_sentAt.front() >= kNotificationWindowMs) {
        m_sentAt.pop_front();
    }
    if (int(m_sentAt.size()) >= kNotificationBurst) {
        return;
    }
    const SessionPointer session = m_sessions.find(id);
    const SessionAttention* attention = attentionOf(id);
    if (!session || !attention) {
        return;
    }
    QString assistant = m_providers.provider(session->providerID()).name;
    if (assistant.isEmpty()) {
        assistant = session->title();
    }
    const QString summary = asks ? QStringLiteral("%1 needs you").arg(assistant)
                                 : QStringLiteral("%1 finished").arg(assistant);
    QString body = m_project.folderName();
    if (asks && !attention->question().isEmpty()) {
        body += QStringLiteral(" — ") + attention->question().section(u'\n', 0, 0).left(200);
    } else if (!asks) {
        body += QStringLiteral(" — ") + attention->label();
    }
    if (m_notifications->notify(id.toString(), summary, body, QStringLiteral("Show"))) {
        m_notified.insert(id, state);
        m_sentAt.push_back(now);
    }
}
