#include "core/attention/SessionAttention.h"

#include "core/terminal/TerminalSession.h"

SessionAttention::SessionAttention(const std::shared_ptr<TerminalSession>& session,
                                   AttentionPatterns patterns, QObject* parent)
    : QObject(parent), m_session(session), m_tracker(std::move(patterns)) {
    m_clock.start();
    m_check.setSingleShot(true);
    connect(&m_check, &QTimer::timeout, this, &SessionAttention::reevaluate);

    TerminalSession* watched = session.get();
    if (watched->running()) {
        m_tracker.started(now());
    }
    connect(watched, &TerminalSession::runningChanged, this, [this, watched] {
        if (watched->running()) {
            m_tracker.started(now());
        }
        reevaluate();
    });
    connect(watched, &TerminalSession::exitCodeChanged, this, [this, watched] {
        if (const std::optional<int> code = watched->exitCode(); code && *code >= 0) {
            m_tracker.exited(*code, now());
        } else {
            m_tracker.failedToStart(now());
        }
        reevaluate();
    });
    connect(watched, &TerminalSession::revisionChanged, this, [this] {
        m_tracker.output(now());
        reevaluate();
    });
    connect(watched, &TerminalSession::inputSent, this, [this] {
        m_tracker.input(now());
        reevaluate();
    });
    connect(watched, &TerminalSession::programTitleChanged, this, [this, watched] {
        m_tracker.titleChanged(watched->programTitle(), now());
        reevaluate();
    });
    connect(watched, &TerminalSession::progressChanged, this, [this, watched] {
        m_tracker.progressChanged(watched->progress().state != 0, now());
        reevaluate();
    });
    connect(watched, &TerminalSession::eventAdded, this, [this, watched] {
        const TerminalEvent& event = watched->events().back();
        if (event.kind == TerminalEvent::Kind::Bell) {
            m_tracker.bell(now());
        } else {
            m_tracker.notified((event.title + u' ' + event.body).trimmed(), now());
        }
        reevaluate();
    });
}

QString SessionAttention::visibleScreen(const TerminalSession& session) {
    const TerminalScreen& screen = session.screen();
    QStringList rows;
    rows.reserve(screen.rows());
    for (int row = 0; row < screen.rows(); ++row) {
        rows.append(screen.rowText(row));
    }
    return rows.join(u'\n');
}

void SessionAttention::setStallAfterMs(qint64 milliseconds) {
    m_tracker.setStallAfterMs(milliseconds);
    reevaluate();
}

void SessionAttention::reevaluate() {
    const std::shared_ptr<TerminalSession> session = m_session.lock();
    if (!session) {
        m_check.stop();
        return;
    }
    const qint64 at = now();
    // The screen is read only when output has gone quiet; while it flows it is not needed.
    const QString screen = m_tracker.readsScreenAt(at) ? visibleScreen(*session) : QString();
    m_tracker.evaluate(at, screen);
    if (const std::optional<qint64> next = m_tracker.nextCheckMs()) {
        m_check.start(int(std::max<qint64>(0, *next - at)));
    } else {
        m_check.stop();
    }
    // Compared with what was published last: reports such as the exit change the state
    // themselves, before the evaluation.
    if (m_tracker.state() != m_published) {
        m_published = m_tracker.state();
        Q_EMIT stateChanged(m_published);
    }
}
