// Checks of the application as installed: its resources are found without the build tree
// and the example project prepares from them; and the guard that proves a self-test run
// neither read nor wrote any preferences, the user's own file included.

#include "app/selftest/SelfTest.h"

#include "core/files/ExampleProject.h"
#include "core/services/AppPaths.h"
#include "core/services/Dialogs.h"
#include "core/services/Preferences.h"
#include "core/workspace/Workspace.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

namespace {

QStringList entryNames(const QString& folder) {
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                               QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

SelfTestResult exampleProjectPreparesFromTheResources(SelfTestContext& context) {
    const QString resources = AppPaths::resourcesFolder();
    if (resources.isEmpty()) {
        return QStringLiteral(
            "no resources folder beside the program (../share/velk/resources or resources)");
    }
    const QString source = QDir(resources).filePath(QStringLiteral("Example Project"));
    const QStringList shipped = entryNames(source);
    if (shipped.isEmpty()) {
        return QStringLiteral("the example project in %1 is missing or empty").arg(resources);
    }
    const QString destination = QDir(context.outputFolder).filePath(QStringLiteral("example"));
    const Result<QString> prepared = ExampleProject::prepare(source, destination);
    if (!prepared) {
        return QStringLiteral("the example project could not be prepared: ") +
               prepared.error().message;
    }
    if (entryNames(*prepared) != shipped) {
        return QStringLiteral("the prepared example holds %1 instead of %2")
            .arg(entryNames(*prepared).join(QStringLiteral(", ")),
                 shipped.join(QStringLiteral(", ")));
    }
    // The workspace lists the prepared project as the Files page shows it.
    MemoryPreferences preferences;
    ScriptedDialogs dialogs;
    Workspace workspace(false, WorkspaceServices{&preferences, &dialogs, nullptr, nullptr});
    workspace.project.setFolder(*prepared);
    workspace.project.refreshFiles();
    QStringList listed;
    for (const FileEntry& entry : workspace.project.files()) {
        if (QFileInfo(entry.path).absolutePath() == QDir(*prepared).absolutePath()) {
            listed.append(QFileInfo(entry.path).fileName());
        }
    }
    listed.sort();
    if (listed.isEmpty()) {
        return QStringLiteral("the workspace listed nothing in the prepared example project");
    }
    for (const QString& name : listed) {
        if (!shipped.contains(name)) {
            return QStringLiteral("the workspace listed %1, which was not shipped").arg(name);
        }
    }
    return std::nullopt;
}

}  // namespace

std::vector<SelfTestCheck> applicationChecks() {
    return {
        {QStringLiteral("the example project prepares from the installed resources"),
         exampleProjectPreparesFromTheResources},
    };
}

QByteArray userPreferencesFingerprint() {
    // Every file of the preferences folder with its size, time and contents; a lock or
    // temporary file left by a write shows up as well.
    const QString folder = QFileInfo(SettingsPreferences::defaultPath()).absolutePath();
    if (!QFileInfo::exists(folder)) {
        return QByteArrayLiteral("absent");
    }
    QStringList lines;
    QDirIterator files(folder, QDir::Files | QDir::Hidden | QDir::System,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QFileInfo file(files.next());
        QFile contents(file.filePath());
        const QByteArray digest =
            contents.open(QIODevice::ReadOnly)
                ? QCryptographicHash::hash(contents.readAll(), QCryptographicHash::Sha256).toHex()
                : QByteArrayLiteral("unreadable");
        lines.append(QStringLiteral("%1 %2 %3 %4")
                         .arg(file.filePath())
                         .arg(file.size())
                         .arg(file.lastModified().toMSecsSinceEpoch())
                         .arg(QString::fromLatin1(digest)));
    }
    lines.sort();
    return lines.join(QLatin1Char('\n')).toUtf8();
}

SelfTestCheck preferencesUntouchedCheck(QByteArray fingerprintBefore,
                                        const MemoryPreferences* modePreferences) {
    return {QStringLiteral("the self-test neither read nor wrote any preferences"),
            [fingerprintBefore, modePreferences](SelfTestContext&) -> SelfTestResult {
                if (modePreferences &&
                    (modePreferences->reads() != 0 || modePreferences->writes() != 0)) {
                    return QStringLiteral("the workspace made %1 reads and %2 writes")
                        .arg(modePreferences->reads())
                        .arg(modePreferences->writes());
                }
                if (userPreferencesFingerprint() != fingerprintBefore) {
                    return QStringLiteral("the preferences folder %1 changed during the run")
                        .arg(QFileInfo(SettingsPreferences::defaultPath()).absolutePath());
                }
                return std::nullopt;
            }};
}
