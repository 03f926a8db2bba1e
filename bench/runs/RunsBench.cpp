// Team-run file operations against the standard tools, on a generated project of 5,000 files
// and about 148 MB (many small sources, some large binaries, nested folders, executables):
//
//   snapshot (project -> baseline) and each per-assistant copy (baseline -> copy)
//       against `cp -a` of the same tree (fastest of three runs in the same session);
//   changes of a copy with 2% of its files edited, against one `sha256sum` pass over one
//       tree and against `git status` in a repository of the same tree with the same edits
//       (its index made when the files were committed, as a copy's stamps are when it is
//       made).
//
// Every operation runs as a process (`velk-runs`, the application's own code, and the peer),
// three times, interleaved, after a `sync` so that no run pays for the previous one's
// write-back. Usage: velk-bench-runs [SCRATCH_FOLDER]
#include "GeneratedFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int kFiles = 5000;
constexpr int kLargeFiles = 40;
constexpr qint64 kTargetBytes = 148'000'000;
constexpr int kTrials = 3;

using bench::content;
using bench::Random;
using bench::writeFile;

// Lays out the project; returns the relative paths of its files.
QStringList generateProject(const QString& root) {
    Random random;
    QStringList folders;
    for (int top = 0; top < 12; ++top) {
        const QString module = QStringLiteral("src/module%1").arg(top);
        folders << module;
        for (int sub = 0; sub < 6; ++sub) {
            folders << module + QStringLiteral("/part%1").arg(sub);
            for (int deep = 0; deep < 2; ++deep) {
                folders << module + QStringLiteral("/part%1/detail%2").arg(sub).arg(deep);
            }
        }
    }
    folders << QStringLiteral("assets/images") << QStringLiteral("assets/models")
            << QStringLiteral("scripts") << QStringLiteral("docs");
    for (const QString& folder : folders) {
        QDir().mkpath(root + u'/' + folder);
    }

    // Large binaries share about 80% of the bytes; the sources share the rest.
    const qint64 largeBytes = kTargetBytes * 8 / 10;
    const qint64 smallBytes = kTargetBytes - largeBytes;
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
            const QString folder = folders[random.below(int(folders.size()))];
            path = folder + QStringLiteral("/file%1.%2").arg(index).arg(index % 3 ? "c" : "h");
            // Sizes from about 0.2 to 10 KB, averaging to the share of the sources.
            const qint64 average = smallBytes / (kFiles - kLargeFiles);
            size = 200 + random.below(int(2 * average - 400));
        }
        const bool executable = large ? index % 4 == 0 : index % 20 == 0;
        if (!writeFile(root + u'/' + path, content(random, size, !large), executable)) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(path));
            return {};
        }
        paths << path;
    }
    return paths;
}

struct Run {
    double seconds = 0;
    QByteArray output;
};

Run timed(const QString& program, const QStringList& arguments, const QString& folder = QString()) {
    QProcess::execute(QStringLiteral("sync"), {});
    QProcess process;
    if (!folder.isEmpty()) {
        process.setWorkingDirectory(folder);
    }
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(600'000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        std::fprintf(stderr, "failed: %s %s\n", qPrintable(program),
                     qPrintable(arguments.join(u' ').left(200)));
        std::exit(1);
    }
    Run run;
    run.seconds = double(timer.nsecsElapsed()) / 1e9;
    run.output = process.readAllStandardOutput();
    return run;
}

void removeTree(const QString& path) {
    QDir(path).removeRecursively();
}

double fastest(const std::vector<double>& times) {
    return *std::min_element(times.begin(), times.end());
}

