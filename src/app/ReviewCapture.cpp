// The review part of `velk --capture`: a team run made on the spot from the example project,
// its copy changed by script, and the Team runs page reviewing that copy in both layouts.
#include "app/VelkApplication.h"

#include "core/runs/RunFiles.h"
#include "core/runs/RunStore.h"
#include "core/workspace/Workspace.h"
#include "ui/navigation/Navigator.h"
#include "ui/runs/DiffView.h"
#include "ui/runs/TeamRunsPage.h"
#include "ui/window/MainWindow.h"
#include "ui/window/WindowCapture.h"

#include <QDir>
#include <QFile>
#include <QTimer>
#include <QUuid>

#include <cstdio>
#include <memory>

namespace {

// What the scripted assistant does in its copy: a new parameter and a farewell in the
// greetings, the program using both, and a notes file.
bool changeCopy(const QString& copy) {
    const auto edit = [&](const QString& name,
                          const QList<std::pair<QByteArray, QByteArray>>& edits) {
        QFile file(copy + u'/' + name);
        if (!file.open(QIODevice::ReadOnly)) {
            return false;
        }
        QByteArray text = file.readAll();
        file.close();
        for (const auto& [from, to] : edits) {
            text.replace(from, to);
        }
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(text) == text.size();
    };
    QFile notes(copy + QStringLiteral("/NOTES.md"));
    return edit(QStringLiteral("greetings.py"),
                {{"def greeting(name: str) -> str:\n    return f\"Hello, {name}!\"",
                  "def greeting(name: str, excited: bool = False) -> str:\n"
                  "    mark = \"!\" if excited else \".\"\n"
                  "    return f\"Hello, {name}{mark}\"\n\n\n"
                  "def farewell(name: str) -> str:\n    return f\"Goodbye, {name}.\""}}) &&
           edit(QStringLiteral("hello.py"),
                {{"from greetings import greeting", "from greetings import farewell, greeting"},
                 {"        print(greeting(name))",
                  "        print(greeting(name, excited=name == \"you\"))\n"
                  "    print(farewell(\"everyone\"))"}}) &&
           notes.open(QIODevice::WriteOnly) &&
           notes.write("# Notes\n\nGreetings can be excited; a farewell closes the run.\n") > 0;
}

void report(const QString& problem) {
    std::fprintf(stdout, "Capture error: %s\n", qPrintable(problem));
    std::fflush(stdout);
}

}  // namespace

void VelkApplication::captureReview(const QString& folder, const std::function<void()>& done) {
    auto* page = qobject_cast<TeamRunsPage*>(m_window->page(Destination::TeamRuns));
    const QString project = m_workspace->project.folder();
    if (!page || project.isEmpty()) {
        done();
        return;
    }
    const QString storage = QDir::tempPath() + QStringLiteral("/VELK-capture-runs-") +
                            QUuid::createUuid().toString(QUuid::WithoutBraces);
    TeamRun run{QUuid::createUuid(),
                QStringLiteral("Let greetings be excited and add a farewell"),
                project,
                RunStore::newRunFolder(storage),
                QDateTime::currentDateTimeUtc(),
                {}};
    run.copies.push_back(RunCopy{QUuid::createUuid(), QStringLiteral("claude"),
                                 RunStore::newCopyFolder(run.root), std::nullopt, 0});
    try {
        RunFiles::snapshot(project, RunStore::baselineFolder(run));
        RunFiles::snapshot(project, run.copies.front().directory);
    } catch (const RunFilesError& error) {
        report(error.message());
        done();
        return;
    }
    if (!changeCopy(run.copies.front().directory) || !RunStore::save(run)) {
        report(QStringLiteral("could not prepare the review's run"));
        done();
        return;
    }
    m_workspace->teamRuns.setRunStorageRoot(storage);
    m_workspace->teamRuns.loadTeamRuns();
    m_navigator->setDestination(Destination::TeamRuns);
    // Each step waits for the page (at most a few seconds), then captures after a moment for
    // the layout to settle.
    auto step = std::make_shared<std::function<void(int)>>();
    auto waited = std::make_shared<int>(0);
    *step = [this, page, folder, done, step, waited, copy = run.copies.front()](int stage) {
        const auto later = [step, waited, done](int next, int ms) {
            if (++*waited > 100) {
                report(QStringLiteral("the review did not show the scripted change"));
                done();
                return;
            }
            QTimer::singleShot(ms, [step, next] { (*step)(next); });
        };
        switch (stage) {
            case 0:  // the run is shown (the page takes it in after an event), its copy read
                if (page->reviewedCopy() != copy.id) {
                    page->inspect(copy);
                    later(0, 100);
                    return;
                }
                if (page->inspecting()) {
                    later(0, 100);
                    return;
                }
                page->showPreview(QStringLiteral("greetings.py"));
                later(1, 100);
                return;
            case 1:  // the diff is shown
                if (page->shownPreview() != QStringLiteral("greetings.py")) {
                    later(1, 100);
                    return;
                }
                page->diffView()->setSideBySide(false);
                later(2, 800);
                return;
            case 2:
            case 3: {
                const QString name = stage == 2
                                         ? QStringLiteral("/Team runs review (unified).png")
                                         : QStringLiteral("/Team runs review (side by side).png");
                if (const Result<void> captured = captureWindow(m_window.get(), folder + name);
                    !captured) {
                    report(captured.error().message);
                }
                if (stage == 2) {
                    page->diffView()->setSideBySide(true);
                    later(3, 800);
                    return;
                }
                done();
                return;
            }
            default:
                done();
        }
    };
    (*step)(0);
}
