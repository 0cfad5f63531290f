// Window classes and hidden windows.
#include "Platform/Messaging/Registry.h"
#include "Platform/Messaging/ThreadQueue.h"
#include "Platform/Messaging/Window.h"

namespace plat {

using detail::Registry;
using detail::ThreadQueue;
using detail::Window;

namespace {

// The window's procedure, for a window of any thread; null when the window is gone.
WNDPROC ProcOf(HWND hwnd) {
  if (hwnd == 0) return nullptr;
  if (ThreadQueue* q = ThreadQueue::CurrentIfAny()) {
    if (Window* w = q->FindWindow(hwnd)) return w->proc.load(std::memory_order_relaxed);
  }
  WNDPROC proc = nullptr;
  Registry::Get().WithWindow(hwnd, [&](Window& w) { proc = w.proc.load(); });
  return proc;
}

// Runs f on the window's slot for index, on the owner thread without a lock, elsewhere
// under the registry lock (GWLP_USERDATA, which the registry keeps, always under it).
// Returns f's result, 0 for an unknown window or index.
template <class F>
LONG_PTR WithSlot(HWND hwnd, int index, F&& f) {
  if (index == GWLP_USERDATA) {
    LONG_PTR result = 0;
    Registry::Get().WithUserData(hwnd, [&](std::atomic<LONG_PTR>& slot) { result = f(slot); });
    return result;
  }
  LONG_PTR result = 0;
  auto apply = [&](Window& w) {
    if (index == GWLP_WNDPROC) {
      std::atomic<LONG_PTR> tmp(reinterpret_cast<LONG_PTR>(w.proc.load()));
      result = f(tmp);
      const auto proc = reinterpret_cast<WNDPROC>(tmp.load());
      if (proc != nullptr) w.proc.store(proc);
      return;
    }
    if (auto* slot = w.Slot(index)) result = f(*slot);
  };
  if (ThreadQueue* q = ThreadQueue::CurrentIfAny()) {
    if (Window* w = q->FindWindow(hwnd)) {
      apply(*w);
      return result;
    }
  }
  Registry::Get().WithWindow(hwnd, apply);
  return result;
}

}  // namespace

BOOL GetClassInfoA(void*, const char* className, WNDCLASSA* out) {
  return className && Registry::Get().ClassInfo(className, out) ? 1 : 0;
}

BOOL RegisterClassA(const WNDCLASSA* wc) {
  return wc && Registry::Get().RegisterClass(*wc);
}

BOOL UnregisterClassA(const char* className, void*) {
  return className && Registry::Get().UnregisterClass(className) ? 1 : 0;
}

HWND CreateWindowExA(DWORD, const char* className, const char*, DWORD, int, int, int, int, HWND,
                     void*, void*, void*) {
  if (className == nullptr) return 0;
  ThreadQueue* q = ThreadQueue::Current();
  if (q == nullptr) return 0;
  return Registry::Get().NewWindow(*q, className);
}

BOOL DestroyWindow(HWND hwnd) {
  ThreadQueue* q = ThreadQueue::CurrentIfAny();
  Window* w = q ? q->FindWindow(hwnd) : nullptr;
  if (w == nullptr || w->destroying) return 0;
  w->destroying = true;
  try {
    w->proc.load()(hwnd, WM_DESTROY, 0, 0);
  } catch (...) {
    detail::ReportDispatchException(std::current_exception());
  }
  // WM_DESTROY may have run loops; the window is still ours, as only this call frees it.
  Registry::Get().RemoveWindow(*q, hwnd);
  q->ForgetWindow(hwnd);
  return 1;
}

BOOL IsWindow(HWND hwnd) {
  if (hwnd == 0) return 0;
  if (ThreadQueue* q = ThreadQueue::CurrentIfAny(); q && q->FindWindow(hwnd)) return 1;
  return Registry::Get().WithWindow(hwnd, [](Window&) {}) ? 1 : 0;
}

LONG_PTR SetWindowLongA(HWND hwnd, int index, LONG_PTR value) {
  return WithSlot(hwnd, index,
                  [value](std::atomic<LONG_PTR>& slot) { return slot.exchange(value); });
}

LONG_PTR GetWindowLongA(HWND hwnd, int index) {
  return WithSlot(hwnd, index, [](std::atomic<LONG_PTR>& slot) { return slot.load(); });
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) {
  return 0;
}

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc = ProcOf(hwnd);
  return proc ? proc(hwnd, msg, wParam, lParam) : 0;
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (msg == nullptr) return 0;
  TIMERPROC timerProc = nullptr;
  WNDPROC proc = nullptr;
  if (msg->message == WM_TIMER && msg->lParam != 0) {
    ThreadQueue* q = ThreadQueue::CurrentIfAny();
    timerProc = q ? q->TimerProc(msg->hwnd, msg->wParam, msg->lParam) : nullptr;
    if (timerProc == nullptr) return 0;
  } else {
    proc = ProcOf(msg->hwnd);
    if (proc == nullptr) return 0;
  }
  try {
    if (timerProc) {
      timerProc(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
      return 0;
    }
    return proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
  } catch (...) {
    detail::ReportDispatchException(std::current_exception());
    return 0;
  }
}

}  // namespace plat
