#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>

class AttentionBoard;
class QSystemTrayIcon;

// Keeps the tray icon telling how many sessions need the user: its tooltip says so, and its
// icon carries the count on an amber badge, so that a session waiting for an answer shows
// while VELK's window is hidden. The tray may go away first (at shutdown).
class TrayAttention : public QObject {
    Q_OBJECT
public:
    TrayAttention(QSystemTrayIcon& tray, const AttentionBoard& board, QObject* parent = nullptr);

    // "VELK", "VELK — 1 session needs you", "VELK — 3 sessions need you".
    static QString toolTip(int needingYou);
    // `icon` with `count` on a badge in its lower right corner; `icon` itself for 0.
    static QIcon badged(const QIcon& icon, int count);

private:
    void sync();

    QPointer<QSystemTrayIcon> m_tray;
    const AttentionBoard& m_board;
    QIcon m_plain;
};
