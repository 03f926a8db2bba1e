#include "ui/workspace/SessionDeck.h"

#include "core/appearance/Theme.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/AttentionBoard.h"
#include "core/workspace/Launcher.h"
#include "core/workspace/ProjectModel.h"
#include "core/workspace/ProviderRegistry.h"
#include "core/workspace/SessionManager.h"
#include "ui/kit/Icons.h"
#include "ui/kit/Widgets.h"
#include "ui/navigation/Navigator.h"
#include "ui/workspace/TerminalPane.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

PaneGrid::PaneGrid(QWidget* parent) : QWidget(parent) {}

int PaneGrid::paneWidth(int sessions, int availableWidth) {
    if (sessions < 3) {
        return std::max(availableWidth - 2, 240);
    }
    return std::max((availableWidth - kSpacing) / 2, 260);
}

void PaneGrid::setPanes(const QList<TerminalPane*>& panes) {
    m_panes.clear();
    for (TerminalPane* pane : panes) {
        pane->setParent(this);
        pane->show();
        m_panes.append(pane);
    }
    arrange();
}

void PaneGrid::setAvailableSize(QSize size) {
    m_available = size;
    arrange();
}

void PaneGrid::arrange() {
    const int count = int(m_panes.size());
    if (count == 0 || m_available.isEmpty()) {
        setFixedSize(m_available.expandedTo(QSize(1, 1)));
        return;
    }
    const int width = paneWidth(count, m_available.width());
    const int perRow = count < 3 ? 1 : 2;
    const int rows = (count + perRow - 1) / perRow;
    const int height =
        std::max((m_available.height() - kSpacing * (rows - 1)) / rows, count < 3 ? 220 : 260);
    for (int i = 0; i < count; ++i) {
        if (TerminalPane* pane = m_panes[i]) {
            const int row = i / perRow;
            const int column = i % perRow;
            pane->setGeometry(column * (width + kSpacing), row * (height + kSpacing), width,
                              height);
        }
    }
    setFixedSize(perRow * width + (perRow - 1) * kSpacing, rows * height + (rows - 1) * kSpacing);
}

