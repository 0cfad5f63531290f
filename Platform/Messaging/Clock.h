// Monotonic clocks for timers, harvest pacing and the tick count.
#pragma once

#include <time.h>

#include <cstdint>

namespace plat::detail {

// CLOCK_MONOTONIC in nanoseconds.
std::int64_t MonotonicNs();

// CLOCK_MONOTONIC_COARSE in nanoseconds: as of the last clock tick (a few milliseconds of
// resolution), and several times cheaper, which matters on the path of every message.
inline std::int64_t CoarseMonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// How far the coarse clock may lag behind the precise one, with a margin.
inline std::int64_t CoarseLagNs() {
  static const std::int64_t lag = [] {
    timespec res{};
    clock_getres(CLOCK_MONOTONIC_COARSE, &res);
    return static_cast<std::int64_t>(res.tv_sec) * 1'000'000'000 + res.tv_nsec + 1'000'000;
  }();
  return lag;
}

// The tick count from the coarse clock: the time stamp of posted messages.
inline std::uint32_t CoarseTickCount() {
  return static_cast<std::uint32_t>(CoarseMonotonicNs() / 1'000'000);
}

}  // namespace plat::detail
