#include "ui/runs/TeamRunSettingsDialog.h"

#include "core/runs/TeamRunSettings.h"
#include "core/workspace/TeamRunController.h"
#include "ui/kit/Widgets.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

TeamRunSettingsDialog::TeamRunSettingsDialog(TeamRunController& teamRuns, const QString& project,
                                             QWidget* parent)
    : QDialog(parent), m_teamRuns(teamRuns), m_project(project) {
    setWindowTitle(QStringLiteral("Team-run settings"));
    const TeamRunSettings settings = teamRuns.settings(project);
    auto* layout = Widgets::box<QVBoxLayout>(this, {24, 20, 24, 20}, 10);
    layout->addWidget(Widgets::label(QDir(project).dirName(), "title"));

    layout->addWidget(Widgets::label(QStringLiteral("Setup command")));
    m_setup = new QLineEdit(settings.setupCommand);
    m_setup->setPlaceholderText(QStringLiteral("npm ci"));
    layout->addWidget(m_setup);
    layout->addWidget(Widgets::wrappingLabel(
        QStringLiteral("Runs in each copy, in its own terminal, before the assistant starts. Files "
                       "it creates or changes are marked “made by setup” in the review."),
        "muted"));
    auto* timeoutRow = new QHBoxLayout;
    timeoutRow->addWidget(Widgets::label(QStringLiteral("Stop the setup after")));
    m_timeout = new QSpinBox;
    m_timeout->setRange(1, 24 * 60);
    m_timeout->setSuffix(QStringLiteral(" min"));
    m_timeout->setValue(std::max(1, settings.setupTimeoutSeconds / 60));
    timeoutRow->addWidget(m_timeout);
    timeoutRow->addStretch(1);
    layout->addLayout(timeoutRow);

    layout->addWidget(Widgets::label(QStringLiteral("Extra files to copy")));
    m_extraFiles = new QPlainTextEdit(settings.extraFiles.join(u'\n'));
    m_extraFiles->setPlaceholderText(QStringLiteral(".env\n.env.local"));
    layout->addWidget(m_extraFiles);
    QString extraNote = QStringLiteral(
        "One pattern a line, as in .gitignore, for files copies leave out, such as .env. "
        "Dependency folders, .ssh, .aws, .gnupg and links are never copied.");
    if (QFileInfo::exists(QDir(project).filePath(QStringLiteral(".worktreeinclude")))) {
        extraNote += QStringLiteral(" The project’s .worktreeinclude is used too.");
    }
    layout->addWidget(Widgets::wrappingLabel(extraNote, "muted"));

    m_inProject = new QCheckBox(QStringLiteral("Save in project (.velk/team-runs.json)"));
    m_inProject->setChecked(settings.inProject);
    layout->addWidget(m_inProject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cancel = Widgets::button(QStringLiteral("Cancel"));
    m_save = Widgets::button(QStringLiteral("Save"), "primary");
    buttons->addWidget(cancel);
    buttons->addWidget(m_save);
    layout->addLayout(buttons);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_save, &QPushButton::clicked, this, [this] {
        if (save()) {
            accept();
        }
    });
}

bool TeamRunSettingsDialog::save() {
    TeamRunSettings settings;
    settings.setupCommand = m_setup->text().trimmed();
    settings.setupTimeoutSeconds = m_timeout->value() * 60;
    for (const QString& line : m_extraFiles->toPlainText().split(u'\n')) {
        if (!line.trimmed().isEmpty()) {
            settings.extraFiles.append(line.trimmed());
        }
    }
    settings.inProject = m_inProject->isChecked();
    return m_teamRuns.saveSettings(m_project, settings);
}
