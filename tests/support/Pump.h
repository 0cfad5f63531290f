// The message pump of the tests: dispatch the calling thread's messages until a condition
// holds or the time is up. A heartbeat timer on a window of our own wakes the blocking
// wait regularly, so the deadline is honoured and conditions that change without a
// message (another thread's flag) are seen within a few milliseconds.
#pragma once

#include <chrono>
#include <functional>

#include "Platform/Messages.h"

namespace testsupport {

inline constexpr std::chrono::milliseconds kPumpTimeout{5000};

namespace detail {

inline plat::LRESULT HeartbeatWindowProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam,
                                         plat::LPARAM lParam) {
  return plat::DefWindowProcA(hwnd, msg, wParam, lParam);
}

inline const char* HeartbeatClassName() {
  static const char* const name = [] {
    static const char kName[] = "TestPumpHeartbeatWindow";
    plat::WNDCLASSA existing{};
    if (!plat::GetClassInfoA(nullptr, kName, &existing)) {
      plat::WNDCLASSA wc{};
      wc.lpfnWndProc = &HeartbeatWindowProc;
      wc.lpszClassName = kName;
      plat::RegisterClassA(&wc);
    }
    return kName;
  }();
  return name;
}

// One hidden window with a running timer for as long as a pump runs.
class Heartbeat {
 public:
  explicit Heartbeat(plat::UINT periodMs) {
    FWindow = plat::CreateWindowExA(0, HeartbeatClassName(), "", 0, 0, 0, 0, 0, 0, nullptr, nullptr,
                                    nullptr);
    if (FWindow) plat::SetTimer(FWindow, 1, periodMs, nullptr);
  }
  ~Heartbeat() {
    if (FWindow) {
      plat::KillTimer(FWindow, 1);
      plat::DestroyWindow(FWindow);
    }
  }
  Heartbeat(const Heartbeat&) = delete;
  Heartbeat& operator=(const Heartbeat&) = delete;

 private:
  plat::HWND FWindow = 0;
};

}  // namespace detail

// What taking one message did.
enum class Taken { Nothing, Dispatched, Quit };

// Dispatches the next queued message, if there is one; with wait, sleeps until one comes
// (one system call where a look then a sleep would make two). The thread's quit message
// is posted again for the caller's own loop, and the caller should stop taking messages.
inline Taken DispatchOne(bool wait = false) {
  plat::MSG msg{};
  if (wait) {
    if (plat::GetMessageA(&msg, 0, 0, 0) < 0) return Taken::Quit;  // no queue: nothing comes
  } else if (!plat::PeekMessageA(&msg, 0, 0, 0, plat::PM_REMOVE)) {
    return Taken::Nothing;
  }
  if (msg.message == plat::WM_QUIT) {
    plat::PostQuitMessage(static_cast<int>(msg.wParam));
    return Taken::Quit;
  }
  plat::TranslateMessage(&msg);
  plat::DispatchMessageA(&msg);
  return Taken::Dispatched;
}

// Dispatches what is queued now, up to a bound; false when a quit came.
inline bool DispatchQueued() {
  for (int i = 0; i < 10000; ++i) {
    const Taken taken = DispatchOne();
    if (taken != Taken::Dispatched) return taken == Taken::Nothing;
  }
  return true;
}

// Takes everything queued for the calling thread (a quit too) without dispatching it;
// answers how many messages went.
inline int DrainQueue() {
  plat::MSG msg{};
  int n = 0;
  while (n < 100000 && plat::PeekMessageA(&msg, 0, 0, 0, plat::PM_REMOVE)) ++n;
  return n;
}

// Dispatches messages one at a time until pred() is true (checked after each message, so
// that a test can stop right at the state it waits for) or `timeout` has passed, or the
// thread's quit message arrives. Answers pred()'s final value.
inline bool PumpUntil(const std::function<bool()>& pred,
                      std::chrono::milliseconds timeout = kPumpTimeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  detail::Heartbeat heartbeat(5);
  for (;;) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return pred();
    // The heartbeat wakes the wait in time for the deadline.
    if (DispatchOne(true) == Taken::Quit) return pred();
  }
}

inline bool PumpUntil(const std::function<bool()>& pred, int timeoutMs) {
  return PumpUntil(pred, std::chrono::milliseconds(timeoutMs));
}

// Dispatches everything that arrives during `duration`.
inline void PumpFor(std::chrono::milliseconds duration) {
  PumpUntil([] { return false; }, duration);
}

inline void PumpFor(int durationMs) {
  PumpFor(std::chrono::milliseconds(durationMs));
}

}  // namespace testsupport
