#pragma once

#include "core/actions/PlannerHost.h"

class Navigator;
class ProviderRegistry;
class SessionManager;

// The planner's view of the window: connected assistants, the "Computer plans" folder of
// the application data, terminal sessions (found by id, so a closed session is simply gone)
// and the pages that show them.
class WindowPlannerHost : public PlannerHost {
public:
    // The models must outlive the host.
    WindowPlannerHost(const ProviderRegistry& providers, SessionManager& sessions,
                      Navigator& navigator)
        : m_providers(providers), m_sessions(sessions), m_navigator(navigator) {}

    QMap<QString, QString> availableAssistants() const override;
    QString connectionStatus(const QString& providerID) const override;
    QString plansFolder() const override;
    QUuid startSession(const QString& providerID, const QString& title, const QString& command,
                       const QString& directory, FinishHandler onFinish) override;
    void stopSession(const QUuid& id) override;
    void showSession(const QUuid& id) override;
    void showActionsPage() override;

private:
    const ProviderRegistry& m_providers;
    SessionManager& m_sessions;
    Navigator& m_navigator;
};
