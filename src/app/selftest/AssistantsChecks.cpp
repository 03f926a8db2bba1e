#include "SelfTest.h"

std::vector<SelfTestCheck> assistantsChecks() {
    return {};
}
