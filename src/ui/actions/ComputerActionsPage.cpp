#include "ui/actions/ComputerActionsPage.h"

#include "core/actions/ComputerPlanner.h"
#include "core/assistants/AssistantTraits.h"
#include "core/assistants/Provider.h"
#include "core/workspace/Launcher.h"
#include "core/workspace/Notices.h"
#include "core/workspace/Permissions.h"
#include "core/workspace/ProjectModel.h"
#include "ui/kit/Widgets.h"
#include "ui/navigation/Navigator.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QFrame* toolCard(const QString& heading, const QString& text, QPushButton* action) {
    QFrame* card = Widgets::card();
    auto* layout = Widgets::box<QVBoxLayout>(card, {16, 14, 16, 14}, 6);
    layout->addWidget(Widgets::label(heading, "title"));
    layout->addWidget(Widgets::wrappingLabel(text, "muted"));
    auto* row = new QHBoxLayout;
    row->addWidget(action);
    row->addStretch(1);
    layout->addLayout(row);
    return card;
}

}  // namespace

// --- Manual tools -------------------------------------------------------------------------

DesktopToolsView::DesktopToolsView(ProjectModel& project, Launcher& launcher,
                                   Permissions& permissions, QWidget* parent)
    : QWidget(parent), m_project(project), m_launcher(launcher), m_permissions(permissions) {
    auto* layout = Widgets::box<QVBoxLayout>(this, {0, 0, 0, 0}, 12);

    auto* openApplication = Widgets::button(QStringLiteral("Open an application"));
    connect(openApplication, &QPushButton::clicked, this,
            [this] { m_permissions.openApplication(); });
    layout->addWidget(toolCard(QStringLiteral("Open an application"),
                               QStringLiteral("Choose an installed app and launch it."),
                               openApplication));

    auto* openTerminal = Widgets::button(QStringLiteral("Open a terminal"));
    connect(openTerminal, &QPushButton::clicked, this, [this] { m_launcher.openTerminal(); });
    layout->addWidget(toolCard(QStringLiteral("Open a terminal"),
                               QStringLiteral("Run commands inside VELK’s native terminal."),
                               openTerminal));

    auto* showProject = Widgets::button(QStringLiteral("Show your project"));
    connect(showProject, &QPushButton::clicked, this, [this] { m_project.revealFolder(); });
    layout->addWidget(toolCard(QStringLiteral("Show your project"),
                               QStringLiteral("Open the working folder in the file manager."),
                               showProject));

    QFrame* permissionsCard = Widgets::card();
    auto* permissionsLayout = new QVBoxLayout(permissionsCard);
    permissionsLayout->setContentsMargins(16, 14, 16, 14);
    permissionsLayout->addWidget(
        Widgets::label(QStringLiteral("Typing uses the X server’s input extension"), "title"));
    permissionsLayout->addWidget(Widgets::wrappingLabel(
        QStringLiteral("Grant only the access your workflow needs. Providers may request their "
                       "own permissions separately."),
        "muted"));
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(Widgets::label(QStringLiteral("Accessibility")));
    statusRow->addStretch(1);
    m_accessibility = Widgets::label(QString(), "pill");
    statusRow->addWidget(m_accessibility);
    permissionsLayout->addLayout(statusRow);
    auto* buttons = new QHBoxLayout;
    auto* accessibility = Widgets::button(QStringLiteral("Accessibility settings"));
    auto* screen = Widgets::button(QStringLiteral("Privacy settings"));
    auto* refresh = Widgets::button(QStringLiteral("Refresh permissions"));
    connect(accessibility, &QPushButton::clicked, this,
            [this] { m_permissions.openAccessibility(); });
    connect(screen, &QPushButton::clicked, this, [this] { m_permissions.openScreenPermission(); });
    connect(refresh, &QPushButton::clicked, this, [this] { m_permissions.refresh(); });
    buttons->addWidget(accessibility);
    buttons->addWidget(screen);
    buttons->addWidget(refresh);
    buttons->addStretch(1);
    permissionsLayout->addLayout(buttons);
    layout->addWidget(permissionsCard);

    connect(&m_permissions, &Permissions::accessibilityChanged, this,
            &DesktopToolsView::syncPermissions);
    syncPermissions();
}

