#pragma once

#include "core/base/Result.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

// A project's team-run settings: the command that sets up each copy before its assistant
// starts, how long it may take, and the extra files copied in although the listing skips
// them. Kept with the project in VELK's preferences, or, when the user chooses to, in the
// project's ".velk/team-runs.json" where teammates read them too; that file wins when present.
struct TeamRunSettings {
    static constexpr int kDefaultSetupTimeoutSeconds = 600;

    QString setupCommand;  // one shell command line; empty: no setup
    int setupTimeoutSeconds = kDefaultSetupTimeoutSeconds;
    QStringList extraFiles;  // patterns in gitignore syntax, e.g. ".env", "config/*.local"
    bool inProject = false;  // stored in the project's file rather than the preferences

    bool operator==(const TeamRunSettings&) const = default;

    // "inProject" is not part of the stored form: where it was read from says it.
    QJsonObject toJson() const;
    static TeamRunSettings fromJson(const QJsonObject& object);

    // <project>/.velk/team-runs.json
    static QString projectFile(const QString& project);
    // The settings in the project's file; nothing when it is absent or not a JSON object.
    static std::optional<TeamRunSettings> readProjectFile(const QString& project);
    // Writes the settings to the project's file (creating ".velk"), atomically.
    static Result<void> writeProjectFile(const QString& project, const TeamRunSettings& settings);

    // The patterns a preparation copies extra files by: the settings' own, then the lines of
    // the project's ".worktreeinclude" when it has one.
    static QStringList includePatterns(const QString& project, const TeamRunSettings& settings);
};
