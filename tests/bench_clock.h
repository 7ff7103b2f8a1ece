// The stopwatch of the benchmark programs (run by hand, not tests).
#pragma once

#include <chrono>

namespace bench {

using Clock = std::chrono::steady_clock;

// Seconds since from.
inline double seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

} // namespace bench
