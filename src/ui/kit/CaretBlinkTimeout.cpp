#include "ui/kit/CaretBlinkTimeout.h"

#include <QEvent>
#include <QGuiApplication>
#include <QStyleHints>

CaretBlinkTimeout::CaretBlinkTimeout(int timeoutMs, QObject* parent)
    : QObject(parent), m_flashTimeMs(QGuiApplication::styleHints()->cursorFlashTime()) {
    m_spell.setSingleShot(true);
    m_spell.setInterval(timeoutMs);
    connect(&m_spell, &QTimer::timeout, this, &CaretBlinkTimeout::stopBlinking);
    qApp->installEventFilter(this);
    m_spell.start();
}

CaretBlinkTimeout::~CaretBlinkTimeout() {
    if (m_stopped) {
        QGuiApplication::styleHints()->setCursorFlashTime(m_flashTimeMs);
    }
}

bool CaretBlinkTimeout::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
        case QEvent::InputMethod:
            if (m_stopped) {
                m_stopped = false;
                QGuiApplication::styleHints()->setCursorFlashTime(m_flashTimeMs);
            }
            m_spell.start();
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

void CaretBlinkTimeout::stopBlinking() {
    m_stopped = true;
    // A flash time of 0 draws carets steadily; text fields pick the change up at once.
    QGuiApplication::styleHints()->setCursorFlashTime(0);
}
