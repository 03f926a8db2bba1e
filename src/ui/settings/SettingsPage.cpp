#include "ui/settings/SettingsPage.h"

#include "core/appearance/Theme.h"
#include "core/assistants/LocalTools.h"
#include "core/companion/BrandAssets.h"
#include "core/services/DesktopServices.h"
#include "core/terminal/TerminalScreen.h"
#include "core/workspace/AttentionBoard.h"
#include "core/workspace/KeepAwake.h"
#include "core/workspace/Notices.h"
#include "core/workspace/PasteSafety.h"
#include "core/workspace/ProgramClipboard.h"
#include "core/workspace/ProjectModel.h"
#include "core/workspace/ProviderRegistry.h"
#include "core/workspace/ScrollbackSetting.h"
#include "core/workspace/SessionRestore.h"
#include "core/workspace/TeamRunController.h"
#include "ui/kit/Icons.h"
#include "ui/kit/Switch.h"
#include "ui/kit/Widgets.h"
#include "ui/navigation/Navigator.h"
#include "ui/runs/TeamRunSettingsDialog.h"

#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QFrame* settingsCard(const QString& heading, const QString& text, QLayout* controls) {
    QFrame* card = Widgets::card();
    auto* layout = Widgets::box<QVBoxLayout>(card, {18, 16, 18, 16}, 10);
    layout->addWidget(Widgets::label(heading, "title"));
    layout->addWidget(Widgets::wrappingLabel(text, "muted"));
    layout->addStretch(1);
    layout->addLayout(controls);
    return card;
}

}  // namespace

