#pragma once

// Stand-ins for the desktop services a workspace is built with, recording what they were
// asked to do.

#include "core/services/DesktopServices.h"
#include "core/services/PowerInhibitor.h"

#include <QString>

#include <optional>
#include <vector>

namespace testing_support {

// Hands out numbered assertions and records what was taken and released.
class FakeInhibitor : public PowerInhibitor {
public:
    int acquire(const QString& reason) override {
        reasons.push_back(reason);
        if (!available) {
            return -1;
        }
        held.push_back(nextHandle);
        return nextHandle++;
    }
    void release(int handle) override {
        released.push_back(handle);
        std::erase(held, handle);
    }

    bool available = true;
    int nextHandle = 10;
    std::vector<QString> reasons;
    std::vector<int> held;
    std::vector<int> released;
};

class FakeDesktop : public DesktopServices {
public:
    bool openUrl(const QString& url) override {
        openedUrls.push_back(url);
        return true;
    }
    Result<void> openPrivacySettings(PrivacyPane) override { return {}; }
    Result<void> launchDesktopEntry(const QString&) override { return {}; }
    bool accessibilityTrusted() override { return false; }

    std::vector<QString> openedUrls;
};

}  // namespace testing_support
