// velk-bench-workloads: what grows with the user's work, each next to a peer measured in the
// same run.
//
//   editor     one keystroke in the Files page's editor on a 1,999,999-byte file (the
//              workspace's editor buffer connected), next to a bare QPlainTextEdit;
//   search     one keystroke in the History page's search with a full history (50 snapshots
//              of 60,000 characters), next to hiding the rows of a list of 50;
//   session    the main thread's share of recording a finished session into a full
//              history, next to writing 4 MB to a file;
//   start-up   reading the preferences and a full history, next to an empty history;
//   listing    listing and sorting a folder of 20,000 entries, next to QDir::entryList
//              sorted by name, folders first.
//
// Figures are medians, in milliseconds of wall-clock time and of the main thread's CPU time.
// Usage: velk-bench-workloads [SCRATCH_FOLDER]
#include "StallMeter.h"

#include "core/appearance/Theme.h"
#include "core/services/Dialogs.h"
#include "core/services/PowerInhibitor.h"
#include "core/services/Preferences.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/PreferenceKeys.h"
#include "core/workspace/Workspace.h"
#include "ui/files/CodeEditor.h"
#include "ui/files/FilesPage.h"
#include "ui/history/HistoryPage.h"
#include "ui/navigation/Navigator.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QThread>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

class QuietDialogs : public Dialogs {
public:
    int alert(const Alert&) override { return 1; }
    std::optional<QString> open(const OpenPanel&) override { return std::nullopt; }
    std::optional<QString> save(const SavePanel&) override { return std::nullopt; }
};

class NoInhibitor : public PowerInhibitor {
public:
    int acquire(const QString&) override { return 1; }
    void release(int) override {}
};

struct Figure {
    double wall = 0;
    double cpu = 0;
};

// The median of `runs` measurements of `work`; `between` runs after each, unmeasured.
Figure median(int runs, const std::function<void(int)>& work,
              const std::function<void()>& between = {}) {
    std::vector<double> walls;
    std::vector<double> cpus;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        const double cpu = threadCpuMilliseconds();
        timer.start();
        work(run);
        walls.push_back(double(timer.nsecsElapsed()) / 1e6);
        cpus.push_back(threadCpuMilliseconds() - cpu);
        if (between) {
            between();
        }
    }
    std::sort(walls.begin(), walls.end());
    std::sort(cpus.begin(), cpus.end());
    return {walls[walls.size() / 2], cpus[cpus.size() / 2]};
}

void row(const char* what, const char* who, Figure figure) {
    std::printf("%-10s %-44s wall %8.2f   cpu %8.2f ms\n", what, who, figure.wall, figure.cpu);
}

void type(QWidget* target, char character) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A + (character - 'a'), Qt::NoModifier,
                    QString(QChar::fromLatin1(character)));
    QApplication::sendEvent(target, &press);
}

QByteArray largeFile() {
    QByteArray text;
    for (int line = 0; text.size() < 1'999'999; ++line) {
        text += "    value_" + QByteArray::number(line) + " = compute(" +
                QByteArray::number(line * 7) + ")  # note\n";
    }
    text.truncate(1'999'999);
    return text;
}

QList<HistoryEntry> fullHistory() {
    QList<HistoryEntry> entries;
    for (int index = 0; index < 50; ++index) {
        HistoryEntry entry;
        entry.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        entry.provider = index % 2 ? QStringLiteral("claude") : QStringLiteral("codex");
        entry.title = QStringLiteral("Task number %1").arg(index);
        entry.directory = QStringLiteral("/home/user/project");
        entry.started = QDateTime::currentDateTimeUtc();
        entry.exitCode = 0;
        QString output;
        while (output.size() < 60000) {
            output += QStringLiteral("line %1 of the assistant's output, with some text\n")
                          .arg(output.size());
        }
        entry.output = output.left(60000);
        entries.append(entry);
    }
    return entries;
}

