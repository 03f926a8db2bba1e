#pragma once

#include "core/runs/PosixFiles.h"
#include "core/runs/RunFiles.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <map>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

// A scratch folder with small helpers to lay out projects, baselines and copies.
class Scratch {
public:
    Scratch();

    QString path(const QString& relative = QString()) const;

    // Writes a file (making its folders) and sets its permission bits.
    void write(const QString& relative, const QByteArray& bytes, int mode = 0644) const;
    QByteArray read(const QString& relative) const;
    bool exists(const QString& relative) const;  // anything, links included
    int mode(const QString& relative) const;
    void chmod(const QString& relative, int mode) const;
    void remove(const QString& relative) const;
    void makeFolder(const QString& relative) const;
    void link(const QString& relative, const QString& target) const;

private:
    QTemporaryDir m_dir;
};

// What `git apply` makes of `before` with only the hunks `chosen` (0-based) of the patch
// `git diff --no-index --patience` finds from `before` to `after`; how many hunks that patch
// has in `hunkCount`.
QByteArray gitApplyHunks(const QByteArray& before, const QByteArray& after,
                         const std::vector<int>& chosen, int* hunkCount = nullptr);

// Every regular file below a folder with its bytes and permission bits, links listed by
// their target, folders (unless left out) as "folder": used to prove that an operation changed
// nothing (or exactly what it should).
struct FileState {
    QByteArray bytes;
    int mode = 0;
    bool operator==(const FileState&) const = default;
};
using TreeState = std::map<QString, FileState>;
TreeState treeState(const QString& root, bool withFolders = true);

// The file at `path` in the tree, if there is one.
inline std::optional<FileState> fileAt(const TreeState& tree, const QString& path) {
    const auto found = tree.find(path);
    return found == tree.end() ? std::nullopt : std::optional(found->second);
}

inline const QString kInvalidPath = QStringLiteral("Invalid change path.");
inline const QString kLinkedPath =
    QStringLiteral("A file or parent folder is a symbolic link. Review it outside VELK.");

// The message of the RunFilesError an operation throws, or "(no failure)".
template <typename Operation>
QString failure(Operation operation) {
    try {
        operation();
    } catch (const RunFilesError& error) {
        return error.message();
    }
    return QStringLiteral("(no failure)");
}

// Installs a fault hook in the file operations for as long as it lives.
class ScopedFaultHook {
public:
    explicit ScopedFaultHook(PosixFiles::FaultHook hook) {
        PosixFiles::setFaultHook(std::move(hook));
    }
    ~ScopedFaultHook() { PosixFiles::setFaultHook({}); }
    ScopedFaultHook(const ScopedFaultHook&) = delete;
    ScopedFaultHook& operator=(const ScopedFaultHook&) = delete;
};

// An apply of `changes` in a child process that stops just before the first file operation
// `stopsAt` picks and waits there to be resumed or killed, as another VELK or velk-runs
// would stand in the middle of its apply.
class StoppedApply {
public:
    using Pick = std::function<bool(std::string_view operation, std::string_view name)>;
    StoppedApply(const std::vector<FileChange>& changes, const QString& project,
                 const QString& copy, const QString& backup, const Pick& stopsAt);
    ~StoppedApply();
    StoppedApply(const StoppedApply&) = delete;
    StoppedApply& operator=(const StoppedApply&) = delete;

    bool stopped();  // waits for the stop; false when the child ended before it
    // Lets the apply go on, or kills it (SIGKILL); the child's wait status.
    int finish(bool kill);

private:
    int m_child = -1;
    int m_stopped[2] = {-1, -1};
    int m_resume[2] = {-1, -1};
};

// Points VELK's data folder, where applies in progress are listed, at `folder` for the rest
// of the process and the processes it starts, so test programs running side by side never
// recover each other's applies.
void useDataFolder(const QString& folder);

// The applies listed as in progress (their listing files' names).
QStringList appliesInProgress();

// The names in a folder, hidden ones included.
QStringList entries(const QString& folder);

// The temporary files of applies (".velk-….tmp") below `root`, relative to it.
QStringList temporaryFiles(const QString& root);
