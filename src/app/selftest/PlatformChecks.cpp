#include "SelfTest.h"

std::vector<SelfTestCheck> platformChecks() {
    return {};
}
