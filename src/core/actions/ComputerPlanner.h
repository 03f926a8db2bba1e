#pragma once

#include "core/actions/ComputerPlan.h"
#include "core/actions/StepRunner.h"

#include <QObject>
#include <QString>
#include <QUuid>

#include <optional>

class Dialogs;
class PlannerHost;

// Turns the user's request into a short desktop action plan drafted by the Codex assistant
// in a visible terminal session, then runs the plan one confirmed step at a time. Every
// field is published; everything runs on the main thread.
class ComputerPlanner : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString task READ task WRITE setTask NOTIFY taskChanged)
    Q_PROPERTY(bool planning READ planning NOTIFY planningChanged)
    Q_PROPERTY(bool executing READ executing NOTIFY executingChanged)
    Q_PROPERTY(int completed READ completed NOTIFY completedChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)

public:
    // Answer files larger than this are refused unread.
    static constexpr qint64 kMaximumAnswerBytes = 60000;
    // How long an opened application gets to come to the front before keys are sent.
    static constexpr int kStepDelayMs = 600;

    // The host, runner and dialogs must outlive the planner.
    ComputerPlanner(PlannerHost& host, StepRunner& runner, Dialogs& dialogs,
                    QObject* parent = nullptr);

    QString task() const { return m_task; }
    void setTask(const QString& task);
    const std::optional<ComputerPlan>& plan() const { return m_plan; }
    bool planning() const { return m_planning; }
    bool executing() const { return m_executing; }
    int completed() const { return m_completed; }
    QString message() const { return m_message; }
    // The planning session (it may have been closed since).
    std::optional<QUuid> session() const { return m_session; }
    // The folder of the latest planning run.
    QString planFolder() const { return m_planFolder; }

    // Starts planning the current task. Does nothing while planning or executing, or when
    // the task is blank.
    void prepare();
    // Confirms and runs the next step of the plan.
    void runNext();
    // Stops the planning session, if it still exists.
    void stopPlanning();
    // Shows the planning session's output on the Workspace page.
    void showPlannerOutput();

    void setStepDelayMs(int ms) { m_stepDelayMs = ms; }

Q_SIGNALS:
    void taskChanged();
    void planChanged();
    void planningChanged();
    void executingChanged();
    void completedChanged();
    void messageChanged();

private:
    void planningFinished(std::optional<int> exitCode, const QString& answerFile);
    void applicationOpened(const ComputerStep& step, const Result<RunningApplication>& opened);
    // A step's last operation ended: count it, or show why it failed.
    void finish(const Result<void>& done);
    // A step was carried out: count it and say so.
    void stepSent();

    void setPlan(std::optional<ComputerPlan> plan);
    void setPlanning(bool planning);
    void setExecuting(bool executing);
    void setCompleted(int completed);
    void setMessage(const QString& message);

    PlannerHost& m_host;
    StepRunner& m_runner;
    Dialogs& m_dialogs;

    QString m_task;
    std::optional<ComputerPlan> m_plan;
    bool m_planning = false;
    bool m_executing = false;
    int m_completed = 0;
    QString m_message;

    std::optional<QUuid> m_session;
    QUuid m_planningRun;  // the planning run whose completion is awaited; null when none
    QString m_planFolder;
    int m_stepDelayMs = kStepDelayMs;
};
