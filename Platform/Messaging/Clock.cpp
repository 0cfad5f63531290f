#include "Platform/Messaging/Clock.h"

#include <time.h>

#include "Platform/Messages.h"

namespace plat {
namespace detail {

namespace {
std::int64_t Read(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}
}  // namespace

std::int64_t MonotonicNs() {
  return Read(CLOCK_MONOTONIC);
}
}  // namespace detail

DWORD GetTickCount() {
  return static_cast<DWORD>(detail::MonotonicNs() / 1'000'000);
}

}  // namespace plat
