#include "ApplyCrashRounds.h"

#include "core/runs/PosixFiles.h"
#include "core/runs/RunFiles.h"
#include "core/services/AppPaths.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <map>
#include <optional>
#include <set>
#include <utility>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QStringList kNames = {
    "a.txt", "B.md", "with space.c", "new\nline",        "caf\u00e9", "\U0001F600.bin", "-dash",
    ".dot",  "x",    "deep",         "\u65e5\u672c.txt", "tab\there",
};
const QList<int> kModes = {0644, 0755, 0600, 0700};

void writeFile(const QString& root, const QString& path, const FileState& file) {
    const QString location = root + u'/' + path;
    QDir().mkpath(QFileInfo(location).absolutePath());
    QFile out(location);
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        out.write(file.bytes);
    }
    out.close();
    ::chmod(QFile::encodeName(location).constData(), mode_t(file.mode));
}

TreeState readTree(const QString& root) {
    TreeState tree;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString location = it.next();
        struct stat status;
        QFile in(location);
        if (::lstat(QFile::encodeName(location).constData(), &status) != 0 ||
            !S_ISREG(status.st_mode) || !in.open(QIODevice::ReadOnly)) {
            continue;
        }
        tree[location.mid(root.size() + 1)] = {in.readAll(), int(status.st_mode & 07777)};
    }
    return tree;
}

// A file can only be placed where no ancestor is a file and it is not itself a folder.
bool fits(const TreeState& tree, const QString& path) {
    for (const auto& [existing, file] : tree) {
        if (existing.startsWith(path + u'/') || path.startsWith(existing + u'/')) {
            return false;
        }
    }
    return true;
}

QString randomPath(QRandomGenerator& random) {
    QStringList parts;
    for (int level = random.bounded(3); level > 0; --level) {
        parts.append("d" + kNames[random.bounded(kNames.size())]);
    }
    parts.append(kNames[random.bounded(kNames.size())]);
    return parts.join(u'/');
}

QByteArray randomBytes(QRandomGenerator& random, bool largeFiles) {
    const int size =
        !largeFiles || random.bounded(8) ? random.bounded(64) : random.bounded(64'000, 700'000);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes) {
        byte = char(random.bounded(256));
    }
    return bytes;
}

bool isTemporary(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    return name.startsWith(".velk-") && name.endsWith(".tmp");
}

// The peer: every selected file replaced atomically in turn, as a careful copy would.
void applyFileByFile(const std::vector<FileChange>& selection, const QString& project,
                     const QString& copy) {
    const PosixFiles::UniqueFd root = PosixFiles::openFolder(project);
    for (const FileChange& change : selection) {
        const auto [parent, name] = PosixFiles::splitParent(PosixFiles::encode(change.path));
        if (change.after) {
            QFile in(copy + u'/' + change.path);
            in.open(QIODevice::ReadOnly);
            const PosixFiles::UniqueFd folder = parent.empty()
                                                    ? PosixFiles::openFolder(project)
                                                    : PosixFiles::makeFolders(root.get(), parent);
            PosixFiles::writeAtomically(folder.get(), name, in.readAll(),
                                        mode_t(*change.afterMode & 0777));
        } else {
            const PosixFiles::UniqueFd folder =
                parent.empty() ? PosixFiles::openFolder(project)
                               : PosixFiles::openBeneath(root.get(), parent, O_RDONLY);
            PosixFiles::removeFile(folder.get(), name);
        }
    }
}

