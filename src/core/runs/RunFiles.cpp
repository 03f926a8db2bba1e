#include "core/runs/RunFiles.h"

#include "core/base/Background.h"
#include "core/runs/RunFilesInternal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <set>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using PosixFiles::UniqueFd;

RunFilesError::RunFilesError(QString domain, int code, QString message)
    : m_domain(std::move(domain)),
      m_code(code),
      m_message(std::move(message)),
      m_utf8(m_message.toUtf8()) {}

Error RunFilesError::toError() const {
    if (m_domain == u"POSIX") {
        return {Error::Kind::System, m_message, m_code};
    }
    return {m_kind, m_message};
}

RunFilesError RunFilesError::system(int errorNumber, const QString& what) {
    return RunFilesError(
        QStringLiteral("POSIX"), errorNumber,
        what + QStringLiteral(": ") + PosixFiles::errorText(errorNumber) + QLatin1Char('.'));
}

bool CodePointLess::operator()(const QString& left, const QString& right) const {
    const qsizetype common = std::min(left.size(), right.size());
    for (qsizetype index = 0; index < common; ++index) {
        char16_t a = left[index].unicode();
        char16_t b = right[index].unicode();
        if (a == b) {
            continue;
        }
        // Surrogates (U+D800–DFFF) stand for code points above U+FFFF, so they must sort
        // after U+E000–FFFF.
        if (a >= 0xD800 && b >= 0xD800) {
            a = a >= 0xE000 ? char16_t(a - 0x800) : char16_t(a + 0x2000);
            b = b >= 0xE000 ? char16_t(b - 0x800) : char16_t(b + 0x2000);
        }
        return a < b;
    }
    return left.size() < right.size();
}

namespace RunFiles {

namespace {

constexpr std::array<std::string_view, 15> kExcludedNames = {
    ".git", ".svn",  ".hg",    "node_modules", ".venv", "venv",   ".build",   "build",
    "dist", ".next", ".cache", ".ssh",         ".aws",  ".gnupg", ".DS_Store"};

// Folder levels below the root; deeper folders are refused by name.
constexpr int kMaximumDepth = 256;

const QString kMissingFolder = QStringLiteral("This project folder no longer exists.");
const QString kUnreadableFolder = QStringLiteral("This project folder cannot be read.");
const QString kInvalidPath = QStringLiteral("Invalid change path.");
const QString kLinkedPath =
    QStringLiteral("A file or parent folder is a symbolic link. Review it outside VELK.");

// The filters applied to the last component of every entry before anything else is read.
bool skippedByName(std::string_view name) {
    for (std::string_view excludedName : kExcludedNames) {
        if (name == excludedName) {
            return true;
        }
    }
    if (name == ".env") {
        return true;
    }
    if (name.starts_with(".env.") && name != ".env.example" && name != ".env.sample") {
        return true;
    }
    // Application and framework bundles, with everything inside them.
    const size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0) {
        const std::string_view extension = name.substr(dot + 1);
        if (extension == "app" || extension == "framework") {
            return true;
        }
    }
    return false;
}

struct Walk {
    std::vector<detail::ListedFile> files;
    qint64 totalBytes = 0;
    size_t maximumFiles = 0;
    qint64 maximumBytes = 0;
    QString tooLarge;
    // Where entries that cannot be listed go; without it the first one fails the walk.
    std::vector<detail::SkippedItem>* skipped = nullptr;
    const OpenBeneath* open = nullptr;

    // An entry that cannot be listed: recorded with `reason` when the walk collects them,
    // else `failure` stops the walk.
    void leaveOut(const std::string& relative, const QString& reason,
                  const RunFilesError& failure) {
        if (!skipped) {
            throw failure;
        }
        skipped->push_back({relative, reason});
    }
    void leaveOutUnreadable(const std::string& relative, int errorNumber) {
        leaveOut(relative, detail::unreadableReason(errorNumber),
                 RunFilesError::system(errorNumber, QStringLiteral("Could not read ") +
                                                        QString::fromStdString(relative)));
    }

