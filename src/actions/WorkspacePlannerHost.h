#pragma once

#include "actions/PlannerHost.h"

class Workspace;

// The planner's view of the workspace: connected assistants, the "Computer plans" folder
// of the application data, terminal sessions (found by id, so a closed session is simply
// gone) and the pages that show them.
class WorkspacePlannerHost : public PlannerHost {
public:
    // The workspace must outlive the host.
    explicit WorkspacePlannerHost(Workspace& workspace) : m_workspace(workspace) {}

    QMap<QString, QString> availableAssistants() const override;
    QString plansFolder() const override;
    QUuid startSession(const QString& providerID, const QString& title, const QString& command,
                       const QString& directory, FinishHandler onFinish) override;
    void stopSession(const QUuid& id) override;
    void showSession(const QUuid& id) override;
    void showActionsPage() override;

private:
    Workspace& m_workspace;
};