void editorBenchmark(const QString& scratch, Workspace& workspace, Theme& theme, int keys) {
    const QString path = scratch + QStringLiteral("/large.py");
    const QByteArray text = largeFile();
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(text);
    file.close();
    workspace.project.adoptFolder(scratch);
    workspace.project.openFile(FileEntry{path, false});

    FilesPage page(workspace.project, workspace.launcher, theme);
    page.resize(1100, 700);
    page.show();
    QApplication::processEvents();
    const auto atMiddle = [](QPlainTextEdit& editor) {
        QTextCursor cursor = editor.textCursor();
        cursor.setPosition(editor.document()->characterCount() / 2);
        editor.setTextCursor(cursor);
        editor.setFocus();
        QApplication::processEvents();
    };
    atMiddle(*page.editor());
    const Figure velk = median(
        keys, [&](int key) { type(page.editor(), char('a' + key % 26)); },
        [] { QApplication::processEvents(); });
    page.hide();

    QPlainTextEdit bare;
    bare.setPlainText(QString::fromUtf8(text));
    bare.resize(900, 700);
    bare.show();
    atMiddle(bare);
    const Figure peer = median(
        keys, [&](int key) { type(&bare, char('a' + key % 26)); },
        [] { QApplication::processEvents(); });
    row("editor", "Files page editor, workspace buffer", velk);
    row("editor", "QPlainTextEdit", peer);
}

void searchBenchmark(Workspace& workspace, Theme& theme, QuietDialogs& dialogs) {
    MemoryPreferences stored({{PreferenceKeys::history, HistoryEntry::encodeList(fullHistory())}});
    HistoryStore history(&stored, workspace.sessions, workspace.notices);
    Navigator navigator(workspace.sessions, workspace.launcher);
    HistoryPage page(history, workspace.project, navigator, dialogs, theme);
    page.resize(1100, 700);
    page.show();
    QApplication::processEvents();
    // "task 1", "task 12", … and back, one key at a time.
    const QString query = QStringLiteral("task 1");
    const Figure velk = median(40, [&](int key) {
        const int length = key % 14 < 7 ? key % 7 + 1 : 14 - key % 14 - 1;
        page.searchField()->setText(query.left(length));
        QApplication::processEvents();
    });

    QListWidget list;
    for (const HistoryEntry& entry : history.history()) {
        list.addItem(entry.title);
    }
    list.resize(320, 700);
    list.show();
    const Figure peer = median(40, [&](int key) {
        const int length = key % 14 < 7 ? key % 7 + 1 : 14 - key % 14 - 1;
        const QString text = query.left(length);
        for (int index = 0; index < list.count(); ++index) {
            list.item(index)->setHidden(
                !list.item(index)->text().contains(text, Qt::CaseInsensitive));
        }
        QApplication::processEvents();
    });
    row("search", "History page, full history", velk);
    row("search", "QListWidget hiding rows", peer);
}

