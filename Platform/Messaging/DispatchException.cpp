#include <cstdio>
#include <mutex>

#include "Platform/KeptObjects.h"
#include "Platform/Messaging/DispatchException.h"
#include "Platform/Messaging/ThreadQueue.h"

namespace plat {

namespace {
std::mutex& HandlerMutex() {
  static std::mutex* m = KeepForProcess(new std::mutex);
  return *m;
}
DispatchExceptionHandler& Handler() {
  static DispatchExceptionHandler* h = KeepForProcess(new DispatchExceptionHandler);
  return *h;
}

void WriteToStderr(std::exception_ptr error) noexcept {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Exception in window procedure: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Exception in window procedure\n");
  }
}
}  // namespace

void SetDispatchExceptionHandler(DispatchExceptionHandler handler) {
  std::lock_guard lock(HandlerMutex());
  Handler() = std::move(handler);
}

namespace detail {

void ReportDispatchException(std::exception_ptr error) noexcept {
  DispatchExceptionHandler handler;
  try {
    {
      std::lock_guard lock(HandlerMutex());
      handler = Handler();
    }
    if (handler) {
      handler(error);
      return;
    }
  } catch (...) {
    // The handler failed too: report both rather than let either unwind through a loop.
    WriteToStderr(std::current_exception());
  }
  WriteToStderr(error);
}

}  // namespace detail
}  // namespace plat
