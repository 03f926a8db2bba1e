#pragma once

#include <QWidget>

class Switch;
class Theme;
class Workspace;

// The Settings page: provider accounts, execution and the keep-awake switch, saved runs,
// and where local data lives, with buttons to the pages that manage each.
class SettingsPage : public QWidget {
    Q_OBJECT
public:
    SettingsPage(Workspace& workspace, Theme* theme, QWidget* parent = nullptr);

    Switch* keepAwakeSwitch() const { return m_keepAwake; }

private:
    Workspace& m_workspace;
    Switch* m_keepAwake;
};
