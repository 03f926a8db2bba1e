#pragma once

#include "ui/navigation/Destination.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>

class QButtonGroup;
class QGraphicsOpacityEffect;
class QLabel;
class QPropertyAnimation;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;
class CompanionModel;
class ComputerPlanner;
class Navigator;
class Theme;
class Workspace;

// The single main window: the sidebar (brand, pages, projects), the header, the page the
// navigator names, the status bar, and notices floating above the page. It builds every page
// with the models that page uses. Styling comes from the theme and follows it live.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kSidebarWidth = 244;

    // Without a planner the desktop-actions page, and without a companion model the Companion
    // page, says the feature is missing.
    MainWindow(Workspace& workspace, Navigator& navigator, Theme& theme,
               ComputerPlanner* planner = nullptr, CompanionModel* companion = nullptr,
               QWidget* parent = nullptr);

    // The page of `destination`, built on first use.
    QWidget* page(Destination destination);
    QWidget* currentPage() const;
    // The badge of the Workspace entry: how many sessions need the user; hidden when none do.
    QLabel* sessionBadge() const { return m_badge; }
    QLabel* notice() const { return m_notice; }
    // The recent-project entries shown now, by folder path.
    QStringList shownRecentFolders() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The first showing queues the pages not built yet.
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildSidebar();
    QWidget* buildHeader();
    QWidget* buildStatusBar();
    QWidget* createPage(Destination destination);
    void buildNextPage();
    void applyTheme();
    void syncDestination();
    void syncBadge();
    void syncRecentFolders();
    void syncHeaderFolder();
    void syncStatus();
    void syncNotice();
    void placeNotice();

    Workspace& m_workspace;
    Navigator& m_navigator;
    Theme& m_theme;
    ComputerPlanner* m_planner = nullptr;
    CompanionModel* m_companion = nullptr;
    QHash<Destination, QWidget*> m_pages;
    QHash<Destination, QToolButton*> m_navButtons;
    QButtonGroup* m_navGroup = nullptr;
    QLabel* m_logo = nullptr;
    QLabel* m_badge = nullptr;
    QToolButton* m_openProject = nullptr;
    QVBoxLayout* m_recentLayout = nullptr;
    QLabel* m_headerIcon = nullptr;
    QLabel* m_headerTitle = nullptr;
    QLabel* m_headerFolder = nullptr;
    QLabel* m_headerFolderIcon = nullptr;
    QToolButton* m_refresh = nullptr;
    QLabel* m_statusDot = nullptr;
    QLabel* m_readyLabel = nullptr;
    QWidget* m_pageArea = nullptr;
    QStackedWidget* m_stack = nullptr;
    QLabel* m_notice = nullptr;
    QGraphicsOpacityEffect* m_noticeOpacity = nullptr;
    QPropertyAnimation* m_noticeFade = nullptr;
    bool m_remainingPagesQueued = false;
};
