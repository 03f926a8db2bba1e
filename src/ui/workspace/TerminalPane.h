#pragma once

#include "core/attention/AttentionTracker.h"

#include <QColor>
#include <QFrame>
#include <QPointer>

#include <memory>

class AttentionBoard;
class DesktopServices;
class NativeTerminal;
class PasteSafety;
class QLabel;
class QToolButton;
class TerminalSession;
class ProjectModel;
class SessionManager;
class Theme;

// The colour of a session's state dot: green while it works, amber while it needs the user,
// grey once it is done or ended well, red when it failed or stalled.
QColor attentionColor(Attention attention, std::optional<int> exitCode);

// One session in the deck: a header with the title, what the session asks of the user
// ("Working", "Needs you", "Done", "Exited 1") with its coloured dot, and the pane menu
// (copy, export, stop, close), above the terminal itself.
class TerminalPane : public QFrame {
    Q_OBJECT
public:
    // `providerName` names the session's assistant in the header; `pasteSafety` is asked
    // before the terminal pastes several lines unbracketed.
    TerminalPane(SessionManager& sessions, ProjectModel& project, PasteSafety& pasteSafety,
                 Theme& theme, std::shared_ptr<TerminalSession> session,
                 const QString& providerName, DesktopServices* desktop = nullptr,
                 const AttentionBoard* attention = nullptr, QWidget* parent = nullptr);

    TerminalSession* session() const { return m_session.get(); }
    NativeTerminal* terminal() const { return m_terminal; }
    // The session's attention label; without an attention board "Running" or "Exit N"
    // ("Failed to start" for -1).
    QString statusText() const;

private:
    void updateStatus();

    std::shared_ptr<TerminalSession> m_session;
    const AttentionBoard* m_attention;
    NativeTerminal* m_terminal;
    QLabel* m_status;
    QLabel* m_dot;
};
