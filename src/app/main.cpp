// Process entry: run mode, single instance, one-time preference migration, launch.
#include "app/SelfTestRunner.h"
#include "app/VelkApplication.h"
#include "app/selftest/SelfTest.h"
#include "core/app/CommandLine.h"
#include "core/app/PreferenceMigration.h"
#include "core/services/Dialogs.h"
#include "core/services/Preferences.h"
#include "core/workspace/Workspace.h"
#include "platform/LinuxDesktopServices.h"
#include "platform/LogindInhibitor.h"
#include "platform/SingleInstance.h"
#include "ui/kit/FontWarmUp.h"

#include <QApplication>
#include <QDBusConnection>
#include <QFileInfo>
#include <QThreadPool>

#include <memory>

namespace {

// Headless end-to-end checks on a workspace that never touches the preferences.
int runSelfTestMode(const CommandLine& commandLine) {
    // Taken before anything exists that could touch the user's preferences.
    const QByteArray preferencesFingerprint = userPreferencesFingerprint();
    MemoryPreferences preferences;
    ScriptedDialogs dialogs;
    LogindInhibitor inhibitor;
    LinuxDesktopServices desktop;
    Workspace workspace(false, WorkspaceServices{&preferences, &dialogs, &inhibitor, &desktop});
    startSelfTest(workspace, commandLine.selfTestOutputFolder(), &preferences,
                  preferencesFingerprint);
    return QCoreApplication::exec();
}

std::unique_ptr<Preferences> migratedPreferences() {
    auto preferences = std::make_unique<SettingsPreferences>();
    const QString formerPath = SettingsPreferences::formerPreferencesPath();
    std::unique_ptr<SettingsPreferences> former;
    if (QFileInfo::exists(formerPath)) {
        former = std::make_unique<SettingsPreferences>(formerPath);
    }
    migrateFormerPreferences(*preferences, former.get());
    return preferences;
}

}  // namespace

int main(int argc, char** argv) {
    readFontConfiguration();
    const CommandLine commandLine = CommandLine::parse(QStringList([&] {
        QStringList list;
        for (int i = 0; i < argc; ++i) {
            list << QString::fromLocal8Bit(argv[i]);
        }
        return list;
    }()));

    if (commandLine.selfTest && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        // The self-test is headless: it never needs a display.
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VELK"));
    QApplication::setApplicationVersion(QStringLiteral(VELK_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);
    // The menu entry's id lets the desktop match the window to its entry; the icon follows
    // once the window shows (VelkApplication::launch).
    QGuiApplication::setDesktopFileName(QStringLiteral("ai.kelo.velk"));

    if (commandLine.selfTest) {
        return runSelfTestMode(commandLine);
    }

    SingleInstance instance;
    if (instance.activateRunningInstance()) {
        return 0;
    }
    // Connecting to a message bus waits on the bus daemon. Begun now on a pool thread, the
    // session bus is ready by the time the window's first label starts Qt's accessibility
    // bridge on it, and the system bus by the time a run first asks the sleep inhibitor.
    QThreadPool::globalInstance()->start([] {
        QDBusConnection::sessionBus();
        QDBusConnection::systemBus();
    });
    instance.listen();

    VelkApplication delegate(
        commandLine, commandLine.automation()
                         ? std::unique_ptr<Preferences>(std::make_unique<MemoryPreferences>())
                         : migratedPreferences());
    QObject::connect(&instance, &SingleInstance::activationRequested, &delegate,
                     &VelkApplication::showMainWindow);
    // Built and shown before the event loop starts, as a bare Qt window is: the loop's first
    // turns map it and paint it.
    delegate.launch();
    return QApplication::exec();
}