    UniqueFd openBelowRoot(int root, const std::string& relative, int flags) const {
        return open && *open ? (*open)(root, relative, flags)
                             : PosixFiles::openBeneath(root, relative, flags);
    }
};

// File names are bytes; VELK's paths are UTF-8 text. A name that is not UTF-8 cannot be
// named again after a round trip through text, so it is never copied or compared under a
// different name.
bool isUtf8(const std::string& name) {
    // Plain ASCII, as nearly every name is, always survives the round trip.
    if (std::all_of(name.begin(), name.end(),
                    [](char byte) { return static_cast<unsigned char>(byte) < 0x80; })) {
        return true;
    }
    return QString::fromStdString(name).toStdString() == name;
}

void leaveOutNonUtf8(Walk& walk, const std::string& relative) {
    walk.leaveOut(relative, QStringLiteral("The name is not valid UTF-8."),
                  RunFilesError(QStringLiteral("The name of %1 is not valid UTF-8. Rename it or "
                                               "use the shared-folder mode.")
                                    .arg(QString::fromStdString(relative))));
}

// "a/b/c/…/z" for a long path, so that a message about a deep folder stays readable.
QString shortenedFolder(const std::string& relative) {
    const QStringList parts = QString::fromStdString(relative).split(QLatin1Char('/'));
    if (parts.size() <= 4) {
        return parts.join(QLatin1Char('/'));
    }
    return parts[0] + u'/' + parts[1] + QStringLiteral("/…/") + parts.back();
}

// Reads the names in the open folder `folder`, leaving out "." and ".." and the filtered
// names. False when the folder cannot be read; errno tells why.
bool readNames(int folder, std::vector<std::pair<std::string, unsigned char>>& entries) {
    DIR* listing = ::fdopendir(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
    if (!listing) {
        return false;
    }
    errno = 0;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != ".." && !skippedByName(name)) {
            entries.emplace_back(std::string(name), entry->d_type);
        }
        errno = 0;
    }
    const int readError = errno;
    ::closedir(listing);
    errno = readError;
    return readError == 0;
}

// An entry of a folder being listed. Its key is its name, with a '/' after a folder's:
// sorted by key, the entries of every folder come in the order of the paths below them (a
// file "a.c" before the folder "a", whose paths "a/…" sort after it, and "a0" after them).
struct FolderEntry {
    std::string key;
    bool isFolder = false;
    off_t size = 0;
    detail::FileStamp stamp;
};

