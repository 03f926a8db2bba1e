#include "ui/appearance/AppearancePage.h"

#include "core/appearance/HexColor.h"
#include "core/appearance/Theme.h"
#include "core/appearance/ThemePreset.h"
#include "ui/kit/AppStyle.h"
#include "ui/kit/Icons.h"
#include "ui/kit/Widgets.h"

#include <QColorDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMinimumFontSize = 10;
constexpr int kMaximumFontSize = 20;

QLabel* swatch(const QColor& color, int size) {
    auto* label = new QLabel;
    label->setFixedSize(size, size);
    label->setStyleSheet(QStringLiteral("background: %1; border: 1px solid rgba(255, 255, 255, "
                                        "0.25); border-radius: %2px;")
                             .arg(AppStyle::css(color))
                             .arg(size / 2));
    return label;
}

// A round colour sample for the picker buttons.
QIcon swatchIcon(const QColor& color) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(255, 255, 255, 90), 2));
    painter.setBrush(color);
    painter.drawEllipse(QRectF(2, 2, 28, 28));
    painter.end();
    return QIcon(pixmap);
}

// A preset card: clicking anywhere on it chooses the preset.
class PresetCard : public QFrame {
public:
    PresetCard(const ThemePreset& preset, std::function<void()> onChoose)
        : m_onChoose(std::move(onChoose)) {
        setProperty("card", true);
        setObjectName(QStringLiteral("preset:") + preset.id);
        setCursor(Qt::PointingHandCursor);
        auto* layout = Widgets::box<QVBoxLayout>(this, {16, 14, 16, 14}, 6);
        auto* top = new QHBoxLayout;
        top->setSpacing(6);
        top->addWidget(swatch(colorFromHex(preset.background), 26));
        top->addWidget(swatch(colorFromHex(preset.accent), 26));
        top->addStretch(1);
        m_check = Widgets::label(QStringLiteral("✓"), "badge");
        m_check->setObjectName(QStringLiteral("check"));
        top->addWidget(m_check, 0, Qt::AlignTop);
        layout->addLayout(top);
        layout->addWidget(Widgets::label(preset.title, "title"));
        layout->addWidget(Widgets::wrappingLabel(preset.subtitle, "muted"));
    }

    void setChosen(bool chosen, const QColor& accent) {
        m_check->setVisible(chosen);
        setStyleSheet(chosen
                          ? QStringLiteral("#%1 { border: 2px solid %2; }")
                                .arg(objectName().replace(QLatin1Char(':'), QStringLiteral("\\:")),
                                     AppStyle::css(accent))
                          : QString());
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
            m_onChoose();
        }
    }

private:
    std::function<void()> m_onChoose;
    QLabel* m_check = nullptr;
};

}  // namespace

AppearancePage::AppearancePage(Theme& theme, QWidget* parent) : QWidget(parent), m_theme(theme) {
    m_chooseColor = [this](const QColor& initial, const QString& title) -> std::optional<QColor> {
        const QColor picked = QColorDialog::getColor(initial, this, title);
        if (!picked.isValid()) {
            return std::nullopt;
        }
        return picked;
    };

    QVBoxLayout* layout = Widgets::scrollingPage(this);

    layout->addWidget(Widgets::label(QStringLiteral("Make it yours"), "accent"));
    layout->addWidget(Widgets::label(QStringLiteral("A workspace in your colors."), "headline"));
    layout->addWidget(Widgets::wrappingLabel(
        QStringLiteral("Start with a palette, then tune the background, accent, and terminal text "
                       "size. Changes apply immediately."),
        "muted"));

    m_presets = new QWidget;
    auto* presets = new QGridLayout(m_presets);
    presets->setContentsMargins(0, 0, 0, 0);
    presets->setSpacing(14);
    const QList<ThemePreset>& all = ThemePreset::all();
    for (int index = 0; index < all.size(); ++index) {
        const ThemePreset preset = all.at(index);
        presets->addWidget(new PresetCard(preset, [this, preset] { m_theme.apply(preset); }), 0,
                           index);
    }
    layout->addWidget(m_presets);

    QFrame* palette = Widgets::card();
    auto* paletteLayout = Widgets::box<QHBoxLayout>(palette, {20, 18, 20, 18}, 28);

    auto* controls = new QVBoxLayout;
    controls->setSpacing(10);
    controls->addWidget(Widgets::label(QStringLiteral("Personal palette"), "title"));
    controls->addWidget(Widgets::label(QStringLiteral("A little more you."), "muted"));
    auto* pickers = new QGridLayout;
    pickers->setHorizontalSpacing(14);
    pickers->setVerticalSpacing(8);
    m_backgroundButton = Widgets::button(QString());
    m_accentButton = Widgets::button(QString());
    pickers->addWidget(Widgets::label(QStringLiteral("Background")), 0, 0);
    pickers->addWidget(m_backgroundButton, 0, 1);
    pickers->addWidget(Widgets::label(QStringLiteral("Accent color")), 1, 0);
    pickers->addWidget(m_accentButton, 1, 1);
    pickers->addWidget(Widgets::label(QStringLiteral("Terminal text")), 2, 0);
    auto* sliderRow = new QHBoxLayout;
    m_fontSlider = new QSlider(Qt::Horizontal);
    m_fontSlider->setRange(kMinimumFontSize, kMaximumFontSize);
    m_fontSlider->setSingleStep(1);
    m_fontSlider->setPageStep(1);
    m_fontSlider->setMinimumWidth(200);
    m_fontSizeLabel = Widgets::label(QString(), "muted");
    m_fontSizeLabel->setMinimumWidth(44);
    sliderRow->addWidget(m_fontSlider, 1);
    sliderRow->addWidget(m_fontSizeLabel);
    pickers->addLayout(sliderRow, 2, 1);
    pickers->setColumnStretch(2, 1);
    controls->addLayout(pickers);
    controls->addStretch(1);
    auto* footer = new QHBoxLayout;
    footer->addWidget(Widgets::label(QStringLiteral("Your palette is saved"), "muted"));
    footer->addStretch(1);
    m_restore = Widgets::button(QStringLiteral("Restore charcoal & vira"));
    footer->addWidget(m_restore);
    controls->addLayout(footer);
    paletteLayout->addLayout(controls, 1);

    auto* preview = new QFrame;
    preview->setObjectName(QStringLiteral("Preview"));
    preview->setMinimumWidth(320);
    auto* previewLayout = Widgets::box<QVBoxLayout>(preview, {18, 16, 18, 16}, 10);
    m_previewTitle = Widgets::label(QStringLiteral("Hello, VELK."), "title");
    m_previewTerminal =
        Widgets::label(QStringLiteral("$ ready to build\n  Your ideas start here."));
    m_previewTerminal->setObjectName(QStringLiteral("PreviewTerminal"));
    previewLayout->addWidget(m_previewTitle);
    previewLayout->addWidget(m_previewTerminal);
    previewLayout->addStretch(1);
    paletteLayout->addWidget(preview);
    layout->addWidget(palette);
    layout->addStretch(1);

    connect(m_backgroundButton, &QPushButton::clicked, this, [this] {
        if (const auto color = m_chooseColor(m_theme.bg(), QStringLiteral("Background"))) {
            pickBackground(*color);
        }
    });
    connect(m_accentButton, &QPushButton::clicked, this, [this] {
        if (const auto color = m_chooseColor(m_theme.accent(), QStringLiteral("Accent color"))) {
            pickAccent(*color);
        }
    });
    connect(m_fontSlider, &QSlider::valueChanged, this,
            [this](int points) { m_theme.setFontSize(points); });
    connect(m_restore, &QPushButton::clicked, this,
            [this] { m_theme.apply(ThemePreset::all().first()); });
    connect(&m_theme, &Theme::changed, this, &AppearancePage::sync);
    sync();
}

