// velk-bench-large: team runs on large projects ("Large projects" on) next to the standard
// tools on the same trees, on tmpfs and on a Btrfs loop image (where copies are reflinks), in
// one run:
//
//   trees    generated: 50,000 files and 1.5 GB (small sources in nested folders, 100 large
//            binaries, some executables); real: the regular files of /usr/share, up to
//            50,000 files and 1.5 GB, copied in;
//   copies   the snapshot (project -> baseline) and an assistant's copy (baseline -> copy),
//            `velk-runs --large-projects snapshot`, against `cp -a` of the same tree (fastest
//            of two, interleaved, each after a `sync`);
//   changes  of the copy with 2% of its files edited (`velk-runs --large-projects changes`)
//            against `git status` in a repository of the same tree with the same edits, its
//            index made when the tree was copied, as a copy's stamps are;
//   review   the Team runs page reading that copy: from inspect() to its list of changes
//            drawn (fastest of two).
//
// Goals: each copy no slower than `cp -a`, changes within 2x `git status`, the review list
// within 200 ms. Mounting needs root; a file system that cannot be made (no loop device, no
// mkfs.btrfs) is skipped with the reason. Usage: velk-bench-large [tmpfs] [btrfs]
#include "GeneratedFiles.h"

#include "core/base/Background.h"
#include "core/runs/RunFiles.h"
#include "core/runs/RunStore.h"
#include "core/services/Preferences.h"
#include "core/workspace/Workspace.h"
#include "ui/kit/QtDialogs.h"
#include "ui/navigation/Navigator.h"
#include "ui/runs/TeamRunsPage.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QListView>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace {

constexpr int kFiles = 50'000;
constexpr qint64 kBytes = 1'500'000'000;
constexpr int kLargeFiles = 100;
constexpr int kTrials = 2;
constexpr int kEditEvery = 50;  // 2% of the files

const QString kTool = QStringLiteral(VELK_RUNS_TOOL);

using bench::content;
using bench::Random;

[[noreturn]] void fail(const QString& what) {
    std::fprintf(stderr, "%s\n", qPrintable(what));
    std::exit(1);
}

void writeFile(const QString& path, const QByteArray& bytes, bool executable) {
    if (!bench::writeFile(path, bytes, executable)) {
        fail("could not write " + path);
    }
}

// The generated project; returns its files' relative paths.
QStringList generateProject(const QString& root) {
    Random random;
    QStringList folders;
    for (int top = 0; top < 40; ++top) {
        for (int sub = 0; sub < 10; ++sub) {
            for (int deep = 0; deep < 3; ++deep) {
                folders
                    << QStringLiteral("src/module%1/part%2/detail%3").arg(top).arg(sub).arg(deep);
            }
        }
    }
    folders << QStringLiteral("assets/images") << QStringLiteral("assets/models");
    for (const QString& folder : folders) {
        QDir().mkpath(root + u'/' + folder);
    }
    const qint64 largeBytes = kBytes * 8 / 10;
    const qint64 average = (kBytes - largeBytes) / (kFiles - kLargeFiles);
    QStringList paths;
    for (int index = 0; index < kFiles; ++index) {
        const bool large = index < kLargeFiles;
        QString path;
        qint64 size = 0;
        if (large) {
            path = QStringLiteral("assets/%1/blob%2.bin")
                       .arg(index % 2 ? QStringLiteral("images") : QStringLiteral("models"))
                       .arg(index);
            size = largeBytes / kLargeFiles + (index % 5 - 2) * 100'000;
        } else {
            path = folders[random.below(int(folders.size()) - 2)] +
                   QStringLiteral("/file%1.%2").arg(index).arg(index % 3 ? "c" : "h");
            size = 200 + random.below(int(2 * average - 400));
        }
        writeFile(root + u'/' + path, content(random, size, !large),
                  large ? index % 4 == 0 : index % 20 == 0);
        paths << path;
    }
    return paths;
}

// Whether the team-run listing keeps the file at `relative` (the real tree holds only
// those, so that both sides copy the same files).
bool listed(const QString& relative) {
    static const QStringList kSkipped = {".git",   ".svn",   ".hg",   "node_modules", ".venv",
                                         "venv",   ".build", "build", "dist",         ".next",
                                         ".cache", ".ssh",   ".aws",  ".gnupg",       ".DS_Store"};
    for (const QString& part : relative.split(u'/')) {
        if (kSkipped.contains(part) || part.startsWith(QStringLiteral(".env")) ||
            part.endsWith(QStringLiteral(".app")) || part.endsWith(QStringLiteral(".framework"))) {
            return false;
        }
    }
    return true;
}