void DesktopToolsView::syncPermissions() {
    m_accessibility->setText(m_permissions.accessibility() ? QStringLiteral("Allowed")
                                                           : QStringLiteral("Not granted"));
}

// --- The page ------------------------------------------------------------------------------

ComputerActionsPage::ComputerActionsPage(ComputerPlanner& planner, ProjectModel& project,
                                         Launcher& launcher, Permissions& permissions,
                                         Notices& notices, Navigator& navigator,
                                         [[maybe_unused]] Theme& theme,
                                         std::function<QString()> quickDraft, QWidget* parent)
    : QWidget(parent),
      m_planner(planner),
      m_notices(notices),
      m_navigator(navigator),
      m_quickDraft(std::move(quickDraft)) {
    QVBoxLayout* layout = Widgets::scrollingPage(this);
    layout->setSpacing(14);

    layout->addWidget(Widgets::label(QStringLiteral("Desktop assistant"), "accent"));
    layout->addWidget(Widgets::wrappingLabel(
        QStringLiteral("Codex drafts a short plan. Review it, then run each step when you’re "
                       "ready. VELK can open apps and links, type text, and use supported "
                       "keyboard shortcuts."),
        "muted"));

    QFrame* planCard = Widgets::card();
    auto* planLayout = Widgets::box<QVBoxLayout>(planCard, {18, 16, 18, 16}, 10);
    planLayout->addWidget(Widgets::label(QStringLiteral("Desktop task to plan"), "title"));
    m_task = new QPlainTextEdit;
    m_task->setPlaceholderText(QStringLiteral("Say what you want to do."));
    m_task->setFixedHeight(90);
    planLayout->addWidget(m_task);

    auto* planRow = new QHBoxLayout;
    m_plan = Widgets::button(QStringLiteral("Make a plan"), "primary");
    m_stop = Widgets::button(QStringLiteral("Stop planning"));
    auto* voice = Widgets::button(QStringLiteral("Use voice draft"));
    auto* output = Widgets::button(QStringLiteral("Planner output"));
    for (QPushButton* button : {m_plan, m_stop, voice, output}) {
        planRow->addWidget(button);
    }
    planRow->addStretch(1);
    planLayout->addLayout(planRow);

    m_message = Widgets::wrappingLabel(QString(), "muted");
    planLayout->addWidget(m_message);
    m_explanation = Widgets::wrappingLabel(QString());
    planLayout->addWidget(m_explanation);
    m_steps = new QVBoxLayout;
    m_steps->setSpacing(8);
    planLayout->addLayout(m_steps);

    auto* runRow = new QHBoxLayout;
    m_run = Widgets::button(QStringLiteral("Run next step"), "primary");
    auto* accessibility = Widgets::button(QStringLiteral("Accessibility settings"));
    runRow->addWidget(m_run);
    runRow->addWidget(accessibility);
    runRow->addStretch(1);
    planLayout->addLayout(runRow);
    layout->addWidget(planCard);

    QFrame* notice = Widgets::card();
    auto* noticeLayout = new QVBoxLayout(notice);
    noticeLayout->setContentsMargins(18, 14, 18, 14);
    noticeLayout->addWidget(Widgets::label(QStringLiteral("You stay in control"), "title"));
    noticeLayout->addWidget(Widgets::wrappingLabel(
        QStringLiteral("This assistant does not see your screen or check whether a step "
                       "succeeded. Review each target, text and shortcut. Replan if the screen "
                       "differs from the plan. On X11 typing needs no permission; under Wayland "
                       "VELK cannot type into other applications."),
        "muted"));
    layout->addWidget(notice);

    m_toolsToggle = new QToolButton;
    m_toolsToggle->setText(QStringLiteral("Manual desktop tools"));
    m_toolsToggle->setCheckable(true);
    m_toolsToggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_toolsToggle->setArrowType(Qt::RightArrow);
    layout->addWidget(m_toolsToggle);
    m_tools = new DesktopToolsView(project, launcher, permissions);
    m_tools->setVisible(false);
    layout->addWidget(m_tools);
    layout->addStretch(1);

    connect(m_toolsToggle, &QToolButton::toggled, this, [this](bool open) {
        m_tools->setVisible(open);
        m_toolsToggle->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    });
    connect(m_task, &QPlainTextEdit::textChanged, this,
            [this] { m_planner.setTask(m_task->toPlainText()); });
    connect(m_plan, &QPushButton::clicked, this, [this] { m_planner.prepare(); });
    connect(m_stop, &QPushButton::clicked, this, [this] { m_planner.stopPlanning(); });
    connect(voice, &QPushButton::clicked, this, &ComputerActionsPage::useVoiceDraft);
    connect(output, &QPushButton::clicked, this, [this] { m_planner.showPlannerOutput(); });
    connect(m_run, &QPushButton::clicked, this, [this] { m_planner.runNext(); });
    connect(accessibility, &QPushButton::clicked, this,
            [&permissions] { permissions.openAccessibility(); });

    connect(&m_planner, &ComputerPlanner::taskChanged, this, &ComputerActionsPage::syncTask);
    for (auto signal : {&ComputerPlanner::planningChanged, &ComputerPlanner::executingChanged,
                        &ComputerPlanner::messageChanged}) {
        connect(&m_planner, signal, this, &ComputerActionsPage::syncState);
    }
    connect(&m_planner, &ComputerPlanner::planChanged, this, &ComputerActionsPage::rebuildSteps);
    connect(&m_planner, &ComputerPlanner::completedChanged, this,
            &ComputerActionsPage::rebuildSteps);
    syncTask();
    rebuildSteps();
}

