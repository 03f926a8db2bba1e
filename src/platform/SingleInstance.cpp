#include "platform/SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#include <unistd.h>

namespace {
constexpr int kConnectTimeoutMs = 1000;
const QByteArray kShowRequest = "show\n";
}  // namespace

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent), m_name(std::move(name)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName() {
    // The per-user runtime folder is private to the user; the shared temporary folder, where
    // Qt puts plain names, is the fallback.
    const QString runtimeFolder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeFolder.isEmpty() && QFileInfo(runtimeFolder).isDir()) {
        return QDir(runtimeFolder).filePath(QStringLiteral("velk.socket"));
    }
    return QStringLiteral("velk-%1").arg(getuid());
}

bool SingleInstance::activateRunningInstance() {
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(kConnectTimeoutMs)) {
        return false;
    }
    socket.write(kShowRequest);
    socket.waitForBytesWritten(kConnectTimeoutMs);
    // The first instance acknowledges once it has handled the request.
    socket.waitForReadyRead(kConnectTimeoutMs);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen() {
    // Qt replaces an existing socket file when it listens, so the socket alone cannot tell
    // who came first. A lock file held for the life of the listening instance decides; the
    // lock of a crashed instance is stale (its process is gone) and is taken over.
    const QString socketPath =
        m_name.contains('/') ? m_name : QDir(QDir::tempPath()).filePath(m_name);
    auto lock = std::make_unique<QLockFile>(socketPath + QStringLiteral(".lock"));
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        return false;
    }
    m_lock = std::move(lock);
    QLocalServer::removeServer(m_name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name)) {
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                if (client->readAll().contains('\n')) {
                    Q_EMIT activationRequested();
                    client->write("ok\n");
                    client->flush();
                }
            });
        }
    });
    return true;
}
