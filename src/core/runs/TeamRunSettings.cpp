#include "core/runs/TeamRunSettings.h"

#include "core/services/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace {

// Longer than any setup should take; a typo of extra zeros is cut to this.
constexpr int kLongestTimeoutSeconds = 24 * 60 * 60;

}  // namespace

QJsonObject TeamRunSettings::toJson() const {
    return QJsonObject{
        {QStringLiteral("setupCommand"), setupCommand},
        {QStringLiteral("setupTimeoutSeconds"), setupTimeoutSeconds},
        {QStringLiteral("extraFiles"), QJsonArray::fromStringList(extraFiles)},
    };
}

TeamRunSettings TeamRunSettings::fromJson(const QJsonObject& object) {
    TeamRunSettings settings;
    settings.setupCommand = object.value(QStringLiteral("setupCommand")).toString().trimmed();
    settings.setupTimeoutSeconds = std::clamp(
        object.value(QStringLiteral("setupTimeoutSeconds")).toInt(kDefaultSetupTimeoutSeconds), 1,
        kLongestTimeoutSeconds);
    for (const QJsonValue& pattern : object.value(QStringLiteral("extraFiles")).toArray()) {
        if (pattern.isString() && !pattern.toString().trimmed().isEmpty()) {
            settings.extraFiles.append(pattern.toString().trimmed());
        }
    }
    return settings;
}

QString TeamRunSettings::projectFile(const QString& project) {
    return QDir(project).filePath(QStringLiteral(".velk/team-runs.json"));
}

std::optional<TeamRunSettings> TeamRunSettings::readProjectFile(const QString& project) {
    QFile file(projectFile(project));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject()) {
        return std::nullopt;
    }
    TeamRunSettings settings = fromJson(document.object());
    settings.inProject = true;
    return settings;
}

Result<void> TeamRunSettings::writeProjectFile(const QString& project,
                                               const TeamRunSettings& settings) {
    if (!QDir(project).mkpath(QStringLiteral(".velk"))) {
        return Error::invalid(QStringLiteral("Could not create the .velk folder in the project."));
    }
    return AtomicFile::write(projectFile(project),
                             QJsonDocument(settings.toJson()).toJson(QJsonDocument::Indented));
}

QStringList TeamRunSettings::includePatterns(const QString& project,
                                             const TeamRunSettings& settings) {
    QStringList patterns = settings.extraFiles;
    QFile include(QDir(project).filePath(QStringLiteral(".worktreeinclude")));
    if (include.open(QIODevice::ReadOnly)) {
        patterns += QString::fromUtf8(include.readAll()).split(u'\n');
    }
    return patterns;
}
