#include "platform/LinuxDesktopServices.h"

#include "platform/ApplicationResolver.h"

#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <vector>

namespace {

struct SettingsProgram {
    QStringList desktops;  // names as they appear in $XDG_CURRENT_DESKTOP
    QString program;
    // The arguments that open each pane; nothing when the desktop has no such pane.
    std::optional<QStringList> accessibility;
    std::optional<QStringList> screenRecording;
};

// Panels closest to the two permissions. GNOME's Privacy panel covers screen sharing; KDE,
// Xfce and MATE have no screen-recording permission, only their accessibility settings.
const std::vector<SettingsProgram>& settingsPrograms() {
    static const std::vector<SettingsProgram> programs = {
        {{"GNOME", "Unity", "ubuntu", "Budgie"},
         "gnome-control-center",
         QStringList{"universal-access"},
         QStringList{"privacy"}},
        {{"X-Cinnamon", "Cinnamon"},
         "cinnamon-settings",
         QStringList{"universal-access"},
         QStringList{"privacy"}},
        {{"KDE"}, "systemsettings", QStringList{"kcm_access"}, std::nullopt},
        {{"XFCE"}, "xfce4-accessibility-settings", QStringList{}, std::nullopt},
        {{"MATE"}, "mate-at-properties", QStringList{}, std::nullopt},
    };
    return programs;
}

QStringList currentDesktops() {
    return qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(':', Qt::SkipEmptyParts);
}

QUrl urlFromText(const QString& text) {
    if (QDir::isAbsolutePath(text)) {
        return QUrl::fromLocalFile(text);
    }
    return QUrl(text);
}

}  // namespace

bool LinuxDesktopServices::openUrl(const QString& text) {
    const QUrl url = urlFromText(text);
    if (!url.isValid() || url.scheme().isEmpty()) {
        return false;
    }
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        return QDesktopServices::openUrl(url);
    }
    // Without a GUI application Qt has no platform services to ask; xdg-open is what they
    // would run on a generic desktop anyway.
    const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    return !xdgOpen.isEmpty() &&
           QProcess::startDetached(xdgOpen, {QString::fromUtf8(url.toEncoded())});
}

QStringList LinuxDesktopServices::privacySettingsCommand(PrivacyPane pane) {
    const QStringList desktops = currentDesktops();
    for (const SettingsProgram& candidate : settingsPrograms()) {
        const bool matches = std::any_of(desktops.begin(), desktops.end(), [&](const QString& d) {
            return candidate.desktops.contains(d, Qt::CaseInsensitive);
        });
        if (!matches) {
            continue;
        }
        const std::optional<QStringList>& arguments = pane == PrivacyPane::Accessibility
                                                          ? candidate.accessibility
                                                          : candidate.screenRecording;
        const QString executable = QStandardPaths::findExecutable(candidate.program);
        if (!arguments || executable.isEmpty()) {
            return {};
        }
        return QStringList{executable} + *arguments;
    }
    return {};
}

QString LinuxDesktopServices::missingSettingNotice(PrivacyPane pane) {
    if (pane == PrivacyPane::Accessibility) {
        return QStringLiteral(
            "This desktop has no Accessibility setting. VELK can send keystrokes whenever it "
            "runs on an X11 display with the XTEST extension.");
    }
    return QStringLiteral("This desktop has no Screen Recording setting.");
}

Result<void> LinuxDesktopServices::openPrivacySettings(PrivacyPane pane) {
    const QStringList command = privacySettingsCommand(pane);
    if (command.isEmpty() || !QProcess::startDetached(command.first(), command.mid(1))) {
        return Error{Error::Kind::Unavailable, missingSettingNotice(pane)};
    }
    return {};
}

Result<void> LinuxDesktopServices::launchDesktopEntry(const QString& desktopFilePath) {
    const Result<qint64> launched = ApplicationResolver::launch(desktopFilePath, {});
    if (!launched) {
        return launched.error();
    }
    return {};
}

bool LinuxDesktopServices::accessibilityTrusted() {
    return x11WithXTestReachable();
}
