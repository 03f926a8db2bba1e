#include "ui/workspace/Composer.h"

#include "core/workspace/Launcher.h"
#include "core/workspace/ProjectModel.h"
#include "core/workspace/ProviderRegistry.h"
#include "core/workspace/TeamRunController.h"
#include "ui/kit/Icons.h"
#include "ui/kit/Widgets.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QVBoxLayout>

Composer::Composer(Launcher& launcher, const ProjectModel& project,
                   const ProviderRegistry& providers, TeamRunController& teamRuns, QWidget* parent)
    : QFrame(parent),
      m_launcher(launcher),
      m_project(project),
      m_providers(providers),
      m_teamRuns(teamRuns) {
    setProperty("card", true);
    auto* layout = Widgets::box<QVBoxLayout>(this, {16, 14, 16, 14}, 10);

    auto* heading = new QHBoxLayout;
    heading->addWidget(Widgets::label(QStringLiteral("Task for selected assistants"), "title"));
    heading->addStretch(1);
    m_selected = Widgets::label(QString(), "accent");
    heading->addWidget(m_selected);
    layout->addLayout(heading);

    auto* top = new QHBoxLayout;
    m_projectLabel = Widgets::label(QString(), "muted");
    top->addWidget(m_projectLabel);
    top->addStretch(1);
    top->addWidget(Widgets::label(QStringLiteral("Working mode"), "muted"));
    m_separate = Widgets::button(QStringLiteral("Separate copies"), "segment");
    m_shared = Widgets::button(QStringLiteral("Shared folder"), "segment");
    for (QPushButton* choice : {m_separate, m_shared}) {
        choice->setCheckable(true);
        top->addWidget(choice);
    }
    connect(m_separate, &QPushButton::clicked, this,
            [this] { m_launcher.setSeparateCopies(true); });
    connect(m_shared, &QPushButton::clicked, this, [this] { m_launcher.setSeparateCopies(false); });
    layout->addLayout(top);

    auto* bottom = new QHBoxLayout;
    m_editor = new QPlainTextEdit(this);  // made in place: its scroll bars polish once
    m_editor->setPlaceholderText(QStringLiteral("What would you like to build?"));
    m_editor->setFixedHeight(74);
    m_editor->setTabChangesFocus(true);
    bottom->addWidget(m_editor, 1);
    auto* buttons = new QVBoxLayout;
    m_run = Widgets::button(QStringLiteral("Run task"), "primary");
    m_run->setIcon(Icons::icon(QStringLiteral("arrow.up"), QColor(0x10, 0x14, 0x18)));
    m_cancel = Widgets::button(QStringLiteral("Cancel"));
    buttons->addWidget(m_run);
    buttons->addWidget(m_cancel);
    m_progress = new QLabel;
    m_progress->setProperty("role", QStringLiteral("caption"));
    buttons->addWidget(m_progress);
    buttons->addStretch(1);
    bottom->addLayout(buttons);
    layout->addLayout(bottom);
    // Keyboard order follows the reading order: mode, task, then its buttons.
    QWidget::setTabOrder(m_separate, m_shared);
    QWidget::setTabOrder(m_shared, m_editor);
    QWidget::setTabOrder(m_editor, m_run);
    QWidget::setTabOrder(m_run, m_cancel);

    connect(m_editor, &QPlainTextEdit::textChanged, this, [this] {
        if (m_editor->toPlainText() != m_launcher.prompt()) {
            m_launcher.setPrompt(m_editor->toPlainText());
        }
    });
    connect(m_run, &QPushButton::clicked, this, [this] { m_launcher.dispatchPrompt(); });
    // Control+Return runs the task from the keyboard, as the button would.
    for (const QKeySequence& keys :
         {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(keys, m_editor, nullptr, nullptr, Qt::WidgetShortcut);
        connect(shortcut, &QShortcut::activated, this, [this] {
            if (m_run->isEnabled()) {
                m_run->click();
            }
        });
    }
    connect(m_cancel, &QPushButton::clicked, this, [this] { m_teamRuns.cancelPreparation(); });

    for (auto signal : {&Launcher::promptChanged, &Launcher::selectedProvidersChanged,
                        &Launcher::separateCopiesChanged}) {
        connect(&m_launcher, signal, this, &Composer::update);
    }
    connect(&m_project, &ProjectModel::folderChanged, this, &Composer::update);
    for (auto signal : {&ProviderRegistry::availableChanged, &ProviderRegistry::providersChanged}) {
        connect(&m_providers, signal, this, &Composer::update);
    }
    for (auto signal : {&TeamRunController::preparingRunChanged,
                        &TeamRunController::preparationProgressChanged}) {
        connect(&m_teamRuns, signal, this, &Composer::update);
    }
    update();
}

void Composer::update() {
    if (m_editor->toPlainText() != m_launcher.prompt()) {
        m_editor->setPlainText(m_launcher.prompt());
        m_editor->moveCursor(QTextCursor::End);
    }
    m_projectLabel->setText(m_project.hasFolder() ? QFileInfo(m_project.folder()).fileName()
                                                  : QStringLiteral("Select a project first"));
    int ready = 0;
    for (const Provider& provider : m_providers.providers()) {
        if (m_launcher.selectedProviders().contains(provider.id) && m_providers.isReady(provider)) {
            ++ready;
        }
    }
    m_selected->setText(QString::number(ready) + QStringLiteral(" selected"));
    m_separate->setChecked(m_launcher.separateCopies());
    m_shared->setChecked(!m_launcher.separateCopies());

    const bool preparing = m_teamRuns.preparingRun();
    m_run->setText(preparing ? QStringLiteral("Preparing…") : QStringLiteral("Run task"));
    m_run->setEnabled(!preparing && !m_launcher.prompt().trimmed().isEmpty());
    m_cancel->setVisible(preparing);
    const qint64 total = m_teamRuns.preparationTotal();
    QString progress = preparing && total > 0 ? QStringLiteral("Copying %1 of %2 files")
                                                    .arg(m_teamRuns.preparationCopied())
                                                    .arg(total)
                                              : QString();
    // A large project says how long its copying may take before the copies start.
    if (const std::optional<CopyEstimate>& estimate = m_teamRuns.preparationEstimate();
        preparing && estimate && estimate->worthShowing()) {
        progress = progress.isEmpty() ? estimate->describe()
                                      : progress + QStringLiteral(" · ") + estimate->describe();
    }
    m_progress->setText(progress);
    m_progress->setVisible(!m_progress->text().isEmpty());
}
