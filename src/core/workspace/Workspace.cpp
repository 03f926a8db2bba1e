#include "core/workspace/Workspace.h"

#include "core/terminal/TerminalSession.h"

namespace {

Preferences* storeIf(bool persist, Preferences* preferences) {
    return persist ? preferences : nullptr;
}

}  // namespace

Workspace::Workspace(bool persist, WorkspaceServices services)
    : services(services),
      project(storeIf(persist, services.preferences), *services.dialogs, services.desktop, notices),
      providers(storeIf(persist, services.preferences), notices),
      sessions(*services.dialogs),
      history(storeIf(persist, services.preferences), sessions, notices),
      teamRuns(sessions, providers, project, history, notices,
               storeIf(persist, services.preferences)),
      launcher(project, providers, sessions, teamRuns, notices, *services.dialogs),
      keepAwake(storeIf(persist, services.preferences), services.inhibitor, sessions),
      programClipboard(storeIf(persist, services.preferences), sessions),
      pasteSafety(storeIf(persist, services.preferences), *services.dialogs),
      scrollback(storeIf(persist, services.preferences), sessions),
      permissions(services.desktop, *services.dialogs, notices),
      attention(sessions, providers, project, storeIf(persist, services.preferences)),
      reviewLayout(storeIf(persist, services.preferences)),
      sessionRestore(storeIf(persist, services.preferences), sessions, providers, teamRuns,
                     notices) {
    // What a session did to the project shows in the listing once it ends.
    QObject::connect(&sessions, &SessionManager::sessionFinished, &project,
                     [this] { project.refreshFiles(); });
    // History names the assistant as it was called then and keeps what the session last
    // showed, so entries of one tool with one command can be told apart.
    history.setDescriber([this](const TerminalSession& session, HistoryEntry& entry) {
        entry.assistant = providers.provider(session.providerID()).name;
        if (const std::optional<Attention> last = attention.lastStateBeforeEnd(session.id())) {
            entry.state = attentionLabel(*last);
        }
    });
    // Team-run copies and comparisons run one task and end by themselves: one that shows
    // nothing for long is stuck.
    attention.setOneShot([this](const QUuid& id) { return teamRuns.oneShotSession(id); });
    if (persist) {
        providers.checkConnections();
        teamRuns.loadTeamRuns();
    }
}