QString trials(const std::vector<double>& times) {
    QStringList texts;
    for (double time : times) {
        texts << QString::number(time, 'f', 3);
    }
    return texts.join(QStringLiteral(" / "));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QString tool = QStringLiteral(VELK_RUNS_TOOL);
    QTemporaryDir temporary(argc > 1 ? QString::fromLocal8Bit(argv[1]) + "/velk-bench-runs-XXXXXX"
                                     : QDir::tempPath() + "/velk-bench-runs-XXXXXX");
    if (!temporary.isValid()) {
        std::fprintf(stderr, "cannot create a scratch folder\n");
        return 1;
    }
    const QString root = temporary.path();
    const QString project = root + "/project";
    const QString baseline = root + "/baseline";
    const QString copyA = root + "/copy-A";
    const QString copyB = root + "/copy-B";
    const QString copyPeer = root + "/cp-a";

    const QStringList paths = generateProject(project);
    if (paths.size() != kFiles) {
        return 1;
    }
    qint64 totalBytes = 0;
    for (const QString& path : paths) {
        totalBytes += QFileInfo(project + u'/' + path).size();
    }
    std::printf("project: %lld files, %.1f MB, in %s\n", qlonglong(paths.size()),
                double(totalBytes) / 1e6, qPrintable(root));

    // Interleaved trials: cp -a, snapshot, copy A, copy B.
    std::vector<double> peerCopy, snapshot, firstCopy, secondCopy;
    for (int trial = 0; trial < kTrials; ++trial) {
        removeTree(copyPeer);
        removeTree(baseline);
        removeTree(copyA);
        removeTree(copyB);
        peerCopy.push_back(timed(QStringLiteral("cp"), {"-a", project, copyPeer}).seconds);
        snapshot.push_back(timed(tool, {"snapshot", project, baseline}).seconds);
        firstCopy.push_back(timed(tool, {"snapshot", baseline, copyA}).seconds);
        secondCopy.push_back(timed(tool, {"snapshot", baseline, copyB}).seconds);
    }
    removeTree(copyPeer);

    // The copies must hold the same bytes as the project, checked by a peer.
    for (const QString& tree : {baseline, copyA, copyB}) {
        if (QProcess::execute(QStringLiteral("diff"), {"-rq", project, tree}) != 0) {
            std::fprintf(stderr, "%s differs from the project\n", qPrintable(tree));
            return 1;
        }
    }

    // The peer's repository: the same tree, committed.
    const QString repository = root + "/git";
    if (QProcess::execute(QStringLiteral("cp"), {"-a", project, repository}) != 0) {
        return 1;
    }
    for (const QStringList& arguments :
         {QStringList{"init", "-q"}, QStringList{"add", "-A"},
          QStringList{"-c", "user.name=bench", "-c", "user.email=bench@example.invalid", "commit",
                      "-q", "-m", "tree"}}) {
        QProcess git;
        git.setWorkingDirectory(repository);
        git.start(QStringLiteral("git"), arguments);
        if (!git.waitForFinished(600'000) || git.exitCode() != 0) {
            std::fprintf(stderr, "git %s failed\n", qPrintable(arguments.join(u' ')));
            return 1;
        }
    }

    // Two files in a hundred edited in copy A and in the repository (some sources, one large
    // binary), after a pause so that no edit falls in the clock tick of the copy's making.
    QThread::msleep(50);
    QStringList edited;
    for (int index = 0; edited.size() < kFiles / 50; index += 97) {
        edited << paths[(index + 13) % kFiles];
    }
    for (const QString& tree : {copyA, repository}) {
        Random random;
        random.state = 42;
        for (const QString& path : edited) {
            QFile file(tree + u'/' + path);
            if (!file.open(QIODevice::ReadWrite)) {
                return 1;
            }
            file.seek(file.size() / 2);
            file.write(content(random, 64, true));
        }
    }

    std::vector<double> changes, peerHash, peerStatus;
    qsizetype changeLines = 0;
    QStringList relative = paths;
    for (int trial = 0; trial < kTrials; ++trial) {
        peerHash.push_back(timed(QStringLiteral("sha256sum"), relative, project).seconds);
        peerStatus.push_back(
            timed(QStringLiteral("git"), {"status", "--porcelain"}, repository).seconds);
        const Run run = timed(tool, {"changes", baseline, copyA});
        changes.push_back(run.seconds);
        changeLines = run.output.count('\n');
    }
    if (changeLines != edited.size()) {
        std::fprintf(stderr, "expected %lld changes, velk-runs reported %lld\n",
                     qlonglong(edited.size()), qlonglong(changeLines));
        return 1;
    }

    std::printf("\n%-44s %10s   %-38s %10s\n", "velk-runs", "seconds", "peer", "seconds");
    // `allowed`: how many times the peer's time the goal grants.
    auto row = [](const char* ours, double ourTime, const char* peer, double peerTime,
                  double allowed = 1.0) {
        std::printf("%-44s %10.3f   %-38s %10.3f   %s\n", ours, ourTime, peer, peerTime,
                    ourTime <= peerTime * allowed ? "ok" : "SLOWER");
    };
    row("snapshot project -> baseline", fastest(snapshot), "cp -a project (fastest of 3)",
        fastest(peerCopy));
    row("copy baseline -> assistant copy 1", fastest(firstCopy), "cp -a project (fastest of 3)",
        fastest(peerCopy));
    row("copy baseline -> assistant copy 2", fastest(secondCopy), "cp -a project (fastest of 3)",
        fastest(peerCopy));
    row("changes (100 edited)", fastest(changes), "sha256sum, one tree (fastest of 3)",
        fastest(peerHash));
    row("changes (100 edited)", fastest(changes), "git status (2x allowed, fastest of 3)",
        fastest(peerStatus), 2.0);
    std::printf("\nall trials (s): cp -a %s | snapshot %s | copy 1 %s | copy 2 %s\n",
                qPrintable(trials(peerCopy)), qPrintable(trials(snapshot)),
                qPrintable(trials(firstCopy)), qPrintable(trials(secondCopy)));
    std::printf("                sha256sum %s | git status %s | changes %s\n",
                qPrintable(trials(peerHash)), qPrintable(trials(peerStatus)),
                qPrintable(trials(changes)));
    return 0;
}
