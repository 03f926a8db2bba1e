// End-to-end checks of the workspace: a task dispatched to a stand-in assistant through a
// real terminal, a team run in separate copies whose changes are applied back, the history
// snapshot of a finished session, and an editor save. Each
// check works on a private, non-persisting workspace with scripted dialogs, in its own
// folder of the run's output folder, so no real assistant and no window is involved.

#include "app/selftest/SelfTest.h"

#include "core/assistants/AssistantTraits.h"
#include "core/runs/RunFiles.h"
#include "core/runs/RunStore.h"
#include "core/services/Dialogs.h"
#include "core/services/Preferences.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/Workspace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <memory>

namespace {

constexpr int kSessionTimeoutMs = 15000;

// A workspace of its own for one check, on a fresh folder.
struct CheckWorkspace {
    MemoryPreferences preferences;
    ScriptedDialogs dialogs;
    std::unique_ptr<Workspace> workspace;
    QString folder;

    explicit CheckWorkspace(const SelfTestContext& context, const QString& name) {
        folder = context.outputFolder + QStringLiteral("/workspace-") + name;
        QDir(folder).removeRecursively();
        QDir().mkpath(folder + QStringLiteral("/project"));
        workspace = std::make_unique<Workspace>(
            false, WorkspaceServices{&preferences, &dialogs, nullptr, nullptr});
        workspace->launcher.setSeparateCopies(false);
        workspace->project.setFolder(project());
    }
    ~CheckWorkspace() { workspace->sessions.stopAll(); }

    QString project() const { return folder + QStringLiteral("/project"); }

