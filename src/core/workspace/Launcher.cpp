#include "core/workspace/Launcher.h"

#include "core/assistants/ConnectionStatus.h"
#include "core/base/Publish.h"
#include "core/services/Dialogs.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/Characters.h"
#include "core/workspace/Notices.h"
#include "core/workspace/ProjectModel.h"
#include "core/workspace/ProviderRegistry.h"
#include "core/workspace/SessionManager.h"
#include "core/workspace/TeamRunController.h"

#include <QDir>
#include <QFileInfo>

namespace {

constexpr int kPromptTitleLength = 52;
constexpr int kCommandTitleLength = 50;

QString placeholderMissingNotice(const Provider& provider) {
    return QStringLiteral("Add {prompt} to ") + provider.name +
           QStringLiteral("’s launch command to receive tasks.");
}

// The command that runs a single file, by its extension; nothing for unsupported types.
std::optional<QString> fileRunCommand(const QString& path, const QString& python3) {
    const QString quoted = shellQuote(path);
    const QString extension = QFileInfo(path).suffix().toLower();
    if (extension == QLatin1String("py")) {
        return python3 + QLatin1Char(' ') + quoted;
    }
    if (extension == QLatin1String("js") || extension == QLatin1String("mjs") ||
        extension == QLatin1String("cjs")) {
        return QStringLiteral("node ") + quoted;
    }
    if (extension == QLatin1String("swift")) {
        return QStringLiteral("/usr/bin/swift ") + quoted;
    }
    if (extension == QLatin1String("sh")) {
        return QStringLiteral("/bin/bash ") + quoted;
    }
    if (extension == QLatin1String("zsh")) {
        return QStringLiteral("/bin/zsh ") + quoted;
    }
    if (extension == QLatin1String("rb")) {
        return QStringLiteral("ruby ") + quoted;
    }
    if (extension == QLatin1String("applescript")) {
        return QStringLiteral("/usr/bin/osascript ") + quoted;
    }
    return std::nullopt;
}

}  // namespace

Launcher::Launcher(ProjectModel& project, ProviderRegistry& providers, SessionManager& sessions,
                   TeamRunController& teamRuns, Notices& notices, Dialogs& dialogs, QObject* parent)
    : QObject(parent),
      m_project(project),
      m_providers(providers),
      m_sessions(sessions),
      m_teamRuns(teamRuns),
      m_notices(notices),
      m_dialogs(dialogs) {
    // Text the user typed meanwhile is theirs; only the task that was sent is cleared.
    connect(&teamRuns, &TeamRunController::runLaunched, this, [this](const TeamRun& run) {
        if (m_prompt.trimmed() == run.prompt) {
            setPrompt(QString());
        }
    });
}

void Launcher::setPrompt(const QString& prompt) {
    publish(this, m_prompt, prompt, &Launcher::promptChanged);
}

void Launcher::setSelectedProviders(const QSet<QString>& ids) {
    publish(this, m_selectedProviders, ids, &Launcher::selectedProvidersChanged);
}

void Launcher::setSeparateCopies(bool separateCopies) {
    publish(this, m_separateCopies, separateCopies, &Launcher::separateCopiesChanged);
}

bool Launcher::launch(const QString& prompt, const Provider& provider) {
    if (!m_project.ensureFolder()) {
        return false;
    }
    if (!m_providers.isReady(provider)) {
        requestConnector(provider);
        return false;
    }
    if (const Result<void> checked = provider.checkTemplate(); !checked) {
        m_notices.notify(checked.error().message);
        return false;
    }
    QString title;
    if (prompt.isEmpty()) {
        title = provider.name + QStringLiteral(" session");
    } else {
        if (!provider.receivesTasks()) {
            m_notices.notify(placeholderMissingNotice(provider));
            return false;
        }
        title = Characters::first(prompt, kPromptTitleLength);
    }
    QString command = provider.command(prompt);
    // A remembered conversation gets an id of ours where the tool takes one, so that it can
    // be resumed by that id after a restart. The stock template starts with the executable.
    const AssistantTraits& traits = AssistantTraits::of(provider.id);
    QString toolSession;
    if (m_sessions.remembersSessions() && !traits.commands.newSession.isEmpty() &&
        traits.hasStockTemplate(provider)) {
        toolSession = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const qsizetype space = command.indexOf(u' ');
        command.insert(space < 0 ? command.size() : space,
                       u' ' + AssistantTraits::withTask(
                                  traits.commands.newSession, QString(),
                                  {{QStringLiteral("session"), shellQuote(toolSession)}}));
    }
    // An interactive assistant reads its terminal, so its task can only be an argument.
    if (!commandLineFits(command)) {
        m_notices.notify(taskTooLongNotice(provider.name, command));
        return false;
    }
    m_sessions.startSession(provider.id, title, command, m_project.folder(),
                            [this, toolSession](TerminalSession& session) {
                                if (!toolSession.isEmpty()) {
                                    m_sessions.setToolSessionID(session.id(), toolSession);
                                }
                            });
    return true;
}

