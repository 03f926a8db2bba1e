#pragma once

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QStyle>
#include <QVariant>

// Small constructors for the styled building blocks of the pages (see AppStyle.h for the
// roles).
namespace Widgets {

inline QLabel* label(const QString& text, const char* role = nullptr, QWidget* parent = nullptr) {
    auto* result = new QLabel(text, parent);
    if (role) {
        result->setProperty("role", QString::fromLatin1(role));
    }
    result->setTextInteractionFlags(Qt::NoTextInteraction);
    return result;
}

inline QLabel* wrappingLabel(const QString& text, const char* role = nullptr,
                             QWidget* parent = nullptr) {
    QLabel* result = label(text, role, parent);
    result->setWordWrap(true);
    return result;
}

inline QFrame* card(QWidget* parent = nullptr) {
    auto* frame = new QFrame(parent);
    frame->setProperty("card", true);
    return frame;
}

// Button and menu texts treat "&" as a mnemonic marker; shown texts keep it literally.
inline QString literal(QString text) {
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

inline QPushButton* button(const QString& text, const char* kind = nullptr,
                           QWidget* parent = nullptr) {
    auto* result = new QPushButton(literal(text), parent);
    if (kind) {
        result->setProperty(kind, true);
    }
    result->setCursor(Qt::PointingHandCursor);
    return result;
}

// Re-applies the stylesheet after a dynamic property used by it changed.
inline void restyle(QWidget* widget) {
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
}

}  // namespace Widgets
