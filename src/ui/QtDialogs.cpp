#include "QtDialogs.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

int QtDialogs::alert(const Alert& alert) {
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
