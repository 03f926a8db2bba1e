#include "core/actions/ComputerPlanner.h"

#include "core/actions/PlannerHost.h"
#include "core/assistants/AssistantTraits.h"
#include "core/assistants/ConnectionStatus.h"
#include "core/assistants/Provider.h"
#include "core/services/Dialogs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>
#include <QTimer>

namespace {

const QString kInstallCodex =
    QStringLiteral("Install and sign in to Codex in Assistants to create a plan.");
const QString kSignInCodex =
    QStringLiteral("Codex is not signed in. Sign in to Codex in Assistants to create a plan.");
const QString kDrafting =
    QStringLiteral("Codex is drafting steps. No computer actions run during planning.");
const QString kPlanningFailed = QStringLiteral(
    "Planning stopped or failed. Open the planner output to see the provider’s message.");
const QString kCouldNotUse = QStringLiteral("Could not use this plan: ");
const QString kTooLarge = QStringLiteral("The plan response was too large.");
const QString kReview =
    QStringLiteral("Review the steps below. Run next step performs one action only.");
const QString kNeedsMore = QStringLiteral("This request needs more information or manual steps.");
const QString kAllowAccessibility = QStringLiteral(
    "Typing needs an X11 session with the XTEST extension; under Wayland VELK "
    "cannot type into other applications.");
const QString kCouldNotOpen = QStringLiteral("The app could not be opened.");
const QString kNoLongerActive =
    QStringLiteral("The target app is no longer active. Nothing was typed. Try this step again.");
const QString kStepSent = QStringLiteral("Step sent. Check the target app before continuing.");

bool sendsKeys(const ComputerStep& step) {
    return step.action == u"type_text" || step.action == u"key";
}

QString confirmationText(const ComputerStep& step) {
    return QStringLiteral("App: ") + step.app + QStringLiteral("\nAction: ") + step.action +
           QStringLiteral("\n\n") +
           (step.value.isEmpty() ? QStringLiteral("Open this application.") : step.shownValue()) +
           QStringLiteral(
               "\n\nTyping and keys go to this app’s focused control. Confirm the intended "
               "document or field before proceeding.");
}

// Reads at most one byte past the limit: an oversized or endless answer is refused without
// reading it whole. Only regular files are read, so a pipe cannot stall the main thread.
Result<ComputerPlan> readAnswer(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) {
        return Error{Error::Kind::NotFound, QStringLiteral("The assistant did not write a plan.")};
    }
    if (!info.isFile()) {
        return Error::invalid(QStringLiteral("The plan response is not a regular file."));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return Error{Error::Kind::System, file.errorString()};
    }
    const QByteArray data = file.read(ComputerPlanner::kMaximumAnswerBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        return Error{Error::Kind::System, file.errorString()};
    }
    if (data.size() > ComputerPlanner::kMaximumAnswerBytes) {
        return Error{Error::Kind::Limit, kTooLarge};
    }
    const Result<ComputerPlan> decoded = ComputerPlan::decode(data);
    if (!decoded) {
        return decoded;
    }
    return decoded->validated();
}

}  // namespace

ComputerPlanner::ComputerPlanner(PlannerHost& host, StepRunner& runner, Dialogs& dialogs,
                                 QObject* parent)
    : QObject(parent), m_host(host), m_runner(runner), m_dialogs(dialogs) {}

void ComputerPlanner::setTask(const QString& task) {
    if (m_task != task) {
        m_task = task;
        Q_EMIT taskChanged();
    }
}

