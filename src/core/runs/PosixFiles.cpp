#include "core/runs/PosixFiles.h"

#include <QRandomGenerator>

#include <gcrypt.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace PosixFiles {

namespace {

FaultHook g_faultHook;

// Asks the test seam about an operation; true (with errno set) when it must fail.
bool injected(std::string_view operation, std::string_view name) {
    if (!g_faultHook) {
        return false;
    }
    const int error = g_faultHook(operation, name);
    if (error == 0) {
        return false;
    }
    errno = error;
    return true;
}

}  // namespace

void setFaultHook(FaultHook hook) {
    g_faultHook = std::move(hook);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

std::string encode(const QString& path) {
    return path.toStdString();
}

QString decode(const std::string& path) {
    return QString::fromStdString(path);
}

UniqueFd openFolder(const QString& path) {
    return UniqueFd(::open(encode(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

namespace {

std::vector<std::string> components(const std::string& relative) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= relative.size()) {
        const size_t slash = relative.find('/', start);
        const size_t end = slash == std::string::npos ? relative.size() : slash;
        if (end > start) {
            parts.push_back(relative.substr(start, end - start));
        }
        if (slash == std::string::npos) {
            break;
        }
        start = slash + 1;
    }
    return parts;
}

// Distinguishes "a link stands here" from "not a folder" after an O_NOFOLLOW open failed.
int refineError(int folder, const std::string& name, int error) {
    struct stat status;
    if ((error == ENOTDIR || error == ELOOP) &&
        ::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(status.st_mode)) {
        return ELOOP;
    }
    return error;
}

std::atomic<bool> g_openat2Missing{false};

}  // namespace

UniqueFd openBeneathByWalking(int folder, const std::string& relative, int flags, mode_t mode) {
    const std::vector<std::string> parts = components(relative);
    if (parts.empty()) {
        errno = EINVAL;
        return {};
    }
    for (const std::string& part : parts) {
        if (part == "." || part == "..") {
            errno = EXDEV;
            return {};
        }
    }
    UniqueFd current;
    int at = folder;
    for (size_t index = 0; index + 1 < parts.size(); ++index) {
        UniqueFd next(
            ::openat(at, parts[index].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.valid()) {
            errno = refineError(at, parts[index], errno);
            return {};
        }
        current = std::move(next);
        at = current.get();
    }
    UniqueFd result(::openat(at, parts.back().c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!result.valid()) {
        errno = refineError(at, parts.back(), errno);
    }
    return result;
}

UniqueFd openBeneath(int folder, const std::string& relative, int flags, mode_t mode) {
    if (!g_openat2Missing.load(std::memory_order_relaxed)) {
        open_how how;
        std::memset(&how, 0, sizeof how);
        how.flags = unsigned(flags | O_NOFOLLOW | O_CLOEXEC);
        how.mode = (flags & O_CREAT) ? mode : 0;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        for (int attempt = 0; attempt < 8; ++attempt) {
            const long fd = ::syscall(SYS_openat2, folder, relative.c_str(), &how, sizeof how);
            if (fd >= 0) {
                return UniqueFd(int(fd));
            }
            // EAGAIN: a concurrent rename made the kernel give up on the safe lookup.
            if (errno != EAGAIN) {
                break;
            }
        }
        // Kernels before 5.6, and sandboxes that filter the call, fall back to the walk.
        if (errno != ENOSYS && errno != EPERM) {
            return {};
        }
        g_openat2Missing.store(true, std::memory_order_relaxed);
    }
    return openBeneathByWalking(folder, relative, flags, mode);
}

UniqueFd makeFolders(int folder, const std::string& relative, std::vector<std::string>* created) {
    UniqueFd current(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
    if (!current.valid()) {
        return {};
    }
    std::string made;
    for (const std::string& part : components(relative)) {
        if (part == "." || part == "..") {
            errno = EXDEV;
            return {};
        }
        made += made.empty() ? part : "/" + part;
        struct stat status;
        const bool missing =
            ::fstatat(current.get(), part.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0;
        if (missing && injected("mkdir", made)) {
            return {};
        }
        const bool madeHere = missing && ::mkdirat(current.get(), part.c_str(), 0777) == 0;
        if (missing && !madeHere && errno != EEXIST) {
            return {};
        }
        UniqueFd next(
            ::openat(current.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.valid()) {
            errno = refineError(current.get(), part, errno);
            return {};
        }
        if (madeHere && created) {
            created->push_back(made);
        }
        current = std::move(next);
    }
    return current;
}

std::pair<std::string, std::string> splitParent(const std::string& relative) {
    const size_t slash = relative.rfind('/');
    if (slash == std::string::npos) {
        return {std::string(), relative};
    }
    return {relative.substr(0, slash), relative.substr(slash + 1)};
}

namespace {

// Reads `fd` to its end, handing each chunk to `chunk`; false on a read error (with errno set)
// or as soon as `chunk` returns false.
bool readChunks(int fd, const std::function<bool(const char*, size_t)>& chunk) {
    constexpr size_t kChunk = 256 * 1024;
    std::unique_ptr<char[]> buffer(new char[kChunk]);
    for (;;) {
        const ssize_t count = ::read(fd, buffer.get(), kChunk);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (count == 0) {
            return true;
        }
        if (!chunk(buffer.get(), size_t(count))) {
            return false;
        }
    }
}

}  // namespace

bool readAll(int fd, QByteArray& bytes, qint64 limit) {
    bytes.clear();
    // The size is a hint for the allocation only, capped by the limit: the file may have
    // grown (or claim a terabyte through a hole) since anyone looked.
    struct stat status;
    if (::fstat(fd, &status) == 0 && status.st_size > 0 && limit >= 0) {
        bytes.reserve(qsizetype(std::min<qint64>(status.st_size, limit)));
    }
    return readChunks(fd, [&](const char* data, size_t count) {
        if (limit >= 0 && bytes.size() + qint64(count) > limit) {
            bytes.clear();
            errno = EFBIG;
            return false;
        }
        bytes.append(data, qsizetype(count));
        return true;
    });
}

namespace {

struct DigestContextDeleter {
    void operator()(gcry_md_hd_t context) const { gcry_md_close(context); }
};
using DigestContext = std::unique_ptr<gcry_md_handle, DigestContextDeleter>;

// SHA-256 from libgcrypt, which the process has loaded anyway (for the D-Bus and systemd
// libraries), so hashing brings in no library of its own at start-up.
DigestContext startSha256() {
    // libgcrypt wants its version checked once before first use.
    static const bool initialised = [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)initialised;
    gcry_md_hd_t context = nullptr;
    if (gcry_md_open(&context, GCRY_MD_SHA256, 0) != 0) {
        return nullptr;
    }
    return DigestContext(context);
}

QString finishHex(gcry_md_hd_t context) {
    const unsigned char* digest = gcry_md_read(context, GCRY_MD_SHA256);
    if (!digest) {
        return {};
    }
    const unsigned int length = gcry_md_get_algo_dlen(GCRY_MD_SHA256);
    static const char kDigits[] = "0123456789abcdef";
    QString hex(int(length) * 2, Qt::Uninitialized);
    for (unsigned int index = 0; index < length; ++index) {
        hex[int(index) * 2] = QLatin1Char(kDigits[digest[index] >> 4]);
        hex[int(index) * 2 + 1] = QLatin1Char(kDigits[digest[index] & 0xF]);
    }
    return hex;
}

// Reads `fd` to its end in chunks, hashing each chunk and handing it to `sink` when given.
// Fails with EFBIG past `limit` bytes (a negative limit means none), so a file that grows
// while it is read is never taken whole; `total` is the number of bytes read.
bool streamHashing(int fd, qint64 limit, QString& hex, qint64& total,
                   const std::function<bool(const char*, size_t)>& sink) {
    DigestContext context = startSha256();
    if (!context) {
        errno = ENOMEM;
        return false;
    }
    total = 0;
    const bool readToEnd = readChunks(fd, [&](const char* data, size_t count) {
        total += qint64(count);
        if (limit >= 0 && total > limit) {
            errno = EFBIG;
            return false;
        }
        gcry_md_write(context.get(), data, count);
        return !sink || sink(data, count);
    });
    if (!readToEnd) {
        return false;
    }
    hex = finishHex(context.get());
    if (hex.isEmpty()) {
        errno = EIO;
        return false;
    }
    return true;
}

}  // namespace

bool sha256OfFile(int fd, QString& hex, qint64 limit, qint64* size) {
    qint64 total = 0;
    if (!streamHashing(fd, limit, hex, total, {})) {
        return false;
    }
    if (size) {
        *size = total;
    }
    return true;
}

namespace {

bool writeFully(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t count = ::write(fd, data, size);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += count;
        size -= size_t(count);
    }
    return true;
}

}  // namespace

bool copyContents(int from, int to) {
    // Both offsets advance, so a fall-back after a partial kernel copy continues where it
    // stopped.
    for (;;) {
        const ssize_t count = ::copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
        if (count > 0) {
            continue;
        }
        if (count == 0) {
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        // File systems (and kernels) without an in-kernel copy: copy through a buffer.
        if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
            break;
        }
        return false;
    }
    return readChunks(from,
                      [to](const char* data, size_t count) { return writeFully(to, data, count); });
}

bool copyHashing(int from, int to, qint64 limit, QString& hex, const std::string& name) {
    if (injected("write", name)) {
        return false;
    }
    qint64 total = 0;
    return streamHashing(from, limit, hex, total, [to](const char* data, size_t size) {
        return writeFully(to, data, size);
    });
}

bool copyFile(int from, int toFolder, const std::string& name, struct stat* fromStatus,
              struct stat* copyStatus) {
    if (injected("copy", name)) {
        return false;
    }
    struct stat status;
    if (::fstat(from, &status) != 0) {
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        errno = EINVAL;
        return false;
    }
    // Made with the final permission bits where the umask keeps them, which spares a chmod
    // for nearly every file; special bits come only after the contents, which clear them.
    const mode_t mode = status.st_mode & 07777;
    UniqueFd to(::openat(toFolder, name.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0777));
    if (!to.valid()) {
        return false;
    }
    // A clone shares the blocks in one call. Where the file system cannot make one (ext4,
    // tmpfs, two file systems) it refuses, and the bytes are copied from the start instead.
    const bool cloned = !injected("clone", name) && ::ioctl(to.get(), FICLONE, from) == 0;
    const timespec times[2] = {status.st_atim, status.st_mtim};
    struct stat copied;
    bool done = (cloned || copyContents(from, to.get())) && ::futimens(to.get(), times) == 0 &&
                ::fstat(to.get(), &copied) == 0;
    if (done && (copied.st_mode & 07777) != mode) {
        done = ::fchmod(to.get(), mode) == 0 && ::fstat(to.get(), &copied) == 0;
    }
    if (!done) {
        const int error = errno;
        ::unlinkat(toFolder, name.c_str(), 0);
        errno = error;
        return false;
    }
    if (fromStatus) {
        *fromStatus = status;
    }
    if (copyStatus) {
        *copyStatus = copied;
    }
    return true;
}

std::string temporaryName() {
    // From the system's generator: a process forked from another must not repeat its names.
    char name[32];
    std::snprintf(name, sizeof name, ".velk-%016llx.tmp",
                  static_cast<unsigned long long>(QRandomGenerator::system()->generate64()));
    return name;
}

UniqueFd createExclusive(int folder, const std::string& name, mode_t mode) {
    if (injected("create", name)) {
        return {};
    }
    return UniqueFd(
        ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
}

bool writeAll(int fd, const QByteArray& bytes, const std::string& name) {
    return !injected("write", name) && writeFully(fd, bytes.constData(), size_t(bytes.size()));
}

bool syncFile(int fd, const std::string& name) {
    return !injected("sync", name) && ::fsync(fd) == 0;
}

bool renameInFolder(int folder, const std::string& from, const std::string& to, bool replace) {
    if (injected("rename", to)) {
        return false;
    }
    if (replace) {
        return ::renameat(folder, from.c_str(), folder, to.c_str()) == 0;
    }
    if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // File systems without the flag: a hard link fails just as atomically on an existing
    // name; the temporary name then goes.
    if (::linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0) {
        return false;
    }
    ::unlinkat(folder, from.c_str(), 0);
    return true;
}

bool removeFile(int folder, const std::string& name) {
    return !injected("unlink", name) && ::unlinkat(folder, name.c_str(), 0) == 0;
}

bool removeFolder(int folder, const std::string& relative) {
    return !injected("rmdir", relative) && ::unlinkat(folder, relative.c_str(), AT_REMOVEDIR) == 0;
}

bool syncFileSystem(int fd) {
    return !injected("sync", std::string_view()) && ::syncfs(fd) == 0;
}

bool lockExclusive(int fd, int waitMilliseconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool writeAtomically(int folder, const std::string& name, const QByteArray& bytes, mode_t mode) {
    UniqueFd temporary;
    std::string temporaryFile;
    for (int attempt = 0; attempt < 16 && !temporary.valid(); ++attempt) {
        temporaryFile = temporaryName();
        temporary = createExclusive(folder, temporaryFile, 0600);
        if (!temporary.valid() && errno != EEXIST) {
            return false;
        }
    }
    if (!temporary.valid()) {
        return false;
    }
    bool written = false;
    try {
        written = writeAll(temporary.get(), bytes, temporaryFile) &&
                  ::fchmod(temporary.get(), mode) == 0 &&
                  syncFile(temporary.get(), temporaryFile) &&
                  renameInFolder(folder, temporaryFile, name, true);
    } catch (...) {
        ::unlinkat(folder, temporaryFile.c_str(), 0);
        throw;
    }
    if (!written) {
        const int error = errno;
        ::unlinkat(folder, temporaryFile.c_str(), 0);
        errno = error;
    }
    return written;
}

QString errorText(int errorNumber) {
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

}  // namespace PosixFiles
