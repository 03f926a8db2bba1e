#include "ui/assistants/ConnectorEditor.h"

#include "core/appearance/Theme.h"
#include "core/assistants/AssistantTraits.h"
#include "core/services/DesktopServices.h"
#include "core/workspace/ProviderRegistry.h"
#include "ui/kit/AppStyle.h"
#include "ui/kit/Icons.h"
#include "ui/kit/Widgets.h"

#include <algorithm>
#include <utility>

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUuid>
#include <QVBoxLayout>

namespace {

constexpr int kSheetWidth = 560;
constexpr int kSheetMargin = 26;
// Template errors are shown in this colour whatever the theme.
const QString kErrorColor = QStringLiteral("#F4808A");
const QString kWarningColor = QStringLiteral("#E8B45C");

QLineEdit* field(const QString& text, const QString& placeholder) {
    auto* edit = new QLineEdit(text);
    edit->setPlaceholderText(placeholder);
    edit->setClearButtonEnabled(false);
    return edit;
}

}  // namespace

ConnectorEditor::ConnectorEditor(ProviderRegistry& providers, DesktopServices* desktop,
                                 Theme& theme, std::optional<Provider> editing, QWidget* parent)
    : QDialog(parent),
      m_providers(providers),
      m_desktop(desktop),
      m_theme(theme),
      m_editing(std::move(editing)) {
    setObjectName(QStringLiteral("ConnectorEditor"));
    setModal(true);
    // A fixed width lets the wrapped texts claim the height they need.
    setFixedWidth(kSheetWidth);
    const AssistantTraits& traits = AssistantTraits::of(m_editing ? m_editing->id : QString());
    setWindowTitle(m_editing ? QStringLiteral("Configure ") + m_editing->name
                             : QStringLiteral("Add an assistant"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kSheetMargin, 24, kSheetMargin, 22);
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    layout->setSpacing(8);

    m_heading = Widgets::label(windowTitle(), "title");
    m_heading->setStyleSheet(QStringLiteral("font-size: 20px; font-weight: 700;"));
    layout->addWidget(m_heading);
    layout->addWidget(Widgets::wrappingLabel(
        QStringLiteral("Connect a local CLI. Sign in inside its terminal using your provider’s "
                       "normal login flow."),
        "muted"));
    layout->addSpacing(8);

    const Provider initial = m_editing.value_or(Provider{});
    m_name = field(initial.name, QStringLiteral("My assistant"));
    m_executable = field(initial.executable, QStringLiteral("opencode"));
    m_template =
        field(initial.templateText,
              traits.needsProfile() ? traits.profileTemplate : QStringLiteral("opencode {prompt}"));
    m_documentation = field(initial.documentation, QStringLiteral("https://…"));

    const auto addField = [layout](const QString& label, QLineEdit* edit) {
        layout->addWidget(Widgets::label(label, "muted"));
        layout->addWidget(edit);
    };
    addField(QStringLiteral("Display name"), m_name);
    addField(QStringLiteral("Executable name or absolute path"), m_executable);
    addField(QStringLiteral("Launch command"), m_template);
    layout->addWidget(Widgets::wrappingLabel(
        QStringLiteral("Use {prompt} outside quotes where a task should be inserted. VELK supplies "
                       "the quotes. Keep secrets in your provider’s configuration, outside this "
                       "command."),
        "muted"));
    m_error = Widgets::wrappingLabel(QString());
    m_error->setObjectName(QStringLiteral("TemplateError"));
    m_error->setStyleSheet(QStringLiteral("color: %1; font-weight: 600;").arg(kErrorColor));
    layout->addWidget(m_error);
    m_warning = Widgets::wrappingLabel(QString());
    m_warning->setObjectName(QStringLiteral("TemplateWarning"));
    m_warning->setStyleSheet(QStringLiteral("color: %1; font-weight: 600;").arg(kWarningColor));
    layout->addWidget(m_warning);
    addField(QStringLiteral("Documentation URL (optional)"), m_documentation);

    m_profileBox = Widgets::card();
    m_profileBox->setObjectName(QStringLiteral("ProfileBox"));
    auto* profileLayout = new QVBoxLayout(m_profileBox);
    profileLayout->setContentsMargins(14, 12, 14, 12);
    // Only a service reached through another assistant's client explains its profile.
    if (traits.needsProfile()) {
        const QString& service = traits.stock.name;
        profileLayout->addWidget(Widgets::label(
            QStringLiteral("Keep a separate ") + service + QStringLiteral(" profile"), "title"));
        profileLayout->addWidget(Widgets::wrappingLabel(
            service +
                QStringLiteral(" works through a compatible client such as Claude Code. Create a "
                               "separate provider settings file following ") +
                service +
                QStringLiteral("’s guide and point this command to it with --settings. VELK will "
                               "not change your normal Claude account."),
            "muted"));
    }
    m_profileBox->setVisible(traits.needsProfile());
    layout->addSpacing(6);
    layout->addWidget(m_profileBox);

    m_documentationLink = Widgets::button(QStringLiteral("Provider documentation ↗"), "link");
    connect(m_documentationLink, &QPushButton::clicked, this, [this] {
        if (const auto url = builtProvider().documentationURL()) {
            if (DesktopServices* desktop = m_desktop) {
                desktop->openUrl(url->toString());
            }
        }
    });
    auto* linkRow = new QHBoxLayout;
    linkRow->addWidget(m_documentationLink);
    linkRow->addStretch(1);
    layout->addLayout(linkRow);

    layout->addSpacing(10);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_cancel = Widgets::button(QStringLiteral("Cancel"));
    m_save = Widgets::button(QStringLiteral("Save connector"), "primary");
    m_save->setDefault(true);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_save);
    layout->addLayout(buttons);

    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_save, &QPushButton::clicked, this, &ConnectorEditor::save);
    for (QLineEdit* edit : {m_name, m_executable, m_template, m_documentation}) {
        connect(edit, &QLineEdit::textChanged, this, &ConnectorEditor::syncState);
    }
    const auto applyTheme = [this] {
        setStyleSheet(QStringLiteral("#ConnectorEditor { background: %1; } QLineEdit { background: "
                                     "%2; border: 1px solid %3; border-radius: 8px; padding: 7px "
                                     "9px; }")
                          .arg(AppStyle::css(m_theme.bg()), AppStyle::css(m_theme.surface()),
                               AppStyle::css(m_theme.border())));
    };
    applyTheme();
    connect(&m_theme, &Theme::changed, this, applyTheme);
    syncState();
}