void ComputerPlanner::prepare() {
    if (m_planning || m_executing) {
        return;
    }
    if (m_task.trimmed().isEmpty()) {
        return;
    }
    const AssistantTraits& planner = AssistantTraits::desktopPlanner();
    const QString tool = m_host.availableAssistants().value(planner.stock.id);
    if (tool.isEmpty()) {
        setMessage(kInstallCodex);
        return;
    }
    // Without a sign-in Codex would wait for one, or fail, only after a long start.
    if (m_host.connectionStatus(planner.stock.id) == ConnectionStatus::signInNeeded) {
        setMessage(kSignInCodex);
        return;
    }

    const QString folder =
        QDir(m_host.plansFolder())
            .filePath(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    const QString schemaFile = QDir(folder).filePath(QStringLiteral("schema.json"));
    const QString answerFile = QDir(folder).filePath(QStringLiteral("plan.json"));
    if (!QDir().mkpath(folder)) {
        setPlanning(false);
        setMessage(QStringLiteral("The folder “%1” could not be created.").arg(folder));
        return;
    }
    QSaveFile schema(schemaFile);
    if (!schema.open(QIODevice::WriteOnly) || schema.write(ComputerPlan::schema().toUtf8()) < 0 ||
        !schema.commit()) {
        setPlanning(false);
        setMessage(schema.errorString());
        return;
    }
    m_planFolder = folder;

    const QString prompt = ComputerPlan::instructions() + m_task;
    const QString& arguments = planner.abilities.planDesktopActions;
    const QHash<QString, QString> files = {{QStringLiteral("schema"), shellQuote(schemaFile)},
                                           {QStringLiteral("answer"), shellQuote(answerFile)}};
    const QString executable = shellQuote(tool) + u' ';
    QString command = executable + AssistantTraits::withTask(arguments, prompt, files);
    if (!commandLineFits(command)) {
        // Too long for the command line: `codex exec -` reads the task from standard input.
        const QString taskFile = QDir(folder).filePath(QStringLiteral("task.txt"));
        QSaveFile task(taskFile);
        if (!task.open(QIODevice::WriteOnly) || task.write(prompt.toUtf8()) < 0 || !task.commit()) {
            setMessage(task.errorString());
            return;
        }
        if (const auto reading = planner.withTaskFromFile(arguments, taskFile, files)) {
            command = executable + *reading;
        }
    }

    setPlan(std::nullopt);
    setCompleted(0);
    setPlanning(true);
    setMessage(kDrafting);

    // The id tells this run's completion apart from a late one of an earlier run.
    const QUuid run = QUuid::createUuid();
    m_planningRun = run;
    QPointer<ComputerPlanner> self(this);
    m_session =
        m_host.startSession(planner.stock.id, QStringLiteral("Plan desktop actions"), command,
                            folder, [self, run, answerFile](std::optional<int> exitCode) {
                                if (self && self->m_planningRun == run) {
                                    self->planningFinished(exitCode, answerFile);
                                }
                            });
    m_host.showActionsPage();
}

void ComputerPlanner::planningFinished(std::optional<int> exitCode, const QString& answerFile) {
    m_planningRun = QUuid();
    setPlanning(false);
    if (!exitCode || *exitCode != 0) {
        setMessage(kPlanningFailed);
        return;
    }
    const Result<ComputerPlan> result = readAnswer(answerFile);
    if (!result) {
        setMessage(kCouldNotUse + result.error().message);
        return;
    }
    setPlan(*result);
    setMessage(result->steps.isEmpty() ? kNeedsMore : kReview);
}

void ComputerPlanner::stopPlanning() {
    if (m_planning && m_session) {
        m_host.stopSession(*m_session);
    }
}

void ComputerPlanner::showPlannerOutput() {
    if (m_session) {
        m_host.showSession(*m_session);
    }
}

void ComputerPlanner::runNext() {
    if (!m_plan || m_completed >= m_plan->steps.size() || m_executing) {
        return;
    }
    const ComputerStep step = m_plan->steps.at(m_completed);
    if (const Result<ComputerPlan> check = m_plan->validated(); !check) {
        setMessage(check.error().message);
        return;
    }
    const Result<InstalledApplication> application = m_runner.application(step.app);
    if (!application) {
        setMessage(
            application.error().kind == Error::Kind::NotFound
                ? QStringLiteral("The app ") + step.app +
                      QStringLiteral(" is not installed. Adjust your request and make a new plan.")
                : application.error().message);
        return;
    }

    const std::optional<ComputerPlan> planShown = m_plan;
    const int completedShown = m_completed;
    QPointer<ComputerPlanner> self(this);
    const int answer =
        m_dialogs.alert(Dialogs::Alert{step.title + u'?',
                                       confirmationText(step),
                                       {QStringLiteral("Run this step"), QStringLiteral("Cancel")},
                                       Dialogs::Style::Warning});
    // The dialog runs its own event loop: run only the step that was confirmed, and only if
    // the planner still exists.
    if (answer != 0 || !self) {
        return;
    }
    if (m_executing || m_plan != planShown || m_completed != completedShown) {
        return;
    }
    if (sendsKeys(step) && !m_runner.accessibilityTrusted()) {
        setMessage(kAllowAccessibility);
        return;
    }

    setExecuting(true);
    if (step.action == u"open_url") {
        m_runner.openUrl(step.value, *application, [self](const Result<void>& opened) {
            if (self) {
                self->finish(opened);
            }
        });
        return;
    }
    m_runner.openApplication(*application, [self, step](const Result<RunningApplication>& opened) {
        if (!self) {
            return;
        }
        // Give the application time to come to the front before checking it is there.
        QTimer::singleShot(self->m_stepDelayMs, self,
                           [self, step, opened] { self->applicationOpened(step, opened); });
    });
}

void ComputerPlanner::applicationOpened(const ComputerStep& step,
                                        const Result<RunningApplication>& opened) {
    if (!opened) {
        finish(opened.error());
        return;
    }
    const std::optional<RunningApplication> current = m_runner.running(*opened);
    if (!current) {
        setExecuting(false);
        setMessage(kCouldNotOpen);
        return;
    }
    if (step.action == u"open_app") {
        stepSent();
        return;
    }
    const std::optional<RunningApplication> front = m_runner.frontApplication();
    if (!front || !front->sameApplication(*current)) {
        setExecuting(false);
        setMessage(kNoLongerActive);
        return;
    }
    QPointer<ComputerPlanner> self(this);
    m_runner.send(step, *current, [self](const Result<void>& sent) {
        if (self) {
            self->finish(sent);
        }
    });
}

void ComputerPlanner::finish(const Result<void>& done) {
    if (!done) {
        setExecuting(false);
        setMessage(done.error().message);
        return;
    }
    stepSent();
}

void ComputerPlanner::stepSent() {
    setExecuting(false);
    setCompleted(m_completed + 1);
    setMessage(kStepSent);
}

void ComputerPlanner::setPlan(std::optional<ComputerPlan> plan) {
    if (m_plan != plan) {
        m_plan = std::move(plan);
        Q_EMIT planChanged();
    }
}

void ComputerPlanner::setPlanning(bool planning) {
    if (m_planning != planning) {
        m_planning = planning;
        Q_EMIT planningChanged();
    }
}

void ComputerPlanner::setExecuting(bool executing) {
    if (m_executing != executing) {
        m_executing = executing;
        Q_EMIT executingChanged();
    }
}

void ComputerPlanner::setCompleted(int completed) {
    if (m_completed != completed) {
        m_completed = completed;
        Q_EMIT completedChanged();
    }
}

void ComputerPlanner::setMessage(const QString& message) {
    if (m_message != message) {
        m_message = message;
        Q_EMIT messageChanged();
    }
}