// The regular files of /usr/share, up to the tree's size, copied into `root`.
QStringList copyRealTree(const QString& root) {
    const QString source = QStringLiteral("/usr/share");
    QDirIterator files(source, QDir::Files | QDir::NoSymLinks | QDir::Hidden,
                       QDirIterator::Subdirectories);
    QStringList found;
    while (files.hasNext()) {
        found << files.next().mid(source.size() + 1);
    }
    found.sort();
    QStringList paths;
    qint64 bytes = 0;
    for (const QString& relative : found) {
        const QFileInfo info(source + u'/' + relative);
        if (!info.isReadable() || !listed(relative) || bytes + info.size() > kBytes) {
            continue;
        }
        const QString target = root + u'/' + relative;
        QDir().mkpath(QFileInfo(target).path());
        if (!QFile::copy(info.filePath(), target)) {
            continue;
        }
        bytes += info.size();
        paths << relative;
        if (paths.size() == kFiles) {
            break;
        }
    }
    return paths;
}

QByteArray runChecked(const QString& program, const QStringList& arguments,
                      const QString& folder = QString(), double* seconds = nullptr) {
    QProcess::execute(QStringLiteral("sync"), {});
    QProcess process;
    if (!folder.isEmpty()) {
        process.setWorkingDirectory(folder);
    }
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(1'200'000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        fail("failed: " + program + u' ' + arguments.join(u' ').left(200) + u'\n' +
             QString::fromLocal8Bit(process.readAllStandardError().left(500)));
    }
    if (seconds) {
        *seconds = double(timer.nsecsElapsed()) / 1e9;
    }
    return process.readAllStandardOutput();
}

double timed(const QString& program, const QStringList& arguments,
             const QString& folder = QString()) {
    double seconds = 0;
    runChecked(program, arguments, folder, &seconds);
    return seconds;
}

void removeTree(const QString& path) {
    QProcess::execute(QStringLiteral("rm"), {"-rf", path});
}

double fastest(const std::vector<double>& times) {
    return *std::min_element(times.begin(), times.end());
}

// Sleeps between events as the application's event loop does. processEvents() given a time
// limit never waits for events: polling it would keep one of the two cores busy while the
// review reads on pool threads.
template <typename Done>
void waitFor(Done done) {
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    // What the last event queued (the list's layout and repaint) runs as the event loop would.
    QCoreApplication::processEvents();
}

void row(const char* ours, double ourTime, const char* peer, double peerTime, double factor) {
    std::printf("  %-36s %8.3f   %-28s %8.3f   %s\n", ours, ourTime, peer, peerTime,
                ourTime <= peerTime * factor ? "ok" : "SLOWER");
}

// Seconds of the review's reading of the changes, in this process, as the page runs it.
double reviewRead(const TeamRun& run) {
    QElapsedTimer timer;
    timer.start();
    RunFiles::review(RunStore::baselineFolder(run), run.copies.front().directory, {},
                     RunLimits::largeProjects());
    return double(timer.nsecsElapsed()) / 1e9;
}

// The Team runs page reading `copy` of `run`: seconds from inspect() to the list drawn.
double reviewListShown(const TeamRun& run, const QString& storage, int expected) {
    MemoryPreferences preferences;
    QtDialogs dialogs;
    Workspace workspace(false, WorkspaceServices{&preferences, &dialogs, nullptr, nullptr});
    workspace.teamRuns.setLargeProjects(true);
    Navigator navigator(workspace.sessions, workspace.launcher);
    workspace.teamRuns.setRunStorageRoot(storage);
    workspace.teamRuns.loadTeamRuns();
    TeamRunsPage page(workspace.teamRuns, workspace.sessions, workspace.providers,
                      workspace.project, workspace.reviewLayout, navigator, dialogs, nullptr);
    page.resize(1400, 900);
    page.show();
    // What the workspace started on its own (finding the assistants' programs) is over first.
    Background::waitForIdle();
    QCoreApplication::processEvents();
    bool inspected = false;
    QObject::connect(&page, &TeamRunsPage::inspectionFinished, [&] { inspected = true; });
    QElapsedTimer timer;
    timer.start();
    page.inspect(run.copies.front());
    waitFor([&] { return inspected; });
    page.changeList()->viewport()->repaint();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (page.changeList()->model()->rowCount() != expected) {
        fail(QStringLiteral("the review listed %1 changes, expected %2")
                 .arg(page.changeList()->model()->rowCount())
                 .arg(expected));
    }
    return seconds;
}

