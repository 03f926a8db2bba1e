#pragma once

#include "core/runs/PosixFiles.h"

#include <QObject>
#include <QString>

class QSocketNotifier;

// Keeps one running VELK per user. The first instance listens on a local socket; a later
// start connects, asks it to show its window, and exits. Plain Unix sockets: the program
// starts without Qt Network and the libraries it brings.
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
    // The socket file: the name itself when it holds a folder, else in the temporary folder.
    QString socketPath() const;
    void acceptClients();
    void readClient(QSocketNotifier* client);
    void closeClient(QSocketNotifier* client);

    QString m_name;
    // The lock file, locked while this instance listens. Closing it releases the lock; the
    // file stays for the next start.
    PosixFiles::UniqueFd m_lock;
    int m_server = -1;  // the listening socket
    QSocketNotifier* m_serverNotifier = nullptr;
    QList<QSocketNotifier*> m_clients;  // one per connected later start
};
