#pragma once

#include <QMap>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>

// What the planner needs of the workspace: the connected assistants, a place for plan
// folders, visible terminal sessions and the pages that show them.
class PlannerHost {
public:
    // Receives the exit status of a finished session; nothing when it has none (stopped by
    // a signal).
    using FinishHandler = std::function<void(std::optional<int> exitCode)>;

    virtual ~PlannerHost() = default;

    // Provider id → executable path of each connected assistant.
    virtual QMap<QString, QString> availableAssistants() const = 0;
    // What the last connection check said of the assistant ("Sign in needed", …); empty
    // when it has not been checked.
    virtual QString connectionStatus(const QString& /*providerID*/) const { return {}; }
    // The folder holding one sub-folder per planning run. Not necessarily created yet.
    virtual QString plansFolder() const = 0;
    // Starts `command` through the login shell in a new terminal session of `providerID`,
    // working in `directory`; `onFinish` is called once its process has ended. Returns the
    // session's id.
    virtual QUuid startSession(const QString& providerID, const QString& title,
                               const QString& command, const QString& directory,
                               FinishHandler onFinish) = 0;
    // Stops the session if it still exists.
    virtual void stopSession(const QUuid& id) = 0;
    // Makes the session the active one in focus mode on the Workspace page, if it exists.
    virtual void showSession(const QUuid& id) = 0;
    // Shows the Desktop actions page.
    virtual void showActionsPage() = 0;
};
