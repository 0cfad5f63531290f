// Helpers for tests of the message queue: a fresh thread per test, so that every test
// starts with an empty queue, and pumps that always end.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "Platform/Messages.h"

namespace plat::test {

// Runs body on a new thread (with a queue of its own) and waits for it.
inline void InFreshThread(const std::function<void()>& body) {
  std::thread t(body);
  t.join();
}

inline constexpr std::uintptr_t kWatchdogId = 0x57A7;

// Pumps the calling thread's queue until done() holds, the quit message arrives or the
// watchdog (a thread timer) fires. Returns done().
inline bool PumpUntil(const std::function<bool()>& done, UINT watchdogMs = 5000) {
  const std::uintptr_t watchdog = SetTimer(0, 0, watchdogMs, nullptr);
  MSG msg;
  bool fired = false;
  while (!done() && !fired) {
    if (GetMessageA(&msg, 0, 0, 0) <= 0) break;
    if (msg.hwnd == 0 && msg.message == WM_TIMER && msg.wParam == watchdog) fired = true;
    DispatchMessageA(&msg);
  }
  KillTimer(0, watchdog);
  return done();
}

// Removes whatever is queued for the calling thread, without dispatching it.
inline int Drain() {
  MSG msg;
  int n = 0;
  while (n < 100000 && PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) ++n;
  return n;
}

}  // namespace plat::test
