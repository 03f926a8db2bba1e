#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLockFile;

// Keeps one running VELK per user. The first instance listens on a local socket; a later
// start connects, asks it to show its window, and exits.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QString name = defaultName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when another instance is running and has been asked to show its window.
    bool activateRunningInstance();
    // Starts listening for later starts. False when the socket cannot be created or another
    // instance has begun listening since activateRunningInstance() found none (ask that one
    // to show itself instead).
    bool listen();

    // velk.socket in $XDG_RUNTIME_DIR, else a per-user name in the temporary folder.
    static QString defaultName();

Q_SIGNALS:
    void activationRequested();

private:
    QString m_name;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
};
