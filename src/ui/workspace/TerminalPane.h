#pragma once

#include <QFrame>
#include <QPointer>

#include <memory>

class DesktopServices;
class NativeTerminal;
class PasteSafety;
class QLabel;
class QToolButton;
class TerminalSession;
class ProjectModel;
class SessionManager;
class Theme;

// One session in the deck: a header with the title, a running or exit-status indicator and
// the pane menu (copy, export, stop, close), above the terminal itself.
class TerminalPane : public QFrame {
    Q_OBJECT
public:
    // `providerName` names the session's assistant in the header; `pasteSafety` is asked
    // before the terminal pastes several lines unbracketed.
    TerminalPane(SessionManager& sessions, ProjectModel& project, PasteSafety& pasteSafety,
                 Theme& theme, std::shared_ptr<TerminalSession> session,
                 const QString& providerName, DesktopServices* desktop = nullptr,
                 QWidget* parent = nullptr);

    TerminalSession* session() const { return m_session.get(); }
    NativeTerminal* terminal() const { return m_terminal; }
    // "Running" or "Exit N" ("Failed to start" for -1).
    QString statusText() const;

private:
    void updateStatus();

    std::shared_ptr<TerminalSession> m_session;
    NativeTerminal* m_terminal;
    QLabel* m_status;
    QLabel* m_dot;
};
