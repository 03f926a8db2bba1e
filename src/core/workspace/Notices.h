#pragma once

#include <QObject>
#include <QString>
#include <QUuid>

// The one-line notices shown at the bottom of the window. A notice stays for its duration
// (4 s unless changed); a newer one replaces it and keeps its own full duration.
class Notices : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString toast READ toast NOTIFY toastChanged)

public:
    explicit Notices(QObject* parent = nullptr) : QObject(parent) {}

    // The notice shown now; empty when none.
    QString toast() const { return m_toast; }
    void notify(const QString& message);
    void setDurationMs(int ms) { m_durationMs = ms; }

Q_SIGNALS:
    void toastChanged();

private:
    QString m_toast;
    QUuid m_toastToken = QUuid::createUuid();
    int m_durationMs = 4000;
};
