#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// Keeps one running VELK per user. The first instance listens on a local socket; a later
// start connects, asks it to show its window, and exits.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QString name = defaultName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when another instance is running and has been asked to show its window.
    bool activateRunningInstance();
    // Starts listening for later starts. False when the socket cannot be created.
    bool listen();

    static QString defaultName();

Q_SIGNALS:
    void activationRequested();

private:
    QString m_name;
    QLocalServer* m_server = nullptr;
};
