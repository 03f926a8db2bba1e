#pragma once

#include "core/actions/StepRunner.h"

#include <QObject>

#include <thread>

class DesktopServices;

// Carries out plan steps on an X11 desktop: applications are desktop entries found and
// launched through GIO (well-known macOS identifiers through an alias table), the front
// application is the owner of the EWMH active window, and keys are synthesised with libxdo
// while the target's window holds the keyboard focus. Typing runs on a worker thread; its
// result is handed back on the main thread.
class LinuxStepRunner : public QObject, public StepRunner {
    Q_OBJECT

public:
    // `desktop` answers the Accessibility question; it must outlive the runner.
    explicit LinuxStepRunner(DesktopServices& desktop, QObject* parent = nullptr);
    // Waits for typing in progress to end.
    ~LinuxStepRunner() override;

    Result<InstalledApplication> application(const QString& identifier) override;
    void openApplication(const InstalledApplication& application, OpenHandler handler) override;
    void openUrl(const QString& url, const InstalledApplication& application,
                 DoneHandler handler) override;
    std::optional<RunningApplication> running(const RunningApplication& opened) override;
    std::optional<RunningApplication> frontApplication() override;
    bool accessibilityTrusted() override;
    void send(const ComputerStep& step, const RunningApplication& target,
              DoneHandler handler) override;

    // Whether the process exists and has not ended (a zombie has ended).
    static bool processAlive(qint64 pid);

private:
    void post(std::function<void()> work);

    DesktopServices& m_desktop;
    std::thread m_typing;
};
