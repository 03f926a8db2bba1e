// Turning user actions into terminal sessions: launch, dispatch, the file runner, closing
// and stopping, and exporting a session's text.

#include "workspace/Workspace.h"

#include "assistants/AssistantTraits.h"
#include "assistants/Provider.h"
#include "platform/AtomicFile.h"
#include "platform/Dialogs.h"
#include "terminal/TerminalSession.h"
#include "workspace/Characters.h"

#include <QFileInfo>
#include <QPointer>

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

SessionPointer Workspace::activeSession() const {
    if (!m_activeSessionID) {
        return nullptr;
    }
    for (const SessionPointer& session : m_sessions) {
        if (session->id() == *m_activeSessionID) {
            return session;
        }
    }
    return nullptr;
}

SessionPointer Workspace::registerSession(const QString& providerID, const QString& title,
                                          const QString& command, const QString& directory,
                                          const SessionCallback& beforeStart,
                                          const SessionCallback& onFinish) {
    SessionPointer session =
        TerminalSession::create(providerID, title, command, shellSpawnRequest(command, directory));
    QPointer<Workspace> self(this);
    session->setOnFinish([self, directory, onFinish](TerminalSession& finished) {
        if (self) {
            self->sessionFinished(finished, directory, onFinish);
        }
    });

    m_sessions.append(session);
    Q_EMIT sessionsChanged();
    setActiveSessionID(session->id());
    setDestination(Destination::Workspace);

    if (beforeStart) {
        beforeStart(*session);
    }
    session->start();
    updateAwakeState();
    return session;
}

void Workspace::sessionFinished(TerminalSession& session, const QString& directory,
                                const SessionCallback& onFinish) {
    recordHistory(session, directory);
    refreshFiles();
    runSessionFinished(session);
    updateAwakeState();

    const QUuid id = session.id();
    const auto removed = m_closingSessions.removeIf(
        [&id](const SessionPointer& closing) { return closing->id() == id; });
    if (removed > 0) {
        Q_EMIT changed();
    }
    if (onFinish) {
        onFinish(session);
    }
}

SessionPointer Workspace::startSession(const QString& providerID, const QString& title,
                                       const QString& command, const QString& directory,
                                       const SessionCallback& beforeStart,
                                       const SessionCallback& onFinish) {
    return registerSession(providerID, title, command, directory, beforeStart, onFinish);
}

bool Workspace::launch(const QString& prompt, const Provider& provider) {
    if (!hasFolder()) {
        chooseFolder();
        if (!hasFolder()) {
            return false;
        }
    }
    if (!isReady(provider)) {
        setEditingProvider(provider);
        setPresentConnector(true);
        return false;
    }
    if (const auto error = provider.templateError()) {
        notify(*error);
        return false;
    }
    QString title;
    if (prompt.isEmpty()) {
        title = provider.name + QStringLiteral(" session");
    } else {
        if (!provider.receivesTasks()) {
            notify(placeholderMissingNotice(provider));
            return false;
        }
        title = Characters::first(prompt, kPromptTitleLength);
    }
    const QString command = provider.command(prompt);
    // An interactive assistant reads its terminal, so its task can only be an argument.
    if (!commandLineFits(command)) {
        notify(taskTooLongNotice(provider.name, command));
        return false;
    }
    registerSession(provider.id, title, command, m_folder, {}, {});
    return true;
}

