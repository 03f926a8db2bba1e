#include "ui/window/MainWindow.h"

#include "core/actions/ComputerPlanner.h"
#include "ui/actions/ComputerActionsPage.h"

#include "core/appearance/Theme.h"
#include "core/companion/BrandAssets.h"
#include "core/companion/CompanionModel.h"
#include "core/workspace/Workspace.h"
#include "ui/appearance/AppearancePage.h"
#include "ui/assistants/AssistantsPage.h"
#include "ui/companion/CompanionSettingsView.h"
#include "ui/files/FilesPage.h"
#include "ui/history/HistoryPage.h"
#include "ui/kit/Icons.h"
#include "ui/kit/Widgets.h"
#include "ui/navigation/Navigator.h"
#include "ui/runs/TeamRunsPage.h"
#include "ui/settings/SettingsPage.h"
#include "ui/workspace/Composer.h"
#include "ui/workspace/RestoreBar.h"
#include "ui/workspace/WorkspacePage.h"

#include <QButtonGroup>
#include <QFileInfo>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPropertyAnimation>
#include <QResizeEvent>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// A page whose feature comes in a later version: its title and an honest one-liner.
QWidget* laterPage(Destination destination) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(28, 24, 28, 24);
    layout->addWidget(Widgets::label(displayName(destination), "headline"));
    layout->addWidget(Widgets::label(
        displayName(destination) + QStringLiteral(" comes in a later version of VELK."), "muted"));
    layout->addStretch(1);
    return page;
}

}  // namespace

MainWindow::MainWindow(Workspace& workspace, Navigator& navigator, Theme& theme,
                       ComputerPlanner* planner, CompanionModel* companion, QWidget* parent)
    : QMainWindow(parent),
      m_workspace(workspace),
      m_navigator(navigator),
      m_theme(theme),
      m_planner(planner),
      m_companion(companion) {
    setWindowTitle(QStringLiteral("VELK"));
    setMinimumSize(1180, 740);
    resize(1440, 900);
    auto* root = new QWidget;
    root->setObjectName(QStringLiteral("Root"));
    setCentralWidget(root);
    auto* rootLayout = Widgets::box<QHBoxLayout>(root, {0, 0, 0, 0}, 0);
    rootLayout->addWidget(buildSidebar());

    auto* right = new QVBoxLayout;
    right->setSpacing(0);
    rootLayout->addLayout(right, 1);
    right->addWidget(buildHeader());
    right->addWidget(new RestoreBar(m_workspace.sessionRestore));
    m_pageArea = new QWidget;
    m_pageArea->setObjectName(QStringLiteral("PageArea"));
    auto* pageLayout = new QVBoxLayout(m_pageArea);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    m_stack = new QStackedWidget;
    pageLayout->addWidget(m_stack);
    right->addWidget(m_pageArea, 1);
    // Only the page shown first is built before the window opens; the others follow one per
    // turn of the event loop once it runs, or at once when something asks for them.
    page(m_navigator.destination());
    right->addWidget(buildStatusBar());

    m_notice = new QLabel(m_pageArea);
    m_notice->setObjectName(QStringLiteral("Notice"));
    m_notice->setTextFormat(Qt::PlainText);  // notices quote file names and system messages
    m_noticeOpacity = new QGraphicsOpacityEffect(m_notice);
    m_noticeOpacity->setOpacity(0.0);
    m_notice->setGraphicsEffect(m_noticeOpacity);
    m_pageArea->installEventFilter(this);
    m_noticeFade = new QPropertyAnimation(m_noticeOpacity, "opacity", this);
    m_noticeFade->setDuration(180);
    connect(m_noticeFade, &QPropertyAnimation::finished, this, [this] {
        if (m_noticeOpacity->opacity() < 0.01) {
            m_notice->hide();
        }
    });
    m_notice->hide();

    connect(&m_theme, &Theme::changed, this, &MainWindow::applyTheme);
    connect(&m_navigator, &Navigator::destinationChanged, this, &MainWindow::syncDestination);
    connect(&m_workspace.attention, &AttentionBoard::needingYouChanged, this,
            &MainWindow::syncBadge);
    connect(&m_workspace.project, &ProjectModel::recentFoldersChanged, this,
            &MainWindow::syncRecentFolders);
    connect(&m_workspace.project, &ProjectModel::folderChanged, this,
            &MainWindow::syncHeaderFolder);
    connect(&m_workspace.providers, &ProviderRegistry::availableChanged, this,
            &MainWindow::syncStatus);
    connect(&m_workspace.providers, &ProviderRegistry::providersChanged, this,
            &MainWindow::syncStatus);
    connect(&m_workspace.notices, &Notices::toastChanged, this, &MainWindow::syncNotice);

    applyTheme();  // also shows the destination and the recent folders
    syncBadge();
    syncHeaderFolder();
    syncStatus();
    syncNotice();
    // The window opens with the caret in the task field, ready to type.
    if (auto* workspacePage = qobject_cast<WorkspacePage*>(m_pages.value(Destination::Workspace))) {
        workspacePage->composer()->editor()->setFocus();
    }
}

