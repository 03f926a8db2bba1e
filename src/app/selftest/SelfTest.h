#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <vector>

class MemoryPreferences;
class Workspace;

// Built-in end-to-end checks run by `velk --self-test`. Each subsystem contributes a list
// of checks; a check returns nothing when it passed, or the reason it failed. Checks run
// on the main thread one after the other and may run the event loop while they wait.
struct SelfTestContext {
    Workspace* workspace = nullptr;  // a workspace created with persistence off
    QString outputFolder;            // scratch folder for this run; checks make sub-folders
};

using SelfTestResult = std::optional<QString>;

struct SelfTestCheck {
    QString name;
    std::function<SelfTestResult(SelfTestContext&)> run;
};

// One function per subsystem, defined in that subsystem's *Checks.cpp.
std::vector<SelfTestCheck> actionsChecks();
std::vector<SelfTestCheck> applicationChecks();
std::vector<SelfTestCheck> assistantsChecks();
std::vector<SelfTestCheck> companionChecks();
std::vector<SelfTestCheck> filesChecks();
std::vector<SelfTestCheck> appearanceChecks();
std::vector<SelfTestCheck> platformChecks();
std::vector<SelfTestCheck> runsChecks();
std::vector<SelfTestCheck> terminalChecks();
std::vector<SelfTestCheck> workspaceChecks();

// A digest of everything in the user's preferences folder ("absent" when there is none).
QByteArray userPreferencesFingerprint();
// The last check of a run: the user's preferences folder still matches `fingerprintBefore`,
// and `modePreferences` (the store given to the run's workspace, when known) was never used.
SelfTestCheck preferencesUntouchedCheck(QByteArray fingerprintBefore,
                                        const MemoryPreferences* modePreferences);

// Every check, in run order.
std::vector<SelfTestCheck> allSelfTestChecks();

// Runs the event loop until the predicate holds or the time-out (ms) passes.
bool selfTestWaitUntil(const std::function<bool()>& predicate, int timeoutMs);
