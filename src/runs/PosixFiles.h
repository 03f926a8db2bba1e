#pragma once

#include <QByteArray>
#include <QString>

#include <string>
#include <utility>
#include <vector>

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

bool readAll(int fd, QByteArray& bytes);

// SHA-256 as 64 lower-case hexadecimal characters, through libcrypto's EVP interface.
QString sha256Hex(const QByteArray& bytes);
bool sha256OfFile(int fd, QString& hex);

// Copies the rest of `from` into `to` (copy_file_range where possible).
bool copyContents(int from, int to);

// Copies the regular file `from` into a new file `name` in the folder `toFolder` with the
// same permission bits and modification time. Fails if `name` exists.
bool copyFile(int from, int toFolder, const std::string& name);

// Replaces (or creates) `name` in the folder `folder` with `bytes`: the bytes go to a
// temporary file in the same folder which gets exactly `mode` (umask ignored), is flushed
// and then renamed over `name`, so a reader sees either the old file or the whole new one.
bool writeAtomically(int folder, const std::string& name, const QByteArray& bytes, mode_t mode);

// The system's text for an errno value ("No such file or directory").
QString errorText(int errorNumber);

}  // namespace PosixFiles