bool Launcher::confirmSignedIn(const QList<Provider>& targets) {
    QList<Provider> signedOut;
    QStringList names;
    for (const Provider& target : targets) {
        if (m_providers.connectionLabel(target) == ConnectionStatus::signInNeeded) {
            signedOut.append(target);
            names.append(target.name);
        }
    }
    if (signedOut.isEmpty()) {
        return true;
    }
    const QString who = names.size() == 1
                            ? names.first() + QStringLiteral(" needs")
                            : names.join(QStringLiteral(", ")) + QStringLiteral(" need");
    const int choice = m_dialogs.alert(
        {.message = who + QStringLiteral(" sign-in."),
         .informativeText = QStringLiteral("The last check found no sign-in, so the task may "
                                           "stop at a sign-in screen."),
         .buttons = {QStringLiteral("Send anyway"), QStringLiteral("Sign in"),
                     QStringLiteral("Cancel")}});
    if (choice == 1) {
        for (const Provider& provider : signedOut) {
            signIn(provider);
        }
    }
    return choice == 0;
}

void Launcher::dispatchPrompt() {
    const QString text = m_prompt.trimmed();
    if (text.isEmpty()) {
        return;
    }
    if (!m_project.ensureFolder()) {
        return;
    }

    QList<Provider> targets;
    for (const Provider& provider : m_providers.providers()) {
        if (m_selectedProviders.contains(provider.id) &&
            m_providers.available().contains(provider.id) &&
            !provider.templateText.trimmed().isEmpty() && provider.id != kShellID) {
            targets.append(provider);
        }
    }
    if (targets.isEmpty()) {
        m_notices.notify(QStringLiteral("Select at least one installed assistant."));
        return;
    }
    // Every target is checked before anything starts, so a bad template among good ones
    // starts nothing at all.
    for (const Provider& target : targets) {
        if (const Result<void> checked = target.checkTemplate(); !checked) {
            m_notices.notify(checked.error().message);
            return;
        }
        if (!target.receivesTasks()) {
            m_notices.notify(placeholderMissingNotice(target));
            return;
        }
        if (!m_separateCopies && !commandLineFits(target.command(text))) {
            m_notices.notify(taskTooLongNotice(target.name, target.command(text)));
            return;
        }
    }

    if (!confirmSignedIn(targets)) {
        return;
    }
    if (m_separateCopies) {
        m_teamRuns.startTeamRun(text, targets, m_project.folder());
        return;
    }
    qsizetype started = 0;
    for (const Provider& target : targets) {
        started += launch(text, target) ? 1 : 0;
    }
    // The task stays in the box, with the notice of what failed, unless every target took it.
    if (started < targets.size()) {
        return;
    }
    setPrompt(QString());
    const qsizetype count = targets.size();
    m_notices.notify(QStringLiteral("Task sent to %1 assistant%2.")
                         .arg(count)
                         .arg(count == 1 ? QString() : QStringLiteral("s")));
}

void Launcher::openTerminal() {
    launch(QString(), m_providers.provider(kShellID));
}

bool Launcher::runInProject(const QString& title, const QString& command) {
    if (!m_project.hasFolder()) {
        m_project.chooseFolder();
        return false;
    }
    m_sessions.startSession(kShellID, title, command, m_project.folder());
    return true;
}

void Launcher::runCommand() {
    const QString command = m_project.runnerCommand().trimmed();
    if (m_project.hasFolder() && command.isEmpty()) {
        return;
    }
    runInProject(Characters::first(command, kCommandTitleLength), command);
}

void Launcher::runFile() {
    const QString file = m_project.selectedFile();
    if (file.isEmpty() || !m_project.hasFolder()) {
        return;
    }
    if (m_project.fileIsDirty() && !m_project.saveFile()) {
        return;
    }
    const auto python3Path = ProviderRegistry::executablePath(QStringLiteral("python3"));
    const QString python3 = python3Path ? shellQuote(*python3Path) : QStringLiteral("python3");
    const auto command = fileRunCommand(file, python3);
    if (!command) {
        m_notices.notify(QStringLiteral("Use a custom command for this file type."));
        return;
    }
    m_sessions.startSession(kShellID, QStringLiteral("Run · ") + QFileInfo(file).fileName(),
                            *command, m_project.folder());
}

void Launcher::requestConnector(const Provider& provider) {
    const QString& hint = AssistantTraits::of(provider.id).installHint;
    if (!hint.isEmpty() && !m_providers.available().contains(provider.id)) {
        m_notices.notify(hint);
    }
    Q_EMIT connectorRequested(provider);
}

void Launcher::signIn(const Provider& provider) {
    const auto path = m_providers.available().constFind(provider.id);
    if (path == m_providers.available().cend()) {
        requestConnector(provider);
        return;
    }
    const QString& arguments = AssistantTraits::of(provider.id).commands.signIn;
    if (arguments.isEmpty()) {
        launch(QString(), provider);
        return;
    }
    const QString directory = m_project.hasFolder() ? m_project.folder() : QDir::homePath();
    // Once the sign-in ends, the sign-in states are read again.
    m_sessions.startSession(provider.id, QStringLiteral("Sign in · ") + provider.name,
                            shellQuote(*path) + u' ' + arguments, directory, {},
                            [this](TerminalSession&) { m_providers.checkConnections(); });
}

void Launcher::resume(const Provider& provider) {
    const auto found = m_providers.available().constFind(provider.id);
    if (found == m_providers.available().cend()) {
        return;
    }
    const QString path = *found;
    if (!m_project.ensureFolder()) {
        return;
    }
    const AssistantTraits::Commands& commands = AssistantTraits::of(provider.id).commands;
    if (commands.resume.isEmpty()) {
        return;
    }
    const QString notifications =
        commands.notifications.isEmpty() ? QString() : commands.notifications + u' ';
    m_sessions.startSession(provider.id, QStringLiteral("Resume · ") + provider.name,
                            shellQuote(path) + u' ' + notifications + commands.resume,
                            m_project.folder());
}
