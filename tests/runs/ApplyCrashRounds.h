#pragma once

// Applies killed at random. Each round lays out a random project, a copy with random
// assistant edits and a random selection of the changes; a child process applies the
// selection and is killed (SIGKILL) either at a random step of its file operations (through
// the test seam) or after a random delay. Now and then the user then edits a selected file,
// and now and then a first recovery is killed as well. Recovery then runs as the next start
// of VELK would, and the project is checked: all or nothing, no file lost, no temporary file
// left, no apply left in progress. The apply property test runs a few rounds, the benchmark
// program bench/runs hundreds.

#include "RunsTestSupport.h"

#include <QRandomGenerator>
#include <QString>
#include <QStringList>

// A run laid out at random below a folder: "project" with up to `maxFiles` files, "baseline"
// and "copy" snapshots of it, then one to five assistant edits in the copy (additions, new
// bytes, sometimes the same bytes, removals, permission changes). Names are chosen to trip
// up path handling: spaces, line breaks, tabs, Unicode beyond U+FFFF, leading dots and
// dashes. Files are small, but with `largeFiles` one in eight spans several of the copy's
// 256 KB chunks. Clashes of a file with a folder are kept out: applying one without the
// other is refused, which the apply tests cover.
struct RandomRun {
    TreeState project;  // as the run began (the baseline too)
    TreeState copy;     // after the assistant's edits
};
RandomRun layOutRandomRun(QRandomGenerator& random, const QString& base, int maxFiles,
                          bool largeFiles);

struct CrashTally {
    int rounds = 0;
    int killedApplying = 0;    // the applying process was killed before its apply returned
    int completed = 0;         // its apply returned before the kill
    int killedRecovering = 0;  // a first recovery was killed too
    int userEdits = 0;         // a selected file was edited between the kill and the recovery
    int rolledBack = 0;        // projects back as they were before the apply
    int keptApplied = 0;       // projects holding the whole apply
    int halfApplied = 0;       // projects holding part of it
    int lostFiles = 0;         // files holding neither their original, nor the applied, nor the
                               // user's bytes (or missing)
    int leftTemporaries = 0;   // temporary files left in the projects
    int leftInProgress = 0;    // applies still listed as in progress after the recovery
    double applySeconds = 0;   // time in the applying processes, killed or not
    double recoverySeconds = 0;
    QStringList problems;  // the first few, described
};

// How the selection is applied in the child.
enum class Applier {
    Velk,        // RunFiles::apply, then the recovery of the next start
    FileByFile,  // each file replaced atomically in turn, without journal or recovery
};

// Runs `rounds` rounds from `seed` below the existing folder `scratch`, where VELK's data
// folder is also pointed.
CrashTally runCrashRounds(int rounds, quint32 seed, const QString& scratch,
                          Applier applier = Applier::Velk);
