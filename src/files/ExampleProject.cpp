#include "files/ExampleProject.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

std::optional<QString> copyEntry(const QFileInfo& entry, const QString& target) {
    if (entry.isDir()) {
        if (!QDir().mkpath(target)) {
            return QStringLiteral("Could not create the folder “%1”.").arg(target);
        }
        const QDir folder(entry.absoluteFilePath());
        const QFileInfoList children = folder.entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                            QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo& child : children) {
            if (auto error = copyEntry(child, target + QLatin1Char('/') + child.fileName())) {
                return error;
            }
        }
        return std::nullopt;
    }
    QFile file(entry.absoluteFilePath());
    if (!file.copy(target)) {
        return QStringLiteral("Could not copy “%1”: %2").arg(entry.fileName(), file.errorString());
    }
    // The copy is the user's to edit, even when the shipped file is read-only.
    QFile copy(target);
    copy.setPermissions(copy.permissions() | QFileDevice::WriteOwner);
    return std::nullopt;
}

}  // namespace

namespace ExampleProject {

std::optional<QString> prepare(const QString& source, const QString& destination, QString* error) {
    const auto failure = [error](const QString& reason) -> std::optional<QString> {
        if (error) {
            *error = reason;
        }
        return std::nullopt;
    };
    const QDir sourceFolder(source);
    if (!QFileInfo(source).isDir() || !QFileInfo(source).isReadable()) {
        return failure(QStringLiteral("The example project “%1” cannot be read.").arg(source));
    }
    const QFileInfoList entries = sourceFolder.entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                             QDir::System | QDir::NoDotAndDotDot);
    if (!QDir().mkpath(destination)) {
        return failure(QStringLiteral("Could not create the folder “%1”.").arg(destination));
    }
    for (const QFileInfo& entry : entries) {
        const QString target = destination + QLatin1Char('/') + entry.fileName();
        // exists() follows links; a dangling link is still something the user has there.
        if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) {
            continue;
        }
        if (auto reason = copyEntry(entry, target)) {
            return failure(*reason);
        }
    }
    return destination;
}

}  // namespace ExampleProject
