#pragma once

#include "core/actions/ComputerPlan.h"
#include "core/base/Result.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// An installed application found for the identifier a plan step names.
struct InstalledApplication {
    QString identifier;   // as the plan names it (bundle identifier or desktop-entry id)
    QString desktopFile;  // the .desktop file that describes it
    QString name;         // its display name
    // The X11 window classes its windows carry (lower case). Used to recognise the
    // application when its launcher hands off to an instance that was already running.
    QStringList windowClasses;

    bool operator==(const InstalledApplication&) const = default;
};

// A running application: a process and the window classes it was recognised by.
struct RunningApplication {
    qint64 pid = 0;
    QStringList windowClasses;  // lower case; may be empty

    bool operator==(const RunningApplication&) const = default;

    // The same process, or a window of the same application class.
    bool sameApplication(const RunningApplication& other) const;
};

// The desktop operations that carry out plan steps. Every handler runs on the main thread
// (implementations queue them there) and may run after the caller is gone, so callers
// guard what they capture.
class StepRunner {
public:
    // The application brought to the front, or why it could not be.
    using OpenHandler = std::function<void(Result<RunningApplication> opened)>;
    // Whether the operation was carried out, and why not.
    using DoneHandler = std::function<void(Result<void> done)>;

    virtual ~StepRunner() = default;

    // The installed application for an identifier; Error::Kind::NotFound when none is, other
    // errors when the desktop's applications cannot be looked up.
    virtual Result<InstalledApplication> application(const QString& identifier) = 0;
    // Brings the application to the front: raises one of its windows, or launches it.
    virtual void openApplication(const InstalledApplication& application, OpenHandler handler) = 0;
    // Opens a web address with the application.
    virtual void openUrl(const QString& url, const InstalledApplication& application,
                         DoneHandler handler) = 0;
    // The application as it runs now: the same process while it lives, else the process
    // owning a window of its classes (a launcher that handed off); nothing when neither.
    virtual std::optional<RunningApplication> running(const RunningApplication& opened) = 0;
    // The application owning the active window, or nothing.
    virtual std::optional<RunningApplication> frontApplication() = 0;
    // Whether synthetic keyboard input can be delivered (an X11 display with XTEST).
    virtual bool accessibilityTrusted() = 0;
    // Types the text of a "type_text" step, or sends the shortcut of a "key" step, to the
    // focused window of `target`. Nothing is sent unless `target` owns the active window,
    // and typing stops as soon as it no longer does.
    virtual void send(const ComputerStep& step, const RunningApplication& target,
                      DoneHandler handler) = 0;
};