// One tree on one file system: every row.
void measureTree(const QString& root, const QString& name, bool real) {
    const QString project = root + "/project";
    const QStringList paths = real ? copyRealTree(project) : generateProject(project);
    qint64 bytes = 0;
    for (const QString& path : paths) {
        bytes += QFileInfo(project + u'/' + path).size();
    }
    std::printf("\n%s tree: %lld files, %.1f MB\n", qPrintable(name), qlonglong(paths.size()),
                double(bytes) / 1e6);
    std::fflush(stdout);

    TeamRun run{QUuid::createUuid(),
                "Benchmark",
                project,
                root + "/runs/run",
                QDateTime::currentDateTimeUtc(),
                {}};
    const QString baseline = RunStore::baselineFolder(run);
    const QString copy = run.root + "/copy";
    run.copies.push_back(RunCopy{QUuid::createUuid(), "claude", copy, std::nullopt, 0});
    const QString peer = root + "/cp-a";
    std::vector<double> peerCopy, snapshot, copied;
    for (int trial = 0; trial < kTrials; ++trial) {
        for (const QString& tree : {peer, baseline, copy}) {
            removeTree(tree);
        }
        QDir().mkpath(run.root);
        peerCopy.push_back(timed("cp", {"-a", project, peer}));
        snapshot.push_back(timed(kTool, {"--large-projects", "snapshot", project, baseline}));
        copied.push_back(timed(kTool, {"--large-projects", "snapshot", baseline, copy}));
    }
    if (QProcess::execute("diff", {"-rq", project, copy}) != 0) {
        fail("the copy differs from the project");
    }

    // The peer's repository is the last `cp -a` of the project: its index holds every file's
    // stamps and object id (the objects themselves are not needed by a status).
    const QString repository = peer;
    runChecked("git", {"init", "-q"}, repository);
    runChecked("sh", {"-c", "git ls-files -z -o | git update-index -z --add --info-only --stdin"},
               repository);
    const QString tree =
        QString::fromLatin1(runChecked("git", {"write-tree", "--missing-ok"}, repository))
            .trimmed();
    const QString commit = QString::fromLatin1(runChecked("git",
                                                          {"-c", "user.name=bench", "-c",
                                                           "user.email=bench@example.invalid",
                                                           "commit-tree", tree, "-m", "tree"},
                                                          repository))
                               .trimmed();
    runChecked("git", {"update-ref", "HEAD", commit}, repository);

    // The same edits in the copy and the repository, after a pause so that no edit falls in
    // the clock tick of the copy's making.
    QThread::msleep(50);
    QStringList edited;
    for (int index = 0; index < paths.size(); index += kEditEvery) {
        edited << paths[index];
    }
    for (const QString& folder : {copy, repository}) {
        Random random;
        random.state = 42;
        for (const QString& path : edited) {
            QFile file(folder + u'/' + path);
            if (!file.open(QIODevice::ReadWrite)) {
                fail("cannot edit " + file.fileName());
            }
            file.seek(file.size() / 2);
            file.write(content(random, 64, true));
        }
    }

    std::vector<double> changes, status, review, read;
    if (!RunStore::save(run)) {
        fail("could not save the run");
    }
    for (int trial = 0; trial < kTrials; ++trial) {
        double seconds = 0;
        const QByteArray peerLines =
            runChecked("git", {"status", "--porcelain"}, repository, &seconds);
        status.push_back(seconds);
        const QByteArray ourLines =
            runChecked(kTool, {"--large-projects", "changes", baseline, copy}, {}, &seconds);
        changes.push_back(seconds);
        if (ourLines.count('\n') != edited.size() || peerLines.count('\n') != edited.size()) {
            fail(QStringLiteral("expected %1 changes; velk-runs found %2, git %3")
                     .arg(edited.size())
                     .arg(ourLines.count('\n'))
                     .arg(peerLines.count('\n')));
        }
        read.push_back(reviewRead(run));
        review.push_back(reviewListShown(run, root + "/runs", int(edited.size())));
    }

    std::printf("  %-36s %8s   %-28s %8s   goal\n", "velk", "seconds", "peer", "seconds");
    row("snapshot project -> baseline", fastest(snapshot), "cp -a project", fastest(peerCopy), 1);
    row("copy baseline -> assistant copy", fastest(copied), "cp -a project", fastest(peerCopy), 1);
    const QByteArray changed = QByteArray::number(edited.size());
    row(("changes (" + changed + " edited)").constData(), fastest(changes),
        "git status (2x allowed)", fastest(status), 2);
    std::printf("  %-36s %8.3f   %-28s %8.3f   %s\n", "review list shown (page, in all)",
                fastest(review), "goal", 0.2, fastest(review) < 0.2 ? "ok" : "SLOWER");
    std::printf("  %-36s %8.3f   (the list itself: %.3f)\n", "  of which reading the changes",
                fastest(read), std::max(0.0, fastest(review) - fastest(read)));
    std::printf(
        "  all trials (s): cp -a %.3f/%.3f, snapshot %.3f/%.3f, copy %.3f/%.3f, git "
        "status %.3f/%.3f, changes %.3f/%.3f, review %.3f/%.3f\n",
        peerCopy[0], peerCopy[1], snapshot[0], snapshot[1], copied[0], copied[1], status[0],
        status[1], changes[0], changes[1], review[0], review[1]);
    std::fflush(stdout);
    removeTree(root + "/project");
    removeTree(root + "/runs");
    removeTree(peer);
}