QStringList ComputerActionsPage::shownSteps() const {
    return m_shownSteps;
}

void ComputerActionsPage::syncTask() {
    if (m_task->toPlainText() != m_planner.task()) {
        m_task->setPlainText(m_planner.task());
    }
}

void ComputerActionsPage::syncState() {
    m_plan->setText(m_planner.planning() ? QStringLiteral("Making plan…")
                                         : QStringLiteral("Make a plan"));
    m_stop->setVisible(m_planner.planning());
    m_run->setText(m_planner.executing() ? QStringLiteral("Sending step…")
                                         : QStringLiteral("Run next step"));
    const auto& plan = m_planner.plan();
    m_run->setEnabled(plan && m_planner.completed() < plan->steps.size() && !m_planner.executing());
    m_message->setText(m_planner.message());
    m_message->setVisible(!m_planner.message().isEmpty());
}

void ComputerActionsPage::rebuildSteps() {
    Widgets::clearLayout(m_steps);
    m_shownSteps.clear();
    const auto& plan = m_planner.plan();
    m_explanation->setVisible(plan && plan->steps.isEmpty());
    m_explanation->setText(plan ? plan->explanation : QString());
    if (plan) {
        for (int i = 0; i < plan->steps.size(); ++i) {
            const ComputerStep& step = plan->steps.at(i);
            const QString heading = QStringLiteral("%1. %2").arg(i + 1).arg(step.title);
            m_shownSteps.append(heading);
            auto* row = new QHBoxLayout;
            row->addWidget(Widgets::label(i < m_planner.completed() ? QStringLiteral("✔")
                                                                    : QStringLiteral("○"),
                                          i < m_planner.completed() ? "accent" : "muted"),
                           0, Qt::AlignTop);
            auto* text = new QVBoxLayout;
            text->setSpacing(2);
            // Plan texts come from the assistant: shown as plain text, never as markup.
            QLabel* title = Widgets::wrappingLabel(heading);
            QLabel* detail =
                Widgets::label(step.app + QStringLiteral(" · ") + step.action, "muted");
            for (QLabel* label : {title, detail}) {
                label->setTextFormat(Qt::PlainText);
                text->addWidget(label);
            }
            row->addLayout(text, 1);
            m_steps->addLayout(row);
        }
    }
    syncState();
}

void ComputerActionsPage::useVoiceDraft() {
    const QString draft = m_quickDraft ? m_quickDraft() : QString();
    m_planner.setTask(draft);
    if (draft.isEmpty()) {
        m_navigator.setDestination(Destination::Companion);
        m_notices.notify(QStringLiteral("Use the companion microphone to make a draft first."));
    }
}