QWidget* MainWindow::createPage(Destination destination) {
    Workspace& w = m_workspace;
    switch (destination) {
        case Destination::Workspace:
            return new WorkspacePage(w.sessions, w.project, w.providers, w.launcher, w.teamRuns,
                                     m_navigator, w.pasteSafety, m_theme, w.services.desktop,
                                     &w.attention, m_stack);
        case Destination::Settings:
            return new SettingsPage(w.providers, w.keepAwake, w.programClipboard, w.pasteSafety,
                                    w.scrollback, m_navigator, w.notices, w.services.desktop,
                                    m_theme,
                                    {&w.teamRuns, &w.project, &w.sessionRestore, &w.attention});
        case Destination::FilesAndRunner: {
            auto* files = new FilesPage(w.project, w.launcher, m_theme);
            connect(&m_navigator, &Navigator::editorLineRequested, files, &FilesPage::openAt);
            return files;
        }
        case Destination::Assistants:
            return new AssistantsPage(w.providers, w.launcher, m_navigator, w.services.desktop,
                                      m_theme);
        case Destination::History:
            return new HistoryPage(w.history, w.project, m_navigator, *w.services.dialogs, m_theme);
        case Destination::TeamRuns:
            return new TeamRunsPage(w.teamRuns, w.sessions, w.providers, w.project, w.reviewLayout,
                                    m_navigator, *w.services.dialogs, w.services.desktop,
                                    &w.attention);
        case Destination::Appearance:
            return new AppearancePage(m_theme);
        case Destination::DesktopActions:
            if (m_planner) {
                QPointer<CompanionModel> companion = m_companion;
                return new ComputerActionsPage(
                    *m_planner, w.project, w.launcher, w.permissions, w.notices, m_navigator,
                    m_theme, [companion] { return companion ? companion->draft() : QString(); });
            }
            return laterPage(destination);
        case Destination::Companion:
            if (m_companion) {
                return new CompanionSettingsView(*m_companion, m_navigator, m_theme);
            }
            return laterPage(destination);
        default:
            return laterPage(destination);
    }
}

QWidget* MainWindow::page(Destination destination) {
    if (QWidget* built = m_pages.value(destination)) {
        return built;
    }
    QWidget* built = createPage(destination);
    m_pages.insert(destination, built);
    m_stack->addWidget(built);
    return built;
}

void MainWindow::buildNextPage() {
    for (Destination destination : allDestinations()) {
        if (!m_pages.contains(destination)) {
            page(destination);
            QTimer::singleShot(0, this, &MainWindow::buildNextPage);
            return;
        }
    }
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_remainingPagesQueued) {
        m_remainingPagesQueued = true;
        QTimer::singleShot(0, this, &MainWindow::buildNextPage);
    }
}

QWidget* MainWindow::currentPage() const {
    return m_stack->currentWidget();
}

