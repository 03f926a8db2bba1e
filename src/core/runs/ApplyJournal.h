#pragma once

// Shared by the apply sources only: the journal that keeps an apply all-or-nothing across a
// crash, the list of applies in progress that leads to it, and the roll-back that a failed
// apply and the recovery of an interrupted one share.
//
// The journal sits in the apply's backup folder. Its first line, written and flushed before
// the project is changed, is the intent: every file with the state it had (the backed-up
// original) and the state the apply gives it, the temporary files the apply may make beside
// each target, and the folders it may create. Each later line records a step. An entry in
// the list of applies in progress (in VELK's data folder) names the journal, so the next
// apply to the project, from VELK or velk-runs, and the next start of VELK find it.
//
// Roll-back decides from what stands in the project, not from the recorded steps, which may
// lag behind: a file still holding what the apply wrote goes back to its backup, a file still
// holding its original stays, and anything else was changed since and is kept as it is.

#include "core/runs/PosixFiles.h"
#include "core/runs/RunFiles.h"

#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace RunFiles::detail {

// What stands at a path: nothing, a regular file (hashed unless larger than the limit
// asked for), a folder, or something else (a pipe, a device).
struct Found {
    enum class Kind { Nothing, File, Folder, Other } kind = Kind::Nothing;
    QString hash;           // empty when `tooLarge`
    int mode = 0;           // permission bits of a file
    qint64 hashedSize = 0;  // bytes hashed
    bool tooLarge = false;  // the file holds more bytes than the limit
    struct stat status {};  // of a file, as opened
};

// Looks at `relative` below `folder` without following links; `path` names it in messages.
// Throws RunFilesError when it cannot be read or a link stands in the way.
Found look(int folder, const std::string& relative, const QString& path, qint64 limit);

// The folder holding `relative` below `root`, reached without following links.
PosixFiles::UniqueFd parentFolder(int root, const std::string& relative);

// A folder's identity, which the paths leading to it may not share.
struct FolderIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FolderIdentity&) const = default;
};
FolderIdentity identity(int folder);

// One file of an apply.
struct JournalEntry {
    std::string relative;           // below the project
    std::optional<QString> before;  // hash of the original; none for an addition
    int beforeMode = 0;             // its permission bits, special bits included
    std::optional<QString> after;   // hash of what the apply writes; none for a removal
    int afterMode = 0;              // the bits written
    std::string temporary;          // beside the target: the new file before its rename
    std::string restoreTemporary;   // beside the target: the original on its way back
};

struct JournalIntent {
    QString project;  // absolute
    FolderIdentity projectIdentity;
    QString backup;  // absolute
    std::vector<JournalEntry> entries;
    std::vector<std::string> folders;  // folders the apply creates, parents first
};

// The journal of an apply in progress.
class Journal {
public:
    // Writes the intent into a new file in the backup folder, flushes it together with the
    // backups made so far, then lists the apply among those in progress. Throws RunFilesError.
    Journal(const JournalIntent& intent, int backupFolder);
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Appends one step ("written", "removed", "failed" …) about entry `index`, unflushed.
    void record(const char* step, std::optional<size_t> index = std::nullopt) noexcept;
    // The apply is complete: unlisted, then deleted.
    void finish() noexcept;
    // After a roll-back: unlisted and deleted when nothing is left to restore, else kept for
    // the next recovery.
    void close(bool keepForRecovery) noexcept;

private:
    PosixFiles::UniqueFd m_backupFolder;
    PosixFiles::UniqueFd m_file;
    std::string m_name;
    QString m_listing;  // the entry in the list of applies in progress
};

enum class Outcome {
    Original,    // holds its original: the apply never replaced it, or it is back already
    Restored,    // held what the apply wrote; now back to the original
    Edited,      // holds neither: changed since, kept
    Unrestored,  // held what the apply wrote; putting the original back failed
};

struct RollBackResult {
    std::vector<Outcome> outcomes;  // one per entry
    QStringList removedTemporaries;
};

// Undoes the apply of `intent` in the project: every file back to its original where it still
// holds what the apply wrote, the temporaries removed, the folders it made removed if empty.
// Never throws; the caller holds the project's lock.
RollBackResult rollBack(const JournalIntent& intent, int projectFolder, int backupFolder);

// The journals (absolute paths) of the applies listed as in progress: interrupted ones whose
// roll-back still needs the backups beside them, or ones running right now.
QStringList journalsInProgress();

// Rolls back the interrupted applies to the locked project `projectFolder`.
std::vector<ApplyRecovery> recoverProject(int projectFolder);

}  // namespace RunFiles::detail
