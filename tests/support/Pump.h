// Message pumps with a deadline for tests: dispatch the calling thread's messages until
// a condition holds or the time is up. A heartbeat timer on a window of our own wakes the
// blocking wait regularly, so the deadline is honoured even when nothing arrives.
#pragma once

#include <chrono>
#include <functional>

#include "Platform/Messages.h"

namespace testsupport {

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

// Dispatches messages until pred() is true (checked before each wait) or `timeout`
// has passed. Answers pred()'s final value. A quit message ends the pump and is posted
// again for the caller's own loop.
inline bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  detail::Heartbeat heartbeat(5);
  plat::MSG msg{};
  for (;;) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return pred();
    if (!plat::GetMessageA(&msg, 0, 0, 0)) {
      plat::PostQuitMessage(static_cast<int>(msg.wParam));
      return pred();
    }
    plat::TranslateMessage(&msg);
    plat::DispatchMessageA(&msg);
  }
}

// Dispatches everything that arrives during `duration`.
inline void PumpFor(std::chrono::milliseconds duration) {
  PumpUntil([] { return false; }, duration);
}

}  // namespace testsupport