// Runs `work` in a child that is killed at its file operation number `step` (0: never) or,
// when `delayMicroseconds` is given, after that delay. Returns the wait status.
template <typename Work>
int killedChild(Work work, int step, std::optional<int> delayMicroseconds) {
    const pid_t child = ::fork();
    if (child == 0) {
        int calls = 0;
        if (step > 0) {
            PosixFiles::setFaultHook([&](std::string_view, std::string_view) {
                if (++calls == step) {
                    ::raise(SIGKILL);
                }
                return 0;
            });
        }
        int code = 0;
        try {
            work();
        } catch (...) {
            code = 2;
        }
        ::_exit(code);
    }
    if (delayMicroseconds) {
        ::usleep(useconds_t(*delayMicroseconds));
        ::kill(child, SIGKILL);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

}  // namespace

RandomRun layOutRandomRun(QRandomGenerator& random, const QString& base, int maxFiles,
                          bool largeFiles) {
    const QString project = base + "/project";
    const QString copy = base + "/copy";
    QDir().mkpath(project);
    const auto randomFile = [&] {
        return FileState{randomBytes(random, largeFiles), kModes[random.bounded(kModes.size())]};
    };
    RandomRun run;
    for (int count = random.bounded(1, maxFiles + 1); count > 0; --count) {
        const QString path = randomPath(random);
        if (fits(run.project, path)) {
            run.project[path] = randomFile();
            writeFile(project, path, run.project[path]);
        }
    }
    RunFiles::snapshot(project, base + "/baseline");
    RunFiles::snapshot(base + "/baseline", copy);
    run.copy = run.project;
    for (int edits = random.bounded(1, 6); edits > 0; --edits) {
        const int action = random.bounded(4);
        if (action == 0 || run.copy.empty()) {
            const QString path = randomPath(random);
            if (!run.copy.contains(path) && fits(run.copy, path) && fits(run.project, path) &&
                !QFileInfo::exists(copy + u'/' + path)) {
                run.copy[path] = randomFile();
                writeFile(copy, path, run.copy[path]);
            }
            continue;
        }
        auto it = std::next(run.copy.begin(), random.bounded(int(run.copy.size())));
        if (action == 1) {  // new bytes, now and then the same ones
            it->second.bytes = random.bounded(4) ? randomFile().bytes : it->second.bytes;
            writeFile(copy, it->first, it->second);
        } else if (action == 2) {
            QFile::remove(copy + u'/' + it->first);
            run.copy.erase(it);
        } else {
            it->second.mode = kModes[random.bounded(kModes.size())];
            writeFile(copy, it->first, it->second);
        }
    }
    return run;
}

CrashTally runCrashRounds(int rounds, quint32 seed, const QString& scratch, Applier applier) {
    CrashTally tally;
    QRandomGenerator random(seed);
    const QByteArray formerDataHome = qgetenv("XDG_DATA_HOME");
    const bool hadDataHome = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    QDir().mkpath(scratch + "/data");
    qputenv("XDG_DATA_HOME", QFile::encodeName(scratch + "/data"));
    const QDir inProgress(AppPaths::dataRoot() + "/Applies in progress");
    auto problem = [&](const QString& text) {
        if (tally.problems.size() < 10) {
            tally.problems.append(QStringLiteral("round %1: ").arg(tally.rounds) + text);
        }
    };

    while (tally.rounds < rounds) {
        const QString base = scratch + "/round";
        QDir(base).removeRecursively();
        const QString project = base + "/project";
        const QString copy = base + "/copy";
        const RandomRun run = layOutRandomRun(random, base, 11, true);
        const TreeState& before = run.project;
        const TreeState& copied = run.copy;
        const std::vector<FileChange> changes = RunFiles::changes(base + "/baseline", copy);
        if (changes.empty()) {
            continue;
        }
        std::vector<FileChange> selection;
        for (const FileChange& change : changes) {
            if (random.bounded(3)) {
                selection.push_back(change);
            }
        }
        if (selection.empty()) {
            selection.push_back(changes[size_t(random.bounded(int(changes.size())))]);
        }
        TreeState after = before;
        for (const FileChange& change : selection) {
            if (const auto target = fileAt(copied, change.path)) {
                after[change.path] = {target->bytes, target->mode & 0777};
            } else {
                after.erase(change.path);
            }
        }

        // The apply, killed at a random step (two rounds in three) or after a random delay.
        // VELK's apply takes about ten file operations and eight more per file, the copy
        // file by file four per file; the ranges let some applies complete.
        const bool byStep = random.bounded(3) != 0;
        const int files = int(selection.size());
        const int steps = applier == Applier::Velk ? 12 + 9 * files : 2 + 4 * files;
        const int step = 1 + int(random.generateDouble() * steps);
        const int delay = random.bounded(6000);
        QElapsedTimer clock;
        clock.start();
        const int status = killedChild(
            [&] {
                if (applier == Applier::Velk) {
                    RunFiles::apply(selection, project, copy, base + "/backup");
                } else {
                    applyFileByFile(selection, project, copy);
                }
            },
            byStep ? step : 0, byStep ? std::nullopt : std::optional(delay));
        tally.applySeconds += double(clock.nsecsElapsed()) / 1e9;
        const bool completed = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
            problem(QStringLiteral("the apply failed instead of being killed"));
        }
        ++(completed ? tally.completed : tally.killedApplying);

        // The user edits one of the selected files before VELK starts again.
        std::optional<std::pair<QString, QByteArray>> edit;
        const bool editing = random.bounded(4) == 0;
        const QString edited = selection[size_t(random.bounded(int(selection.size())))].path;
        if (editing) {
            const QString path = edited;
            if (!QFileInfo(project + u'/' + path).isDir()) {
                edit = {path,
                        QStringLiteral("the user's edit in round %1").arg(tally.rounds).toUtf8()};
                writeFile(project, path, {edit->second, 0644});
                ++tally.userEdits;
            }
        }

        // The next start: sometimes killed in its recovery too, then started once more.
        clock.restart();
        const bool killRecovery = random.bounded(4) == 0;
        const int recoveryStep = random.bounded(1, 6);
        if (applier == Applier::Velk && killRecovery && !completed) {
            const int recovering = killedChild([] { RunFiles::recoverInterruptedApplies(); },
                                               recoveryStep, std::nullopt);
            tally.killedRecovering += WIFSIGNALED(recovering) ? 1 : 0;
        }
        RunFiles::recoverInterruptedApplies();
        tally.recoverySeconds += double(clock.nsecsElapsed()) / 1e9;

        TreeState now = readTree(project);
        for (auto it = now.begin(); it != now.end();) {
            if (isTemporary(it->first)) {
                ++tally.leftTemporaries;
                problem(QStringLiteral("temporary file left: ") + it->first);
                it = now.erase(it);
            } else {
                ++it;
            }
        }
        for (const QString& listed : inProgress.entryList({"*.json"}, QDir::Files)) {
            ++tally.leftInProgress;
            problem(QStringLiteral("apply left in progress"));
            QFile::remove(inProgress.filePath(listed));
        }
        auto withoutEdit = [&](TreeState tree) {
            if (edit) {
                tree.erase(edit->first);
            }
            return tree;
        };
        if (withoutEdit(now) == withoutEdit(before)) {
            ++tally.rolledBack;
        } else if (withoutEdit(now) == withoutEdit(after)) {
            ++tally.keptApplied;
        } else {
            ++tally.halfApplied;
            problem(QStringLiteral("half applied"));
        }
        if (applier == Applier::Velk && completed && withoutEdit(now) != withoutEdit(after)) {
            problem(QStringLiteral("a completed apply was undone"));
        }
        std::set<QString> paths;
        for (const TreeState* tree : {&before, &std::as_const(after)}) {
            for (const auto& [path, file] : *tree) {
                paths.insert(path);
            }
        }
        for (const QString& path : paths) {
            const std::optional<FileState> found = fileAt(now, path);
            if (edit && edit->first == path) {
                if (!found || found->bytes != edit->second) {
                    ++tally.lostFiles;
                    problem(QStringLiteral("the user's edit of %1 was lost").arg(path));
                }
            } else if (found != fileAt(before, path) && found != fileAt(after, path)) {
                ++tally.lostFiles;
                problem(
                    QStringLiteral("%1 holds neither its original nor the applied file").arg(path));
            }
        }
        ++tally.rounds;
    }
    QDir(scratch + "/round").removeRecursively();
    if (hadDataHome) {
        qputenv("XDG_DATA_HOME", formerDataHome);
    } else {
        qunsetenv("XDG_DATA_HOME");
    }
    return tally;
}