SessionDeck::SessionDeck(SessionManager& sessions, ProjectModel& project,
                         const ProviderRegistry& providers, Launcher& launcher,
                         Navigator& navigator, PasteSafety& pasteSafety, Theme& theme,
                         DesktopServices* desktop, const AttentionBoard* attention, QWidget* parent)
    : QWidget(parent),
      m_sessions(sessions),
      m_project(project),
      m_providers(providers),
      m_launcher(launcher),
      m_navigator(navigator),
      m_pasteSafety(pasteSafety),
      m_theme(theme),
      m_desktop(desktop),
      m_attention(attention) {
    auto* layout = Widgets::box<QVBoxLayout>(this, {0, 0, 0, 0}, 10);

    auto* header = new QHBoxLayout;
    header->setSpacing(6);
    m_focusButton = Widgets::button(QStringLiteral("Focus"), "segment");
    m_gridButton = Widgets::button(QStringLiteral("Grid"), "segment");
    for (QPushButton* choice : {m_focusButton, m_gridButton}) {
        choice->setCheckable(true);
        header->addWidget(choice);
    }
    connect(m_focusButton, &QPushButton::clicked, this, [this] { m_navigator.setFocusMode(true); });
    connect(m_gridButton, &QPushButton::clicked, this, [this] { m_navigator.setFocusMode(false); });
    header->addSpacing(12);

    // Scrolled parts are made inside their final parents: one polished elsewhere would be
    // polished again when it joins the window.
    auto* tabScroll = new QScrollArea(this);
    auto* tabStrip = new QWidget(tabScroll->viewport());
    m_tabs = new QHBoxLayout(tabStrip);
    m_tabs->setContentsMargins(0, 0, 0, 0);
    m_tabs->setSpacing(6);
    m_tabs->addStretch(1);
    m_tabGroup = new QButtonGroup(this);
    tabScroll->setWidget(tabStrip);
    tabScroll->setWidgetResizable(true);
    tabScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    tabScroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tabScroll->setFixedHeight(40);
    header->addWidget(tabScroll, 1);

    m_plus = new QToolButton;
    auto applyTheme = [this] {
        m_plus->setIcon(Icons::icon(QStringLiteral("plus"), m_theme.text()));
    };
    applyTheme();
    connect(&theme, &Theme::changed, this, applyTheme);
    m_plus->setToolTip(QStringLiteral("New session"));
    m_plus->setPopupMode(QToolButton::InstantPopup);
    m_plus->setMenu(new QMenu(m_plus));
    header->addWidget(m_plus);
    layout->addLayout(header);

    auto* body = new QWidget(this);
    auto* stack = new QStackedLayout(body);
    m_focusHost = new QWidget(body);
    auto* focusLayout = new QVBoxLayout(m_focusHost);
    focusLayout->setContentsMargins(0, 0, 0, 0);
    m_gridScroll = new QScrollArea(body);
    m_gridScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_grid = new PaneGrid(m_gridScroll->viewport());
    m_gridScroll->setWidget(m_grid);
    m_gridScroll->viewport()->installEventFilter(this);
    stack->addWidget(m_focusHost);
    stack->addWidget(m_gridScroll);
    layout->addWidget(body, 1);

    connect(&m_sessions, &SessionManager::sessionsChanged, this, &SessionDeck::syncSessions);
    if (m_attention) {
        connect(m_attention, &AttentionBoard::attentionChanged, this,
                [this](const QUuid& id) { syncTabState(id); });
    }
    connect(&m_sessions, &SessionManager::activeSessionIDChanged, this, &SessionDeck::syncMode);
    // Typing after New Terminal, the + menu or Run goes to the program that started, not to
    // the field or button that started it.
    connect(&m_sessions, &SessionManager::sessionStarted, this,
            [this](TerminalSession& session) { focusWhenShown(m_panes.value(session.id())); });
    connect(&m_navigator, &Navigator::focusModeChanged, this, &SessionDeck::syncMode);
    connect(&m_providers, &ProviderRegistry::providersChanged, this, &SessionDeck::rebuildPlusMenu);
    connect(&m_providers, &ProviderRegistry::availableChanged, this, &SessionDeck::rebuildPlusMenu);
    rebuildPlusMenu();
    syncSessions();
}

void SessionDeck::rebuildPlusMenu() {
    QMenu* menu = m_plus->menu();
    menu->clear();
    for (const Provider& provider : m_providers.providers()) {
        QAction* action = menu->addAction(Widgets::literal(provider.name));
        const QString id = provider.id;
        connect(action, &QAction::triggered, this,
                [this, id] { m_launcher.launch(QString(), m_providers.provider(id)); });
    }
}

void SessionDeck::syncSessions() {
    QSet<QUuid> live;
    for (const SessionPointer& session : m_sessions.sessions()) {
        live.insert(session->id());
        if (!m_panes.contains(session->id())) {
            m_panes.insert(session->id(),
                           new TerminalPane(m_sessions, m_project, m_pasteSafety, m_theme, session,
                                            m_providers.provider(session->providerID()).name,
                                            m_desktop, m_attention));
        }
    }
    for (auto it = m_panes.begin(); it != m_panes.end();) {
        if (!live.contains(it.key())) {
            it.value()->deleteLater();
            it.value()->hide();
            it = m_panes.erase(it);
        } else {
            ++it;
        }
    }
    syncTabs();
    syncMode();
}

void SessionDeck::syncTabs() {
    for (QAbstractButton* tab : m_tabGroup->buttons()) {
        m_tabGroup->removeButton(tab);
        delete tab;
    }
    int position = 0;
    for (const SessionPointer& session : m_sessions.sessions()) {
        const QString provider = m_providers.provider(session->providerID()).name;
        QPushButton* tab = Widgets::button(
            provider.isEmpty() ? session->title()
                               : provider + QStringLiteral(" · ") + session->title(),
            "tab");
        tab->setCheckable(true);
        tab->setMaximumWidth(220);
        tab->setToolTip(session->title());
        const QUuid id = session->id();
        tab->setProperty("session", id);
        connect(tab, &QPushButton::clicked, this,
                [this, id] { m_sessions.setActiveSessionID(id); });
        m_tabGroup->addButton(tab);
        m_tabs->insertWidget(position++, tab);
        syncTabState(id);
    }
}

