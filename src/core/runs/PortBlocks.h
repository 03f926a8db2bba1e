#pragma once

#include "core/base/Result.h"

#include <vector>

// Blocks of TCP ports for the copies of a team run, so that servers started in two copies at
// the same time do not collide: each block is kBlockSize consecutive ports that were all free
// on the loopback interface when checked (each one bound and released), and no block is
// handed out twice by one process, so that runs prepared at the same time, or one after the
// other while the first one's servers are not listening yet, never share one. Nothing is
// held afterwards: a port may still be taken by another program later, as with any port
// chosen ahead of use. Thread-safe.
namespace PortBlocks {

inline constexpr int kBlockSize = 10;
// Where the search starts when no start is given: a block chosen at random in
// [kLowest, kHighest), so that runs prepared side by side rarely check the same ports.
inline constexpr int kLowest = 20000;
inline constexpr int kHighest = 60000;

// The first port of each of `count` blocks not handed out before. Searches upwards from
// `start` (rounded down to a whole block; wrapping to kLowest past kHighest) and fails when a
// full round finds too few; a failed search hands out nothing.
Result<std::vector<int>> reserve(int count, int start = 0);

// Whether every port of [first, first + kBlockSize) can be bound on 127.0.0.1 now.
bool blockFree(int first);

}  // namespace PortBlocks
