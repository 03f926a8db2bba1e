#pragma once

// Stand-ins for the planner's collaborators: a host that runs session commands through the
// login shell or answers at once with a chosen file, and a step runner whose desktop is
// scripted.

#include "core/actions/PlannerHost.h"
#include "core/actions/StepRunner.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>

#include <map>
#include <memory>
#include <vector>

struct StartedSession {
    QString providerID, title, command, directory;
};

// With an answer set, every session finishes at once (on the next turn of the event loop)
// after writing the answer into the planning folder, as a successful Codex run would.
// Without, it runs the session command with `zsh -l -c` in its folder, as terminal sessions
// do; a process ended by a signal has no exit status.
class FakePlannerHost : public PlannerHost {
    QTemporaryDir m_folder;  // first: the plans folder below lives in it

public:
    std::optional<QByteArray> answer;
    QMap<QString, QString> available = {{"codex", "/usr/bin/codex"}};
    QString plans = m_folder.filePath(QStringLiteral("Computer plans"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    std::vector<StartedSession> started;
    int actionsPageShown = 0;
    std::vector<QUuid> shownSessions;

    QMap<QString, QString> availableAssistants() const override { return available; }
    QString plansFolder() const override { return plans; }

    QUuid startSession(const QString& providerID, const QString& title, const QString& command,
                       const QString& directory, FinishHandler onFinish) override {
        started.push_back({providerID, title, command, directory});
        const QUuid id = QUuid::createUuid();
        if (answer) {
            QFile file(QDir(directory).filePath(QStringLiteral("plan.json")));
            if (file.open(QIODevice::WriteOnly)) {
                file.write(*answer);
            }
            QTimer::singleShot(0, [onFinish] { onFinish(0); });
            return id;
        }
        auto process = std::make_shared<QProcess>();
        process->setProcessEnvironment(environment);
        process->setWorkingDirectory(directory);
        process->setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(
            process.get(), &QProcess::finished,
            [this, id, onFinish](int code, QProcess::ExitStatus status) {
                m_processes.erase(id);
                onFinish(status == QProcess::NormalExit ? std::optional(code) : std::nullopt);
            });
        m_processes[id] = process;
        process->start(QStringLiteral("/bin/zsh"), {"-l", "-c", command});
        return id;
    }
    void stopSession(const QUuid& id) override {
        if (auto found = m_processes.find(id); found != m_processes.end()) {
            found->second->terminate();
        }
    }
    void showSession(const QUuid& id) override { shownSessions.push_back(id); }
    void showActionsPage() override { ++actionsPageShown; }

private:
    std::map<QUuid, std::shared_ptr<QProcess>> m_processes;
};

// A desktop whose applications, front window and permission are set by the test. Handlers
// are answered on the next turn of the event loop, like the real desktop's.
class ScriptedStepRunner : public StepRunner {
public:
    QMap<QString, InstalledApplication> installed;
    bool trusted = true;
    // What opening answers: the running application, or the error when one is set.
    RunningApplication opens = RunningApplication{100, {"app"}};
    std::optional<QString> openError;
    bool stillRunning = true;
    std::optional<RunningApplication> front = RunningApplication{100, {"app"}};
    std::optional<QString> sendError;

    std::vector<QString> opened;  // identifiers, in order
    std::vector<QString> openedUrls;
    std::vector<std::pair<ComputerStep, qint64>> sent;

    Result<InstalledApplication> application(const QString& identifier) override {
        const auto found = installed.constFind(identifier);
        if (found == installed.constEnd()) {
            return Error{Error::Kind::NotFound, identifier + QStringLiteral(" is not installed")};
        }
        return *found;
    }
    void openApplication(const InstalledApplication& application, OpenHandler handler) override {
        opened.push_back(application.identifier);
        QTimer::singleShot(0, [this, handler] {
            handler(openError ? Result<RunningApplication>(Error::invalid(*openError)) : opens);
        });
    }
    void openUrl(const QString& url, const InstalledApplication&, DoneHandler handler) override {
        openedUrls.push_back(url);
        QTimer::singleShot(0, [this, handler] { handler(outcome(openError)); });
    }
    std::optional<RunningApplication> running(const RunningApplication& app) override {
        return stillRunning ? std::optional(app) : std::nullopt;
    }
    std::optional<RunningApplication> frontApplication() override { return front; }
    bool accessibilityTrusted() override { return trusted; }
    void send(const ComputerStep& step, const RunningApplication& target,
              DoneHandler handler) override {
        sent.emplace_back(step, target.pid);
        QTimer::singleShot(0, [this, handler] { handler(outcome(sendError)); });
    }

private:
    static Result<void> outcome(const std::optional<QString>& error) {
        if (error) {
            return Error::invalid(*error);
        }
        return {};
    }
};