// A mounted scratch file system, unmounted (and its image removed) at the end.
class Mount {
public:
    Mount(const QString& kind, const QString& base) : m_kind(kind) {
        m_point = base + u'/' + kind;
        QDir().mkpath(m_point);
        if (kind == u"tmpfs") {
            if (run("mount", {"-t", "tmpfs", "-o", "size=8g", "tmpfs", m_point})) {
                m_mounted = true;
            }
            return;
        }
        if (findMkfs().isEmpty()) {
            m_problem = "mkfs.btrfs is not installed (btrfs-progs)";
            return;
        }
        // The image lives on disk, beside the scratch folder's parent.
        m_image = base + "/btrfs.img";
        if (!run("truncate", {"-s", "10G", m_image}) || !run(findMkfs(), {"-q", "-f", m_image})) {
            return;
        }
        if (run("mount", {"-o", "loop", m_image, m_point})) {
            m_mounted = true;
        }
    }
    ~Mount() {
        if (m_mounted) {
            QProcess::execute("umount", {m_point});
        }
        if (!m_image.isEmpty()) {
            QFile::remove(m_image);
        }
    }
    bool mounted() const { return m_mounted; }
    QString point() const { return m_point; }
    QString problem() const { return m_problem; }

private:
    static QString findMkfs() {
        for (const char* folder : {"/usr/sbin", "/sbin", "/usr/bin", "/bin"}) {
            const QString program = QString::fromLatin1(folder) + "/mkfs.btrfs";
            if (QFileInfo(program).isExecutable()) {
                return program;
            }
        }
        return {};
    }
    bool run(const QString& program, const QStringList& arguments) {
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForFinished(120'000) || process.exitCode() != 0 ||
            process.exitStatus() != QProcess::NormalExit) {
            m_problem = program.section(u'/', -1) + ' ' + arguments.first() + ": " +
                        QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
            if (m_problem.endsWith(u':') || process.error() == QProcess::FailedToStart) {
                m_problem += QStringLiteral(" could not run");
            }
            return false;
        }
        return true;
    }

    QString m_kind;
    QString m_point;
    QString m_image;
    QString m_problem;
    bool m_mounted = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("VELK_DIFF_MODULE")) {
        qputenv("VELK_DIFF_MODULE", VELK_DIFF_MODULE_FILE);
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    QStringList kinds = application.arguments().mid(1);
    if (kinds.isEmpty()) {
        kinds = {"tmpfs", "btrfs"};
    }
    // On disk (/var/tmp), so that the Btrfs image is not itself held in memory.
    QTemporaryDir scratch(QStringLiteral("/var/tmp/velk-bench-large-XXXXXX"));
    if (!scratch.isValid()) {
        fail("cannot create a scratch folder");
    }
    for (const QString& kind : kinds) {
        std::printf("\n== %s\n", qPrintable(kind));
        std::fflush(stdout);
        Mount mount(kind, scratch.path());
        if (!mount.mounted()) {
            std::printf("  skipped: %s\n", qPrintable(mount.problem()));
            continue;
        }
        measureTree(mount.point(), "generated", false);
        measureTree(mount.point(), "real (/usr/share)", true);
    }
    return 0;
}
