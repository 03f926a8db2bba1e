#include "platform/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kConnectTimeoutSeconds = 1;
constexpr char kShowRequest[] = "show\n";
constexpr char kAcknowledgement[] = "ok\n";

// The socket address of `path`; false when the path is too long for one.
bool addressOf(const QString& path, sockaddr_un& address) {
    const QByteArray encoded = QFile::encodeName(path);
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (encoded.isEmpty() || std::size_t(encoded.size()) >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, encoded.constData(), std::size_t(encoded.size()));
    return true;
}

}  // namespace

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent), m_name(std::move(name)) {}

SingleInstance::~SingleInstance() {
    for (QSocketNotifier* client : m_clients) {
        client->setEnabled(false);
        ::close(int(client->socket()));
    }
    if (m_server >= 0) {
        m_serverNotifier->setEnabled(false);
        ::close(m_server);
        // Later starts find no socket rather than one nobody answers.
        ::unlink(QFile::encodeName(socketPath()).constData());
    }
}

QString SingleInstance::defaultName() {
    // The per-user runtime folder is private to the user; the shared temporary folder is the
    // fallback.
    const QString runtimeFolder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeFolder.isEmpty() && QFileInfo(runtimeFolder).isDir()) {
        return QDir(runtimeFolder).filePath(QStringLiteral("velk.socket"));
    }
    return QStringLiteral("velk-%1").arg(getuid());
}

QString SingleInstance::socketPath() const {
    return m_name.contains(u'/') ? m_name : QDir(QDir::tempPath()).filePath(m_name);
}

bool SingleInstance::activateRunningInstance() {
    sockaddr_un address;
    if (!addressOf(socketPath(), address)) {
        return false;
    }
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        return false;
    }
    // Connecting, sending and waiting for the answer each give up after the time-out.
    const timeval timeout{kConnectTimeoutSeconds, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    // A socket file left by a crashed instance refuses the connection.
    const bool connected =
        ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (connected && ::send(socket, kShowRequest, sizeof kShowRequest - 1, MSG_NOSIGNAL) > 0) {
        // The first instance acknowledges once it has handled the request.
        char reply[sizeof kAcknowledgement];
        (void)::recv(socket, reply, sizeof reply, 0);
    }
    ::close(socket);
    return connected;
}

bool SingleInstance::listen() {
    // A socket file alone cannot tell who came first: a start replaces a stale one. A lock
    // on a file, held for the life of the listening instance, decides. The kernel releases it
    // when the process ends, however it ends, so a crashed instance leaves nothing to clean.
    const QString path = socketPath();
    if (!m_lock.valid()) {
        PosixFiles::UniqueFd lock(::open(PosixFiles::encode(path + QStringLiteral(".lock")).c_str(),
                                         O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR));
        if (!lock.valid() || !PosixFiles::lockExclusive(lock.get(), 0)) {
            return false;
        }
        m_lock = std::move(lock);
    }
    sockaddr_un address;
    if (!addressOf(path, address)) {
        return false;
    }
    const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (server < 0) {
        return false;
    }
    // Only this user may connect: the socket file is made with the socket's own mode.
    ::unlink(address.sun_path);
    if (::fchmod(server, S_IRUSR | S_IWUSR) != 0 ||
        ::bind(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(server, SOMAXCONN) != 0) {
        ::close(server);
        return false;
    }
    m_server = server;
    m_serverNotifier = new QSocketNotifier(server, QSocketNotifier::Read, this);
    connect(m_serverNotifier, &QSocketNotifier::activated, this, &SingleInstance::acceptClients);
    return true;
}

void SingleInstance::acceptClients() {
    // Every start waiting, until none is left (EAGAIN).
    for (;;) {
        const int socket = ::accept4(m_server, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (socket < 0) {
            return;
        }
        auto* client = new QSocketNotifier(socket, QSocketNotifier::Read, this);
        m_clients.append(client);
        connect(client, &QSocketNotifier::activated, this, [this, client] { readClient(client); });
    }
}

void SingleInstance::readClient(QSocketNotifier* client) {
    const int socket = int(client->socket());
    char buffer[256];
    const ssize_t count = ::recv(socket, buffer, sizeof buffer, 0);
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (count <= 0) {
        closeClient(client);  // the start hung up, or its connection failed
        return;
    }
    if (std::memchr(buffer, '\n', std::size_t(count))) {
        Q_EMIT activationRequested();
        (void)::send(socket, kAcknowledgement, sizeof kAcknowledgement - 1, MSG_NOSIGNAL);
    }
}

void SingleInstance::closeClient(QSocketNotifier* client) {
    m_clients.removeOne(client);
    client->setEnabled(false);
    ::close(int(client->socket()));
    client->deleteLater();
}
