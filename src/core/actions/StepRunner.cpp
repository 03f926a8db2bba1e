#include "core/actions/StepRunner.h"

#include <algorithm>

bool RunningApplication::sameApplication(const RunningApplication& other) const {
    if (pid > 0 && pid == other.pid) {
        return true;
    }
    return std::any_of(windowClasses.begin(), windowClasses.end(), [&](const QString& name) {
        return !name.isEmpty() && other.windowClasses.contains(name);
    });
}
