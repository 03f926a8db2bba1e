// Applies killed at random (SIGKILL) by the hundred: each round a child process applies a
// random selection of a random assistant copy and is killed at a random step or moment, then
// the recovery of the next start runs and the project is checked (see
// tests/runs/ApplyCrashRounds.h). The same rounds are run with a careful file-by-file copy
// (each file replaced atomically, no journal) next to VELK's apply, to show what the journal
// and the recovery are for. Usage: velk-bench-apply-crash [ROUNDS [SEED]]; the exit status is
// 1 when any VELK round left a project half applied, lost a file or left a temporary file.
#include "ApplyCrashRounds.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

void row(const char* label, int velk, int peer) {
    std::printf("%-36s %10d %14d\n", label, velk, peer);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 500;
    const quint32 seed = argc > 2 ? quint32(std::strtoul(argv[2], nullptr, 10)) : 20261207;
    QTemporaryDir scratch;
    if (!scratch.isValid() || rounds <= 0) {
        std::fprintf(stderr, "usage: velk-bench-apply-crash [ROUNDS [SEED]]\n");
        return 2;
    }
    const CrashTally velk = runCrashRounds(rounds, seed, scratch.path() + "/velk", Applier::Velk);
    const CrashTally peer =
        runCrashRounds(rounds, seed, scratch.path() + "/peer", Applier::FileByFile);

    std::printf("Applies killed at random (SIGKILL), %d rounds, seed %u\n", rounds, seed);
    std::printf("%-36s %10s %14s\n", "", "VELK", "file by file");
    row("killed while applying", velk.killedApplying, peer.killedApplying);
    row("applied completely before the kill", velk.completed, peer.completed);
    row("first recovery killed as well", velk.killedRecovering, peer.killedRecovering);
    row("user edits between kill and start", velk.userEdits, peer.userEdits);
    row("projects as before the apply", velk.rolledBack, peer.rolledBack);
    row("projects wholly applied", velk.keptApplied, peer.keptApplied);
    row("projects half applied", velk.halfApplied, peer.halfApplied);
    row("files lost", velk.lostFiles, peer.lostFiles);
    row("temporary files left", velk.leftTemporaries, peer.leftTemporaries);
    row("applies left in progress", velk.leftInProgress, peer.leftInProgress);
    std::printf("%-36s %10.2f %14.2f\n", "seconds applying (all rounds)", velk.applySeconds,
                peer.applySeconds);
    std::printf("%-36s %10.2f %14s\n", "seconds recovering (all rounds)", velk.recoverySeconds,
                "-");
    for (const QString& problem : velk.problems) {
        std::printf("VELK %s\n", problem.toUtf8().constData());
    }
    const bool safe = velk.halfApplied == 0 && velk.lostFiles == 0 && velk.leftTemporaries == 0 &&
                      velk.leftInProgress == 0 && velk.problems.isEmpty();
    return safe ? 0 : 1;
}
