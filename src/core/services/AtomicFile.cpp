#include "core/services/AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace {

Error failure(const QString& path, int error) {
    return {Error::Kind::System,
            QStringLiteral("Could not write “%1”: %2")
                .arg(QFileInfo(path).fileName(), QString::fromLocal8Bit(std::strerror(error))),
            error};
}

bool writeAll(int fd, const QByteArray& data) {
    const char* next = data.constData();
    qint64 left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, size_t(left));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        next += written;
        left -= written;
    }
    return true;
}

}  // namespace

namespace AtomicFile {

Result<void> write(const QString& path, const QByteArray& data) {
    // Write through a symbolic link: the link stays and its target gets the new contents.
    QString target = path;
    const QFileInfo info(path);
    if (info.isSymLink()) {
        const QString resolved = info.canonicalFilePath();
        target = resolved.isEmpty() ? info.symLinkTarget() : resolved;
    }
    const QByteArray targetName = QFile::encodeName(target);

    struct stat existing {};
    const bool exists = ::stat(targetName.constData(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        return failure(path, EISDIR);
    }

    QByteArray temporaryName;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporaryName =
            targetName + ".velk-" + QUuid::createUuid().toString(QUuid::Id128).left(12).toLatin1();
        fd = ::open(temporaryName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        return failure(path, errno);
    }

    int error = 0;
    if (!writeAll(fd, data)) {
        error = errno;
    }
    if (error == 0 && exists) {
        // Ownership can only be kept by a privileged writer; a failure there is not an
        // error, the permission bits are what matters.
        if (::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
            errno = 0;
        }
        if (::fchmod(fd, existing.st_mode & 07777) != 0) {
            error = errno;
        }
    }
    if (error == 0 && ::fsync(fd) != 0) {
        error = errno;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(temporaryName.constData(), targetName.constData()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporaryName.constData());
        return failure(path, error);
    }
    return {};
}

}  // namespace AtomicFile
