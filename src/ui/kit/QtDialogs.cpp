#include "ui/kit/QtDialogs.h"

#include "ui/kit/ListAlert.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>

namespace {

// A longer informative text scrolls inside the box: a list of thousands of files (to apply,
// restored after a crash) would otherwise make the box taller than the screen and push its
// buttons out of reach.
constexpr int kMaximumShownLines = 18;
constexpr int kMaximumScrolledWidth = 640;

void scrollLongInformativeText(QMessageBox& box) {
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    if (!label || label->text().count(u'\n') < kMaximumShownLines || !box.layout()) {
        return;
    }
    auto* area = new QScrollArea;
    area->setObjectName(QStringLiteral("AlertScrolledText"));
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The layout hands back the label's old item, which is the caller's to delete.
    delete box.layout()->replaceWidget(label, area);
    label->ensurePolished();
    const int width = std::min(label->sizeHint().width(), kMaximumScrolledWidth);
    label->setWordWrap(true);
    area->setWidget(label);
    area->setFixedSize(width + area->verticalScrollBar()->sizeHint().width(),
                       label->fontMetrics().lineSpacing() * kMaximumShownLines);
}

}  // namespace

int QtDialogs::alert(const Alert& alert) {
    if (!alert.details.isEmpty()) {
        return execListAlert(m_parent, alert);
    }
    QMessageBox box(m_parent);
    box.setIcon(alert.style == Style::Warning ? QMessageBox::Warning : QMessageBox::Information);
    box.setText(alert.message);
    box.setInformativeText(alert.informativeText);
    QList<QAbstractButton*> buttons;
    for (int i = 0; i < alert.buttons.size(); ++i) {
        // The first button is the default; a button titled "Cancel" also answers Escape.
        const bool cancel = alert.buttons[i] == QStringLiteral("Cancel");
        QAbstractButton* button =
            box.addButton(QString(alert.buttons[i]).replace(QLatin1Char('&'), QStringLiteral("&&")),
                          cancel ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
        if (i == 0) {
            box.setDefaultButton(qobject_cast<QPushButton*>(button));
        }
        buttons.append(button);
    }
    scrollLongInformativeText(box);
    box.exec();
    return int(buttons.indexOf(box.clickedButton()));
}

std::optional<QString> QtDialogs::open(const OpenPanel& panel) {
    QFileDialog dialog(m_parent, panel.message, panel.startFolder);
    if (panel.chooseFolders && !panel.chooseFiles) {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
    } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (!panel.nameFilters.isEmpty()) {
        dialog.setNameFilters(panel.nameFilters);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().constFirst();
}

std::optional<QString> QtDialogs::save(const SavePanel& panel) {
    const QString start = QDir(panel.startFolder).filePath(panel.proposedName);
    const QString chosen = QFileDialog::getSaveFileName(m_parent, QString(), start);
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return chosen;
}