void AppearancePage::pickBackground(const QColor& color) {
    m_theme.setBackgroundHex(hexFromColor(color));
    m_theme.setPresetID(QStringLiteral("custom"));
}

void AppearancePage::pickAccent(const QColor& color) {
    m_theme.setAccentHex(hexFromColor(color));
    m_theme.setPresetID(QStringLiteral("custom"));
}

QWidget* AppearancePage::presetCard(const QString& presetID) const {
    return m_presets->findChild<QWidget*>(QStringLiteral("preset:") + presetID);
}

void AppearancePage::sync() {
    for (const ThemePreset& preset : ThemePreset::all()) {
        if (auto* card = static_cast<PresetCard*>(presetCard(preset.id))) {
            card->setChosen(m_theme.presetID() == preset.id, m_theme.accent());
        }
    }
    const auto pickerText = [](const QString& hex) {
        return QStringLiteral("  #") + hex.toUpper();
    };
    m_backgroundButton->setText(pickerText(m_theme.backgroundHex()));
    m_backgroundButton->setIcon(swatchIcon(m_theme.bg()));
    m_accentButton->setText(pickerText(m_theme.accentHex()));
    m_accentButton->setIcon(swatchIcon(m_theme.accent()));

    // The slider keeps the size within its range; a stored size outside it is left alone
    // until the user moves the slider.
    const int points =
        std::clamp(int(std::lround(m_theme.fontSize())), kMinimumFontSize, kMaximumFontSize);
    {
        const QSignalBlocker blocker(m_fontSlider);
        m_fontSlider->setValue(points);
    }
    m_fontSizeLabel->setText(QString::number(int(m_theme.fontSize())) + QStringLiteral(" pt"));

    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(m_theme.fontSize() > 0 ? m_theme.fontSize() : Theme::kDefaultFontSize);
    m_previewTerminal->setFont(mono);
    QFont title = m_previewTitle->font();
    title.setPointSizeF(mono.pointSizeF() + 4);
    m_previewTitle->setFont(title);
    m_previewTerminal->setStyleSheet(
        QStringLiteral("color: %1; font-size: %2pt; font-family: '%3';")
            .arg(AppStyle::css(m_theme.accent()))
            .arg(mono.pointSizeF())
            .arg(mono.family()));
    m_previewTitle->setStyleSheet(
        QStringLiteral("font-size: %1pt; font-weight: 700;").arg(mono.pointSizeF() + 4));
    findChild<QWidget*>(QStringLiteral("Preview"))
        ->setStyleSheet(QStringLiteral("#Preview { background: %1; border: 1px solid %2; "
                                       "border-radius: 10px; }")
                            .arg(AppStyle::css(m_theme.bg()), AppStyle::css(m_theme.border())));
}
