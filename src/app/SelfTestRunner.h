#pragma once

#include <QString>

class Workspace;

// Runs every built-in check on a workspace created with persistence off, once the event
// loop runs. Each check's outcome goes to standard error; standard output gets exactly one
// line, "VELK_TESTS_PASSED" or "VELK_TESTS_FAILED". Then every session is stopped and the
// event loop exits with 0 or 1.
void startSelfTest(Workspace& workspace, const QString& outputFolder);
