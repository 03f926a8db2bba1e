#pragma once

#include "core/runs/RunLimits.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <map>
#include <optional>
#include <vector>

// One assistant's working copy within a team run.
struct RunCopy {
    QUuid id;                      // also names the copy's output file
    QString provider;              // the assistant's provider id, e.g. "codex"
    QString directory;             // absolute path of the copy folder
    std::optional<QUuid> session;  // the terminal session working in the copy, once made
    std::optional<int> exitCode;   // that session's exit status, once it ended with one
    // The files applied from this copy into the project: path -> the content hash applied
    // (empty for a removal). A file whose copy changed again since no longer counts.
    std::map<QString, QString> applied = {};
    // The files some of whose hunks were applied from this copy: path -> the content hash of
    // the copy's file they were taken from. Like `applied`, an entry lapses when the copy's
    // file changes again.
    std::map<QString, QString> partlyApplied = {};
    // Files the preparation copied in on top of the listing, because a pattern of the
    // project's team-run settings or .worktreeinclude asked for them (relative paths).
    QStringList extraFiles = {};
    // The first of the copy's block of free ports, handed to its sessions as PORT.
    std::optional<int> portBase = std::nullopt;
    // The setup command's session in the copy and its exit status, once started / ended.
    std::optional<QUuid> setupSession = std::nullopt;
    std::optional<int> setupExitCode = std::nullopt;
    // The files that differed from the baseline when the setup ended: path -> content hash
    // (empty for a removal). The review marks these as made by setup while they still match.
    std::map<QString, QString> madeBySetup = {};

    bool operator==(const RunCopy&) const = default;

    // Optional keys are left out when empty.
    QJsonObject toJson() const;
    // Fails (nullopt) when "id", "provider" or "directory" is missing or has the wrong type.
    static std::optional<RunCopy> fromJson(const QJsonObject& object);
};

// One task sent to several assistants, each working in its own copy of the project. Stored
// as "run.json" in the run's folder.
struct TeamRun {
    QUuid id;
    QString prompt;   // the task as the user typed it
    QString project;  // absolute path of the project folder
    QString root;     // absolute path of this run's folder
    QDateTime created;
    std::vector<RunCopy> copies;  // in the order of the assistants given to the run
    QString name = {};            // given by the user; empty until then
    // The command run in each copy before its assistant starts, and how long it may take.
    QString setupCommand = {};
    int setupTimeoutSeconds = 600;
    // The listing limits the run was prepared with; its copies are compared within them
    // whatever the setting says later. Stored only when not the standard ones, so records
    // without them read as standard.
    RunLimits limits = {};

    // The name, else the task.
    const QString& title() const { return name.isEmpty() ? prompt : name; }

    bool operator==(const TeamRun&) const = default;

    // UUIDs as upper-case text, `created` as seconds since 2001-01-01 00:00:00 UTC.
    QJsonObject toJson() const;
    // Every key but "name" is required; nullopt when one is missing or malformed.
    static std::optional<TeamRun> fromJson(const QJsonObject& object);

    // The compact JSON text of the record.
    QByteArray toJsonBytes() const;
    static std::optional<TeamRun> fromJsonBytes(const QByteArray& bytes);
};
