#include "core/terminal/TerminalSession.h"

#include "core/terminal/PTYTransport.h"
#include "core/terminal/Pty.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

// Work units (about a cell each, see TerminalScreen::feed) the screen does at most between
// two looks at the clock: well under a millisecond's worth.
constexpr qint64 kFeedWork = 300'000;
// Time for one turn of feeding.
constexpr qint64 kFeedBudgetNs = 4'000'000;

}  // namespace

std::shared_ptr<TerminalSession> TerminalSession::create(QString providerID, QString title,
                                                         QString command, SpawnRequest request) {
    std::shared_ptr<TerminalSession> session(new TerminalSession(
        std::move(providerID), std::move(title), std::move(command), std::move(request)));
    // Replies to the child's queries (cursor position, device status and attributes) go
    // back to it during the same feed.
    session->m_screen.setOnResponse(
        [weak = std::weak_ptr<TerminalSession>(session)](const QString& reply) {
            if (auto self = weak.lock()) {
                self->send(reply);
            }
        });
    // The screen lives inside the session: a plain pointer cannot outlive it.
    session->m_screen.setOnEvent(
        [raw = session.get()](const TerminalScreenEvent& event) { raw->screenEvent(event); });
    return session;
}

TerminalSession::TerminalSession(QString providerID, QString title, QString command,
                                 SpawnRequest request)
    : m_providerID(std::move(providerID)),
      m_title(std::move(title)),
      m_command(std::move(command)),
      m_request(std::move(request)) {
    m_clock.start();
}

TerminalSession::~TerminalSession() {
    if (m_running && m_pid > 1) {
        ::kill(-m_pid, SIGTERM);
    }
    if (m_transport) {
        m_transport->close();
    }
}

void TerminalSession::setOnFinish(std::function<void(TerminalSession&)> onFinish) {
    m_onFinish = std::move(onFinish);
}

void TerminalSession::setColors(std::uint32_t foreground, std::uint32_t background,
                                std::uint32_t cursor) {
    m_screen.setDefaultColors(foreground, background, cursor);
}

void TerminalSession::screenEvent(const TerminalScreenEvent& event) {
    switch (event.kind) {
        case TerminalScreenEvent::Kind::TitleChanged:
            Q_EMIT programTitleChanged();
            return;
        case TerminalScreenEvent::Kind::DirectoryChanged:
            Q_EMIT programDirectoryChanged();
            return;
        case TerminalScreenEvent::Kind::ProgressChanged:
            Q_EMIT progressChanged();
            return;
        case TerminalScreenEvent::Kind::ClipboardWrite:
            Q_EMIT clipboardWriteRequested(event.body);
            return;
        case TerminalScreenEvent::Kind::Notification:
        case TerminalScreenEvent::Kind::Bell:
            break;
    }
    const auto kind = event.kind == TerminalScreenEvent::Kind::Bell
                          ? TerminalEvent::Kind::Bell
                          : TerminalEvent::Kind::Notification;
    if (m_events.add({kind, event.title, event.body, {}}, m_clock.elapsed())) {
        Q_EMIT eventAdded();
    }
}

void TerminalSession::setClipboardWritesAllowed(bool allowed) {
    m_screen.setClipboardWritesAllowed(allowed);
}

void TerminalSession::start() {
    if (m_pid >= 0) {
        return;  // a child was already started
    }
    // The finish handler may let go of this session; keep it alive until start() returns.
    const auto self = shared_from_this();
    m_request.rows = m_screen.rows();
    m_request.columns = m_screen.columns();
    int32_t master = -1;
    m_pid = pty_spawn(m_request, &master);
    if (m_pid < 1) {
        const int error = errno;
        m_screen.feed(QStringView(QStringLiteral("Could not start the terminal: ") +
                                  QString::fromLocal8Bit(::strerror(error))));
        m_exitCode = -1;
        Q_EMIT exitCodeChanged();
        ++m_revision;
        Q_EMIT revisionChanged();
        finish();
        return;
    }

    m_running = true;
    Q_EMIT runningChanged();
    const std::weak_ptr<TerminalSession> weak = self;
    // The transport watches the child's end on its own thread and reaps it, also after this
    // session has let go of it.
    m_transport = std::make_shared<PTYTransport>(
        master, m_pid,
        [weak](QByteArrayView output) -> qsizetype {
            if (auto session = weak.lock()) {
                return session->outputArrived(output);
            }
            return output.size();  // nobody to show it to
        },
        [weak](int status) {
            if (auto session = weak.lock()) {
                session->completed(status);
            }
        });
}

void TerminalSession::send(const QString& text) {
    if (m_running && m_transport) {
        m_transport->send(text.toUtf8());
        Q_EMIT inputSent();
    }
}

void TerminalSession::sendBytes(const QByteArray& bytes) {
    if (m_running && m_transport) {
        m_transport->send(bytes);
        Q_EMIT inputSent();
    }
}

void TerminalSession::resize(int rows, int columns) {
    if (std::max(rows, TerminalScreen::kMinimumRows) == m_screen.rows() &&
        std::max(columns, TerminalScreen::kMinimumColumns) == m_screen.columns()) {
        return;
    }
    m_screen.resize(rows, columns);
    if (m_running && m_transport) {
        m_transport->resize(m_screen.rows(), m_screen.columns());
    }
}

void TerminalSession::stop() {
    if (!m_running || m_pid < 1) {
        return;
    }
    if (m_transport) {
        m_transport->stop(m_pid);
    }
    // The session as context object: the check is dropped with the session.
    QTimer::singleShot(kKillDelayMs, this, [this] {
        if (m_running && m_pid > 1) {
            ::kill(-m_pid, SIGKILL);
        }
    });
}

qsizetype TerminalSession::outputArrived(QByteArrayView output) {
    const QByteArrayView turn = output.first(std::min(output.size(), kFeedLimit));
    QElapsedTimer elapsed;
    elapsed.start();
    qsizetype fed = 0;
    do {
        fed += m_screen.feed(turn.sliced(fed), kFeedWork);
    } while (fed < turn.size() && elapsed.nsecsElapsed() < kFeedBudgetNs);
    ++m_revision;
    Q_EMIT revisionChanged();
    return fed;
}

void TerminalSession::completed(int status) {
    m_running = false;
    Q_EMIT runningChanged();
    m_exitCode = status;
    Q_EMIT exitCodeChanged();
    finish();
}

void TerminalSession::finish() {
    if (m_onFinish) {
        m_onFinish(*this);
    }
}
