#pragma once

#include <QFrame>

class QLabel;
class QPushButton;
class SessionRestore;

// The bar above the pages that offers the sessions open when VELK last closed: "Restore 3
// sessions" restarts them, "Not now" forgets them. Shown only while there is an offer.
class RestoreBar : public QFrame {
    Q_OBJECT

public:
    explicit RestoreBar(SessionRestore& restore, QWidget* parent = nullptr);

    QLabel* message() const { return m_message; }
    QPushButton* restoreButton() const { return m_restore; }
    QPushButton* dismissButton() const { return m_dismiss; }

private:
    void sync();

    SessionRestore& m_restoreModel;
    QLabel* m_message = nullptr;
    QPushButton* m_restore = nullptr;
    QPushButton* m_dismiss = nullptr;
};
