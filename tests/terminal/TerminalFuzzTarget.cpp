// libFuzzer entry point: arbitrary bytes, arbitrary chunks, random sizes and resizes.
#include "TerminalFuzzHarness.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString violation = runTerminalFuzzInput(data, size);
    if (!violation.isEmpty()) {
        std::fprintf(stderr, "terminal invariant broken: %s\n", qPrintable(violation));
        std::abort();
    }
    return 0;
}