    bool waitForSessions() const {
        return selfTestWaitUntil(
            [this] {
                for (const SessionPointer& session : workspace->sessions.sessions()) {
                    if (!session->exitCode()) {
                        return false;
                    }
                }
                return true;
            },
            kSessionTimeoutMs);
    }
};

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

SelfTestResult dispatchReachesAnAssistantAsOneLiteralArgument(SelfTestContext& context) {
    CheckWorkspace check(context, QStringLiteral("dispatch"));
    // A stand-in assistant that records its first argument and how many it got.
    const QString tool = check.folder + QStringLiteral("/stand-in assistant");
    if (!writeBytes(tool,
                    "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > received.txt\n"
                    "echo STAND_IN_DONE\n") ||
        !QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        return QStringLiteral("could not create the stand-in assistant");
    }
    Provider standIn;
    standIn.id = QStringLiteral("self-test");
    standIn.name = QStringLiteral("Stand-in");
    standIn.executable = tool;
    standIn.templateText = shellQuote(tool) + QStringLiteral(" {prompt}");
    Workspace& workspace = *check.workspace;
    workspace.providers.saveProvider(standIn);
    workspace.launcher.setSelectedProviders({standIn.id});

    const QString prompt = QStringLiteral("text ' ; $(touch SHOULD_NOT_EXIST) `touch ALSO_NOT`");
    workspace.launcher.setPrompt(prompt);
    workspace.launcher.dispatchPrompt();
    if (workspace.sessions.sessions().size() != 1) {
        return QStringLiteral("dispatch started %1 sessions: %2")
            .arg(workspace.sessions.sessions().size())
            .arg(workspace.notices.toast());
    }
    if (workspace.notices.toast() != QStringLiteral("Task sent to 1 assistant.")) {
        return QStringLiteral("unexpected notice: ") + workspace.notices.toast();
    }
    if (!check.waitForSessions()) {
        return QStringLiteral("the assistant session did not finish");
    }
    const SessionPointer session = workspace.sessions.sessions().first();
    const QString received =
        QString::fromUtf8(readBytes(check.project() + QStringLiteral("/received.txt")));
    if (received != QStringLiteral("1|") + prompt) {
        return QStringLiteral("the assistant received “%1”; screen: %2")
            .arg(received, session->screen().plainText().trimmed());
    }
    if (QFileInfo::exists(check.project() + QStringLiteral("/SHOULD_NOT_EXIST")) ||
        QFileInfo::exists(check.project() + QStringLiteral("/ALSO_NOT"))) {
        return QStringLiteral("the prompt was executed by the shell");
    }
    if (session->exitCode() != 0) {
        return QStringLiteral("the assistant session ended with %1").arg(*session->exitCode());
    }
    return std::nullopt;
}

// A stand-in assistant whose command line is `tool {prompt}`; `script` is its shell body.
std::optional<Provider> installStandIn(const CheckWorkspace& check, const QByteArray& script) {
    const QString tool = check.folder + QStringLiteral("/stand-in assistant");
    if (!writeBytes(tool, "#!/bin/sh\n" + script) ||
        !QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        return std::nullopt;
    }
    Provider standIn;
    standIn.id = QStringLiteral("self-test");
    standIn.name = QStringLiteral("Stand-in");
    standIn.executable = tool;
    standIn.templateText = shellQuote(tool) + QStringLiteral(" {prompt}");
    check.workspace->providers.saveProvider(standIn);
    check.workspace->launcher.setSelectedProviders({standIn.id});
    return standIn;
}

QString changeList(const std::vector<FileChange>& changes) {
    QStringList lines;
    for (const FileChange& change : changes) {
        lines.append(change.kind() + QStringLiteral(": ") + change.path);
    }
    return lines.join(QStringLiteral(", "));
}

// The whole team-run path: the project is copied in the background, the assistant edits
// only its copy, the run is recorded, and the reviewed changes are applied to the project
// with a backup of what they replace.
SelfTestResult teamRunChangesApplyBackToTheProject(SelfTestContext& context) {
    CheckWorkspace check(context, QStringLiteral("team-run"));
    Workspace& workspace = *check.workspace;
    const QString storage = check.folder + QStringLiteral("/runs");
    workspace.launcher.setSeparateCopies(true);
    workspace.teamRuns.setRunStorageRoot(storage);
    if (!writeBytes(check.project() + QStringLiteral("/main.txt"), "original\n") ||
        !installStandIn(check,
                        "printf 'edited\\n' > main.txt\nprintf 'new\\n' > added.txt\n"
                        "echo STAND_IN_DONE\n")) {
        return QStringLiteral("could not lay out the project and the stand-in assistant");
    }
    workspace.project.refreshFiles();
    workspace.launcher.setPrompt(QStringLiteral("Edit main.txt"));
    workspace.launcher.dispatchPrompt();
    if (!selfTestWaitUntil([&] { return workspace.teamRuns.teamRuns().size() == 1; },
                           kSessionTimeoutMs)) {
        return QStringLiteral("the run was not prepared: ") + workspace.notices.toast();
    }
    if (!selfTestWaitUntil(
            [&] {
                const auto& copies = workspace.teamRuns.teamRuns().first().copies;
                return copies.size() == 1 && copies.front().exitCode.has_value();
            },
            kSessionTimeoutMs)) {
        return QStringLiteral("the assistant in the copy did not finish");
    }
    const TeamRun run = workspace.teamRuns.teamRuns().first();
    const RunCopy& copy = run.copies.front();
    if (copy.exitCode != 0 ||
        readBytes(check.project() + QStringLiteral("/main.txt")) != "original\n") {
        return QStringLiteral("the assistant ended with %1 or edited the project itself")
            .arg(copy.exitCode.value_or(-2));
    }
    const auto stored = RunStore::load(storage);
    if (!stored || stored->size() != 1 || stored->front() != run) {
        return QStringLiteral("the run record on disk differs from the run shown");
    }
    try {
        const std::vector<FileChange> changes =
            RunFiles::changes(RunStore::baselineFolder(run), copy.directory);
        if (changeList(changes) != QStringLiteral("Added: added.txt, Changed: main.txt")) {
            return QStringLiteral("the copy's changes were \"%1\"").arg(changeList(changes));
        }
        const QString backup = RunStore::newBackupFolder(run);
        RunFiles::apply(changes, check.project(), copy.directory, backup);
        if (readBytes(check.project() + QStringLiteral("/main.txt")) != "edited\n" ||
            readBytes(check.project() + QStringLiteral("/added.txt")) != "new\n" ||
            readBytes(backup + QStringLiteral("/main.txt")) != "original\n") {
            return QStringLiteral("the apply did not leave the edited project and its backup");
        }
    } catch (const RunFilesError& error) {
        return QStringLiteral("review or apply failed: ") + error.message();
    }
    return std::nullopt;
}

SelfTestResult finishedSessionsAreRecordedInHistory(SelfTestContext& context) {
    CheckWorkspace check(context, QStringLiteral("history"));
    Workspace& workspace = *check.workspace;
    workspace.project.setRunnerCommand(QStringLiteral("echo HISTORY_''MARKER; exit 3"));
    workspace.launcher.runCommand();
    workspace.launcher.runCommand();
    if (!check.waitForSessions()) {
        return QStringLiteral("the sessions did not finish");
    }
    if (workspace.history.history().size() != 2) {
        return QStringLiteral("%1 history entries for 2 sessions")
            .arg(workspace.history.history().size());
    }
    const HistoryEntry& newest = workspace.history.history().first();
    if (newest.exitCode != 3 || newest.provider != kShellID ||
        newest.directory != check.project() ||
        !newest.output.contains(QStringLiteral("HISTORY_MARKER"))) {
        return QStringLiteral("unexpected history entry: exit %1, provider %2, output “%3”")
            .arg(newest.exitCode)
            .arg(newest.provider, newest.output.trimmed());
    }
    if (check.preferences.reads() != 0 || check.preferences.writes() != 0) {
        return QStringLiteral("a non-persisting workspace touched the preferences");
    }
    return std::nullopt;
}

SelfTestResult savingKeepsPermissionsAndGuardsOtherChanges(SelfTestContext& context) {
    CheckWorkspace check(context, QStringLiteral("files"));
    Workspace& workspace = *check.workspace;
    const QString path = check.project() + QStringLiteral("/run.sh");
    if (!writeBytes(path, "#!/bin/sh\necho before\n") ||
        !QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                         QFile::ReadGroup | QFile::ExeGroup)) {
        return QStringLiteral("could not create the file");
    }
    workspace.project.refreshFiles();
    workspace.project.openFile(FileEntry{path, false});
    if (workspace.project.selectedFile() != path) {
        return QStringLiteral("the file did not open: ") + workspace.notices.toast();
    }
    workspace.project.setEditorText(QStringLiteral("#!/bin/sh\necho after\n"));
    if (!workspace.project.saveFile() || readBytes(path) != "#!/bin/sh\necho after\n") {
        return QStringLiteral("the save did not write the buffer: ") + workspace.notices.toast();
    }
    if (!QFileInfo(path).isExecutable()) {
        return QStringLiteral("the save lost the executable bit");
    }

    // Another program changes the file; cancelling the question keeps its version.
    workspace.project.setEditorText(QStringLiteral("#!/bin/sh\necho mine\n"));
    writeBytes(path, "#!/bin/sh\necho theirs\n");
    check.dialogs.answerAlert(QStringLiteral("Cancel"));
    if (workspace.project.saveFile() || readBytes(path) != "#!/bin/sh\necho theirs\n" ||
        !workspace.project.fileIsDirty()) {
        return QStringLiteral("a change made on disk was overwritten");
    }
    return std::nullopt;
}

}  // namespace

std::vector<SelfTestCheck> workspaceChecks() {
    return {
        {QStringLiteral("workspace: dispatch reaches a stand-in assistant as one literal argument"),
         dispatchReachesAnAssistantAsOneLiteralArgument},
        {QStringLiteral("workspace: a team run's changes in its copy apply back to the project"),
         teamRunChangesApplyBackToTheProject},
        {QStringLiteral("workspace: finished sessions are recorded in history"),
         finishedSessionsAreRecordedInHistory},
        {QStringLiteral("workspace: saving keeps permissions and guards changes made elsewhere"),
         savingKeepsPermissionsAndGuardsOtherChanges},
    };
}
