#include "Platform/Clock.h"

#include "Platform/Messages.h"

namespace plat {
namespace detail {

std::int64_t MonotonicNs() {
  return ClockNs(CLOCK_MONOTONIC);
}
}  // namespace detail

DWORD GetTickCount() {
  return static_cast<DWORD>(detail::MonotonicNs() / 1'000'000);
}

}  // namespace plat
