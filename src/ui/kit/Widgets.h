#pragma once

#include "ui/kit/TextLabel.h"

#include <QBoxLayout>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QString>
#include <QStyle>
#include <QVBoxLayout>
#include <QVariant>

// Small constructors for the styled building blocks of the pages (see DesktopStyle.h for
// the roles).
namespace Widgets {

// Plain text always: labels show names, titles and messages that come from files and
// assistants, which must never be read as markup.
inline QLabel* label(const QString& text, const char* role = nullptr, QWidget* parent = nullptr) {
    auto* result = new TextLabel(text, parent);
    if (role) {
        result->setProperty("role", QString::fromLatin1(role));
    }
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

// A layout of `Box` (QVBoxLayout or QHBoxLayout) on `owner`, with these margins and spacing.
template <typename Box>
Box* box(QWidget* owner, const QMargins& margins, int spacing) {
    auto* layout = new Box(owner);
    layout->setContentsMargins(margins);
    layout->setSpacing(spacing);
    return layout;
}

// A page's empty state: an optional picture above a title and a line of text, centred, with
// `topStretch` : `bottomStretch` of the free height above and below them.
inline QWidget* emptyState(const QString& title, const QString& text, QLabel* picture = nullptr,
                           int topStretch = 1, int bottomStretch = 2) {
    auto* state = new QWidget;
    auto* layout = new QVBoxLayout(state);
    layout->addStretch(topStretch);
    if (picture) {
        picture->setAlignment(Qt::AlignCenter);
        layout->addWidget(picture);
    }
    for (QLabel* line : {wrappingLabel(title, "title"), wrappingLabel(text, "muted")}) {
        line->setAlignment(Qt::AlignCenter);
        layout->addWidget(line);
    }
    layout->addStretch(bottomStretch);
    return state;
}

// Gives `page` a scroll area filling it and returns the column layout of the scrolled
// content, with the pages' usual margins and spacing.
inline QVBoxLayout* scrollingPage(QWidget* page) {
    auto* outer = new QVBoxLayout(page);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    outer->addWidget(scroll);
    auto* content = new QWidget;
    scroll->setWidget(content);
    return box<QVBoxLayout>(content, {28, 24, 28, 24}, 16);
}

// Re-applies the style after a dynamic property it reads changed.
inline void restyle(QWidget* widget) {
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
}

// Empties a layout that is being rebuilt. Its widgets leave at once (hidden, out of the
// widget tree) but are deleted only when the event loop next runs: a rebuild often starts
// inside a click on one of them.
inline void clearLayout(QLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->setParent(nullptr);
            widget->deleteLater();
        } else if (QLayout* child = item->layout()) {
            clearLayout(child);  // the item is the child layout, deleted just below
        }
        delete item;
    }
}

// Ends a dialog's layout with its one closing button, "Done", on the right.
inline void addDoneButton(QDialog* dialog, QBoxLayout* layout) {
    auto* done = button(QStringLiteral("Done"), "primary");
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(done);
    layout->addLayout(row);
    QObject::connect(done, &QPushButton::clicked, dialog, &QDialog::accept);
}

}  // namespace Widgets
