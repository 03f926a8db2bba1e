#pragma once

#include <QWidget>

class DesktopServices;
class KeepAwake;
class Navigator;
class Notices;
class ProviderRegistry;
class Switch;
class Theme;

// The Settings page: provider accounts, execution and the keep-awake switch, saved runs,
// and where local data lives, with buttons to the pages that manage each.
class SettingsPage : public QWidget {
    Q_OBJECT
public:
    // `desktop` may be null: then the saved runs folder does not open.
    SettingsPage(ProviderRegistry& providers, KeepAwake& keepAwake, Navigator& navigator,
                 Notices& notices, DesktopServices* desktop, Theme& theme,
                 QWidget* parent = nullptr);

    Switch* keepAwakeSwitch() const { return m_keepAwake; }

private:
    Navigator& m_navigator;
    Switch* m_keepAwake;
};
