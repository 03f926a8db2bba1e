// velk-runs: the team-run file operations from the command line, for scripts, benchmarks
// and debugging a run. It calls the same code as the application.
//
//   velk-runs snapshot SRC DST
//   velk-runs hash DIR
//   velk-runs changes BASELINE COPY
//   velk-runs apply --baseline B --copy C --project P --backup K [PATH...]
//   velk-runs recover
//
// With --large-projects first, the listing's limits are those of the "Large projects" setting
// (200,000 files, 20 GB) instead of 5,000 files and 150 MB.
//
// An apply first rolls back an earlier apply to the same project that was interrupted, and
// prints what that recovery did; `recover` rolls back every interrupted apply now.
// Paths in the output escape backslashes and control characters (\n, \t, \xHH) so that each
// entry stays on one line.
#include "core/runs/RunFiles.h"

#include <QCoreApplication>
#include <QSet>
#include <QStringList>

#include <cstdio>

namespace {

constexpr int kRefused = 1;
constexpr int kUsage = 2;

// The limits of every operation; --large-projects raises them.
RunLimits limits;

void print(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fputc('\n', stream);
}

QString escaped(const QString& path) {
    QString text;
    text.reserve(path.size());
    for (const QChar character : path) {
        const char16_t code = character.unicode();
        if (code == u'\\') {
            text += QStringLiteral("\\\\");
        } else if (code == u'\n') {
            text += QStringLiteral("\\n");
        } else if (code == u'\t') {
            text += QStringLiteral("\\t");
        } else if (code < 0x20 || code == 0x7F) {
            text += QStringLiteral("\\x%1").arg(int(code), 2, 16, QLatin1Char('0'));
        } else {
            text += character;
        }
    }
    return text;
}

int usage() {
    print(stderr,
          QStringLiteral("usage: velk-runs snapshot SRC DST\n"
                         "       velk-runs hash DIR\n"
                         "       velk-runs changes BASELINE COPY\n"
                         "       velk-runs apply --baseline B --copy C --project P --backup K "
                         "[PATH...]\n"
                         "       velk-runs recover\n"
                         "       velk-runs --large-projects COMMAND ..."));
    return kUsage;
}

// The report of each rolled-back apply, its paths escaped like every other path printed.
void printRecoveries(const std::vector<RunFiles::ApplyRecovery>& recoveries) {
    for (const RunFiles::ApplyRecovery& recovery : recoveries) {
        RunFiles::ApplyRecovery shown = recovery;
        for (QStringList* paths :
             {&shown.restored, &shown.keptEdits, &shown.unrestored, &shown.removedTemporaries}) {
            for (QString& path : *paths) {
                path = escaped(path);
            }
        }
        print(stdout, shown.describe());
    }
}

int applyCommand(const QStringList& arguments) {
    QString baseline;
    QString copy;
    QString project;
    QString backup;
    QStringList paths;
    for (qsizetype index = 0; index < arguments.size(); ++index) {
        const QString& argument = arguments[index];
        QString* option = argument == QStringLiteral("--baseline")  ? &baseline
                          : argument == QStringLiteral("--copy")    ? &copy
                          : argument == QStringLiteral("--project") ? &project
                          : argument == QStringLiteral("--backup")  ? &backup
                                                                    : nullptr;
        if (option && index + 1 < arguments.size()) {
            *option = arguments[++index];
        } else if (argument == QStringLiteral("--")) {
            paths += arguments.mid(index + 1);
            break;
        } else if (argument.startsWith(QStringLiteral("--"))) {
            return usage();
        } else {
            paths.append(argument);
        }
    }
    if (baseline.isEmpty() || copy.isEmpty() || project.isEmpty() || backup.isEmpty()) {
        return usage();
    }
    const std::vector<FileChange> all = RunFiles::changes(baseline, copy, limits);
    std::vector<FileChange> selected;
    if (paths.isEmpty()) {
        selected = all;
    } else {
        QSet<QString> wanted(paths.begin(), paths.end());
        for (const FileChange& change : all) {
            if (wanted.remove(change.path)) {
                selected.push_back(change);
            }
        }
        if (!wanted.isEmpty()) {
            for (const QString& path : wanted) {
                print(stderr, QStringLiteral("No change to apply for ") + escaped(path));
            }
            return kUsage;
        }
    }
    std::vector<RunFiles::ApplyRecovery> recovered;
    try {
        RunFiles::apply(selected, project, copy, backup, &recovered, {}, limits);
    } catch (const RunFilesError&) {
        printRecoveries(recovered);
        throw;
    }
    printRecoveries(recovered);
    for (const FileChange& change : selected) {
        print(stdout, change.kind() + QLatin1Char('\t') + escaped(change.path));
    }
    print(stdout, QStringLiteral("Applied %1 files. Originals are saved in the run’s backup "
                                 "folder.")
                      .arg(selected.size()));
    return 0;
}

int run(QStringList arguments) {
    if (!arguments.isEmpty() && arguments.front() == QStringLiteral("--large-projects")) {
        limits = RunLimits::largeProjects();
        arguments.removeFirst();
    }
    if (arguments.isEmpty()) {
        return usage();
    }
    const QString command = arguments.front();
    const QStringList rest = arguments.mid(1);
    if (command == QStringLiteral("snapshot") && rest.size() == 2) {
        RunFiles::snapshot(rest[0], rest[1], {}, limits);
        return 0;
    }
    if (command == QStringLiteral("hash") && rest.size() == 1) {
        for (const auto& [relative, location] : RunFiles::files(rest[0], limits)) {
            print(stdout, RunFiles::hash(location) + QStringLiteral("  ") + escaped(relative));
        }
        return 0;
    }
    if (command == QStringLiteral("changes") && rest.size() == 2) {
        for (const FileChange& change : RunFiles::changes(rest[0], rest[1], limits)) {
            print(stdout, change.kind() + QLatin1Char('\t') + escaped(change.path));
        }
        return 0;
    }
    if (command == QStringLiteral("apply")) {
        return applyCommand(rest);
    }
    if (command == QStringLiteral("recover") && rest.isEmpty()) {
        const std::vector<RunFiles::ApplyRecovery> recoveries =
            RunFiles::recoverInterruptedApplies();
        printRecoveries(recoveries);
        if (recoveries.empty()) {
            print(stdout, QStringLiteral("No interrupted apply."));
        }
        return 0;
    }
    return usage();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    try {
        return run(QCoreApplication::arguments().mid(1));
    } catch (const RunFilesError& error) {
        print(stderr, error.message());
        return kRefused;
    } catch (const std::exception& error) {
        print(stderr, QString::fromLocal8Bit(error.what()));
        return kRefused;
    }
}
