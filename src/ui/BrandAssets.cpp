#include "ui/BrandAssets.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>

namespace BrandAssets {

QString version() {
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? QStringLiteral("Development") : version;
}

QPixmap logo(int size, const QColor& accent) {
    const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box(0, 0, size, size);

    // Rounded tile in a dark tint of the accent.
    QColor tile = accent.darker(420);
    painter.setPen(Qt::NoPen);
    painter.setBrush(tile);
    painter.drawRoundedRect(box, size * 0.26, size * 0.26);

    // The planet, then an orbit ring tilted across it and a small moon on the ring.
    const QPointF centre = box.center();
    painter.setBrush(accent);
    painter.drawEllipse(centre, size * 0.16, size * 0.16);
    painter.save();
    painter.translate(centre);
    painter.rotate(-24);
    QPen ring(accent, size * 0.06);
    painter.setPen(ring);
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(0, 0), size * 0.36, size * 0.15);
    painter.setPen(Qt::NoPen);
    painter.setBrush(accent.lighter(130));
    painter.drawEllipse(QPointF(size * 0.36, 0), size * 0.06, size * 0.06);
    painter.restore();
    return pixmap;
}

}  // namespace BrandAssets
