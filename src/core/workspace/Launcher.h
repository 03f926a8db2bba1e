#pragma once

#include "core/assistants/AssistantTraits.h"
#include "core/assistants/Provider.h"

#include <QObject>
#include <QSet>
#include <QString>

class Notices;
class Dialogs;
class ProjectModel;
class ProviderRegistry;
class SessionManager;
class TeamRunController;

// Turns what the user asks for into terminal sessions: the composer's task for the chosen
// assistants (in the project or in separate copies), an assistant's own terminal, sign-in
// and resume terminals, and the file runner. Main thread only.
class Launcher : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString prompt READ prompt WRITE setPrompt NOTIFY promptChanged)

public:
    Launcher(ProjectModel& project, ProviderRegistry& providers, SessionManager& sessions,
             TeamRunController& teamRuns, Notices& notices, Dialogs& dialogs,
             QObject* parent = nullptr);

    // The composer's task.
    QString prompt() const { return m_prompt; }
    void setPrompt(const QString& prompt);
    // The assistants the composer sends its task to.
    QSet<QString> selectedProviders() const { return m_selectedProviders; }
    void setSelectedProviders(const QSet<QString>& ids);
    // Whether a task goes to a team run, one copy of the project per assistant.
    bool separateCopies() const { return m_separateCopies; }
    void setSeparateCopies(bool separateCopies);

    // Starts the provider in a session in the project folder; false (with a notice, or the
    // connector editor for a provider that is not ready) when nothing was started.
    bool launch(const QString& prompt, const Provider& provider);
    // Sends the composer's task to every selected installed assistant.
    void dispatchPrompt();
    void signIn(const Provider& provider);
    void resume(const Provider& provider);
    // Opens a plain shell terminal in the project folder.
    void openTerminal();
    // Runs a shell command line in a terminal titled `title`, in the project folder. Without
    // a folder it only asks for one; false when nothing was started.
    bool runInProject(const QString& title, const QString& command);
    // Runs the file runner's command line in the project folder.
    void runCommand();
    // Runs the editor's file with the interpreter its extension names.
    void runFile();

Q_SIGNALS:
    void promptChanged();
    void selectedProvidersChanged();
    void separateCopiesChanged();
    // The provider cannot run as it is configured; the user should see its connector.
    void connectorRequested(const Provider& provider);

private:
    // Asks for the connector editor; for a built-in that is not installed, first says how
    // to install it where its traits know.
    void requestConnector(const Provider& provider);
    // Asks before sending a task to assistants whose last check said they need signing in:
    // true to send anyway; "Sign in" opens their sign-in instead.
    bool confirmSignedIn(const QList<Provider>& targets);

    ProjectModel& m_project;
    ProviderRegistry& m_providers;
    SessionManager& m_sessions;
    TeamRunController& m_teamRuns;
    Notices& m_notices;
    Dialogs& m_dialogs;

    QString m_prompt;
    QSet<QString> m_selectedProviders = AssistantTraits::defaultTeam();
    bool m_separateCopies = true;
};
