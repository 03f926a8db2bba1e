#pragma once

#include <QWidget>

class DesktopServices;
class KeepAwake;
class Navigator;
class Notices;
class ProgramClipboard;
class ProviderRegistry;
class QSpinBox;
class ScrollbackSetting;
class Switch;
class Theme;

// The Settings page: provider accounts, execution with the keep-awake and program clipboard
// switches, saved runs,
// and where local data lives, with buttons to the pages that manage each.
class SettingsPage : public QWidget {
    Q_OBJECT
public:
    // `desktop` may be null: then the saved runs folder does not open.
    SettingsPage(ProviderRegistry& providers, KeepAwake& keepAwake,
                 ProgramClipboard& programClipboard, ScrollbackSetting& scrollback,
                 Navigator& navigator, Notices& notices, DesktopServices* desktop, Theme& theme,
                 QWidget* parent = nullptr);

    Switch* keepAwakeSwitch() const { return m_keepAwake; }
    Switch* programClipboardSwitch() const { return m_programClipboard; }
    QSpinBox* scrollbackLines() const { return m_scrollbackLines; }

private:
    Navigator& m_navigator;
    Switch* m_keepAwake;
    Switch* m_programClipboard;
    QSpinBox* m_scrollbackLines;
};