QWidget* MainWindow::buildSidebar() {
    auto* sidebar = new QWidget;
    sidebar->setObjectName(QStringLiteral("Sidebar"));
    sidebar->setAttribute(Qt::WA_StyledBackground);
    sidebar->setFixedWidth(kSidebarWidth);
    auto* layout = Widgets::box<QVBoxLayout>(sidebar, {14, 18, 14, 14}, 4);

    auto* brand = new QHBoxLayout;
    brand->setSpacing(10);
    // The product's logo (its name as pixel lettering), or the name in text without it.
    auto* brandText = new QVBoxLayout;
    brandText->setSpacing(4);
    m_logo = new QLabel;
    if (const auto& logo = BrandAssets::logo()) {
        const QImage scaled = logo->scaledToHeight(26, Qt::FastTransformation);
        m_logo->setPixmap(QPixmap::fromImage(scaled));
        m_logo->setToolTip(QStringLiteral("VELK"));
    } else {
        m_logo->setText(QStringLiteral("VELK"));
        m_logo->setStyleSheet(
            QStringLiteral("font-size: 18px; font-weight: 800; letter-spacing: 2px;"));
    }
    brandText->addWidget(m_logo);
    brandText->addWidget(Widgets::label(QStringLiteral("Your ideas, in orbit"), "muted"));
    brand->addLayout(brandText, 1);
    layout->addLayout(brand);
    layout->addSpacing(18);

    m_navGroup = new QButtonGroup(this);
    m_navGroup->setExclusive(true);
    for (Destination destination : allDestinations()) {
        auto* entry = new QToolButton;
        entry->setProperty("nav", true);
        entry->setCheckable(true);
        entry->setText(Widgets::literal(displayName(destination)));
        entry->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        entry->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        entry->setCursor(Qt::PointingHandCursor);
        connect(entry, &QToolButton::clicked, this,
                [this, destination] { m_navigator.setDestination(destination); });
        if (destination == Destination::Workspace) {
            auto* entryLayout = new QHBoxLayout(entry);
            entryLayout->setContentsMargins(0, 0, 10, 0);
            entryLayout->addStretch(1);
            m_badge = Widgets::label(QString(), "badge");
            m_badge->setAlignment(Qt::AlignCenter);
            m_badge->setFixedHeight(18);
            m_badge->setMinimumWidth(18);
            entryLayout->addWidget(m_badge, 0, Qt::AlignVCenter);
        }
        m_navGroup->addButton(entry);
        m_navButtons.insert(destination, entry);
        layout->addWidget(entry);
    }
    layout->addSpacing(16);

    m_openProject = new QToolButton;
    m_openProject->setText(QStringLiteral("Open project"));
    m_openProject->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_openProject->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_openProject->setCursor(Qt::PointingHandCursor);
    connect(m_openProject, &QToolButton::clicked, this,
            [this] { m_workspace.project.chooseFolder(); });
    layout->addWidget(m_openProject);
    layout->addSpacing(10);
    layout->addWidget(Widgets::label(QStringLiteral("Recent projects"), "muted"));
    m_recentLayout = new QVBoxLayout;
    m_recentLayout->setSpacing(0);
    layout->addLayout(m_recentLayout);
    layout->addStretch(1);

    layout->addWidget(
        Widgets::label(QStringLiteral("Local workspace · v") + BrandAssets::version(), "muted"));
    layout->addWidget(Widgets::label(QStringLiteral("Made for your desktop"), "muted"));
    return sidebar;
}

QWidget* MainWindow::buildHeader() {
    auto* header = new QWidget;
    header->setObjectName(QStringLiteral("Header"));
    header->setAttribute(Qt::WA_StyledBackground);
    header->setFixedHeight(56);
    auto* layout = Widgets::box<QHBoxLayout>(header, {22, 0, 16, 0}, 10);
    m_headerIcon = new QLabel;
    m_headerTitle = Widgets::label(QString(), "title");
    m_headerTitle->setObjectName(QStringLiteral("HeaderTitle"));
    layout->addWidget(m_headerIcon);
    layout->addWidget(m_headerTitle);
    layout->addWidget(Widgets::label(QStringLiteral("Linux native"), "pill"), 0, Qt::AlignVCenter);
    layout->addStretch(1);
    m_headerFolderIcon = new QLabel;
    m_headerFolder = Widgets::label(QString(), "muted");
    layout->addWidget(m_headerFolderIcon);
    layout->addWidget(m_headerFolder);
    m_refresh = new QToolButton;
    m_refresh->setToolTip(QStringLiteral("Refresh installed tools and files"));
    m_refresh->setCursor(Qt::PointingHandCursor);
    connect(m_refresh, &QToolButton::clicked, this, [this] {
        m_workspace.providers.refreshProviders();
        m_workspace.project.refreshFiles();
        m_workspace.permissions.refresh();
        m_workspace.notices.notify(QStringLiteral("Workspace refreshed."));
    });
    layout->addWidget(m_refresh);
    return header;
}

QWidget* MainWindow::buildStatusBar() {
    auto* bar = new QWidget;
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setAttribute(Qt::WA_StyledBackground);
    bar->setFixedHeight(30);
    auto* layout = Widgets::box<QHBoxLayout>(bar, {16, 0, 16, 0}, 8);
    m_statusDot = new QLabel;
    m_statusDot->setObjectName(QStringLiteral("StatusDot"));
    m_statusDot->setFixedSize(8, 8);
    m_readyLabel = Widgets::label(QString(), "status");
    layout->addWidget(m_statusDot);
    layout->addWidget(m_readyLabel);
    layout->addStretch(1);
    layout->addWidget(Widgets::label(QStringLiteral("Ctrl+N  New terminal"), "status"));
    layout->addSpacing(14);
    layout->addWidget(Widgets::label(QStringLiteral("Ctrl+O  Open project"), "status"));
    layout->addSpacing(14);
    layout->addWidget(Widgets::label(QStringLiteral("Local workspace"), "status"));
    return bar;
}

