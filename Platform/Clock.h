// Monotonic clocks for timers, harvest pacing and the tick count.
#pragma once

#include <cstdint>

namespace plat::detail {

// CLOCK_MONOTONIC in nanoseconds.
std::int64_t MonotonicNs();
// CLOCK_MONOTONIC_COARSE in nanoseconds: a few milliseconds of resolution, much cheaper.
std::int64_t CoarseMonotonicNs();

}  // namespace plat::detail
