#pragma once

#include <QHash>
#include <QPointer>
#include <QUuid>
#include <QWidget>

class QButtonGroup;
class QHBoxLayout;
class QPushButton;
class QScrollArea;
class QToolButton;
class TerminalPane;
class AttentionBoard;
class DesktopServices;
class Launcher;
class Navigator;
class PasteSafety;
class ProjectModel;
class ProviderRegistry;
class SessionManager;
class Theme;

// Lays the panes out in Grid mode: with fewer than 3 sessions each pane takes the whole
// width (less 2 px), with 3 or more two panes share a row; panes never get narrower than
// 240 or 260 px, the area scrolls instead.
class PaneGrid : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSpacing = 14;
    explicit PaneGrid(QWidget* parent = nullptr);

    static int paneWidth(int sessions, int availableWidth);
    void setPanes(const QList<TerminalPane*>& panes);
    void setAvailableSize(QSize size);

private:
    void arrange();

    QList<QPointer<TerminalPane>> m_panes;
    QSize m_available;
};

// The session deck of the Workspace page: a header with the Focus/Grid picker, one tab per
// session and the "plus" menu of providers, above the panes (the active one in Focus mode,
// all of them in Grid mode). The terminal of a session that starts takes the keyboard focus
// once it is shown.
class SessionDeck : public QWidget {
    Q_OBJECT
public:
    SessionDeck(SessionManager& sessions, ProjectModel& project, const ProviderRegistry& providers,
                Launcher& launcher, Navigator& navigator, PasteSafety& pasteSafety, Theme& theme,
                DesktopServices* desktop = nullptr, const AttentionBoard* attention = nullptr,
                QWidget* parent = nullptr);

    TerminalPane* paneFor(const QUuid& id) const { return m_panes.value(id); }
    QList<TerminalPane*> visiblePanes() const;
    PaneGrid* grid() const { return m_grid; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void syncSessions();
    void syncTabs();
    void syncTabState(const QUuid& id);
    void syncMode();
    void rebuildPlusMenu();
    // Gives the pane's terminal the focus now if it shows, else when it is first shown.
    void focusWhenShown(TerminalPane* pane);

    SessionManager& m_sessions;
    ProjectModel& m_project;
    const ProviderRegistry& m_providers;
    Launcher& m_launcher;
    Navigator& m_navigator;
    PasteSafety& m_pasteSafety;
    Theme& m_theme;
    DesktopServices* m_desktop;         // where terminals open links
    const AttentionBoard* m_attention;  // what each session asks of the user; may be null
    QPushButton* m_focusButton;
    QPushButton* m_gridButton;
    QHBoxLayout* m_tabs;
    QButtonGroup* m_tabGroup;
    QToolButton* m_plus;
    QWidget* m_focusHost;
    QScrollArea* m_gridScroll;
    PaneGrid* m_grid;
    QHash<QUuid, TerminalPane*> m_panes;
    QPointer<TerminalPane> m_focusOnShow;  // the newest session's, until it has the focus
};