SettingsPage::SettingsPage(ProviderRegistry& providers, KeepAwake& keepAwake,
                           ProgramClipboard& programClipboard, PasteSafety& pasteSafety,
                           ScrollbackSetting& scrollback, Navigator& navigator, Notices& notices,
                           DesktopServices* desktop, Theme& theme, SettingsRunModels runs,
                           QWidget* parent)
    : QWidget(parent), m_navigator(navigator) {
    QVBoxLayout* layout = Widgets::scrollingPage(this);

    layout->addWidget(Widgets::label(QStringLiteral("Simple on the surface."), "headline"));
    layout->addWidget(Widgets::label(
        QStringLiteral("Native on the inside. VELK coordinates the tools you already trust."),
        "muted"));
    layout->addSpacing(8);

    auto* grid = new QGridLayout;
    grid->setSpacing(16);

    auto* accountControls = new QHBoxLayout;
    auto* manage = Widgets::button(QStringLiteral("Manage assistants"));
    auto* refresh = Widgets::button(QStringLiteral("Refresh tools"));
    accountControls->addWidget(manage);
    accountControls->addWidget(refresh);
    accountControls->addStretch(1);
    connect(manage, &QPushButton::clicked, this,
            [this] { m_navigator.setDestination(Destination::Assistants); });
    connect(refresh, &QPushButton::clicked, this, [&providers, &notices] {
        providers.refreshProviders();
        notices.notify(QStringLiteral("Installed tool list refreshed."));
    });
    grid->addWidget(
        settingsCard(
            QStringLiteral("Provider accounts"),
            QStringLiteral(
                "Open a provider’s terminal and use its login command: codex login, claude auth "
                "login, or kimi login. VELK does not store API keys or replace those "
                "subscriptions. Kimi’s model selection comes from its own settings."),
            accountControls),
        0, 0);

    auto* executionControls = new QVBoxLayout;
    m_keepAwake =
        new Switch(QStringLiteral("Keep this computer awake while VELK tasks run"), theme);
    m_keepAwake->setChecked(keepAwake.enabled());
    connect(m_keepAwake, &Switch::toggled, &keepAwake, &KeepAwake::setEnabled);
    connect(&keepAwake, &KeepAwake::enabledChanged, this,
            [this, &keepAwake] { m_keepAwake->setChecked(keepAwake.enabled()); });
    executionControls->addWidget(m_keepAwake);
    executionControls->addWidget(Widgets::wrappingLabel(
        QStringLiteral(
            "Off by default. Prevents idle sleep and suspend only while a terminal session is "
            "running; your display can still sleep. Closing the lid, shutdown, loss of internet "
            "or provider limits can interrupt work. This is not an unattended 24/7 service."),
        "muted"));
    m_programClipboard = new Switch(QStringLiteral("Let programs copy to the clipboard"), theme);
    m_programClipboard->setChecked(programClipboard.enabled());
    connect(m_programClipboard, &Switch::toggled, &programClipboard, &ProgramClipboard::setEnabled);
    connect(&programClipboard, &ProgramClipboard::enabledChanged, this, [this, &programClipboard] {
        m_programClipboard->setChecked(programClipboard.enabled());
    });
    executionControls->addWidget(m_programClipboard);
    executionControls->addWidget(Widgets::wrappingLabel(
        QStringLiteral("Off by default. Lets a program in the terminal you are typing in put up "
                       "to 1 MB of text on the clipboard; programs can never read it."),
        "muted"));
    m_pasteSafety = new Switch(QStringLiteral("Ask before pasting several lines"), theme);
    m_pasteSafety->setChecked(pasteSafety.enabled());
    connect(m_pasteSafety, &Switch::toggled, &pasteSafety, &PasteSafety::setEnabled);
    connect(&pasteSafety, &PasteSafety::enabledChanged, this,
            [this, &pasteSafety] { m_pasteSafety->setChecked(pasteSafety.enabled()); });
    executionControls->addWidget(m_pasteSafety);
    auto* scrollbackRow = new QHBoxLayout;
    m_scrollbackLines = new QSpinBox;
    m_scrollbackLines->setRange(0, TerminalScreen::kMaxScrollbackLimit);
    m_scrollbackLines->setSingleStep(1000);
    m_scrollbackLines->setGroupSeparatorShown(true);
    m_scrollbackLines->setButtonSymbols(QAbstractSpinBox::NoButtons);
    m_scrollbackLines->setMinimumWidth(110);
    m_scrollbackLines->setAlignment(Qt::AlignRight);
    // Typed digits apply once the number is complete: "5000" must not pass through a limit of
    // 5 lines on the way, which would drop the rest.
    m_scrollbackLines->setKeyboardTracking(false);
    m_scrollbackLines->setValue(scrollback.lines());
    m_scrollbackLines->setAccessibleName(QStringLiteral("Scrollback lines"));
    connect(m_scrollbackLines, &QSpinBox::valueChanged, &scrollback, &ScrollbackSetting::setLines);
    connect(&scrollback, &ScrollbackSetting::linesChanged, this,
            [this, &scrollback] { m_scrollbackLines->setValue(scrollback.lines()); });
    scrollbackRow->addWidget(Widgets::label(QStringLiteral("Scrollback lines")));
    scrollbackRow->addStretch(1);
    scrollbackRow->addWidget(m_scrollbackLines);
    executionControls->addLayout(scrollbackRow);
    if (SessionRestore* restore = runs.restore) {
        m_restoreSessions = new Switch(QStringLiteral("Restore sessions automatically"), theme);
        m_restoreSessions->setChecked(restore->automatic());
        connect(m_restoreSessions, &Switch::toggled, restore, &SessionRestore::setAutomatic);
        connect(restore, &SessionRestore::automaticChanged, this,
                [this, restore] { m_restoreSessions->setChecked(restore->automatic()); });
        executionControls->addWidget(m_restoreSessions);
        executionControls->addWidget(Widgets::wrappingLabel(
            QStringLiteral("Off by default. The sessions open when VELK last closed, or when it "
                           "crashed, start again in their folders without asking."),
            "muted"));
    }
    if (AttentionBoard* attention = runs.attention) {
        m_notifications = new Switch(QStringLiteral("Tell me when a session needs me"), theme);
        m_notifications->setChecked(attention->notificationsEnabled());
        connect(m_notifications, &Switch::toggled, attention,
                &AttentionBoard::setNotificationsEnabled);
        connect(attention, &AttentionBoard::notificationsEnabledChanged, this,
                [this](bool enabled) { m_notifications->setChecked(enabled); });
        executionControls->addWidget(m_notifications);
        executionControls->addWidget(Widgets::wrappingLabel(
            QStringLiteral("On by default. A desktop notification when an assistant asks for "
                           "you or finishes while VELK’s window is in the background."),
            "muted"));
    }
    grid->addWidget(
        settingsCard(
            QStringLiteral("Execution & approvals"),
            QStringLiteral("VELK runs under your user account. Terminals and scripts execute real "
                           "commands. Provider approval prompts remain enabled; VELK’s folder "
                           "selection is a working directory, not a security sandbox. Codex starts "
                           "with its workspace-write setting."),
            executionControls),
        0, 1);

    auto* runsControls = new QHBoxLayout;
    auto* openRuns = Widgets::button(QStringLiteral("Open saved runs"));
    openRuns->setIcon(Icons::icon(QStringLiteral("folder"), theme.text()));
    runsControls->addWidget(openRuns);
    if (runs.teamRuns && runs.project) {
        m_runSettings = Widgets::button(QStringLiteral("Team-run settings for this project"));
        runsControls->addWidget(m_runSettings);
        connect(m_runSettings, &QPushButton::clicked, this,
                [this, teamRuns = runs.teamRuns, project = runs.project] {
                    if (!project->ensureFolder()) {
                        return;
                    }
                    auto* dialog = new TeamRunSettingsDialog(*teamRuns, project->folder(), this);
                    dialog->setAttribute(Qt::WA_DeleteOnClose);
                    dialog->open();
                });
    }
    runsControls->addStretch(1);
    auto* runsCard = new QVBoxLayout;
    runsCard->addLayout(runsControls);
    if (AttentionBoard* attention = runs.attention) {
        auto* stalledRow = new QHBoxLayout;
        m_stalledMinutes = new QSpinBox;
        m_stalledMinutes->setRange(1, 24 * 60);
        m_stalledMinutes->setSuffix(QStringLiteral(" min"));
        m_stalledMinutes->setAlignment(Qt::AlignRight);
        m_stalledMinutes->setKeyboardTracking(false);
        m_stalledMinutes->setValue((attention->stalledAfterSeconds() + 59) / 60);
        m_stalledMinutes->setAccessibleName(QStringLiteral("Mark a copy stalled after"));
        connect(m_stalledMinutes, &QSpinBox::valueChanged, attention,
                [attention](int minutes) { attention->setStalledAfterSeconds(minutes * 60); });
        connect(attention, &AttentionBoard::stalledAfterSecondsChanged, this, [this](int seconds) {
            const QSignalBlocker blocker(m_stalledMinutes);
            m_stalledMinutes->setValue((seconds + 59) / 60);
        });
        stalledRow->addWidget(
            Widgets::label(QStringLiteral("Mark a copy “Stalled” after no output for")));
        stalledRow->addStretch(1);
        stalledRow->addWidget(m_stalledMinutes);
        runsCard->addLayout(stalledRow);
    }
    connect(openRuns, &QPushButton::clicked, this, [desktop] {
        const QString root = LocalTools::applicationData(QStringLiteral("Runs"));
        QDir().mkpath(root);  // a failure shows up as a folder that does not open
        if (desktop) {
            desktop->openUrl(QUrl::fromLocalFile(root).toString());
        }
    });
    if (TeamRunController* teamRuns = runs.teamRuns) {
        m_largeProjects = new Switch(QStringLiteral("Large projects"), theme);
        m_largeProjects->setChecked(teamRuns->largeProjects());
        connect(m_largeProjects, &Switch::toggled, teamRuns, &TeamRunController::setLargeProjects);
        connect(teamRuns, &TeamRunController::largeProjectsChanged, this,
                [this, teamRuns] { m_largeProjects->setChecked(teamRuns->largeProjects()); });
        runsCard->addWidget(m_largeProjects);
        runsCard->addWidget(Widgets::wrappingLabel(
            QStringLiteral("Off by default. Separate copies of projects up to %1 and %2 instead "
                           "of %3 and %4. Copying takes longer and every copy takes the "
                           "project's space again, unless the disk shares copied blocks "
                           "(Btrfs, XFS); the estimated copy time shows before the copies "
                           "start.")
                .arg(RunLimits::fileCount(RunLimits::kLargeFiles),
                     RunLimits::size(RunLimits::kLargeBytes),
                     RunLimits::fileCount(RunLimits::kStandardFiles),
                     RunLimits::size(RunLimits::kStandardBytes)),
            "muted"));
    }
    grid->addWidget(
        settingsCard(
            QStringLiteral("Runs"),
            QStringLiteral(
                "Separate copies keep assistant edits apart. Review changed files and apply "
                "selected results with backups and conflict checks. Use Compare with AI for a "
                "Codex summary. Copies and backups stay in local application storage until you "
                "remove them. Use Open saved runs to find them."),
            runsCard),
        1, 0);

    auto* storageControls = new QHBoxLayout;
    auto* appearance = Widgets::button(QStringLiteral("Customize appearance"));
    auto* companion = Widgets::button(QStringLiteral("Desktop companion & voice"));
    storageControls->addWidget(appearance);
    storageControls->addWidget(companion);
    storageControls->addStretch(1);
    connect(appearance, &QPushButton::clicked, this,
            [this] { m_navigator.setDestination(Destination::Appearance); });
    connect(companion, &QPushButton::clicked, this,
            [this] { m_navigator.setDestination(Destination::Companion); });
    QFrame* storage = settingsCard(
        QStringLiteral("Local session storage"),
        QStringLiteral(
            "Your theme, connector commands, recent folders, and the latest 50 terminal "
            "snapshots are saved in VELK’s settings file. Prompts and project data sent to "
            "an assistant follow that provider’s policies. Use History to export or clear VELK "
            "snapshots."),
        storageControls);
    static_cast<QVBoxLayout*>(storage->layout())
        ->insertWidget(1, Widgets::label(QStringLiteral("Workspace preferences"), "muted"));
    grid->addWidget(storage, 1, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);
    layout->addStretch(1);

    layout->addWidget(Widgets::label(
        QStringLiteral("VELK ") + BrandAssets::version() +
            QStringLiteral(" · Native Linux desktop interface · No web server required"),
        "muted"));
}
