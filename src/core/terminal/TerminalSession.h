#pragma once

#include "core/terminal/SpawnRequest.h"
#include "core/terminal/TerminalEventLog.h"
#include "core/terminal/TerminalScreen.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

class PTYTransport;

/// One command running in one terminal: owns the screen, starts the command's spawn request
/// on a pseudo-terminal of the screen's size, feeds every output chunk into the screen,
/// routes input and the screen's query replies to the child, forwards size changes, stops
/// the child on request and reports its end once.
///
/// Held by std::shared_ptr (create()); callbacks hold it weakly. Main thread only. When the
/// last holder lets go of a running session, the child's process group receives the
/// terminate signal and the transport closes; the child is still reaped in the background.
class TerminalSession : public QObject, public std::enable_shared_from_this<TerminalSession> {
    Q_OBJECT
    Q_PROPERTY(quint64 revision READ revision NOTIFY revisionChanged)
    Q_PROPERTY(bool running READ running NOTIFY runningChanged)

public:
    /// Milliseconds between stop() and the kill signal to a child that is still running.
    static constexpr int kKillDelayMs = 1000;
    /// Output is fed into the screen at most this many bytes, and about 4 ms of work, at a
    /// time; the rest waits for a later pass of the event loop, so painting and input get
    /// their turn during a flood.
    static constexpr qsizetype kFeedLimit = 64 * 1024;

    /// `command` is the text shown and recorded for the session; `request` is what runs (its
    /// size is taken from the screen at the start).
    static std::shared_ptr<TerminalSession> create(QString providerID, QString title,
                                                   QString command, SpawnRequest request);
    ~TerminalSession() override;

    QUuid id() const { return m_id; }
    QString providerID() const { return m_providerID; }
    QString title() const { return m_title; }
    QString command() const { return m_command; }
    QString directory() const { return m_request.directory; }
    QDateTime started() const { return m_started; }
    TerminalScreen& screen() { return m_screen; }
    const TerminalScreen& screen() const { return m_screen; }
    /// Raised after each piece of output has been fed into the screen, and once when a start
    /// fails.
    quint64 revision() const { return m_revision; }
    /// True from a successful start until completion.
    bool running() const { return m_running; }
    /// The child's exit status once known (0-255, 128 + signal, 126, 127), or -1 when the
    /// start failed.
    std::optional<int> exitCode() const { return m_exitCode; }
    /// The child's process id after a successful start, else -1 or the failed result.
    int pid() const { return m_pid; }

    /// The window title the program set (empty until it sets one); title() stays the name
    /// the session was given.
    QString programTitle() const { return m_screen.title(); }
    /// The local directory the program reported as its current one; empty until reported.
    QString programDirectory() const { return m_screen.currentDirectory(); }
    TerminalProgress progress() const { return m_screen.progress(); }
    /// The program's latest notifications and bells, oldest first (see TerminalEventLog).
    const std::deque<TerminalEvent>& events() const { return m_events.events(); }
    /// The colours (0xRRGGBB) default text, the default background and the cursor are shown
    /// in, reported to programs that ask.
    void setColors(std::uint32_t foreground, std::uint32_t background, std::uint32_t cursor);
    /// Whether the program may copy text to the clipboard (OSC 52): allowed, each write is
    /// handed on as clipboardWriteRequested, for a view to apply when its session has the
    /// focus. Off by default.
    void setClipboardWritesAllowed(bool allowed);
    bool clipboardWritesAllowed() const { return m_screen.clipboardWritesAllowed(); }

    /// Called on the main thread exactly once per successful start (after the last output
    /// has been fed and exitCode is set) and once per failed start attempt.
    void setOnFinish(std::function<void(TerminalSession&)> onFinish);

    /// Starts the child; nothing when one was already started. A failed start shows
    /// "Could not start the terminal: " and the system's reason in the screen, and may be
    /// retried.
    void start();
    /// Sends the text's UTF-8 bytes to the child while it runs; dropped otherwise.
    void send(const QString& text);
    /// Sends bytes as they are while the child runs (mouse reports need bytes that are not
    /// UTF-8); dropped otherwise.
    void sendBytes(const QByteArray& bytes);
    /// Resizes the screen (at least 3 x 10) and the pseudo-terminal; unchanged sizes do
    /// nothing.
    void resize(int rows, int columns);
    /// Sends the terminate signal to the terminal's foreground group and the child's group;
    /// the child's group gets the kill signal 1 s later if the session still runs.
    void stop();

Q_SIGNALS:
    void revisionChanged();
    void runningChanged();
    void exitCodeChanged();
    void programTitleChanged();
    void programDirectoryChanged();
    void progressChanged();
    /// The user's input went to the program (send(), sendBytes()).
    void inputSent();
    /// A notification or bell was recorded: the last of events().
    void eventAdded();
    /// The program copied `text` (at most TerminalScreen::kMaxClipboardBytes of UTF-8).
    void clipboardWriteRequested(const QString& text);

private:
    TerminalSession(QString providerID, QString title, QString command, SpawnRequest request);

    /// Feeds the front of `output` into the screen within the limits above; returns how many
    /// bytes it fed.
    qsizetype outputArrived(QByteArrayView output);
    void completed(int status);
    void finish();
    void screenEvent(const TerminalScreenEvent& event);

    QUuid m_id = QUuid::createUuid();
    QString m_providerID;
    QString m_title;
    QString m_command;
    SpawnRequest m_request;
    QDateTime m_started = QDateTime::currentDateTime();
    TerminalScreen m_screen{24, 80};
    quint64 m_revision = 0;
    bool m_running = false;
    std::optional<int> m_exitCode;
    int m_pid = -1;
    std::shared_ptr<PTYTransport> m_transport;
    std::function<void(TerminalSession&)> m_onFinish;
    TerminalEventLog m_events;
    QElapsedTimer m_clock;  // for the event rate limit
};
