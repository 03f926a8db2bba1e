#pragma once

#include <QByteArray>
#include <QString>

class MemoryPreferences;
class Workspace;

// Runs every built-in check on a workspace created with persistence off, once the event
// loop runs. Last it checks that `modePreferences` (the workspace's store) was never used
// and that the user's preferences folder still has `preferencesFingerprint`, taken with
// userPreferencesFingerprint() before anything was created. Each check's outcome goes to standard
// error; standard output gets exactly one line, "VELK_TESTS_PASSED" or "VELK_TESTS_FAILED". Then
// every session is stopped and the event loop exits with 0 or 1.
void startSelfTest(Workspace& workspace, const QString& outputFolder,
                   const MemoryPreferences* modePreferences, QByteArray preferencesFingerprint);
