#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The command-line switches. Each is matched as a whole argument anywhere in the list; a
// switch that takes a value takes the argument right after it.
struct CommandLine {
    bool selfTest = false;
    std::optional<QString> testOutput;
    bool captureRequested = false;  // "--capture" is present, with or without a value
    std::optional<QString> captureFolder;
    std::optional<QString> workspace;

    static CommandLine parse(const QStringList& arguments);

    // Self-test or page capture: every model starts with persistence off, no companion
    // window is created, and quitting asks nothing.
    bool automation() const { return selfTest || captureRequested; }
    // The self-test's output folder: the "--test-output" value, else the folder
    // "VELK-tests-<user id>" inside the temporary folder.
    QString selfTestOutputFolder() const;
};
