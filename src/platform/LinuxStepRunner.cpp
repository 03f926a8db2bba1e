#include "platform/LinuxStepRunner.h"

#include "core/services/DesktopServices.h"
#include "platform/ApplicationResolver.h"
#include "platform/KeyboardSynthesis.h"
#include "platform/X11Windows.h"

#include <QFile>
#include <QMetaObject>

#include <cerrno>
#include <csignal>

namespace {

RunningApplication runningFrom(const X11Windows::Window& window) {
    return RunningApplication{window.pid, window.windowClasses};
}

// The newest managed window of the application, if it has one.
std::optional<X11Windows::Window> windowOf(const QStringList& windowClasses) {
    const std::vector<X11Windows::Window> windows = X11Windows::clientWindows();
    const RunningApplication wanted{0, windowClasses};
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        if (wanted.sameApplication(runningFrom(*it))) {
            return *it;
        }
    }
    return std::nullopt;
}

// Keys go out only while both the active window and the keyboard focus belong to the
// target: typing into whatever window happens to be focused would be unsafe.
bool targetHasFocus(const RunningApplication& target) {
    const std::optional<X11Windows::Window> active = X11Windows::activeWindow();
    const std::optional<X11Windows::Window> focused = X11Windows::focusedWindow();
    return active && focused && target.sameApplication(runningFrom(*active)) &&
           target.sameApplication(runningFrom(*focused));
}

}  // namespace

LinuxStepRunner::LinuxStepRunner(DesktopServices& desktop, QObject* parent)
    : QObject(parent), m_desktop(desktop) {}

LinuxStepRunner::~LinuxStepRunner() {
    if (m_typing.joinable()) {
        m_typing.join();
    }
}

void LinuxStepRunner::post(std::function<void()> work) {
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

Result<InstalledApplication> LinuxStepRunner::application(const QString& identifier) {
    const Result<ApplicationResolver::Entry> entry = ApplicationResolver::resolve(identifier);
    if (!entry) {
        return entry.error();
    }
    return InstalledApplication{identifier, entry->desktopFile, entry->name, entry->windowClasses};
}

void LinuxStepRunner::openApplication(const InstalledApplication& application,
                                      OpenHandler handler) {
    // A running application is brought to the front rather than started again.
    if (const std::optional<X11Windows::Window> window = windowOf(application.windowClasses)) {
        const bool activated = X11Windows::activate(window->id);
        const RunningApplication running{window->pid, application.windowClasses};
        post([handler, activated, running] {
            if (activated) {
                handler(running);
            } else {
                handler(Error{Error::Kind::System,
                              QStringLiteral("The app could not be brought to the front.")});
            }
        });
        return;
    }
    const Result<qint64> launched = ApplicationResolver::launch(application.desktopFile, {});
    post([handler, launched, classes = application.windowClasses] {
        if (launched) {
            handler(RunningApplication{*launched, classes});
        } else {
            handler(launched.error());
        }
    });
}

void LinuxStepRunner::openUrl(const QString& url, const InstalledApplication& application,
                              DoneHandler handler) {
    const Result<qint64> launched = ApplicationResolver::launch(application.desktopFile, {url});
    post([handler, launched] {
        if (launched) {
            handler(Result<void>());
        } else {
            handler(launched.error());
        }
    });
}

std::optional<RunningApplication> LinuxStepRunner::running(const RunningApplication& opened) {
    if (opened.pid > 0 && processAlive(opened.pid)) {
        return opened;
    }
    // The launcher handed off to an instance that was already running, or the application
    // was started through D-Bus: it is running if one of its windows is.
    if (const std::optional<X11Windows::Window> window = windowOf(opened.windowClasses)) {
        return RunningApplication{window->pid, opened.windowClasses};
    }
    return std::nullopt;
}

std::optional<RunningApplication> LinuxStepRunner::frontApplication() {
    const std::optional<X11Windows::Window> active = X11Windows::activeWindow();
    if (!active) {
        return std::nullopt;
    }
    return runningFrom(*active);
}

bool LinuxStepRunner::accessibilityTrusted() {
    return m_desktop.accessibilityTrusted();
}

void LinuxStepRunner::send(const ComputerStep& step, const RunningApplication& target,
                           DoneHandler handler) {
    if (!accessibilityTrusted()) {
        post([handler] {
            handler(Error{Error::Kind::Unavailable,
                          QStringLiteral("Accessibility permission is needed.")});
        });
        return;
    }
    std::optional<QString> sequence;
    if (step.action == u"key") {
        sequence = KeyboardSynthesis::keySequence(step.value);
        if (!sequence) {
            post([handler] {
                handler(Error::invalid(
                    QStringLiteral("The plan requested an unsupported keyboard shortcut.")));
            });
            return;
        }
    } else if (step.action != u"type_text") {
        post([handler] {
            handler(Error::invalid(QStringLiteral("The plan requested an unsupported action.")));
        });
        return;
    }
    // The planner sends one step at a time; an earlier worker has finished by now.
    if (m_typing.joinable()) {
        m_typing.join();
    }
    const QString text = step.value;
    m_typing = std::thread([this, handler, sequence, text, target] {
        const auto stillFocused = [target] { return targetHasFocus(target); };
        Result<void> sent = sequence ? KeyboardSynthesis::pressKeys(*sequence, stillFocused)
                                     : KeyboardSynthesis::typeText(text, stillFocused);
        post([handler, sent] { handler(sent); });
    });
}

bool LinuxStepRunner::processAlive(qint64 pid) {
    if (pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)) {
        return false;
    }
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return true;
    }
    // "pid (name) S …": the state follows the last closing parenthesis.
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close < 0 || close + 2 >= line.size() || line.at(close + 2) != 'Z';
}
