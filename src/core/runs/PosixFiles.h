#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>

// Descriptor-based file operations under which the team-run code reads and writes the user's
// project. Every path handed to them is relative to an open folder and is resolved without
// following a symbolic link and without leaving that folder, so a link swapped in after a
// check cannot redirect a read or a write. Failures return false (or an invalid descriptor)
// with errno set; the callers turn them into messages.
namespace PosixFiles {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// File names on Linux are bytes; VELK's paths are UTF-8.
std::string encode(const QString& path);
QString decode(const std::string& path);

// Opens a folder given by an absolute path (following links in it: it is the user's choice).
UniqueFd openFolder(const QString& path);

// Opens `relative` ("a/b/c", no "..") below the folder `folder`. No component, the last one
// included, may be a symbolic link (ELOOP); a missing component gives ENOENT or ENOTDIR.
// Uses openat2 where the kernel has it, else walks the components one by one.
UniqueFd openBeneath(int folder, const std::string& relative, int flags, mode_t mode = 0);
UniqueFd openBeneathByWalking(int folder, const std::string& relative, int flags, mode_t mode = 0);

// Creates the folders of `relative` below `folder` as needed (mkdir -p, links refused) and
// returns the innermost one. The folders it created are appended to `created`, outermost
// first, when `created` is given.
UniqueFd makeFolders(int folder, const std::string& relative,
                     std::vector<std::string>* created = nullptr);

// "a/b/c" -> {"a/b", "c"}; "c" -> {"", "c"}.
std::pair<std::string, std::string> splitParent(const std::string& relative);

// Reads the rest of `fd`. With a `limit` of zero or more, more bytes than that fail with
// EFBIG; the size the file claims is never trusted for the allocation.
bool readAll(int fd, QByteArray& bytes, qint64 limit = -1);

// Hashes the rest of `fd` in chunks. With a `limit` of zero or more, more bytes than that
// fail with EFBIG. `size`, when given, receives the number of bytes hashed.
bool sha256OfFile(int fd, QString& hex, qint64 limit = -1, qint64* size = nullptr);

// Copies the rest of `from` into `to` (copy_file_range where possible).
bool copyContents(int from, int to);

// Copies the rest of `from` into `to` through one buffer, hashing the bytes on the way, so a
// file is read once however large it is. More than `limit` bytes fail with EFBIG.
bool copyHashing(int from, int to, qint64 limit, QString& hex, const std::string& name);

// Copies the regular file `from` into a new file `name` in the folder `toFolder` with the
// same permission bits and modification time. Fails if `name` exists. Where the file system
// can (Btrfs, XFS) the copy is a clone sharing the file's blocks, else the kernel copies the
// bytes. `fromStatus` and `copyStatus`, when given, receive the status of `from` as it was
// copied and of the finished copy.
bool copyFile(int from, int toFolder, const std::string& name, struct stat* fromStatus = nullptr,
              struct stat* copyStatus = nullptr);

// Replaces (or creates) `name` in the folder `folder` with `bytes`: the bytes go to a
// temporary file in the same folder which gets exactly `mode` (umask ignored), is flushed
// and then renamed over `name`, so a reader sees either the old file or the whole new one.
bool writeAtomically(int folder, const std::string& name, const QByteArray& bytes, mode_t mode);

// A fresh name for a temporary file: ".velk-" + 16 hexadecimal digits + ".tmp".
std::string temporaryName();

// The steps of writeAtomically, for callers that must know every name they make.
// createExclusive makes the new file `name` (nothing may stand there, links are not
// followed) open for writing; renameInFolder renames within one folder, replacing what stands
// at `to` only when `replace` is set (else failing with EEXIST, atomically where the file
// system allows).
UniqueFd createExclusive(int folder, const std::string& name, mode_t mode);
bool writeAll(int fd, const QByteArray& bytes, const std::string& name);
bool syncFile(int fd, const std::string& name);
bool renameInFolder(int folder, const std::string& from, const std::string& to, bool replace);
bool removeFile(int folder, const std::string& name);
bool removeFolder(int folder, const std::string& relative);

// Flushes the whole file system holding `fd` (one call instead of one per file written).
bool syncFileSystem(int fd);

// Takes the exclusive advisory lock (flock) of the open file or folder `fd`, trying for up to
// `waitMilliseconds`; EWOULDBLOCK when another open description holds it all that time. The
// lock goes with the descriptor's close, and with the process however it ends.
bool lockExclusive(int fd, int waitMilliseconds);

// The system's text for an errno value ("No such file or directory").
QString errorText(int errorNumber);

// A test seam. When a hook is set, the operations above that change files (create, write,
// sync, rename, unlink, rmdir, mkdir, copy, clone) first call it with their name and the file's
// name; a non-zero answer makes the operation fail with that errno before it does anything,
// and the hook may also change files or end the process at that exact step. The tests run as
// root, where permissions cannot make a write fail, so failures are injected here. Set it
// only while no other thread uses these operations; an empty hook removes it.
using FaultHook = std::function<int(std::string_view operation, std::string_view name)>;
void setFaultHook(FaultHook hook);

}  // namespace PosixFiles
