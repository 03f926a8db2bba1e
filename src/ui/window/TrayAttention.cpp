#include "ui/window/TrayAttention.h"

#include "core/workspace/AttentionBoard.h"

#include <QFont>
#include <QPainter>
#include <QSystemTrayIcon>

namespace {

// The amber of a pane's "Needs you" dot.
const QColor kBadgeColour(0xF5, 0xB9, 0x42);
constexpr int kIconSize = 64;

}  // namespace

TrayAttention::TrayAttention(QSystemTrayIcon& tray, const AttentionBoard& board, QObject* parent)
    : QObject(parent), m_tray(&tray), m_board(board), m_plain(tray.icon()) {
    connect(&board, &AttentionBoard::needingYouChanged, this, &TrayAttention::sync);
    sync();
}

QString TrayAttention::toolTip(int needingYou) {
    if (needingYou <= 0) {
        return QStringLiteral("VELK");
    }
    return needingYou == 1 ? QStringLiteral("VELK — 1 session needs you")
                           : QStringLiteral("VELK — %1 sessions need you").arg(needingYou);
}

QIcon TrayAttention::badged(const QIcon& icon, int count) {
    if (count <= 0) {
        return icon;
    }
    QPixmap pixmap = icon.pixmap(kIconSize, kIconSize);
    if (pixmap.isNull()) {
        pixmap = QPixmap(kIconSize, kIconSize);
        pixmap.fill(Qt::transparent);
    }
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // Half the icon wide, so that the count stays readable at the tray's 22 pixels.
    const qreal side = pixmap.width() * 0.55;
    const QRectF badge(pixmap.width() - side, pixmap.height() - side, side, side);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kBadgeColour);
    painter.drawEllipse(badge);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(int(side * 0.7));
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(badge, Qt::AlignCenter,
                     count > 9 ? QStringLiteral("9+") : QString::number(count));
    painter.end();
    return QIcon(pixmap);
}

void TrayAttention::sync() {
    if (!m_tray) {
        return;
    }
    const int count = m_board.needingYou();
    m_tray->setToolTip(toolTip(count));
    m_tray->setIcon(badged(m_plain, count));
}