void ConnectorEditor::showEvent(QShowEvent* event) {
    fitWrappedTexts();
    QDialog::showEvent(event);
}

void ConnectorEditor::fitWrappedTexts() {
    // Layouts leave wrapped texts out of a window's minimum height: give each its height at
    // the sheet's width once the style has set their fonts, then fit the sheet. An empty
    // text has no height for a width (-1) and takes none.
    for (QLabel* label : findChildren<QLabel*>()) {
        if (label->wordWrap()) {
            label->ensurePolished();
            const int width = kSheetWidth - 2 * kSheetMargin - 30;
            label->setMinimumSize(width, std::max(0, label->heightForWidth(width)));
        }
    }
    adjustSize();
}

Provider ConnectorEditor::builtProvider() const {
    Provider provider;
    if (m_editing) {
        provider = *m_editing;
    } else {
        provider.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        provider.subtitle = QStringLiteral("Custom · local CLI connector");
        provider.icon = QStringLiteral("puzzlepiece.extension");
        provider.colorHex = m_theme.accentHex();
    }
    provider.name = m_name->text();
    provider.executable = m_executable->text();
    provider.templateText = m_template->text();
    provider.documentation = m_documentation->text();
    return provider;
}

void ConnectorEditor::save() {
    if (!m_save->isEnabled()) {
        return;
    }
    m_providers.saveProvider(builtProvider());
    accept();
}

void ConnectorEditor::syncState() {
    Provider probe;
    probe.templateText = m_template->text();
    probe.documentation = m_documentation->text();
    const Result<void> checked = probe.checkTemplate();
    const auto error = checked ? std::nullopt : std::optional<QString>(checked.error().message);
    const auto warning = error ? std::nullopt : probe.templateWarning();
    bool changed = false;
    for (const auto& [label, text] : {std::pair{m_error, error}, std::pair{m_warning, warning}}) {
        const QString shown = text.value_or(QString());
        changed = changed || label->text() != shown || label->isHidden() == text.has_value();
        label->setText(shown);
        label->setVisible(text.has_value());
    }
    // A message that appears on the open sheet makes room for itself.
    if (changed && isVisible()) {
        fitWrappedTexts();
    }
    m_documentationLink->setVisible(probe.documentationURL().has_value());
    m_save->setEnabled(!m_name->text().isEmpty() && !m_executable->text().isEmpty() &&
                       !m_template->text().isEmpty() && !error);
}
