#include "actions/WorkspacePlannerHost.h"

#include "assistants/LocalTools.h"
#include "terminal/TerminalSession.h"
#include "workspace/Workspace.h"

namespace {

SessionPointer findSession(const Workspace& workspace, const QUuid& id) {
    for (const SessionPointer& session : workspace.sessions()) {
        if (session->id() == id) {
            return session;
        }
    }
    return nullptr;
}

}  // namespace

QMap<QString, QString> WorkspacePlannerHost::availableAssistants() const {
    return m_workspace.available();
}

QString WorkspacePlannerHost::plansFolder() const {
    return LocalTools::applicationData(QStringLiteral("Computer plans"));
}

QUuid WorkspacePlannerHost::startSession(const QString& providerID, const QString& title,
                                         const QString& command, const QString& directory,
                                         FinishHandler onFinish) {
    const SessionPointer session = m_workspace.startSession(
        providerID, title, command, directory, {},
        [onFinish](TerminalSession& finished) { onFinish(finished.exitCode()); });
    return session ? session->id() : QUuid();
}

void WorkspacePlannerHost::stopSession(const QUuid& id) {
    if (const SessionPointer session = findSession(m_workspace, id)) {
        session->stop();
    }
}

void WorkspacePlannerHost::showSession(const QUuid& id) {
    if (!findSession(m_workspace, id)) {
        return;
    }
    m_workspace.setActiveSessionID(id);
    m_workspace.setFocusMode(true);
    m_workspace.setDestination(Destination::Workspace);
}

void WorkspacePlannerHost::showActionsPage() {
    m_workspace.setDestination(Destination::MacActions);
}
