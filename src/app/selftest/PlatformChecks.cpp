#include "app/selftest/SelfTest.h"

#include "core/services/Preferences.h"
#include "platform/LinuxDesktopServices.h"
#include "platform/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QUuid>

#include <atomic>
#include <thread>

namespace {

bool writeExecutable(const QString& path, const QByteArray& contents) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(contents) != contents.size()) {
        return false;
    }
    file.close();
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

SelfTestResult preferencesKeepEveryStoredType(SelfTestContext& context) {
    const QString path = QDir(context.outputFolder).filePath("preferences/VELK.conf");
    const QVariantMap stored = {
        {"workspace", QStringLiteral("/home/user/a \"project\"\n")},
        {"recentFolders", QStringList{"/one", "/two, three", ""}},
        {"providers", QByteArray("[{\"id\":\"claude\"}]\0\xff", 20)},
        {"keepAwake", true},
        {"kelo.pet.size", 0.1 + 0.2},
    };
    {
        SettingsPreferences preferences(path);
        for (auto it = stored.begin(); it != stored.end(); ++it) {
            preferences.setValue(it.key(), it.value());
        }
        preferences.sync();
    }
    SettingsPreferences reread(path);
    for (auto it = stored.begin(); it != stored.end(); ++it) {
        const QVariant value = reread.value(it.key());
        if (value.typeId() != it.value().typeId() || value != it.value()) {
            return QStringLiteral("\"%1\" came back as %2").arg(it.key(), value.toString());
        }
    }
    return std::nullopt;
}

SelfTestResult aSecondStartReachesTheFirst(SelfTestContext&) {
    // A plain name puts the socket in the temporary folder. A path inside the output folder
    // could pass the 107-byte limit of a socket address when that folder is deep.
    const QString socketName =
        QStringLiteral("velk-self-test-") + QUuid::createUuid().toString(QUuid::Id128).left(16);
    SingleInstance first(socketName);
    if (!first.listen()) {
        return QStringLiteral("the first instance cannot listen");
    }
    bool activated = false;
    QObject::connect(&first, &SingleInstance::activationRequested, [&] { activated = true; });
    // The second start blocks while it waits for the answer, so it runs on its own thread
    // while this one serves the first instance.
    std::atomic<int> handedOver{-1};
    std::thread second([&] { handedOver = SingleInstance(socketName).activateRunningInstance(); });
    selfTestWaitUntil([&] { return activated && handedOver != -1; }, 5000);
    second.join();
    if (handedOver != 1 || !activated) {
        return QStringLiteral("the second start was not handed to the first");
    }
    return std::nullopt;
}

// Launched through GIO in the desktop module the program opens beside it (installed in
// ../lib/velk).
SelfTestResult aDesktopEntryLaunchesItsCommand(SelfTestContext& context) {
    const QDir folder(QDir(context.outputFolder).filePath("desktop entry"));
    folder.mkpath(".");
    const QString marker = folder.filePath("launched");
    const QString script = folder.filePath("launch.sh");
    if (!writeExecutable(script, "#!/bin/sh\necho \"$1\" > \"" + marker.toUtf8() + "\"\n") ||
        !writeExecutable(folder.filePath("check.desktop"),
                         "[Desktop Entry]\nType=Application\nName=Check\nExec=\"" +
                             script.toUtf8() + "\" started\n")) {
        return QStringLiteral("cannot write the desktop entry");
    }
    LinuxDesktopServices services;
    if (const Result<void> launched = services.launchDesktopEntry(folder.filePath("check.desktop"));
        !launched) {
        return launched.error().message;
    }
    if (!selfTestWaitUntil([&] { return readAll(marker) == "started\n"; }, 5000)) {
        return QStringLiteral("the launched command did not run");
    }
    return std::nullopt;
}

}  // namespace

std::vector<SelfTestCheck> platformChecks() {
    return {
        {QStringLiteral("preferences keep every stored type"), preferencesKeepEveryStoredType},
        {QStringLiteral("a second start reaches the first"), aSecondStartReachesTheFirst},
        {QStringLiteral("a desktop entry launches its command"), aDesktopEntryLaunchesItsCommand},
    };
}
