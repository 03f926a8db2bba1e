#include "ui/window/WindowPlannerHost.h"

#include "core/assistants/LocalTools.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/ProviderRegistry.h"
#include "core/workspace/SessionManager.h"
#include "ui/navigation/Navigator.h"

QMap<QString, QString> WindowPlannerHost::availableAssistants() const {
    return m_providers.available();
}

QString WindowPlannerHost::connectionStatus(const QString& providerID) const {
    return m_providers.connectionStatus().value(providerID);
}

QString WindowPlannerHost::plansFolder() const {
    return LocalTools::applicationData(QStringLiteral("Computer plans"));
}

QUuid WindowPlannerHost::startSession(const QString& providerID, const QString& title,
                                      const QString& command, const QString& directory,
                                      FinishHandler onFinish) {
    const SessionPointer session = m_sessions.startSession(
        providerID, title, command, directory, {},
        [onFinish](TerminalSession& finished) { onFinish(finished.exitCode()); });
    return session ? session->id() : QUuid();
}

void WindowPlannerHost::stopSession(const QUuid& id) {
    if (const SessionPointer session = m_sessions.find(id)) {
        session->stop();
    }
}

void WindowPlannerHost::showSession(const QUuid& id) {
    if (!m_sessions.find(id)) {
        return;
    }
    m_sessions.setActiveSessionID(id);
    m_navigator.setFocusMode(true);
    m_navigator.setDestination(Destination::Workspace);
}

void WindowPlannerHost::showActionsPage() {
    m_navigator.setDestination(Destination::DesktopActions);
}
