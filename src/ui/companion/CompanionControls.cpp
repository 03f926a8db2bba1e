#include "ui/companion/CompanionControls.h"

#include "core/appearance/Theme.h"
#include "core/companion/CompanionModel.h"
#include "ui/kit/AppStyle.h"
#include "ui/kit/Icons.h"
#include "ui/kit/Widgets.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>

CompanionControls::CompanionControls(CompanionModel& model, Theme& theme,
                                     std::function<void()> close, QWidget* parent)
    : QWidget(parent), m_model(model), m_theme(theme), m_closeAction(std::move(close)) {
    setObjectName(QStringLiteral("companionControls"));
    // The panel's window is transparent; this rounded card is what shows.
    setAttribute(Qt::WA_StyledBackground);
    auto* layout = Widgets::box<QVBoxLayout>(this, {18, 16, 18, 16}, 8);

    layout->addWidget(Widgets::label(QStringLiteral("Your desktop companion"), "accent"));
    layout->addWidget(Widgets::label(QStringLiteral("VELK, within reach."), "title"));

    m_editor = new QPlainTextEdit;
    m_editor->setObjectName(QStringLiteral("companionDraftEditor"));
    m_editor->setAccessibleName(QStringLiteral("Companion draft"));
    m_editor->setPlaceholderText(QStringLiteral("What’s on your mind?"));
    m_editor->setTabChangesFocus(true);
    layout->addWidget(m_editor, 1);
    auto* caption = Widgets::label(QStringLiteral("Review before sending"), "muted");
    layout->addWidget(caption);

    m_status = Widgets::wrappingLabel(QString(), "muted");
    m_status->setObjectName(QStringLiteral("companionStatus"));
    layout->addWidget(m_status);

    auto* voiceRow = new QHBoxLayout;
    voiceRow->setSpacing(8);
    m_microphone = Widgets::button(QStringLiteral("Microphone"));
    m_microphone->setObjectName(QStringLiteral("companionMicrophoneButton"));
    m_readAloud = new QToolButton;
    m_readAloud->setObjectName(QStringLiteral("companionReadAloudButton"));
    m_readAloud->setText(QStringLiteral("Read aloud options"));
    m_readAloud->setToolTip(QStringLiteral("Read aloud options"));
    m_readAloud->setAccessibleName(QStringLiteral("Read aloud options"));
    m_readAloud->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_readAloud->setPopupMode(QToolButton::InstantPopup);
    m_readAloud->setCursor(Qt::PointingHandCursor);
    m_readMenu = new QMenu(m_readAloud);
    m_readMenu->setTitle(QStringLiteral("Read aloud options"));
    m_readMenu->addAction(QStringLiteral("Read draft aloud"), this,
                          [this] { m_model.speak(m_model.draft()); });
    m_readMenu->addAction(QStringLiteral("Read latest session output"), this,
                          [this] { Q_EMIT m_model.readOutput(); });
    m_readMenu->addAction(QStringLiteral("Stop VELK audio"), this,
                          [this] { m_model.stopSpeech(); });
    m_readAloud->setMenu(m_readMenu);
    voiceRow->addWidget(m_microphone, 1);
    voiceRow->addWidget(m_readAloud);
    layout->addLayout(voiceRow);

    m_useDraft = Widgets::button(QStringLiteral("Use draft in workspace"), "primary");
    m_useDraft->setObjectName(QStringLiteral("useDraftButton"));
    layout->addWidget(m_useDraft);

    auto* footer = new QHBoxLayout;
    footer->setSpacing(8);
    m_customize = Widgets::button(QStringLiteral("Customize pet"));
    m_customize->setObjectName(QStringLiteral("customizePetButton"));
    m_close = Widgets::button(QStringLiteral("Close quick draft"));
    m_close->setObjectName(QStringLiteral("closeQuickDraftButton"));
    footer->addWidget(m_customize, 1);
    footer->addWidget(m_close, 1);
    layout->addLayout(footer);

    connect(m_editor, &QPlainTextEdit::textChanged, this,
            [this] { m_model.setDraft(m_editor->toPlainText()); });
    connect(m_microphone, &QPushButton::clicked, this, [this] { m_model.toggleMicrophone(); });
    connect(m_useDraft, &QPushButton::clicked, this, [this] { Q_EMIT m_model.useDraft(); });
    connect(m_customize, &QPushButton::clicked, this, [this] { Q_EMIT m_model.openSettings(); });
    auto closePanel = [this] {
        if (m_closeAction) {
            m_closeAction();
        }
    };
    connect(m_close, &QPushButton::clicked, this, closePanel);
    // Escape closes the panel as the button does.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, closePanel);
    connect(&m_model, &CompanionModel::draftChanged, this, &CompanionControls::syncDraft);
    connect(&m_model, &CompanionModel::listeningChanged, this, &CompanionControls::syncVoice);
    connect(&m_model, &CompanionModel::requestingMicrophoneChanged, this,
            &CompanionControls::syncVoice);
    connect(&m_model, &CompanionModel::messageChanged, this,
            [this] { m_status->setText(m_model.message()); });
    connect(&m_theme, &Theme::changed, this, &CompanionControls::applyTheme);

    m_status->setText(m_model.message());
    syncDraft();
    syncVoice();
    applyTheme();
}

void CompanionControls::syncDraft() {
    if (m_editor->toPlainText() == m_model.draft()) {
        return;
    }
    // Dictation rewrites the whole draft; the cursor follows the newest words.
    const QSignalBlocker blocker(m_editor);
    m_editor->setPlainText(m_model.draft());
    m_editor->moveCursor(QTextCursor::End);
}

void CompanionControls::syncVoice() {
    m_microphone->setText(m_model.voiceBusy() ? QStringLiteral("Stop mic")
                                              : QStringLiteral("Microphone"));
    m_microphone->setProperty("primary", m_model.voiceBusy());
    Widgets::restyle(m_microphone);
}

void CompanionControls::applyTheme() {
    setStyleSheet(QStringLiteral("#companionControls { background: %1; border: 1px solid %2; "
                                 "border-radius: 16px; }")
                      .arg(AppStyle::css(m_theme.surface()), AppStyle::css(m_theme.border())));
    const QColor icon = m_theme.text();
    m_microphone->setIcon(Icons::icon(QStringLiteral("mic"), icon));
    m_readAloud->setIcon(Icons::icon(QStringLiteral("speaker.wave.2"), icon, 18));
}
