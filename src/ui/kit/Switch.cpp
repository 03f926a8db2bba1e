#include "ui/kit/Switch.h"

#include "core/appearance/Theme.h"

#include <QPainter>

namespace {
constexpr int kTrackWidth = 36;
constexpr int kTrackHeight = 20;
constexpr int kGap = 10;
}  // namespace

Switch::Switch(const QString& text, Theme& theme, QWidget* parent)
    : QAbstractButton(parent), m_theme(theme) {
    setText(text);
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    connect(&m_theme, &Theme::changed, this, qOverload<>(&QWidget::update));
}

QSize Switch::sizeHint() const {
    const QFontMetrics metrics(font());
    return {kTrackWidth + kGap + metrics.horizontalAdvance(text()) + 2,
            std::max(kTrackHeight, metrics.height()) + 4};
}

void Switch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor accent = m_theme.accent();
    const QColor textColor = m_theme.text();
    QColor off = textColor;
    off.setAlphaF(0.25);

    const QRectF track(1, (height() - kTrackHeight) / 2.0, kTrackWidth, kTrackHeight);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? accent : off);
    painter.drawRoundedRect(track, kTrackHeight / 2.0, kTrackHeight / 2.0);
    const double knob = kTrackHeight - 4;
    const double knobX = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(knobX, track.top() + 2, knob, knob));

    painter.setPen(isEnabled() ? textColor : off);
    painter.drawText(QRectF(track.right() + kGap, 0, width() - track.right() - kGap, height()),
                     Qt::AlignVCenter | Qt::AlignLeft, text());
}
