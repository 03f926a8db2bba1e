#include "core/runs/ApplyJournal.h"

#include "core/runs/RunFilesInternal.h"
#include "core/services/AppPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <algorithm>
#include <cerrno>

#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

using PosixFiles::UniqueFd;

namespace RunFiles {

namespace {

const QString kLinkedPath =
    QStringLiteral("A file or parent folder is a symbolic link. Review it outside VELK.");

// A journal holds one line per file and step; anything far larger is not one of ours.
constexpr qint64 kLargestJournal = 256 * 1024 * 1024;
constexpr qint64 kLargestListing = 1024 * 1024;

// The list of applies in progress: one small file per apply, naming its journal and project.
QString inProgressFolder() {
    return AppPaths::dataRoot() + QStringLiteral("/Applies in progress");
}

QString text(const std::string& bytes) {
    return PosixFiles::decode(bytes);
}

// --- The journal's text ------------------------------------------------------------------

QJsonValue optionalText(const std::optional<QString>& value) {
    return value ? QJsonValue(*value) : QJsonValue();
}

std::optional<QString> optionalText(const QJsonValue& value) {
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

QByteArray intentLine(const detail::JournalIntent& intent) {
    QJsonArray entries;
    for (const detail::JournalEntry& entry : intent.entries) {
        entries.append(QJsonObject{
            {QStringLiteral("path"), text(entry.relative)},
            {QStringLiteral("before"), optionalText(entry.before)},
            {QStringLiteral("beforeMode"), entry.beforeMode},
            {QStringLiteral("after"), optionalText(entry.after)},
            {QStringLiteral("afterMode"), entry.afterMode},
            {QStringLiteral("temporary"), text(entry.temporary)},
            {QStringLiteral("restoreTemporary"), text(entry.restoreTemporary)},
        });
    }
    QJsonArray folders;
    for (const std::string& folder : intent.folders) {
        folders.append(text(folder));
    }
    const QJsonObject object{
        {QStringLiteral("apply"), 1},
        {QStringLiteral("project"), intent.project},
        {QStringLiteral("device"), QString::number(quint64(intent.projectIdentity.device))},
        {QStringLiteral("inode"), QString::number(quint64(intent.projectIdentity.inode))},
        {QStringLiteral("backup"), intent.backup},
        {QStringLiteral("files"), entries},
        {QStringLiteral("folders"), folders},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// A name written by this code: one component, no way out of its folder.
bool plainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// A relative path written by this code: components without "." or "..".
bool plainPath(const std::string& path) {
    if (path.empty() || path.front() == '/') {
        return false;
    }
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('/', start);
        if (!plainName(path.substr(start, slash - start))) {
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
        start = slash + 1;
    }
}

struct ReadJournal {
    detail::JournalIntent intent;
    bool finished = false;
};

std::optional<ReadJournal> parseJournal(const QByteArray& bytes) {
    const QList<QByteArray> lines = bytes.split('\n');
    const QJsonObject object = QJsonDocument::fromJson(lines.front()).object();
    if (object.value(QStringLiteral("apply")).toInt() != 1) {
        return std::nullopt;
    }
    ReadJournal read;
    detail::JournalIntent& intent = read.intent;
    intent.project = object.value(QStringLiteral("project")).toString();
    intent.projectIdentity.device =
        dev_t(object.value(QStringLiteral("device")).toString().toULongLong());
    intent.projectIdentity.inode =
        ino_t(object.value(QStringLiteral("inode")).toString().toULongLong());
    intent.backup = object.value(QStringLiteral("backup")).toString();
    for (const QJsonValue& value : object.value(QStringLiteral("files")).toArray()) {
        const QJsonObject file = value.toObject();
        detail::JournalEntry entry;
        entry.relative = PosixFiles::encode(file.value(QStringLiteral("path")).toString());
        entry.before = optionalText(file.value(QStringLiteral("before")));
        entry.beforeMode = file.value(QStringLiteral("beforeMode")).toInt();
        entry.after = optionalText(file.value(QStringLiteral("after")));
        entry.afterMode = file.value(QStringLiteral("afterMode")).toInt();
        entry.temporary = PosixFiles::encode(file.value(QStringLiteral("temporary")).toString());
        entry.restoreTemporary =
            PosixFiles::encode(file.value(QStringLiteral("restoreTemporary")).toString());
        if (!plainPath(entry.relative) || !plainName(entry.temporary) ||
            !plainName(entry.restoreTemporary)) {
            return std::nullopt;
        }
        intent.entries.push_back(std::move(entry));
    }
    for (const QJsonValue& value : object.value(QStringLiteral("folders")).toArray()) {
        intent.folders.push_back(PosixFiles::encode(value.toString()));
        if (!plainPath(intent.folders.back())) {
            return std::nullopt;
        }
    }
    // The steps; a line cut short by the end of a process is ignored.
    for (qsizetype index = 1; index < lines.size(); ++index) {
        const QJsonObject step = QJsonDocument::fromJson(lines[index]).object();
        if (step.value(QStringLiteral("step")).toString() == QStringLiteral("finished")) {
            read.finished = true;
        }
    }
    return read;
}

// --- The list of applies in progress -----------------------------------------------------

struct ListedApply {
    QString entry;    // the listing file
    QString journal;  // absolute path of the journal
    QString project;
    detail::FolderIdentity identity;
    qint64 started = 0;
};

std::vector<ListedApply> listedApplies() {
    std::vector<ListedApply> listed;
    const QString folder = inProgressFolder();
    const UniqueFd listing = PosixFiles::openFolder(folder);
    if (!listing.valid()) {
        return listed;
    }
    DIR* entries = ::fdopendir(::fcntl(listing.get(), F_DUPFD_CLOEXEC, 0));
    if (!entries) {
        return listed;
    }
    std::vector<std::string> names;
    std::vector<std::string> temporaries;
    while (const dirent* entry = ::readdir(entries)) {
        const std::string name = entry->d_name;
        if (name.size() > 5 && name.ends_with(".json") && name.front() != '.') {
            names.push_back(name);
        } else if (name.starts_with(".velk-") && name.ends_with(".tmp")) {
            temporaries.push_back(name);
        }
    }
    ::closedir(entries);
    // An entry is written through a temporary file in milliseconds; one left for an hour
    // belongs to a process that ended while writing it, before its apply changed anything.
    const time_t abandoned = ::time(nullptr) - 3600;
    for (const std::string& name : temporaries) {
        struct stat status;
        if (::fstatat(listing.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode) && status.st_mtime < abandoned) {
            ::unlinkat(listing.get(), name.c_str(), 0);
        }
    }
    for (const std::string& name : names) {
        const UniqueFd file(
            ::openat(listing.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        QByteArray bytes;
        if (!file.valid() || !PosixFiles::readAll(file.get(), bytes, kLargestListing)) {
            continue;
        }
        const QJsonObject object = QJsonDocument::fromJson(bytes).object();
        ListedApply apply;
        apply.entry = folder + u'/' + text(name);
        apply.journal = object.value(QStringLiteral("journal")).toString();
        apply.project = object.value(QStringLiteral("project")).toString();
        apply.identity.device =
            dev_t(object.value(QStringLiteral("device")).toString().toULongLong());
        apply.identity.inode =
            ino_t(object.value(QStringLiteral("inode")).toString().toULongLong());
        apply.started = object.value(QStringLiteral("started")).toInteger();
        if (!apply.journal.startsWith(u'/') || !apply.project.startsWith(u'/')) {
            continue;
        }
        listed.push_back(std::move(apply));
    }
    // Newest first: a later apply is undone before the one it followed.
    std::sort(listed.begin(), listed.end(), [](const ListedApply& left, const ListedApply& right) {
        return left.started > right.started;
    });
    return listed;
}

void unlist(const ListedApply& apply, bool deleteJournal) {
    ::unlink(PosixFiles::encode(apply.entry).c_str());
    if (deleteJournal) {
        ::unlink(PosixFiles::encode(apply.journal).c_str());
    }
}

// --- Roll-back ---------------------------------------------------------------------------

bool holds(const detail::Found& found, const std::optional<QString>& hash, int mode) {
    if (!hash) {
        return found.kind == detail::Found::Kind::Nothing;
    }
    return found.kind == detail::Found::Kind::File && !found.tooLarge && found.hash == *hash &&
           found.mode == mode;
}

bool sameFile(const struct stat& left, const struct stat& right) {
    return left.st_dev == right.st_dev && left.st_ino == right.st_ino &&
           left.st_size == right.st_size && left.st_mtim.tv_sec == right.st_mtim.tv_sec &&
           left.st_mtim.tv_nsec == right.st_mtim.tv_nsec;
}

// Still the file that was looked at: the user may be saving it right now.
bool unchangedSince(int folder, const std::string& name, const detail::Found& looked) {
    struct stat now;
    if (::fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
        return looked.kind == detail::Found::Kind::Nothing && errno == ENOENT;
    }
    return looked.kind == detail::Found::Kind::File && S_ISREG(now.st_mode) &&
           sameFile(now, looked.status);
}

// Puts the backed-up original of `entry` back over what the apply wrote (`now`): streamed
// from the backup into a temporary beside the target, checked against the original's hash,
// then renamed into place.
detail::Outcome restoreOriginal(const detail::JournalEntry& entry, const detail::Found& now,
                                int projectFolder, int backupFolder) {
    const auto [parentPath, name] = PosixFiles::splitParent(entry.relative);
    UniqueFd parent = detail::parentFolder(projectFolder, entry.relative);
    if (!parent.valid() && !parentPath.empty()) {
        parent = PosixFiles::makeFolders(projectFolder, parentPath);
    }
    const UniqueFd saved =
        PosixFiles::openBeneath(backupFolder, entry.relative, O_RDONLY | O_NONBLOCK);
    struct stat status;
    if (!parent.valid() || !saved.valid() || ::fstat(saved.get(), &status) != 0 ||
        !S_ISREG(status.st_mode)) {
        return detail::Outcome::Unrestored;
    }
    UniqueFd temporary = PosixFiles::createExclusive(parent.get(), entry.restoreTemporary, 0600);
    if (!temporary.valid()) {
        return detail::Outcome::Unrestored;
    }
    QString hash;
    const bool prepared =
        PosixFiles::copyHashing(saved.get(), temporary.get(), detail::kLargestFileRead, hash,
                                entry.restoreTemporary) &&
        hash == entry.before && ::fchmod(temporary.get(), mode_t(entry.beforeMode & 07777)) == 0 &&
        PosixFiles::syncFile(temporary.get(), entry.restoreTemporary);
    temporary = UniqueFd();
    if (prepared && !unchangedSince(parent.get(), name, now)) {
        PosixFiles::removeFile(parent.get(), entry.restoreTemporary);
        return detail::Outcome::Edited;
    }
    // A removed file comes back only where nothing stands again.
    if (prepared && PosixFiles::renameInFolder(parent.get(), entry.restoreTemporary, name,
                                               now.kind == detail::Found::Kind::File)) {
        return detail::Outcome::Restored;
    }
    const bool recreated = prepared && errno == EEXIST;
    PosixFiles::removeFile(parent.get(), entry.restoreTemporary);
    return recreated ? detail::Outcome::Edited : detail::Outcome::Unrestored;
}

detail::Outcome rollBackEntry(const detail::JournalEntry& entry, int projectFolder,
                              int backupFolder, QStringList& removedTemporaries) {
    const auto [parentPath, name] = PosixFiles::splitParent(entry.relative);
    const UniqueFd parent = detail::parentFolder(projectFolder, entry.relative);
    if (parent.valid()) {
        for (const std::string& temporary : {entry.temporary, entry.restoreTemporary}) {
            struct stat status;
            if (::fstatat(parent.get(), temporary.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISREG(status.st_mode) && PosixFiles::removeFile(parent.get(), temporary)) {
                removedTemporaries.append(
                    text(parentPath.empty() ? temporary : parentPath + '/' + temporary));
            }
        }
    }
    detail::Found now;
    try {
        now = detail::look(projectFolder, entry.relative, text(entry.relative),
                           detail::kLargestFileRead);
    } catch (const RunFilesError& error) {
        // A link the user put in the file's place (or its folder's) is theirs to keep; a
        // failure to read is tried again by the next recovery.
        if (error.domain() == QLatin1String(RunFilesError::kDomain)) {
            return detail::Outcome::Edited;
        }
        throw;
    }
    if (holds(now, entry.before, entry.beforeMode)) {
        return detail::Outcome::Original;
    }
    if (!holds(now, entry.after, entry.afterMode)) {
        return detail::Outcome::Edited;
    }
    if (entry.before) {
        return restoreOriginal(entry, now, projectFolder, backupFolder);
    }
    // An addition goes again.
    if (!parent.valid() || !unchangedSince(parent.get(), name, now)) {
        return detail::Outcome::Edited;
    }
    return PosixFiles::removeFile(parent.get(), name) ? detail::Outcome::Restored
                                                      : detail::Outcome::Unrestored;
}

// Rolls back one listed apply to the locked `projectFolder`; nothing when it had finished.
std::optional<ApplyRecovery> recoverListed(const ListedApply& listed, int projectFolder) {
    ApplyRecovery recovery;
    recovery.project = listed.project;
    recovery.backup = QFileInfo(listed.journal).absolutePath();
    const UniqueFd file(::open(PosixFiles::encode(listed.journal).c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    QByteArray bytes;
    if (!file.valid() || !PosixFiles::readAll(file.get(), bytes, kLargestJournal)) {
        const int error = errno;
        recovery.problem = QStringLiteral(
                               "Its journal %1 could not be read (%2), so nothing was "
                               "restored. Compare the project with the backup folder.")
                               .arg(listed.journal, PosixFiles::errorText(error));
        // A journal that is gone, with its backup, can never be used: it is reported once.
        if (error == ENOENT) {
            unlist(listed, false);
        }
        return recovery;
    }
    const std::optional<ReadJournal> read = parseJournal(bytes);
    if (!read) {
        recovery.problem = QStringLiteral(
                               "Its journal %1 is damaged, so nothing was restored. "
                               "Compare the project with the backup folder.")
                               .arg(listed.journal);
        unlist(listed, false);
        return recovery;
    }
    if (read->finished) {
        unlist(listed, true);
        return std::nullopt;
    }
    const UniqueFd backupFolder = PosixFiles::openFolder(recovery.backup);
    if (!backupFolder.valid()) {
        recovery.problem = QStringLiteral(
                               "Its backup folder %1 cannot be opened (%2), so nothing "
                               "was restored.")
                               .arg(recovery.backup, PosixFiles::errorText(errno));
        return recovery;
    }
    const detail::RollBackResult undone =
        detail::rollBack(read->intent, projectFolder, backupFolder.get());
    for (size_t index = 0; index < undone.outcomes.size(); ++index) {
        const QString path = text(read->intent.entries[index].relative);
        switch (undone.outcomes[index]) {
            case detail::Outcome::Original:
                break;
            case detail::Outcome::Restored:
                recovery.restored.append(path);
                break;
            case detail::Outcome::Edited:
                recovery.keptEdits.append(path);
                break;
            case detail::Outcome::Unrestored:
                recovery.unrestored.append(path);
                break;
        }
    }
    recovery.removedTemporaries = undone.removedTemporaries;
    // What could not be put back is tried again by the next recovery.
    if (recovery.unrestored.isEmpty()) {
        unlist(listed, true);
    }
    return recovery;
}

}  // namespace

namespace detail {

QStringList journalsInProgress() {
    QStringList journals;
    for (const ListedApply& apply : listedApplies()) {
        journals.append(apply.journal);
    }
    return journals;
}

Found look(int folder, const std::string& relative, const QString& path, qint64 limit) {
    Found found;
    const UniqueFd file = PosixFiles::openBeneath(folder, relative, O_RDONLY | O_NONBLOCK);
    if (!file.valid()) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return found;
        }
        if (errno == ELOOP || errno == EXDEV) {
            // A link appeared after the path was checked.
            throw RunFilesError(kLinkedPath);
        }
        throw RunFilesError::system(errno, QStringLiteral("Could not read ") + path);
    }
    if (::fstat(file.get(), &found.status) != 0) {
        throw RunFilesError::system(errno, QStringLiteral("Could not read ") + path);
    }
    if (!S_ISREG(found.status.st_mode)) {
        found.kind = S_ISDIR(found.status.st_mode) ? Found::Kind::Folder : Found::Kind::Other;
        return found;
    }
    found.kind = Found::Kind::File;
    found.mode = int(found.status.st_mode & 07777);
    // The size decides nothing by itself (the file may grow while it is read); it only spares
    // reading a file that is already too large.
    if (found.status.st_size > limit) {
        found.tooLarge = true;
        return found;
    }
    if (!PosixFiles::sha256OfFile(file.get(), found.hash, limit, &found.hashedSize)) {
        if (errno == EFBIG) {
            found.tooLarge = true;
            found.hash.clear();
            return found;
        }
        throw RunFilesError::system(errno, QStringLiteral("Could not read ") + path);
    }
    return found;
}

UniqueFd parentFolder(int root, const std::string& relative) {
    const std::string parent = PosixFiles::splitParent(relative).first;
    if (parent.empty()) {
        return UniqueFd(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    }
    return PosixFiles::openBeneath(root, parent, O_RDONLY | O_DIRECTORY);
}

FolderIdentity identity(int folder) {
    struct stat status;
    if (::fstat(folder, &status) != 0) {
        return {};
    }
    return {status.st_dev, status.st_ino};
}

Journal::Journal(const JournalIntent& intent, int backupFolder)
    : m_backupFolder(::fcntl(backupFolder, F_DUPFD_CLOEXEC, 0)) {
    const QString failure = QStringLiteral("Could not write the apply journal in ") + intent.backup;
    // The backup folder also holds the originals under their own names.
    for (int attempt = 1; !m_file.valid(); ++attempt) {
        m_name = attempt == 1 ? std::string("velk-apply.journal")
                              : "velk-apply-" + std::to_string(attempt) + ".journal";
        m_file = PosixFiles::createExclusive(backupFolder, m_name, 0600);
        if (!m_file.valid() && (errno != EEXIST || attempt == 100)) {
            throw RunFilesError::system(errno, failure);
        }
    }
    const QString folder = inProgressFolder();
    const std::string entryName =
        PosixFiles::encode(QUuid::createUuid().toString(QUuid::WithoutBraces)) + ".json";
    UniqueFd listing;
    try {
        // Flushed with the backups made before it (one flush of their file system): the
        // intent is only ever read with them.
        if (!PosixFiles::writeAll(m_file.get(), intentLine(intent), m_name) ||
            !PosixFiles::syncFileSystem(backupFolder)) {
            throw RunFilesError::system(errno, failure);
        }
        const QJsonObject entry{
            {QStringLiteral("journal"), intent.backup + u'/' + text(m_name)},
            {QStringLiteral("project"), intent.project},
            {QStringLiteral("device"), QString::number(quint64(intent.projectIdentity.device))},
            {QStringLiteral("inode"), QString::number(quint64(intent.projectIdentity.inode))},
            {QStringLiteral("started"), QDateTime::currentMSecsSinceEpoch()},
        };
        QDir().mkpath(folder);
        listing = PosixFiles::openFolder(folder);
        if (!listing.valid() ||
            !PosixFiles::writeAtomically(listing.get(), entryName,
                                         QJsonDocument(entry).toJson(QJsonDocument::Compact),
                                         0600) ||
            !PosixFiles::syncFile(listing.get(), PosixFiles::encode(folder))) {
            throw RunFilesError::system(errno,
                                        QStringLiteral("Could not record the apply in ") + folder);
        }
    } catch (...) {
        if (listing.valid()) {
            ::unlinkat(listing.get(), entryName.c_str(), 0);
        }
        ::unlinkat(backupFolder, m_name.c_str(), 0);
        throw;
    }
    m_listing = folder + u'/' + text(entryName);
}

void Journal::record(const char* step, std::optional<size_t> index) noexcept {
    // Recovery decides from the files, so a step that fails to be recorded changes nothing.
    try {
        QJsonObject line{{QStringLiteral("step"), QString::fromLatin1(step)}};
        if (index) {
            line.insert(QStringLiteral("file"), qint64(*index));
        }
        PosixFiles::writeAll(m_file.get(),
                             QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n', m_name);
    } catch (...) {
    }
}

void Journal::finish() noexcept {
    // Unflushed: should the record and the unlisting be lost with the power, the recovery
    // undoes the whole apply, which is still all or nothing.
    record("finished");
    close(false);
}

void Journal::close(bool keepForRecovery) noexcept {
    if (keepForRecovery) {
        record("rolled back in part");
        return;
    }
    try {
        if (::unlink(PosixFiles::encode(m_listing).c_str()) == 0) {
            PosixFiles::removeFile(m_backupFolder.get(), m_name);
        }
    } catch (...) {
    }
}

RollBackResult rollBack(const JournalIntent& intent, int projectFolder, int backupFolder) {
    RollBackResult result;
    result.outcomes.assign(intent.entries.size(), Outcome::Original);
    // Last written first, as the steps were taken.
    for (size_t index = intent.entries.size(); index-- > 0;) {
        try {
            result.outcomes[index] = rollBackEntry(intent.entries[index], projectFolder,
                                                   backupFolder, result.removedTemporaries);
        } catch (...) {
            result.outcomes[index] = Outcome::Unrestored;
        }
    }
    // The folders the apply made, innermost first; only empty ones go.
    for (auto folder = intent.folders.rbegin(); folder != intent.folders.rend(); ++folder) {
        const UniqueFd parent = parentFolder(projectFolder, *folder);
        if (parent.valid()) {
            PosixFiles::removeFolder(parent.get(), PosixFiles::splitParent(*folder).second);
        }
    }
    return result;
}

std::vector<ApplyRecovery> recoverProject(int projectFolder) {
    std::vector<ApplyRecovery> recoveries;
    const FolderIdentity project = identity(projectFolder);
    for (const ListedApply& listed : listedApplies()) {
        if (listed.identity == project) {
            if (auto recovery = recoverListed(listed, projectFolder)) {
                recoveries.push_back(std::move(*recovery));
            }
        }
    }
    return recoveries;
}

}  // namespace detail

QString ApplyRecovery::describe() const {
    QStringList lines{QStringLiteral("An apply to %1 was interrupted.").arg(project)};
    if (!problem.isEmpty()) {
        lines.append(problem);
        return lines.join(u'\n');
    }
    lines.front() += QStringLiteral(" It has been rolled back.");
    for (const QString& path : restored) {
        lines.append(QStringLiteral("Restored: ") + path);
    }
    for (const QString& path : keptEdits) {
        lines.append(QStringLiteral("Kept as edited since: ") + path);
    }
    for (const QString& path : unrestored) {
        lines.append(QStringLiteral("Could not restore: ") + path);
    }
    for (const QString& path : removedTemporaries) {
        lines.append(QStringLiteral("Removed temporary file: ") + path);
    }
    if (!unrestored.isEmpty()) {
        lines.append(QStringLiteral("The originals are in %1; restoring them is tried again "
                                    "before the next apply to this project.")
                         .arg(backup));
    }
    if (lines.size() == 1) {
        lines.append(QStringLiteral("No file had been changed yet."));
    }
    return lines.join(u'\n');
}

std::vector<ApplyRecovery> recoverInterruptedApplies() {
    std::vector<ApplyRecovery> recoveries;
    try {
        for (const ListedApply& listed : listedApplies()) {
            const UniqueFd project = PosixFiles::openFolder(listed.project);
            const bool missing = !project.valid() && errno == ENOENT;
            if (!project.valid() || detail::identity(project.get()) != listed.identity) {
                ApplyRecovery gone;
                gone.project = listed.project;
                gone.backup = QFileInfo(listed.journal).absolutePath();
                gone.problem = QStringLiteral(
                                   "The project folder is no longer there, so nothing "
                                   "was restored. The originals are in %1.")
                                   .arg(gone.backup);
                recoveries.push_back(std::move(gone));
                if (project.valid() || missing) {
                    unlist(listed, false);
                }
                continue;
            }
            // A project locked now is being applied to: that apply owns its journal.
            if (!PosixFiles::lockExclusive(project.get(), 0) || !QFileInfo::exists(listed.entry)) {
                continue;
            }
            if (auto recovery = recoverListed(listed, project.get())) {
                recoveries.push_back(std::move(*recovery));
            }
        }
    } catch (...) {
        // Recovery runs at start-up; a failure here must not stop VELK. What was not
        // recovered stays listed for the next attempt.
    }
    return recoveries;
}

}  // namespace RunFiles
