#pragma once

#include <QWidget>

class DesktopServices;
class KeepAwake;
class Navigator;
class Notices;
class PasteSafety;
class ProgramClipboard;
class ProviderRegistry;
class QSpinBox;
class ScrollbackSetting;
class Switch;
class Theme;

// The Settings page: provider accounts, execution with the keep-awake, program clipboard
// and paste question switches, saved runs,
// and where local data lives, with buttons to the pages that manage each.
class SettingsPage : public QWidget {
    Q_OBJECT
public:
    // `desktop` may be null: then the saved runs folder does not open.
    SettingsPage(ProviderRegistry& providers, KeepAwake& keepAwake,
                 ProgramClipboard& programClipboard, PasteSafety& pasteSafety,
                 ScrollbackSetting& scrollback, Navigator& navigator, Notices& notices,
                 DesktopServices* desktop, Theme& theme, QWidget* parent = nullptr);

    Switch* keepAwakeSwitch() const { return m_keepAwake; }
    Switch* programClipboardSwitch() const { return m_programClipboard; }
    Switch* pasteSafetySwitch() const { return m_pasteSafety; }
    QSpinBox* scrollbackLines() const { return m_scrollbackLines; }

private:
    Navigator& m_navigator;
    Switch* m_keepAwake;
    Switch* m_programClipboard;
    Switch* m_pasteSafety;
    QSpinBox* m_scrollbackLines;
};