void SessionDeck::syncTabState(const QUuid& id) {
    const SessionAttention* attention = m_attention ? m_attention->attentionOf(id) : nullptr;
    const SessionPointer session = m_sessions.find(id);
    if (!attention || !session) {
        return;
    }
    for (QAbstractButton* tab : m_tabGroup->buttons()) {
        if (tab->property("session").toUuid() != id) {
            continue;
        }
        // A dot of the state's colour before the name, and the state in the tooltip.
        QPixmap dot(10, 10);
        dot.fill(Qt::transparent);
        QPainter painter(&dot);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(attentionColor(attention->state(), session->exitCode()));
        painter.drawEllipse(QRectF(1, 1, 8, 8));
        painter.end();
        tab->setIcon(QIcon(dot));
        tab->setToolTip(session->title() + QStringLiteral(" — ") + attention->label());
    }
}

QList<TerminalPane*> SessionDeck::visiblePanes() const {
    QList<TerminalPane*> result;
    if (m_navigator.focusMode()) {
        if (const SessionPointer active = m_sessions.activeSession()) {
            if (TerminalPane* pane = m_panes.value(active->id())) {
                result.append(pane);
            }
        }
        return result;
    }
    for (const SessionPointer& session : m_sessions.sessions()) {
        if (TerminalPane* pane = m_panes.value(session->id())) {
            result.append(pane);
        }
    }
    return result;
}

void SessionDeck::syncMode() {
    const bool focus = m_navigator.focusMode();
    m_focusButton->setChecked(focus);
    m_gridButton->setChecked(!focus);
    const SessionPointer active = m_sessions.activeSession();
    const QList<QAbstractButton*> tabs = m_tabGroup->buttons();
    for (int i = 0; i < tabs.size() && i < m_sessions.sessions().size(); ++i) {
        tabs[i]->setChecked(active && m_sessions.sessions()[i] == active);
    }

    auto* stack = static_cast<QStackedLayout*>(m_focusHost->parentWidget()->layout());
    const QList<TerminalPane*> panes = visiblePanes();
    for (TerminalPane* pane : std::as_const(m_panes)) {
        if (!panes.contains(pane)) {
            pane->hide();
        }
    }
    if (focus) {
        stack->setCurrentWidget(m_focusHost);
        if (!panes.isEmpty()) {
            TerminalPane* pane = panes.front();
            if (pane->parentWidget() != m_focusHost) {
                pane->setParent(m_focusHost);
                m_focusHost->layout()->addWidget(pane);
            }
            pane->show();
        }
    } else {
        stack->setCurrentWidget(m_gridScroll);
        for (TerminalPane* pane : panes) {
            m_focusHost->layout()->removeWidget(pane);
        }
        m_grid->setPanes(panes);
        m_grid->setAvailableSize(m_gridScroll->viewport()->size());
        // The active session (a new terminal, the last assistant of a new task) scrolls into
        // view once the grid has placed it.
        if (active) {
            QPointer<TerminalPane> pane = m_panes.value(active->id());
            QTimer::singleShot(0, this, [this, pane] {
                if (pane && !m_navigator.focusMode()) {
                    m_gridScroll->ensureWidgetVisible(pane, 0, 0);
                }
            });
        }
    }
}

void SessionDeck::focusWhenShown(TerminalPane* pane) {
    if (m_focusOnShow) {
        m_focusOnShow->removeEventFilter(this);
    }
    m_focusOnShow = nullptr;
    if (!pane) {
        return;
    }
    if (pane->isVisible()) {
        pane->setFocus(Qt::OtherFocusReason);
        return;
    }
    m_focusOnShow = pane;
    pane->installEventFilter(this);
}

bool SessionDeck::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_focusOnShow && event->type() == QEvent::Show) {
        TerminalPane* pane = m_focusOnShow;
        focusWhenShown(nullptr);
        pane->setFocus(Qt::OtherFocusReason);
    }
    if (watched == m_gridScroll->viewport() && event->type() == QEvent::Resize) {
        m_grid->setAvailableSize(static_cast<QResizeEvent*>(event)->size());
    }
    return QWidget::eventFilter(watched, event);
}
