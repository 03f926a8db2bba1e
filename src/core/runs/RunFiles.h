#pragma once

#include "core/base/Result.h"
#include "core/runs/FileChange.h"
#include "core/runs/PosixFiles.h"
#include "core/runs/RunLimits.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <string>
#include <vector>

// A failure of a team-run file operation, carrying the message shown to the user. Errors
// made by the operations themselves have the domain "VELKRuns" and code 1; errors of the
// file system are passed through with the domain "POSIX" and the errno value as code.
// The operations throw it; code outside the team-run files turns it into an Error with
// toError() where it catches it.
class RunFilesError : public std::exception {
public:
    static constexpr const char* kDomain = "VELKRuns";

    explicit RunFilesError(QString message, Error::Kind kind = Error::Kind::Invalid)
        : RunFilesError(QString::fromLatin1(kDomain), 1, std::move(message)) {
        m_kind = kind;
    }
    RunFilesError(QString domain, int code, QString message);

    // A file-system failure: `what` ("Could not read src/a.txt") followed by the system's
    // description of `errorNumber`.
    static RunFilesError system(int errorNumber, const QString& what);

    const QString& domain() const { return m_domain; }
    int code() const { return m_code; }
    const QString& message() const { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

    // The same failure as an Error: a file-system one is a System error with its errno.
    Error toError() const;

private:
    QString m_domain;
    int m_code;
    Error::Kind m_kind = Error::Kind::Invalid;
    QString m_message;
    QByteArray m_utf8;
};

// Orders texts by Unicode code point (UTF-16 order differs above U+FFFF).
struct CodePointLess {
    bool operator()(const QString& left, const QString& right) const;
};

// The file operations of team runs: the filtered listing of a project, snapshots, content
// hashes, permission modes, safe resolution of relative paths, and the comparison and apply
// of an assistant's changes. Stateless; every operation is synchronous, throws RunFilesError
// and may run on any thread.
namespace RunFiles {

// Relative path ("src/main.txt") -> absolute path of the file, in code-point order.
using Listing = std::map<QString, QString, CodePointLess>;

// Every regular file below `root` that passes the filters (excluded names, ".env" files,
// ".app" and ".framework" bundles; symbolic links are never followed). The listing is
// complete or an error: it fails beyond `limits` (5,000 files or 150,000,000 bytes unless
// raised).
Listing files(const QString& root, const RunLimits& limits = {});

// Copies the listing of `from` into the folder `to` (created with its parents), keeping
// permission bits and modification times. Per-assistant copies are snapshots of the baseline.
// `progress`, when given, hears (0, total) once the listing is known and (copied, total) after
// each file; it is called from the copying threads, so it must be thread-safe. `listed`, when
// given, hears the listing's files and bytes before anything is copied. `from` must be within
// `limits`.
using SnapshotProgress = std::function<void(std::size_t copied, std::size_t total)>;
using SnapshotListed = std::function<void(std::size_t files, qint64 bytes)>;
void snapshot(const QString& from, const QString& to, const SnapshotProgress& progress = {},
              const RunLimits& limits = {}, const SnapshotListed& listed = {});

// The files below `root` that the listing skips but one of `patterns` (gitignore syntax)
// asks for, as relative paths in code-point order: ".env" files, files in build folders.
// Patterns bring regular files only: dependency and version-control folders (node_modules,
// .venv, .git…), key folders (.ssh, .aws, .gnupg) and symbolic links are never entered or
// taken, so nothing outside `root` is reached. Fails beyond 1,000 files or 50,000,000 bytes.
QStringList extraFiles(const QString& root, const QStringList& patterns);

// Copies the relative `paths` from `from` into `to`, creating their folders and keeping
// permission bits. A path that is no longer a regular file is left out; the copied ones are
// returned.
QStringList copyExtraFiles(const QString& from, const QString& to, const QStringList& paths);

// SHA-256 of a regular file's bytes as 64 lower-case hexadecimal characters.
QString hash(const QString& file);

// The absolute location of the relative `path` inside `root`, refusing empty, absolute and
// ".." paths and any path that leaves the root or passes through a symbolic link.
QString safeURL(const QString& path, const QString& root);

// The changes of `result` against `baseline`, in code-point order of their paths. A change of
// permission bits alone counts. The baseline must be within `limits`, the result within
// twice them.
std::vector<FileChange> changes(const QString& baseline, const QString& result,
                                const RunLimits& limits = {});

// An entry that a review leaves out, with why: a name that is not UTF-8, a file or folder
// that cannot be read, a folder nested too deep. Nothing at or below `path` is compared.
struct SkippedEntry {
    QString path;    // "/" between components; bytes that are not UTF-8 show as U+FFFD
    QString reason;  // e.g. "Cannot be read: Permission denied."

