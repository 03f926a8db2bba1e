#include "ui/workspace/TerminalPane.h"

#include "core/appearance/Theme.h"
#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/AttentionBoard.h"
#include "core/workspace/PasteSafety.h"
#include "core/workspace/ProjectModel.h"
#include "core/workspace/SessionManager.h"
#include "ui/kit/Icons.h"
#include "ui/kit/Widgets.h"
#include "ui/terminal/TerminalView.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QPointer>
#include <QToolButton>
#include <QVBoxLayout>

TerminalPane::TerminalPane(SessionManager& sessions, ProjectModel& project,
                           PasteSafety& pasteSafety, Theme& theme,
                           std::shared_ptr<TerminalSession> session, const QString& providerName,
                           DesktopServices* desktop, const AttentionBoard* attention,
                           QWidget* parent)
    : QFrame(parent), m_session(std::move(session)), m_attention(attention) {
    setProperty("card", true);
    auto* layout = Widgets::box<QVBoxLayout>(this, {1, 1, 1, 1}, 0);

    auto* header = new QWidget;
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(12, 6, 6, 6);
    m_dot = new QLabel;
    m_dot->setFixedSize(8, 8);
    auto* title = Widgets::label(m_session->title(), "title");
    title->setToolTip(m_session->command());
    m_status = Widgets::label(QString(), "muted");
    auto* menuButton = new QToolButton;
    menuButton->setProperty("flat", true);
    auto applyTheme = [menuButton, &theme] {
        menuButton->setIcon(Icons::icon(QStringLiteral("ellipsis"), theme.text()));
    };
    applyTheme();
    connect(&theme, &Theme::changed, menuButton, applyTheme);
    menuButton->setPopupMode(QToolButton::InstantPopup);
    menuButton->setToolTip(QStringLiteral("Session actions"));

    auto* menu = new QMenu(menuButton);
    QPointer<SessionManager> sessionsPointer(&sessions);
    QPointer<ProjectModel> projectPointer(&project);
    std::weak_ptr<TerminalSession> weak = m_session;
    menu->addAction(QStringLiteral("Copy output"), this, [weak] {
        if (auto session = weak.lock()) {
            QGuiApplication::clipboard()->setText(session->screen().plainText());
        }
    });
    menu->addAction(QStringLiteral("Export output"), this, [weak, projectPointer] {
        if (auto session = weak.lock(); session && projectPointer) {
            projectPointer->exportSession(*session);
        }
    });
    menu->addAction(QStringLiteral("Stop session"), this, [weak] {
        if (auto session = weak.lock()) {
            session->stop();
        }
    });
    // Closing removes this pane, so the call runs after the menu has closed.
    menu->addAction(QStringLiteral("Close pane"), this, [weak, sessionsPointer] {
        QMetaObject::invokeMethod(
            sessionsPointer.data(),
            [weak, sessionsPointer] {
                if (auto session = weak.lock(); session && sessionsPointer) {
                    sessionsPointer->closeSession(session);
                }
            },
            Qt::QueuedConnection);
    });
    menuButton->setMenu(menu);

    headerLayout->addWidget(m_dot);
    headerLayout->addWidget(title);
    headerLayout->addWidget(Widgets::label(providerName, "muted"), 1);
    headerLayout->addWidget(m_status);
    headerLayout->addWidget(menuButton);
    layout->addWidget(header);

    m_terminal = new NativeTerminal(m_session, theme, desktop);
    m_terminal->view()->setPasteConfirmer(
        [&pasteSafety](const QString& text) { return pasteSafety.confirm(text); });
    layout->addWidget(m_terminal, 1);
    setFocusProxy(m_terminal);

    connect(m_session.get(), &TerminalSession::runningChanged, this, &TerminalPane::updateStatus);
    connect(m_session.get(), &TerminalSession::exitCodeChanged, this, &TerminalPane::updateStatus);
    if (m_attention) {
        const QUuid id = m_session->id();
        connect(m_attention, &AttentionBoard::attentionChanged, this,
                [this, id](const QUuid& changed) {
                    if (changed == id) {
                        updateStatus();
                    }
                });
    }
    updateStatus();
}

QColor attentionColor(Attention attention, std::optional<int> exitCode) {
    switch (attention) {
        case Attention::Working:
        case Attention::Starting:
            return QColor(0x3D, 0xD6, 0x8C);
        case Attention::NeedsInput:
            return QColor(0xF5, 0xB9, 0x42);
        case Attention::Stalled:
            return QColor(0xF2, 0x68, 0x6B);
        case Attention::Exited:
        case Attention::Failed:
            return exitCode.value_or(1) == 0 ? QColor(0x8A, 0x96, 0xA3) : QColor(0xF2, 0x68, 0x6B);
        case Attention::Idle:
        case Attention::Waiting:
            break;
    }
    return QColor(0x8A, 0x96, 0xA3);
}

QString TerminalPane::statusText() const {
    if (const SessionAttention* attention =
            m_attention ? m_attention->attentionOf(m_session->id()) : nullptr) {
        return attention->label();
    }
    if (m_session->running()) {
        return QStringLiteral("Running");
    }
    if (const auto code = m_session->exitCode()) {
        return *code < 0 ? QStringLiteral("Failed to start") : QStringLiteral("Exit %1").arg(*code);
    }
    return QStringLiteral("Starting");
}

void TerminalPane::updateStatus() {
    m_status->setText(statusText());
    const SessionAttention* attention =
        m_attention ? m_attention->attentionOf(m_session->id()) : nullptr;
    const Attention state = attention               ? attention->state()
                            : m_session->running()  ? Attention::Working
                            : m_session->exitCode() ? Attention::Exited
                                                    : Attention::Starting;
    m_dot->setStyleSheet(QStringLiteral("background: %1; border-radius: 4px;")
                             .arg(attentionColor(state, m_session->exitCode()).name()));
    m_dot->setToolTip(attention ? attention->evidence() : QString());
}
