#include "ui/companion/PetArt.h"

#include "core/companion/CompanionModel.h"
#include "platform/GnomeMotionPreference.h"
#include "ui/kit/Icons.h"

#include <QBitmap>
#include <QDateTime>
#include <QPainter>

#include <algorithm>
#include <cmath>

PetArt::PetArt(CompanionModel& model, QWidget* parent) : QWidget(parent), m_model(model) {
    setAttribute(Qt::WA_TranslucentBackground);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &PetArt::tick);
    connect(&m_model, &CompanionModel::appearanceChanged, this, &PetArt::syncImage);
    connect(&m_model, &CompanionModel::customImageChanged, this, &PetArt::syncImage);
    connect(&m_model, &CompanionModel::animateChanged, this, &PetArt::syncMotion);
    syncImage();
}

void PetArt::setAnimated(bool animated) {
    m_animated = animated;
    syncMotion();
}

void PetArt::setFloatsWindow(bool floatsWindow) {
    if (m_floatsWindow == floatsWindow) {
        return;
    }
    m_floatsWindow = floatsWindow;
    update();
    Q_EMIT shapeChanged();
}

void PetArt::setCalling(bool calling) {
    if (m_calling == calling) {
        return;
    }
    m_calling = calling;
    syncMotion();
    update();
    Q_EMIT shapeChanged();
}

QRect PetArt::callRect() const {
    const QRect image = imageRect();
    if (!m_calling || image.isEmpty()) {
        return {};
    }
    const int side = std::clamp(image.width() / 4, 14, 28);
    // Inside the widget, overlapping the image's top right corner.
    QRect bubble(QPoint(image.right() - side / 2, image.top() - side / 2), QSize(side, side));
    bubble.moveRight(std::min(bubble.right(), width() - 1));
    bubble.moveTop(std::max(bubble.top(), 0));
    return bubble;
}

void PetArt::setReducedMotion(bool reduced) {
    m_reducedMotion = reduced;
    syncMotion();
}

int PetArt::floatOffset(double seconds) {
    return int(std::lround(std::sin(seconds * 1.6) * 3.0));
}

int PetArt::msUntilOffsetChanges(double seconds) {
    // The offset moves by one pixel a few times a second: wake for those frames only, not for
    // every frame in between.
    const int now = floatOffset(seconds);
    int frames = 1;
    while (frames < kFramesPerSecond * 2 &&
           floatOffset(seconds + frames / double(kFramesPerSecond)) == now) {
        ++frames;
    }
    return frames * 1000 / kFramesPerSecond;
}

void PetArt::tick() {
    const double seconds = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    setOffset(floatOffset(seconds));
    m_timer.start(msUntilOffsetChanges(seconds));
}

void PetArt::setOffset(int offset) {
    if (m_offset == offset) {
        return;
    }
    m_offset = offset;
    if (m_floatsWindow) {
        Q_EMIT offsetChanged(offset);
        return;
    }
    update();
    Q_EMIT shapeChanged();
}

int PetArt::drawnOffset() const {
    return m_floatsWindow ? 0 : m_offset;
}

QRect PetArt::imageRect() const {
    const QRect area = rect().adjusted(kMargin, kMargin, -kMargin, -kMargin);
    if (area.isEmpty()) {
        return {};
    }
    if (m_image.isNull()) {
        const int side = std::max(std::min(area.width(), area.height()) / 2, 1);
        return QRect(area.center() - QPoint(side / 2, side / 2), QSize(side, side));
    }
    QRect target(QPoint(0, 0), m_image.size().scaled(area.size(), Qt::KeepAspectRatio));
    target.moveCenter(area.center());
    // The offset grows upward; Qt's y grows downward.
    return target.translated(0, -drawnOffset());
}

QRegion PetArt::opaqueRegion() const {
    if (!m_restingRegion) {
        const QRect target = imageRect().translated(0, drawnOffset());
        if (m_image.isNull() || target.isEmpty()) {
            m_restingRegion = QRegion(target);
        } else {
            const QImage scaled =
                m_image.convertToFormat(QImage::Format_ARGB32)
                    .scaled(target.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
            m_restingRegion =
                QRegion(QBitmap::fromImage(scaled.createAlphaMask())).translated(target.topLeft());
        }
    }
    return m_restingRegion->translated(0, -drawnOffset()) + QRegion(callRect(), QRegion::Ellipse);
}

void PetArt::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_restingRegion.reset();
    Q_EMIT shapeChanged();
}

void PetArt::syncImage() {
    const std::optional<QImage> image = m_model.displayedImage();
    m_image = image ? *image : QImage();
    // The built-in pet is pixel art: it keeps its hard edges when scaled.
    m_pixelArt = m_model.appearance() != QStringLiteral("custom");
    m_scaled = QPixmap();
    setAccessibleName(m_model.displayName());
    m_restingRegion.reset();
    update();
    Q_EMIT shapeChanged();
}

void PetArt::syncMotion() {
    // A hidden drawing never ticks; the timer only runs while someone can see it move.
    const bool wanted =
        m_animated && m_model.animate() && !m_reducedMotion && !m_calling && isVisible();
    if (wanted && !m_timer.isActive()) {
        tick();
    } else if (!wanted && m_timer.isActive()) {
        m_timer.stop();
        setOffset(0);
    }
}

void PetArt::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    syncMotion();
}

void PetArt::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    syncMotion();
}

void PetArt::paintEvent(QPaintEvent*) {
    const QRect target = imageRect();
    if (target.isEmpty()) {
        return;
    }
    QPainter painter(this);
    if (m_image.isNull()) {
        const QPixmap symbol =
            Icons::pixmap(QStringLiteral("pawprint"), QColor(0x00, 0xD9, 0xFF), target.width());
        if (!symbol.isNull()) {
            painter.drawPixmap(target, symbol);
        } else {
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(0x00, 0xD9, 0xFF));
            painter.drawEllipse(target);
        }
        paintCall(painter);
        return;
    }
    if (m_scaled.size() != target.size()) {
        // Scaled once per size, not per frame: a floating pet only moves what it drew.
        m_scaled = QPixmap::fromImage(
            m_image.scaled(target.size(), Qt::IgnoreAspectRatio,
                           m_pixelArt ? Qt::FastTransformation : Qt::SmoothTransformation));
    }
    painter.drawPixmap(target.topLeft(), m_scaled);
    paintCall(painter);
}

void PetArt::paintCall(QPainter& painter) const {
    const QRect bubble = callRect();
    if (bubble.isEmpty()) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xFF, 0xB0, 0x20));
    painter.drawEllipse(bubble);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(bubble.height() * 3 / 4);
    painter.setFont(font);
    painter.setPen(QColor(0x1A, 0x1A, 0x1A));
    painter.drawText(bubble, Qt::AlignCenter, QStringLiteral("!"));
    painter.restore();
}

bool desktopPrefersReducedMotion() {
    return !GnomeMotionPreference().animationsEnabled();
}