void MainWindow::applyTheme() {
    m_openProject->setIcon(Icons::icon(QStringLiteral("folder.badge.plus"), m_theme.text()));
    m_refresh->setIcon(Icons::icon(QStringLiteral("arrow.clockwise"), m_theme.text()));
    m_headerFolderIcon->setPixmap(Icons::pixmap(QStringLiteral("folder"), m_theme.muted()));
    syncDestination();
    syncRecentFolders();
}

void MainWindow::syncDestination() {
    const Destination current = m_navigator.destination();
    for (auto it = m_navButtons.cbegin(); it != m_navButtons.cend(); ++it) {
        const bool selected = it.key() == current;
        it.value()->setChecked(selected);
        it.value()->setIcon(
            Icons::icon(iconName(it.key()), selected ? m_theme.accent() : m_theme.text()));
    }
    m_headerIcon->setPixmap(Icons::pixmap(iconName(current), m_theme.accent(), 20));
    m_headerTitle->setText(displayName(current));
    if (m_stack) {
        m_stack->setCurrentWidget(page(current));
    }
    if (m_notice && m_notice->isVisible()) {
        m_notice->raise();
    }
}

void MainWindow::syncBadge() {
    const int count = m_workspace.attention.needingYou();
    m_badge->setText(QString::number(count));
    m_badge->setToolTip(count == 1 ? QStringLiteral("1 session needs you")
                                   : QStringLiteral("%1 sessions need you").arg(count));
    m_badge->setVisible(count > 0);
    setWindowTitle(count > 0 ? QStringLiteral("VELK (%1 need you)").arg(count)
                             : QStringLiteral("VELK"));
}

QStringList MainWindow::shownRecentFolders() const {
    // The first four, most recent first (all of them when there are fewer than five).
    return m_workspace.project.recentFolders().mid(0, 4);
}

void MainWindow::syncRecentFolders() {
    Widgets::clearLayout(m_recentLayout);
    const QStringList folders = shownRecentFolders();
    if (folders.isEmpty()) {
        m_recentLayout->addWidget(
            Widgets::wrappingLabel(QStringLiteral("Your projects will appear here."), "muted"));
        return;
    }
    for (const QString& folder : folders) {
        auto* entry = new QToolButton;
        entry->setProperty("nav", true);
        entry->setText(Widgets::literal(QFileInfo(folder).fileName()));
        entry->setToolTip(folder);
        entry->setIcon(Icons::icon(QStringLiteral("folder"), m_theme.muted()));
        entry->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        entry->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        entry->setCursor(Qt::PointingHandCursor);
        connect(entry, &QToolButton::clicked, this, [this, folder] {
            if (m_workspace.project.confirmDiscard()) {
                m_workspace.project.setFolder(folder);
            }
        });
        m_recentLayout->addWidget(entry);
    }
}

void MainWindow::syncHeaderFolder() {
    m_headerFolder->setText(m_workspace.project.folderName());
}

void MainWindow::syncStatus() {
    m_readyLabel->setText(QString::number(m_workspace.providers.readyCount()) +
                          QStringLiteral(" assistants detected"));
}

void MainWindow::syncNotice() {
    const QString text = m_workspace.notices.toast();
    m_noticeFade->stop();
    if (text.isEmpty()) {
        if (m_notice->isVisible()) {
            m_noticeFade->setStartValue(m_noticeOpacity->opacity());
            m_noticeFade->setEndValue(0.0);
            m_noticeFade->start();
        }
        return;
    }
    m_notice->setText(text);
    m_notice->adjustSize();
    placeNotice();
    m_notice->show();
    m_notice->raise();
    m_noticeFade->setStartValue(m_noticeOpacity->opacity());
    m_noticeFade->setEndValue(1.0);
    m_noticeFade->start();
}

void MainWindow::placeNotice() {
    const QSize size = m_notice->sizeHint();
    m_notice->setGeometry((m_pageArea->width() - size.width()) / 2, 16, size.width(),
                          size.height());
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pageArea && event->type() == QEvent::Resize) {
        placeNotice();
    }
    return QMainWindow::eventFilter(watched, event);
}
