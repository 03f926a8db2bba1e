#include "platform/LogindInhibitor.h"

#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QLoggingCategory>

#include <fcntl.h>
#include <unistd.h>

namespace {
Q_LOGGING_CATEGORY(lcInhibitor, "velk.platform.inhibitor", QtWarningMsg)

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");
}  // namespace

LogindInhibitor::LogindInhibitor(int timeoutMs) : m_timeoutMs(timeoutMs) {}

LogindInhibitor::LogindInhibitor(QDBusConnection bus, int timeoutMs)
    : m_bus(std::move(bus)), m_timeoutMs(timeoutMs) {}

LogindInhibitor::~LogindInhibitor() {
    for (int descriptor : std::as_const(m_held)) {
        ::close(descriptor);
    }
}

int LogindInhibitor::acquire(const QString& reason) {
    if (!m_bus) {
        m_bus = QDBusConnection::systemBus();
    }
    if (!m_bus->isConnected()) {
        return -1;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
    call << QStringLiteral("idle:sleep") << QStringLiteral("VELK") << reason
         << QStringLiteral("block");
    const QDBusMessage reply = m_bus->call(call, QDBus::Block, m_timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        qCDebug(lcInhibitor) << "no inhibitor:" << reply.errorName() << reply.errorMessage();
        return -1;
    }
    const auto descriptor = reply.arguments().first().value<QDBusUnixFileDescriptor>();
    if (!descriptor.isValid()) {
        return -1;
    }
    // The reply's copy closes with the message; ours must outlive it and stay out of
    // child processes.
    const int held = ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    if (held < 0) {
        return -1;
    }
    m_held.insert(held);
    return held;
}

void LogindInhibitor::release(int handle) {
    if (m_held.remove(handle)) {
        ::close(handle);
    }
}