    bool operator==(const SkippedEntry&) const = default;
};

// What a review of a copy found.
struct Review {
    std::vector<FileChange> changes;    // as changes() gives them
    std::vector<SkippedEntry> skipped;  // in code-point order of their paths
};

// Opens `relative` below the open folder `folder` as PosixFiles::openBeneath does (no link
// followed, nothing outside the folder). A review takes another one in tests, where reads
// must fail although the tests run as root, whom permission bits do not stop.
using OpenBeneath =
    std::function<PosixFiles::UniqueFd(int folder, const std::string& relative, int flags)>;

// The changes of `result` against `baseline` as changes() finds them, except that an entry
// that cannot be compared on either side is left out and named with its reason instead of
// failing the whole review; no change is reported at or below it. The size limits of
// changes() still fail the review, as does a folder that cannot be read at all.
Review review(const QString& baseline, const QString& result, const OpenBeneath& open = {},
              const RunLimits& limits = {});

// The text of `path` inside `root` for display, or a fixed message when the file is absent,
// not UTF-8 or 2,000,000 bytes or more. Never fails.
QString preview(const QString& root, const QString& path);

// What rolling back an interrupted apply found, file by file. An apply that was cut short
// (VELK or velk-runs ended mid-way) is rolled back before the next apply to its project and
// when VELK starts.
struct ApplyRecovery {
    QString project;
    QString backup;                  // the apply's backup folder, holding the originals
    QStringList restored;            // back as they were before the apply (additions removed)
    QStringList keptEdits;           // changed since the interruption: left as they are
    QStringList unrestored;          // could not be put back; the originals are in `backup`
    QStringList removedTemporaries;  // the apply's temporary files, deleted
    QString problem;                 // why nothing could be checked, else empty

    // The report for the user, one line per file: "Restored: src/a.txt" …
    QString describe() const;
};

// Copies the reviewed `changes` from `result` into `project`, all or nothing. Holds the
// project's apply lock throughout (another apply to the same folder, in this or another
// process, waits up to two seconds, then is refused) and first rolls back any interrupted
// apply to that project, reporting it in `recovered` when given. Validates every change
// (the project must still match the baseline, the copy must still match the review, within
// `limits`), backs up the project files it will replace into `backup`, records
// its intent in a journal there, then writes each file through a temporary beside it,
// checking just before each replacement that the project file is still the one backed up. A
// failure restores every file touched so far; a crash is undone by the next recovery.
// Throws only RunFilesError. `progress`, when given, hears each step's (done, total) files as
// the apply checks, backs up and writes them, on the applying thread.
enum class ApplyStep : std::uint8_t { Checking, BackingUp, Writing };
using ApplyProgress = std::function<void(ApplyStep step, std::size_t done, std::size_t total)>;
void apply(const std::vector<FileChange>& changes, const QString& project, const QString& result,
           const QString& backup, std::vector<ApplyRecovery>* recovered = nullptr,
           const ApplyProgress& progress = {}, const RunLimits& limits = {});

// Rolls back every interrupted apply whose project is not being applied to right now: what
// VELK does when it starts. Never throws; problems are reported in the results.
std::vector<ApplyRecovery> recoverInterruptedApplies();

}  // namespace RunFiles
