#include "ui/kit/ListAlert.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QStringListModel>
#include <QStyle>

#include <algorithm>

namespace {

constexpr int kMostRowsShown = 18;
constexpr int kListWidth = 640;

// The texts behave as a message box's do on this style (selectable or not).
QLabel* textLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextInteractionFlags(
        parent->style()->styleHint(QStyle::SH_MessageBox_TextInteractionFlags, nullptr, parent)));
    label->setWordWrap(true);
    return label;
}

}  // namespace

int execListAlert(QWidget* parent, const Dialogs::Alert& alert) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QApplication::applicationDisplayName());
    auto* grid = new QGridLayout(&dialog);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    auto* icon = new QLabel(&dialog);
    const QStyle::StandardPixmap kind = alert.style == Dialogs::Style::Warning
                                            ? QStyle::SP_MessageBoxWarning
                                            : QStyle::SP_MessageBoxInformation;
    const int iconSize = dialog.style()->pixelMetric(QStyle::PM_MessageBoxIconSize);
    icon->setPixmap(dialog.style()->standardIcon(kind).pixmap(iconSize, iconSize));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    grid->addWidget(icon, 0, 0, 3, 1);

    QLabel* message = textLabel(alert.message, &dialog);
    message->setObjectName(QStringLiteral("AlertMessage"));
    grid->addWidget(message, 0, 1);
    QLabel* informative = textLabel(alert.informativeText, &dialog);
    informative->setObjectName(QStringLiteral("AlertInformativeText"));
    grid->addWidget(informative, 1, 1);

    auto* list = new QListView(&dialog);
    list->setObjectName(QStringLiteral("AlertDetails"));
    list->setUniformItemSizes(true);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setModel(new QStringListModel(alert.details, list));
    const int rows = std::clamp(int(alert.details.size()), 1, kMostRowsShown);
    list->setFixedSize(kListWidth,
                       list->fontMetrics().lineSpacing() * rows + 2 * list->frameWidth() + 8);
    grid->addWidget(list, 2, 1);

    // The button box orders the buttons by role as the desktop expects, as a message box does.
    auto* box = new QDialogButtonBox(&dialog);
    int chosen = -1;
    int cancel = -1;
    for (int index = 0; index < alert.buttons.size(); ++index) {
        const bool isCancel = alert.buttons[index] == QStringLiteral("Cancel");
        QPushButton* button = box->addButton(
            QString(alert.buttons[index]).replace(QLatin1Char('&'), QStringLiteral("&&")),
            isCancel ? QDialogButtonBox::RejectRole : QDialogButtonBox::AcceptRole);
        if (isCancel) {
            cancel = index;
        }
        button->setDefault(index == 0);
        button->setAutoDefault(index == 0);
        QObject::connect(button, &QPushButton::clicked, &dialog, [&dialog, &chosen, index] {
            chosen = index;
            dialog.done(QDialog::Accepted);
        });
    }
    grid->addWidget(box, 3, 0, 1, 2);

    if (dialog.exec() != QDialog::Accepted && chosen < 0) {
        // Escape or the window's close button.
        return cancel;
    }
    return chosen;
}
