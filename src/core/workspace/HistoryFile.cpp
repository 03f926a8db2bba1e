#include "core/workspace/HistoryFile.h"

#include "core/base/Background.h"
#include "core/services/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <condition_variable>
#include <deque>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

namespace {

QByteArray line(const HistoryEntry& entry) {
    return QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact) + '\n';
}

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t count =
            ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        written += count;
    }
    return true;
}

}  // namespace

struct HistoryFile::Queue {
    std::mutex mutex;
    std::condition_variable idle;
    std::deque<std::function<void()>> work;
    bool running = false;

    // Runs the queued work until none is left; on a background thread.
    static void drain(const std::shared_ptr<Queue>& queue) {
        for (;;) {
            std::function<void()> next;
            {
                std::lock_guard lock(queue->mutex);
                if (queue->work.empty()) {
                    queue->running = false;
                    queue->idle.notify_all();
                    return;
                }
                next = std::move(queue->work.front());
                queue->work.pop_front();
            }
            next();
        }
    }
};

HistoryFile::HistoryFile(QString path)
    : m_path(std::move(path)), m_queue(std::make_shared<Queue>()) {}

HistoryFile::~HistoryFile() {
    waitForIdle();
}

void HistoryFile::enqueue(std::function<void()> work) {
    std::lock_guard lock(m_queue->mutex);
    m_queue->work.push_back(std::move(work));
    if (!m_queue->running) {
        m_queue->running = true;
        Background::start([queue = m_queue] { Queue::drain(queue); });
    }
}

void HistoryFile::waitForIdle() const {
    std::unique_lock lock(m_queue->mutex);
    m_queue->idle.wait(lock, [this] { return !m_queue->running && m_queue->work.empty(); });
}

HistoryFile::Contents HistoryFile::read(const QString& path, int limit) {
    Contents contents;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return contents;
    }
    const QByteArray bytes = file.readAll();
    QList<HistoryEntry> oldestFirst;
    for (qsizetype start = 0; start < bytes.size();) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0) {
            end = bytes.size();
        }
        ++contents.lines;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(
            QByteArray::fromRawData(bytes.constData() + start, end - start), &error);
        if (error.error == QJsonParseError::NoError) {
            if (std::optional<HistoryEntry> entry = HistoryEntry::fromJson(document.object())) {
                oldestFirst.append(std::move(*entry));
            }
        }
        start = end + 1;
    }
    const qsizetype kept = std::min<qsizetype>(oldestFirst.size(), limit);
    contents.entries.reserve(kept);
    for (qsizetype index = oldestFirst.size() - 1; index >= oldestFirst.size() - kept; --index) {
        contents.entries.append(std::move(oldestFirst[index]));
    }
    return contents;
}

Result<void> HistoryFile::append(const QString& path, const HistoryEntry& entry) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return Error::system(errno, QStringLiteral("Could not write ") + path);
    }
    QByteArray bytes = line(entry);
    // A line cut short by an earlier crash is ended first, so this one reads on its own.
    const off_t size = ::lseek(fd, 0, SEEK_END);
    char last = '\n';
    if (size > 0 && ::pread(fd, &last, 1, size - 1) == 1 && last != '\n') {
        bytes.prepend('\n');
    }
    const bool written = writeAll(fd, bytes);
    const int error = errno;
    ::close(fd);
    if (!written) {
        return Error::system(error, QStringLiteral("Could not write ") + path);
    }
    return {};
}

Result<void> HistoryFile::rewrite(const QString& path, const QList<HistoryEntry>& entries) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QByteArray bytes;
    for (qsizetype index = entries.size() - 1; index >= 0; --index) {
        bytes += line(entries[index]);
    }
    return AtomicFile::write(path, bytes);
}
