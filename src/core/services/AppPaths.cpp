#include "core/services/AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace AppPaths {

QString dataRoot() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Kelo AI");
}

QString cacheRoot() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/Kelo AI");
}

QString resourcesFolder() {
    const QString fromEnvironment = qEnvironmentVariable("VELK_RESOURCES");
    if (!fromEnvironment.isEmpty()) {
        return QFileInfo(fromEnvironment).isDir() ? QDir(fromEnvironment).absolutePath()
                                                  : QString();
    }
    // Without an application object there is no executable folder to look beside.
    if (!QCoreApplication::instance()) {
        return {};
    }
    const QDir executableFolder(QCoreApplication::applicationDirPath());
    for (const QString& candidate :
         {QStringLiteral("../share/velk/resources"), QStringLiteral("resources")}) {
        const QString path = QDir::cleanPath(executableFolder.absoluteFilePath(candidate));
        if (QFileInfo(path).isDir()) {
            return path;
        }
    }
    return {};
}

}  // namespace AppPaths
