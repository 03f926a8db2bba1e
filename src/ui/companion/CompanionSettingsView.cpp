#include "ui/companion/CompanionSettingsView.h"

#include "core/companion/CompanionModel.h"
#include "ui/companion/PetArt.h"
#include "ui/kit/Switch.h"
#include "ui/kit/Widgets.h"
#include "ui/navigation/Navigator.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace {

// The size slider works in whole percent: 65 … 150 in steps of 5.
constexpr int kSliderStep = 5;

int percentOf(double scale) {
    return int(std::lround(scale * 100.0));
}

QVBoxLayout* cardLayout(QFrame* card) {
    auto* layout = Widgets::box<QVBoxLayout>(card, {20, 18, 20, 18}, 10);
    return layout;
}

}  // namespace

CompanionSettingsView::CompanionSettingsView(CompanionModel& model, Navigator& navigator,
                                             Theme& theme, QWidget* parent)
    : QWidget(parent), m_model(model), m_navigator(navigator) {
    QVBoxLayout* layout = Widgets::scrollingPage(this);

    auto* back = Widgets::button(QStringLiteral("Back to Settings"));
    connect(back, &QPushButton::clicked, this,
            [this] { m_navigator.setDestination(Destination::Settings); });
    auto* backRow = new QHBoxLayout;
    backRow->addWidget(back);
    backRow->addStretch(1);
    layout->addLayout(backRow);

    layout->addWidget(Widgets::label(QStringLiteral("Your pixel companion"), "accent"));
    layout->addWidget(Widgets::label(QStringLiteral("A familiar face, always close."), "headline"));
    layout->addWidget(Widgets::wrappingLabel(
        QStringLiteral("Your reference, reimagined in pixels. Built into VELK and ready on your "
                       "desktop, even when the workspace is minimized."),
        "muted"));

    auto* columns = new QHBoxLayout;
    columns->setSpacing(16);

    // The pet card.
    QFrame* petCard = Widgets::card();
    petCard->setFixedWidth(300);
    QVBoxLayout* petLayout = cardLayout(petCard);
    m_art = new PetArt(m_model);
    m_art->setObjectName(QStringLiteral("companionPagePet"));
    m_art->setAnimated(true);
    m_art->setReducedMotion(desktopPrefersReducedMotion());
    m_art->setFixedSize(176, 186);
    petLayout->addWidget(m_art, 0, Qt::AlignHCenter);
    m_name = Widgets::label(QString(), "title");
    m_kind = Widgets::label(QString(), "pill");
    m_name->setWordWrap(true);
    petLayout->addWidget(m_name);
    petLayout->addWidget(m_kind, 0, Qt::AlignLeft);
    petLayout->addWidget(Widgets::wrappingLabel(
        QStringLiteral("Lives on your desktop, even when VELK is minimized."), "muted"));
    auto* openControls = Widgets::button(QStringLiteral("Open quick draft"), "primary");
    connect(openControls, &QPushButton::clicked, this, [this] { Q_EMIT m_model.openControls(); });
    petLayout->addWidget(openControls);
    petLayout->addStretch(1);
    columns->addWidget(petCard, 0);

    // Showing the pet, its image, motion, size and place.
    QFrame* settingsCard = Widgets::card();
    QVBoxLayout* settings = cardLayout(settingsCard);
    m_enabled = new Switch(QStringLiteral("Show desktop companion"), theme);
    connect(m_enabled, &Switch::toggled, this, [this](bool on) { m_model.setEnabled(on); });
    settings->addWidget(m_enabled);
    settings->addWidget(Widgets::wrappingLabel(
        QStringLiteral("Your pixel character is the permanent default. Choose a custom image "
                       "whenever you like, or restore the default below."),
        "muted"));
    settings->addSpacing(4);
    settings->addWidget(Widgets::label(QStringLiteral("Your pet image"), "title"));
    auto* imageButtons = new QHBoxLayout;
    auto* choose = Widgets::button(QStringLiteral("Choose your own image"));
    auto* remove = Widgets::button(QStringLiteral("Remove custom"));
    auto* restore = Widgets::button(QStringLiteral("Restore default pet"));
    connect(choose, &QPushButton::clicked, this, [this] { m_model.importImage(); });
    connect(remove, &QPushButton::clicked, this, [this] { m_model.removeCustomImage(); });
    connect(restore, &QPushButton::clicked, this, [this] { m_model.restoreDefaultPet(); });
    imageButtons->addWidget(choose);
    imageButtons->addWidget(remove);
    imageButtons->addWidget(restore);
    imageButtons->addStretch(1);
    settings->addLayout(imageButtons);
    settings->addWidget(Widgets::wrappingLabel(
        QStringLiteral("PNG, JPEG, HEIC or TIFF · up to 10 MB. Transparent PNGs look best. Custom "
                       "images use a gentle floating animation."),
        "muted"));
    settings->addSpacing(4);
    m_animate = new Switch(QStringLiteral("Gentle floating motion"), theme);
    connect(m_animate, &Switch::toggled, this, [this](bool on) { m_model.setAnimate(on); });
    settings->addWidget(m_animate);

    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(Widgets::label(QStringLiteral("Pet size")));
    m_size = new QSlider(Qt::Horizontal);
    m_size->setObjectName(QStringLiteral("companionSizeSlider"));
    m_size->setRange(percentOf(CompanionModel::kMinimumScale),
                     percentOf(CompanionModel::kMaximumScale));
    m_size->setSingleStep(kSliderStep);
    m_size->setPageStep(kSliderStep * 2);
    m_size->setTickInterval(kSliderStep);
    connect(m_size, &QSlider::valueChanged, this, [this](int percent) {
        // Keep the thumb on the 5 % steps whatever the input (drag, keys, wheel).
        const int stepped = int(std::lround(percent / double(kSliderStep))) * kSliderStep;
        m_model.setScale(stepped / 100.0);
        sync();
    });
    m_sizeValue = Widgets::label(QString(), "muted");
    m_sizeValue->setMinimumWidth(44);
    sizeRow->addWidget(m_size, 1);
    sizeRow->addWidget(m_sizeValue);
    settings->addLayout(sizeRow);

    auto* placeButtons = new QHBoxLayout;
    auto* find = Widgets::button(QStringLiteral("Find pet on desktop"));
    auto* reset = Widgets::button(QStringLiteral("Reset desktop position"));
    connect(find, &QPushButton::clicked, this, [this] { Q_EMIT m_model.findOnDesktop(); });
    connect(reset, &QPushButton::clicked, this, [this] { Q_EMIT m_model.resetPosition(); });
    placeButtons->addWidget(find);
    placeButtons->addWidget(reset);
    placeButtons->addStretch(1);
    settings->addLayout(placeButtons);
    m_status = Widgets::wrappingLabel(QString(), "accent");
    m_status->setObjectName(QStringLiteral("companionPageStatus"));
    settings->addWidget(m_status);
    settings->addStretch(1);
    columns->addWidget(settingsCard, 1);
    layout->addLayout(columns);

    // What the voice features do.
    QFrame* voiceCard = Widgets::card();
    auto* voice = new QGridLayout(voiceCard);
    voice->setContentsMargins(20, 18, 20, 18);
    voice->setHorizontalSpacing(28);
    voice->setVerticalSpacing(8);
    voice->addWidget(Widgets::label(QStringLiteral("Your voice, on your terms"), "title"), 0, 0);
    voice->addWidget(
        Widgets::wrappingLabel(
            QStringLiteral(
                "Start the microphone to turn speech into an editable draft. It stops when you "
                "close the quick draft or after one minute. VELK listens on the input device "
                "chosen in your desktop’s sound settings (PulseAudio or PipeWire), and an "
                "offline recognizer turns speech into text on this computer. Nothing is sent to "
                "an AI assistant until you run the task."),
            "muted"),
        1, 0, Qt::AlignTop);
    voice->addWidget(Widgets::label(QStringLiteral("Read it. Hear it. Stop it."), "title"), 0, 1);
    voice->addWidget(
        Widgets::wrappingLabel(
            QStringLiteral("The speaker menu reads your draft or the latest terminal output using "
                           "the system’s speech voices. Stop VELK audio ends VELK’s speech. This "
                           "is dictation and "
                           "read-aloud; a live AI voice conversation is a later step."),
            "muted"),
        1, 1, Qt::AlignTop);
    voice->setColumnStretch(0, 1);
    voice->setColumnStretch(1, 1);
    layout->addWidget(voiceCard);
    layout->addStretch(1);

    for (auto signal : {&CompanionModel::enabledChanged, &CompanionModel::appearanceChanged,
                        &CompanionModel::animateChanged, &CompanionModel::scaleChanged,
                        &CompanionModel::messageChanged}) {
        connect(&m_model, signal, this, &CompanionSettingsView::sync);
    }
    sync();
}

QPushButton* CompanionSettingsView::button(const QString& text) const {
    for (QPushButton* candidate : findChildren<QPushButton*>()) {
        if (candidate->text() == Widgets::literal(text)) {
            return candidate;
        }
    }
    return nullptr;
}

void CompanionSettingsView::sync() {
    const QSignalBlocker enabledBlocker(m_enabled);
    const QSignalBlocker animateBlocker(m_animate);
    const QSignalBlocker sizeBlocker(m_size);
    m_enabled->setChecked(m_model.enabled());
    m_animate->setChecked(m_model.animate());
    m_size->setValue(percentOf(m_model.scale()));
    m_sizeValue->setText(QString::number(percentOf(m_model.scale())) + QStringLiteral("%"));
    m_name->setText(m_model.displayName());
    m_kind->setText(m_model.appearance() == QStringLiteral("custom")
                        ? QStringLiteral("Custom")
                        : QStringLiteral("Default pet"));
    m_status->setText(m_model.message());
    m_enabled->update();
    m_animate->update();
}
