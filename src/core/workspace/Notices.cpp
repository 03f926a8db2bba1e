#include "core/workspace/Notices.h"

#include <QPointer>
#include <QTimer>

void Notices::notify(const QString& message) {
    const QUuid token = QUuid::createUuid();
    m_toastToken = token;
    // Re-announce even an identical text so the view restarts its presentation.
    m_toast = message;
    Q_EMIT toastChanged();
    // Precise: a coarse timer may fire up to 5% early, cutting the notice short.
    QTimer::singleShot(m_durationMs, Qt::PreciseTimer, this, [this, token] {
        if (m_toastToken == token && !m_toast.isEmpty()) {
            m_toast.clear();
            Q_EMIT toastChanged();
        }
    });
}