// Lists the tree below the open folder `root` depth first without recursion, in the byte
// order of the paths. Each folder is opened from the root when its turn comes (without
// following links), read, and closed before its first subfolder is: the walk holds one
// descriptor besides the root's however deep the tree is. Folders deeper than kMaximumDepth
// are left out by name.
void walkTree(int root, Walk& walk) {
    struct Frame {
        std::string prefix;  // "" for the root, else "a/b/"
        int depth = 0;
        std::vector<FolderEntry> entries;  // sorted by key
        size_t next = 0;
    };
    std::vector<Frame> frames;
    std::vector<std::pair<std::string, unsigned char>> names;
    size_t counted = 0;  // files listed so far, within the limit
    const auto enter = [&](const std::string& relative, int depth) {
        UniqueFd folder;
        if (relative.empty()) {
            folder = UniqueFd(::fcntl(root, F_DUPFD_CLOEXEC, 0));
        } else {
            folder = walk.openBelowRoot(root, relative, O_RDONLY | O_DIRECTORY);
            // A folder replaced by a link between its listing and here is skipped like any
            // other link.
            if (!folder.valid() && (errno == ELOOP || errno == ENOTDIR)) {
                return;
            }
        }
        names.clear();
        if (!folder.valid() || !readNames(folder.get(), names)) {
            if (relative.empty()) {
                throw RunFilesError::system(errno, QStringLiteral("Could not read ."));
            }
            walk.leaveOutUnreadable(relative, errno);
            return;
        }
        Frame frame{relative.empty() ? std::string() : relative + '/', depth, {}, 0};
        frame.entries.reserve(names.size());
        for (auto& [name, type] : names) {
            if (type == DT_LNK) {
                continue;
            }
            bool isFolder = type == DT_DIR;
            bool isFile = false;
            off_t size = 0;
            detail::FileStamp stamp;
            if (!isFolder) {
                struct stat status;
                if (::fstatat(folder.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
                    walk.leaveOutUnreadable(frame.prefix + name, errno);
                    continue;
                }
                isFolder = S_ISDIR(status.st_mode);
                isFile = S_ISREG(status.st_mode);
                size = status.st_size;
                stamp = detail::FileStamp::of(status);
            }
            if (isFile) {
                if (counted >= walk.maximumFiles ||
                    walk.totalBytes + qint64(size) > walk.maximumBytes) {
                    throw RunFilesError(walk.tooLarge, Error::Kind::Limit);
                }
                if (!isUtf8(name)) {
                    leaveOutNonUtf8(walk, frame.prefix + name);
                    continue;
                }
                ++counted;
                walk.totalBytes += qint64(size);
                frame.entries.push_back({std::move(name), false, size, stamp});
            } else if (isFolder) {
                if (!isUtf8(name)) {
                    leaveOutNonUtf8(walk, frame.prefix + name);
                } else if (depth + 1 > kMaximumDepth) {
                    const std::string path = frame.prefix + name;
                    walk.leaveOut(
                        path,
                        QStringLiteral("Nested more than %1 folders deep.").arg(kMaximumDepth),
                        RunFilesError(
                            QStringLiteral("The folder %1 is nested more than "
                                           "%2 levels deep. Move it higher "
                                           "up or use the shared-folder mode.")
                                .arg(shortenedFolder(path), QString::number(kMaximumDepth))));
                } else {
                    frame.entries.push_back({std::move(name) + '/', true, 0, {}});
                }
            }
            // Sockets, pipes and devices are not project files.
        }
        std::sort(
            frame.entries.begin(), frame.entries.end(),
            [](const FolderEntry& left, const FolderEntry& right) { return left.key < right.key; });
        frames.push_back(std::move(frame));
    };
    enter(std::string(), 0);
    while (!frames.empty()) {
        Frame& frame = frames.back();
        if (frame.next == frame.entries.size()) {
            frames.pop_back();
            continue;
        }
        FolderEntry& entry = frame.entries[frame.next++];
        if (entry.isFolder) {
            entry.key.pop_back();
            const std::string relative = frame.prefix + entry.key;
            enter(relative, frame.depth + 1);  // `frame` is not used after this
        } else {
            walk.files.push_back({frame.prefix + entry.key, entry.size, entry.stamp});
        }
    }
}

QString standardised(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

}  // namespace

namespace detail {

QString unreadableReason(int errorNumber) {
    return QStringLiteral("Cannot be read: ") + PosixFiles::errorText(errorNumber) +
           QLatin1Char('.');
}

ListedTree listTree(const QString& rootPath, const RunLimits& limits,
                    std::vector<SkippedItem>* skipped, const OpenBeneath& open, bool isCopy) {
    ListedTree tree;
    struct stat status;
    if (rootPath.isEmpty()) {
        throw RunFilesError(kMissingFolder, Error::Kind::NotFound);
    }
    tree.root = standardised(rootPath);
    if (::stat(PosixFiles::encode(tree.root).c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        throw RunFilesError(kMissingFolder, Error::Kind::NotFound);
    }
    tree.folder = PosixFiles::openFolder(tree.root);
    if (!tree.folder.valid()) {
        throw RunFilesError(kUnreadableFolder);
    }
    Walk walk;
    walk.skipped = skipped;
    walk.open = &open;
    const RunLimits within = isCopy ? limits.forCopy() : limits;
    walk.maximumFiles = size_t(within.files);
    walk.maximumBytes = within.bytes;
    walk.tooLarge = isCopy ? limits.copyTooLarge() : limits.projectTooLarge();
    walkTree(tree.folder.get(), walk);
    // The walk lists the files in path order already.
    tree.files = std::move(walk.files);
    return tree;
}

SafePath resolveSafely(const QString& path, const QString& root) {
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.contains(QChar(u'\0'))) {
        throw RunFilesError(kInvalidPath);
    }
    for (const QString& component : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (component == QStringLiteral("..")) {
            throw RunFilesError(kInvalidPath);
        }
    }
    SafePath safe;
    const std::string rootBytes = PosixFiles::encode(standardised(root));
    if (char* resolved = ::realpath(rootBytes.c_str(), nullptr)) {
        safe.base = QString::fromStdString(resolved);
        std::free(resolved);
    } else {
        safe.base = QString::fromStdString(rootBytes);
    }
    safe.base = QDir::cleanPath(safe.base);
    const QString prefix = safe.base.endsWith(QLatin1Char('/')) ? safe.base : safe.base + u'/';
    safe.location = QDir::cleanPath(prefix + path);
    if (!safe.location.startsWith(prefix) || safe.location.size() == prefix.size()) {
        throw RunFilesError(kLinkedPath);
    }
    safe.relative = PosixFiles::encode(safe.location.mid(prefix.size()));

    // No component below the root may be a link; the first one that does not exist ends the
    // check (a new file may go into a new folder).
    const std::string baseBytes = PosixFiles::encode(prefix);
    size_t end = 0;
    while (end != std::string::npos) {
        end = safe.relative.find('/', end + 1);
        const std::string partial =
            baseBytes + (end == std::string::npos ? safe.relative : safe.relative.substr(0, end));
        struct stat status;
        if (::lstat(partial.c_str(), &status) != 0) {
            break;
        }
        if (S_ISLNK(status.st_mode)) {
            throw RunFilesError(kLinkedPath);
        }
    }
    return safe;
}

}  // namespace detail

Listing files(const QString& root, const RunLimits& limits) {
    const detail::ListedTree tree = detail::listTree(root, limits);
    Listing listing;
    const QString prefix = tree.root.endsWith(QLatin1Char('/')) ? tree.root : tree.root + u'/';
    for (const detail::ListedFile& file : tree.files) {
        const QString relative = QString::fromStdString(file.relative);
        listing.emplace(relative, prefix + relative);
    }
    return listing;
}

void snapshot(const QString& from, const QString& to, const SnapshotProgress& progress,
              const RunLimits& limits, const SnapshotListed& listed) {
    const detail::ListedTree tree = detail::listTree(from, limits);
    if (listed) {
        qint64 bytes = 0;
        for (const detail::ListedFile& file : tree.files) {
            bytes += qint64(file.size);
        }
        listed(tree.files.size(), bytes);
    }
    if (progress) {
        progress(0, tree.files.size());
    }
    const QString target = standardised(to);
    // Stamps of an earlier copy at this place describe other files.
    QFile::remove(detail::CopyStamps::pathFor(target));
    if (!QDir().mkpath(target)) {
        throw RunFilesError::system(errno ? errno : EIO,
                                    QStringLiteral("Could not create ") + target);
    }
    UniqueFd targetFolder = PosixFiles::openFolder(target);
    if (!targetFolder.valid()) {
        throw RunFilesError::system(errno, QStringLiteral("Could not open ") + target);
    }

    // The files folder by folder, in batches of at most kBatchFiles: a batch is copied through
    // one open folder on each side, each file named by its own name alone, and the threads
    // seldom create files in the same folder at once (creations in one folder take turns).
    constexpr size_t kBatchFiles = 64;
    std::map<std::string_view, std::vector<size_t>> filesByFolder;
    for (size_t index = 0; index < tree.files.size(); ++index) {
        const std::string& relative = tree.files[index].relative;
        const size_t slash = relative.rfind('/');
        filesByFolder[std::string_view(relative).substr(0, slash == std::string::npos ? 0 : slash)]
            .push_back(index);
    }
    struct Batch {
        std::string_view folder;  // "" for the root
        const size_t* files;      // indexes into tree.files
        size_t count;
    };
    std::vector<Batch> batches;
    // Folders first, parents before children (a parent's path sorts before its children's).
    std::set<std::string_view> folders;
    for (const auto& [folder, indexes] : filesByFolder) {
        for (size_t first = 0; first < indexes.size(); first += kBatchFiles) {
            batches.push_back(
                {folder, indexes.data() + first, std::min(kBatchFiles, indexes.size() - first)});
        }
        for (size_t slash = folder.find('/'); slash != std::string_view::npos;
             slash = folder.find('/', slash + 1)) {
            folders.insert(folder.substr(0, slash));
        }
        if (!folder.empty()) {
            folders.insert(folder);
        }
    }
    for (const std::string_view folder : folders) {
        const std::string path(folder);
        if (::mkdirat(targetFolder.get(), path.c_str(), 0777) != 0 && errno != EEXIST) {
            throw RunFilesError::system(
                errno, QStringLiteral("Could not create ") + PosixFiles::decode(path));
        }
    }

    // Each file's stamps on both sides once it is copied, so that comparing the copy later
    // reads only what was written since.
    detail::CopyStamps stamps{tree.root, target, {}, 0};
    stamps.files.resize(tree.files.size());
    std::atomic<size_t> copied{0};
    Background::forEachInParallel(batches.size(), [&](size_t batchIndex) {
        const Batch& batch = batches[batchIndex];
        // After a failed call, while errno still tells why.
        const auto failed = [&](size_t index) {
            const int error = errno;
            return RunFilesError::system(error, QStringLiteral("Could not copy ") +
                                                    PosixFiles::decode(tree.files[index].relative));
        };
        UniqueFd sourceFolder;
        UniqueFd copyFolder;
        if (!batch.folder.empty()) {
            const std::string folder(batch.folder);
            sourceFolder =
                PosixFiles::openBeneath(tree.folder.get(), folder, O_RDONLY | O_DIRECTORY);
            if (!sourceFolder.valid()) {
                throw failed(batch.files[0]);
            }
            copyFolder =
                PosixFiles::openBeneath(targetFolder.get(), folder, O_RDONLY | O_DIRECTORY);
            if (!copyFolder.valid()) {
                throw failed(batch.files[0]);
            }
        }
        const int from = batch.folder.empty() ? tree.folder.get() : sourceFolder.get();
        const int to = batch.folder.empty() ? targetFolder.get() : copyFolder.get();
        const size_t nameStart = batch.folder.empty() ? 0 : batch.folder.size() + 1;
        for (size_t file = 0; file < batch.count; ++file) {
            const size_t index = batch.files[file];
            const std::string& relative = tree.files[index].relative;
            const std::string name = relative.substr(nameStart);
            UniqueFd source = PosixFiles::openBeneath(from, name, O_RDONLY | O_NONBLOCK);
            struct stat sourceStatus;
            struct stat copyStatus;
            if (!source.valid() ||
                !PosixFiles::copyFile(source.get(), to, name, &sourceStatus, &copyStatus)) {
                throw failed(index);
            }
            stamps.files[index] = {relative, detail::FileStamp::of(sourceStatus),
                                   detail::FileStamp::of(copyStatus)};
            if (progress) {
                progress(copied.fetch_add(1) + 1, tree.files.size());
            }
        }
    });
    stamps.save();
}

QString hash(const QString& file) {
    UniqueFd fd(::open(PosixFiles::encode(file).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat status;
    QString hex;
    if (!fd.valid() || ::fstat(fd.get(), &status) != 0) {
        throw RunFilesError::system(errno, QStringLiteral("Could not read ") + file);
    }
    if (!S_ISREG(status.st_mode)) {
        throw RunFilesError::system(S_ISDIR(status.st_mode) ? EISDIR : EINVAL,
                                    QStringLiteral("Could not read ") + file);
    }
    if (!PosixFiles::sha256OfFile(fd.get(), hex)) {
        throw RunFilesError::system(errno, QStringLiteral("Could not read ") + file);
    }
    return hex;
}

QString safeURL(const QString& path, const QString& root) {
    return detail::resolveSafely(path, root).location;
}

}  // namespace RunFiles
