// A hidden window that records every message dispatched or sent to it, for tests of what
// reaches a window and in which order. Each window keeps the numbers it received; the
// calling thread keeps every message of all its recording windows, whole, in Recorded().
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "Platform/Messages.h"

namespace testsupport {

// Every message that reached a recording window of the calling thread, in order.
inline std::vector<plat::MSG>& Recorded() {
  thread_local std::vector<plat::MSG> log;
  return log;
}

// Runs for each message after it is recorded, on the window's thread; may raise or
// destroy the window.
inline std::function<void(const plat::MSG&)>& OnRecorded() {
  thread_local std::function<void(const plat::MSG&)> hook;
  return hook;
}

class RecordingWindow;

namespace detail {

struct RecordingInstances {
  std::mutex Lock;
  std::map<plat::HWND, RecordingWindow*> ByHandle;
  static RecordingInstances& Get() {
    static RecordingInstances instances;
    return instances;
  }
  RecordingWindow* Find(plat::HWND hwnd) {
    std::lock_guard<std::mutex> guard(Lock);
    auto it = ByHandle.find(hwnd);
    return it == ByHandle.end() ? nullptr : it->second;
  }
};

inline plat::LRESULT RecordingWindowProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam,
                                         plat::LPARAM lParam);

}  // namespace detail

inline constexpr const char* kRecordingWindowClass = "TestRecordingWindow";
// Extra window bytes, free for a test to use (the window keeps nothing in them).
inline constexpr int kRecordingWindowExtra = 16;

// A recording window that no object owns: it records into Recorded() only and the caller
// destroys it (tests of window destruction itself).
inline plat::HWND NewRecordingWindow() {
  static const bool registered = [] {
    plat::WNDCLASSA wc{};
    wc.lpfnWndProc = &detail::RecordingWindowProc;
    wc.cbWndExtra = kRecordingWindowExtra;
    wc.lpszClassName = kRecordingWindowClass;
    return plat::RegisterClassA(&wc) != 0;
  }();
  if (!registered) return 0;
  return plat::CreateWindowExA(0, kRecordingWindowClass, "", plat::WS_POPUP, 0, 0, 0, 0, 0, nullptr,
                               nullptr, nullptr);
}

class RecordingWindow {
 public:
  RecordingWindow() : FHandle(NewRecordingWindow()) {
    auto& instances = detail::RecordingInstances::Get();
    std::lock_guard<std::mutex> guard(instances.Lock);
    instances.ByHandle[FHandle] = this;
  }
  ~RecordingWindow() { Destroy(); }
  RecordingWindow(const RecordingWindow&) = delete;
  RecordingWindow& operator=(const RecordingWindow&) = delete;

  plat::HWND Handle() const { return FHandle; }
  void Post(plat::UINT msg, plat::WPARAM wParam = 0, plat::LPARAM lParam = 0) {
    plat::PostMessageA(FHandle, msg, wParam, lParam);
  }
  // Before the object goes, for tests of what happens to messages of a window that is gone.
  void Destroy() {
    if (FHandle == 0) return;
    {
      auto& instances = detail::RecordingInstances::Get();
      std::lock_guard<std::mutex> guard(instances.Lock);
      instances.ByHandle.erase(FHandle);
    }
    plat::DestroyWindow(FHandle);
    FHandle = 0;
  }

  // The message numbers this window received.
  std::vector<plat::UINT> Received;
  // Runs for each of this window's messages after it is recorded; may raise.
  std::function<void(plat::UINT Msg, plat::WPARAM W)> OnMessage;

 private:
  plat::HWND FHandle = 0;
};

namespace detail {

inline plat::LRESULT RecordingWindowProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam,
                                         plat::LPARAM lParam) {
  const plat::MSG m{hwnd, msg, wParam, lParam, 0};
  Recorded().push_back(m);
  if (RecordingWindow* self = RecordingInstances::Get().Find(hwnd)) {
    self->Received.push_back(msg);
    // A copy: the handler may replace itself or destroy the window.
    if (auto handler = self->OnMessage) handler(msg, wParam);
  }
  if (auto hook = OnRecorded()) hook(m);
  return 0;
}

}  // namespace detail

}  // namespace testsupport