void Workspace::dispatchPrompt() {
    const QString text = m_prompt.trimmed();
    if (text.isEmpty()) {
        return;
    }
    if (!hasFolder()) {
        chooseFolder();
        if (!hasFolder()) {
            return;
        }
    }

    QList<Provider> targets;
    for (const Provider& provider : m_providers) {
        if (m_selectedProviders.contains(provider.id) && m_available.contains(provider.id) &&
            !provider.templateText.trimmed().isEmpty() && provider.id != kShellID) {
            targets.append(provider);
        }
    }
    if (targets.isEmpty()) {
        notify(QStringLiteral("Select at least one installed assistant."));
        return;
    }
    // Every target is checked before anything starts, so a bad template among good ones
    // starts nothing at all.
    for (const Provider& target : targets) {
        if (const auto error = target.templateError()) {
            notify(*error);
            return;
        }
        if (!target.receivesTasks()) {
            notify(placeholderMissingNotice(target));
            return;
        }
        if (!m_separateCopies && !commandLineFits(target.command(text))) {
            notify(taskTooLongNotice(target.name, target.command(text)));
            return;
        }
    }

    if (m_separateCopies) {
        startTeamRun(text, targets, m_folder);
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
    notify(QStringLiteral("Task sent to %1 assistant%2.")
               .arg(count)
               .arg(count == 1 ? QString() : QStringLiteral("s")));
}

void Workspace::closeSession(const SessionPointer& session) {
    if (!session) {
        return;
    }
    if (session->running()) {
        Dialogs::Alert alert;
        alert.message = QStringLiteral("Stop this session?");
        alert.informativeText =
            QStringLiteral("The assistant and processes launched in this terminal will stop.");
        alert.buttons = {QStringLiteral("Stop session"), QStringLiteral("Cancel")};
        alert.style = Dialogs::Style::Warning;
        if (m_services.dialogs->alert(alert) != 0) {
            return;
        }
        m_closingSessions.append(session);
        Q_EMIT changed();
        session->stop();
    }

    const QUuid id = session->id();
    const bool wasActive = m_activeSessionID == id;
    m_sessions.removeIf([&id](const SessionPointer& s) { return s->id() == id; });
    Q_EMIT sessionsChanged();
    if (wasActive) {
        setActiveSessionID(m_sessions.isEmpty() ? std::nullopt
                                                : std::optional<QUuid>(m_sessions.last()->id()));
    }
    updateAwakeState();
}

void Workspace::stopAll() {
    // Copies: a stop may finish a session at once, and its finish handling edits the lists.
    const QList<SessionPointer> sessions = m_sessions;
    const QList<SessionPointer> closing = m_closingSessions;
    for (const SessionPointer& session : sessions) {
        session->stop();
    }
    for (const SessionPointer& session : closing) {
        session->stop();
    }
}

void Workspace::runCommand() {
    if (!hasFolder()) {
        chooseFolder();
        return;
    }
    const QString command = m_runnerCommand.trimmed();
    if (command.isEmpty()) {
        return;
    }
    registerSession(kShellID, Characters::first(command, kCommandTitleLength), command, m_folder,
                    {}, {});
}

void Workspace::runFile() {
    if (m_selectedFile.isEmpty() || !hasFolder()) {
        return;
    }
    if (fileIsDirty() && !saveFile()) {
        return;
    }
    const auto python3Path = executablePath(QStringLiteral("python3"));
    const QString python3 = python3Path ? shellQuote(*python3Path) : QStringLiteral("python3");
    const auto command = fileRunCommand(m_selectedFile, python3);
    if (!command) {
        notify(QStringLiteral("Use a custom command for this file type."));
        return;
    }
    registerSession(kShellID, QStringLiteral("Run · ") + QFileInfo(m_selectedFile).fileName(),
                    *command, m_folder, {}, {});
}

void Workspace::exportSession(const TerminalSession& session) {
    exportText(session.screen().plainText(),
               QStringLiteral("VELK-") + session.providerID() + QStringLiteral("-session.txt"));
}

void Workspace::exportText(const QString& text, const QString& name) {
    Dialogs::SavePanel panel;
    panel.proposedName = name;
    panel.startFolder = m_folder;
    const auto location = m_services.dialogs->save(panel);
    if (!location) {
        return;
    }
    if (const auto written = AtomicFile::write(*location, text.toUtf8()); !written) {
        notify(written.error().message);
        return;
    }
    notify(QStringLiteral("Exported ") + QFileInfo(*location).fileName() + QStringLiteral("."));
}
