#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>

class QWidget;

// Answers the application's modal dialogs the way a user would, in the order they appear:
// clicks a message box's button by its title, or enters a location in a file dialog and
// accepts it. Each queued answer waits for the next modal dialog. The dialogs run their own
// event loops, during which the test's code is paused inside the click that opened them, so
// the answers are queued before that click.
class DialogScript : public QObject {
    Q_OBJECT
public:
    DialogScript();

    void clickButton(const QString& title);
    void chooseLocation(const QString& path);

    // Every queued answer has been given.
    bool done() const { return m_answers.empty(); }
    // The main texts of the message boxes answered so far, in order.
    QStringList messages() const { return m_messages; }

private:
    void answerOpenDialog();

    QTimer m_poll;
    std::deque<std::function<void(QWidget*)>> m_answers;
    QPointer<QWidget> m_answered;
    QStringList m_messages;
};
