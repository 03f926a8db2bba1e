#include "SelfTest.h"

std::vector<SelfTestCheck> workspaceChecks() {
    return {};
}
