#include "app/selftest/SelfTest.h"

#include "core/runs/FileDiff.h"
#include "core/runs/RunFiles.h"
#include "core/runs/RunStore.h"

#include <QDir>
#include <QFile>

namespace {

bool write(const QString& path, const QByteArray& bytes,
           QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size()) {
        return false;
    }
    file.close();
    return file.setPermissions(permissions);
}

QByteArray read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

QString kinds(const std::vector<FileChange>& changes) {
    QStringList lines;
    for (const FileChange& change : changes) {
        lines.append(change.kind() + QStringLiteral(": ") + change.path);
    }
    return lines.join(QStringLiteral(", "));
}

// A whole review cycle in a scratch folder: snapshot the project, let an "assistant" edit
// its copy, list the changes, apply them, then prove that a failure halfway through the
// writes puts every file back and that a stale list is refused.
SelfTestResult snapshotEditChangesApplyRollback(SelfTestContext& context) {
    const QString root = QDir(context.outputFolder).filePath(QStringLiteral("runs"));
    const QString project = root + QStringLiteral("/project");
    const QString run = root + QStringLiteral("/run");
    const QString baseline = run + QStringLiteral("/baseline");
    const QString copy = run + QStringLiteral("/copy");
    const auto executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    if (!write(project + "/main.txt", "original") || !write(project + "/old.txt", "old") ||
        !write(project + "/.env", "SECRET=1") || !write(project + "/zz", "a file")) {
        return QStringLiteral("could not lay out the project in ") + project;
    }
    try {
        RunFiles::snapshot(project, baseline);
        if (QFile::exists(baseline + "/.env")) {
            return QStringLiteral("the snapshot copied .env");
        }
        RunFiles::snapshot(baseline, copy);
        write(copy + "/main.txt", "edited");
        write(copy + "/src/new.sh", "#!/bin/sh\n", executable);
        QFile::remove(copy + "/old.txt");
        const std::vector<FileChange> changes = RunFiles::changes(baseline, copy);
        const QString expected =
            QStringLiteral("Changed: main.txt, Removed: old.txt, Added: src/new.sh");
        if (kinds(changes) != expected) {
            return QStringLiteral("changes were \"%1\", expected \"%2\"")
                .arg(kinds(changes), expected);
        }

        // Rollback: the assistant turned the file "zz" into a folder; selecting only the file
        // inside it makes the writes fail on the project's "zz" after three files were made.
        QFile::remove(copy + "/zz");
        write(copy + "/zz/inside.txt", "blocked");
        std::vector<FileChange> failing;
        for (const FileChange& change : RunFiles::changes(baseline, copy)) {
            if (change.path != QStringLiteral("zz")) {
                failing.push_back(change);
            }
        }
        if (failing.size() != 4 || failing.back().path != QStringLiteral("zz/inside.txt")) {
            return QStringLiteral("unexpected changes before the rollback: ") + kinds(failing);
        }
        bool refused = false;
        try {
            RunFiles::apply(failing, project, copy, run + QStringLiteral("/backup-1"));
        } catch (const RunFilesError&) {
            refused = true;
        }
        if (!refused || read(project + "/main.txt") != "original" ||
            read(project + "/old.txt") != "old" || QFile::exists(project + "/src")) {
            return QStringLiteral("a failed apply did not restore the project");
        }

        QDir(copy + "/zz").removeRecursively();
        write(copy + "/zz", "a file");
        RunFiles::apply(changes, project, copy, run + QStringLiteral("/backup-2"));
        if (read(project + "/main.txt") != "edited" || QFile::exists(project + "/old.txt") ||
            !(QFile::permissions(project + "/src/new.sh") & QFile::ExeOwner) ||
            read(run + "/backup-2/main.txt") != "original" ||
            read(project + "/.env") != "SECRET=1") {
            return QStringLiteral("the apply did not leave the expected project and backup");
        }
        try {
            RunFiles::apply(changes, project, copy, run + QStringLiteral("/backup-3"));
            return QStringLiteral("a second apply of the same list was not refused");
        } catch (const RunFilesError& error) {
            if (!error.message().startsWith(QStringLiteral("main.txt changed in your project"))) {
                return QStringLiteral("the stale apply failed with: ") + error.message();
            }
        }
    } catch (const RunFilesError& error) {
        return error.message();
    }
    return std::nullopt;
}

SelfTestResult runRecordsSaveAndLoad(SelfTestContext& context) {
    const QString storage = QDir(context.outputFolder).filePath(QStringLiteral("runs-storage"));
    TeamRun run;
    run.id = QUuid::createUuid();
    run.prompt = QStringLiteral("Check the self-test");
    run.project = QStringLiteral("/project");
    run.root = storage + QStringLiteral("/R1");
    run.created = QDateTime::currentDateTimeUtc();
    run.copies.push_back(
        {QUuid::createUuid(), QStringLiteral("shell"), run.root + "/C", QUuid::createUuid(), 0});
    QDir().mkpath(run.root);
    if (const Result<void> saved = RunStore::save(run); !saved) {
        return saved.error().message;
    }
    const auto runs = RunStore::load(storage);
    if (!runs || runs->size() != 1 || runs->front() != run) {
        return QStringLiteral("the saved run did not load back unchanged");
    }
    return std::nullopt;
}

// The review's line diff, through the diff module the program opens beside it (installed in
// ../lib/velk).
SelfTestResult reviewComparesLines(SelfTestContext&) {
    const auto version = [](const QByteArray& bytes) {
        return FileVersion{FileVersion::State::Read, bytes, bytes.size()};
    };
    const FileDiff diff =
        LineDiff::compute(QStringLiteral("main.txt"), version("one\ntwo\n"), version("one\n2\n"));
    if (diff.kind != FileDiff::Kind::Text) {
        return QStringLiteral("the line diff was not made: ") + diff.summary();
    }
    if (diff.added != 1 || diff.removed != 1) {
        return QStringLiteral("the line diff found %1 added and %2 removed lines, expected 1 and 1")
            .arg(diff.added)
            .arg(diff.removed);
    }
    return std::nullopt;
}

}  // namespace

std::vector<SelfTestCheck> runsChecks() {
    return {
        {QStringLiteral("runs: snapshot, edit, changes, apply and rollback"),
         snapshotEditChangesApplyRollback},
        {QStringLiteral("runs: run records save and load"), runRecordsSaveAndLoad},
        {QStringLiteral("runs: the review compares lines"), reviewComparesLines},
    };
}
