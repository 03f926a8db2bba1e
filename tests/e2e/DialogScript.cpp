#include "DialogScript.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>

DialogScript::DialogScript() {
    m_poll.setInterval(20);
    connect(&m_poll, &QTimer::timeout, this, &DialogScript::answerOpenDialog);
    m_poll.start();
}

void DialogScript::clickButton(const QString& title) {
    m_answers.emplace_back([this, title](QWidget* dialog) {
        if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
            m_messages.append(box->text());
        }
        for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
            // Button titles show a literal "&" doubled.
            if (button->isVisible() && button->text().replace("&&", "&") == title) {
                QTest::mouseClick(button, Qt::LeftButton);
                return;
            }
        }
        qWarning("No button titled %s in the dialog; closing it", qPrintable(title));
        dialog->close();
    });
}

void DialogScript::chooseLocation(const QString& path) {
    m_answers.emplace_back([path](QWidget* dialog) {
        auto* fileDialog = qobject_cast<QFileDialog*>(dialog);
        auto* field = dialog->findChild<QLineEdit*>("fileNameEdit");
        auto* buttons = dialog->findChild<QDialogButtonBox*>();
        if (!fileDialog || !field || !buttons) {
            qWarning("Not a file dialog; closing it");
            dialog->close();
            return;
        }
        // Set whole: typed one key at a time, the dialog would follow each folder on the way.
        field->setText(path);
        for (QAbstractButton* button : buttons->buttons()) {
            if (buttons->buttonRole(button) == QDialogButtonBox::AcceptRole) {
                QTest::mouseClick(button, Qt::LeftButton);
                return;
            }
        }
    });
}

void DialogScript::answerOpenDialog() {
    QWidget* dialog = QApplication::activeModalWidget();
    // A dialog already answered may stay up until its event loop ends.
    if (!dialog || dialog == m_answered || m_answers.empty() || !dialog->isVisible()) {
        return;
    }
    m_answered = dialog;
    const std::function<void(QWidget*)> answer = std::move(m_answers.front());
    m_answers.pop_front();
    answer(dialog);
}
