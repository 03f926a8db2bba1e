#pragma once

#include "core/base/Result.h"
#include "core/runs/TeamRun.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

// Team-run records on disk: one folder per run below the storage root, each holding its
// "run.json".
namespace RunStore {

// The default storage root: the "Runs" folder in VELK's application-data folder. Nothing is
// created.
QString defaultRoot();

// The run folder layout. Run folders and copy folders are named with fresh UUID texts that
// differ from the ids of the run and its copies; nothing is created here.
QString newRunFolder(const QString& storageRoot);             // <storage root>/<UUID>
QString baselineFolder(const TeamRun& run);                   // <root>/baseline
QString newCopyFolder(const QString& runFolder);              // <run folder>/<UUID>
QString outputFile(const TeamRun& run, const RunCopy& copy);  // <root>/output-<copy id>.txt
QString newBackupFolder(const TeamRun& run);                  // <root>/backup-<UUID>, one per apply

// The runs recorded below `storageRoot`, newest first, once the saves queued by saveLater()
// are written. Folders without a readable, valid
// "run.json" are skipped silently. nullopt when the storage root itself cannot be listed
// (typically because it does not exist yet): the caller keeps the runs it has.
std::optional<std::vector<TeamRun>> load(const QString& storageRoot);

// Writes the run's record to "run.json" in `run.root`, atomically. Fails with the notice to
// show: "Could not save the run record: " and the reason.
Result<void> save(const TeamRun& run);

// Queues the run's record to be written as save() does, on a background thread: one record
// at a time, in the order asked, the newest state of a run replacing one still waiting.
// `failed` is called, on that thread, with save()'s notice when the record cannot be written.
void saveLater(const TeamRun& run, std::function<void(const Error&)> failed = {});
// Returns once every record queued by saveLater() is written: before the records are read
// back or their folders removed, and before the application ends.
void waitForSaves();

}  // namespace RunStore
