#pragma once

#include "core/base/Result.h"
#include "core/runs/TeamRun.h"

#include <QString>

class BackgroundJob;

// The disk space of team runs and their deletion.
namespace RunStore {

// Bytes a run's folder takes on disk (allocated blocks; links are not followed), and the part
// of it its backups take. A cancelled `job` cuts the count short.
struct DiskUsage {
    qint64 total = 0;
    qint64 backups = 0;
};
DiskUsage diskUsage(const TeamRun& run, const BackgroundJob* job = nullptr);

// Deletes the run: its record first, so that the run is gone from the list even if the rest
// is cut short, then its copies, baseline and outputs and, with `withBackups`, the backups
// of its applies (else they stay in the run's folder). Refused while an interrupted apply of
// the run still needs its backups to be rolled back, and for a run whose folder is not a
// folder of `storageRoot` holding this run's record. Returns the bytes freed. Blocking.
Result<qint64> remove(const TeamRun& run, const QString& storageRoot, bool withBackups);

// Why remove() would refuse the run now, or empty.
QString removalRefusal(const TeamRun& run, const QString& storageRoot);

}  // namespace RunStore
