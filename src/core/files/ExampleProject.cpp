#include "core/files/ExampleProject.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

Result<void> copyEntry(const QFileInfo& entry, const QString& target) {
    if (entry.isDir()) {
        if (!QDir().mkpath(target)) {
            return Error{Error::Kind::System,
                         QStringLiteral("Could not create the folder “%1”.").arg(target)};
        }
        const QDir folder(entry.absoluteFilePath());
        const QFileInfoList children = folder.entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                            QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo& child : children) {
            if (Result<void> copied =
                    copyEntry(child, target + QLatin1Char('/') + child.fileName());
                !copied) {
                return copied;
            }
        }
        return {};
    }
    QFile file(entry.absoluteFilePath());
    if (!file.copy(target)) {
        return Error{
            Error::Kind::System,
            QStringLiteral("Could not copy “%1”: %2").arg(entry.fileName(), file.errorString())};
    }
    // The copy is the user's to edit, even when the shipped file is read-only. Should that
    // fail, a read-only example still runs, so it is not worth refusing the example over.
    QFile copy(target);
    (void)copy.setPermissions(copy.permissions() | QFileDevice::WriteOwner);
    return {};
}

}  // namespace

namespace ExampleProject {

Result<QString> prepare(const QString& source, const QString& destination) {
    const QDir sourceFolder(source);
    if (!QFileInfo(source).isDir() || !QFileInfo(source).isReadable()) {
        return Error{Error::Kind::NotFound,
                     QStringLiteral("The example project “%1” cannot be read.").arg(source)};
    }
    const QFileInfoList entries = sourceFolder.entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                             QDir::System | QDir::NoDotAndDotDot);
    if (!QDir().mkpath(destination)) {
        return Error{Error::Kind::System,
                     QStringLiteral("Could not create the folder “%1”.").arg(destination)};
    }
    for (const QFileInfo& entry : entries) {
        const QString target = destination + QLatin1Char('/') + entry.fileName();
        // exists() follows links; a dangling link is still something the user has there.
        if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) {
            continue;
        }
        if (Result<void> copied = copyEntry(entry, target); !copied) {
            return copied.error();
        }
    }
    return destination;
}

}  // namespace ExampleProject
