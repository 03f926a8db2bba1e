#pragma once

#include "runs/TeamRun.h"

#include <QString>

#include <optional>
#include <vector>

// Team-run records on disk: one folder per run below the storage root, each holding its
// "run.json".
namespace RunStore {

// The default storage root: the "Runs" folder in VELK's application-data folder. Nothing is
// created.
QString defaultRoot();

// The runs recorded below `storageRoot`, newest first. Folders without a readable, valid
// "run.json" are skipped silently. nullopt when the storage root itself cannot be listed
// (typically because it does not exist yet): the caller keeps the runs it has.
std::optional<std::vector<TeamRun>> load(const QString& storageRoot);

// Writes the run's record to "run.json" in `run.root`, atomically. Returns nothing on
// success, else the notice to show: "Could not save the run record: " and the reason.
std::optional<QString> save(const TeamRun& run);

}  // namespace RunStore