void historyBenchmarks(const QString& scratch, Workspace& workspace) {
    const QString folder = scratch + QStringLiteral("/config");
    QDir().mkpath(folder);
    const QString preferencesPath = folder + QStringLiteral("/VELK.conf");
    {
        SettingsPreferences preferences(preferencesPath);
        preferences.setValue(PreferenceKeys::history, HistoryEntry::encodeList(fullHistory()));
        preferences.sync();
    }
    // A finished session with a screen of about 60,000 characters.
    std::shared_ptr<TerminalSession> session =
        TerminalSession::create(QStringLiteral("shell"), QStringLiteral("finished"),
                                QStringLiteral("true"), SpawnRequest{});
    for (int line = 0; line < 800; ++line) {
        session->screen().feed(QStringLiteral("output line %1 of a long session\r\n").arg(line));
    }

    Figure recording;
    {
        SettingsPreferences preferences(preferencesPath);
        HistoryStore history(&preferences, workspace.sessions, workspace.notices);
        while (history.history().size() < 50) {
            QApplication::processEvents();
            QThread::msleep(1);
        }
        recording = median(10, [&](int) {
            Q_EMIT workspace.sessions.sessionFinished(*session, scratch);
            // The preferences store writes its file from the event loop.
            QApplication::processEvents();
        });
    }
    const QByteArray fourMegabytes(4'000'000, 'x');
    const Figure writing = median(10, [&](int) {
        QFile file(scratch + QStringLiteral("/4MB"));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(fourMegabytes);
    });
    row("session", "a session ends, full history", recording);
    row("session", "writing 4 MB", writing);

    // Start-up: the main thread's time to read the preferences and set up the history, and
    // the time until the history is there (read off the main thread, or on it).
    const auto startUp = [&](const QString& path, int expected) {
        std::vector<double> blocked;
        std::vector<double> ready;
        for (int run = 0; run < 5; ++run) {
            QElapsedTimer timer;
            timer.start();
            SettingsPreferences preferences(path);
            HistoryStore history(&preferences, workspace.sessions, workspace.notices);
            blocked.push_back(double(timer.nsecsElapsed()) / 1e6);
            while (history.history().size() < expected) {
                QApplication::processEvents();
                QThread::msleep(1);
            }
            ready.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        std::sort(blocked.begin(), blocked.end());
        std::sort(ready.begin(), ready.end());
        return std::pair{blocked[2], ready[2]};
    };
    const QString emptyFolder = scratch + QStringLiteral("/empty");
    QDir().mkpath(emptyFolder);
    const auto [fullBlocked, fullReady] = startUp(preferencesPath, 50);
    const auto [emptyBlocked, emptyReady] = startUp(emptyFolder + QStringLiteral("/VELK.conf"), 0);
    std::printf("%-10s %-44s main thread %8.2f   history ready %8.2f ms\n", "start-up",
                "preferences and a full history", fullBlocked, fullReady);
    std::printf("%-10s %-44s main thread %8.2f   history ready %8.2f ms\n", "start-up",
                "preferences and no history", emptyBlocked, emptyReady);
}

void listingBenchmark(const QString& scratch, Workspace& workspace) {
    const QString folder = scratch + QStringLiteral("/many");
    QDir().mkpath(folder);
    for (int index = 0; index < 20000; ++index) {
        if (index % 50 == 0) {
            QDir().mkpath(folder + QStringLiteral("/Folder %1").arg(index));
        } else {
            QFile file(folder + QStringLiteral("/file %1.txt").arg(index));
            file.open(QIODevice::WriteOnly);
        }
    }
    const Figure velk = median(5, [&](int) { workspace.project.refreshFiles(folder); });
    const Figure peer = median(5, [&](int) {
        (void)QDir(folder).entryList(
            QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot,
            QDir::Name | QDir::DirsFirst | QDir::IgnoreCase | QDir::LocaleAware);
    });
    row("listing", "Files page listing, 20,000 entries", velk);
    row("listing", "QDir::entryList, name order, folders first", peer);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QTemporaryDir scratch(argc > 1 ? QString::fromLocal8Bit(argv[1]) + "/velk-bench-XXXXXX"
                                   : QDir::tempPath() + "/velk-bench-XXXXXX");
    QuietDialogs dialogs;
    NoInhibitor inhibitor;
    MemoryPreferences preferences;
    Workspace workspace(false, WorkspaceServices{&preferences, &dialogs, &inhibitor, nullptr});
    Theme theme(false, preferences);
    const int keys = qEnvironmentVariableIsSet("VELK_BENCH_KEYS")
                         ? std::max(10, qEnvironmentVariableIntValue("VELK_BENCH_KEYS"))
                         : 60;

    editorBenchmark(scratch.path(), workspace, theme, keys);
    searchBenchmark(workspace, theme, dialogs);
    historyBenchmarks(scratch.path(), workspace);
    listingBenchmark(scratch.path(), workspace);
    return 0;
}
