// Hidden windows, per-thread message queues and timers.
//
// Every thread that touches this API gets its own queue, created on first use.
// Windows belong to the thread that created them; messages posted to a window from
// any thread land, FIFO, in the queue of that window's thread. Handles are opaque
// 64-bit values drawn from a process-wide counter: a handle is never reused, so a
// message still queued for an old window can never reach a newer one.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>

#include "Platform/Export.h"

namespace plat {

using HWND = std::uint64_t;
using UINT = std::uint32_t;
using WPARAM = std::uint64_t;
using LPARAM = std::int64_t;
using LRESULT = std::int64_t;
using LONG_PTR = std::intptr_t;
using BOOL = int;
using DWORD = std::uint32_t;

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr UINT WM_KEYUP = 0x0101;
inline constexpr UINT WM_CHAR = 0x0102;
inline constexpr UINT WM_SYSKEYDOWN = 0x0104;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
inline constexpr UINT WM_RBUTTONDOWN = 0x0204;
inline constexpr UINT WM_RBUTTONUP = 0x0205;
inline constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
inline constexpr UINT WM_MBUTTONDOWN = 0x0207;
inline constexpr UINT WM_USER = 0x0400;

inline constexpr UINT PM_NOREMOVE = 0x0000;
inline constexpr UINT PM_REMOVE = 0x0001;

// Filter value for GetMessageA/PeekMessageA: only messages posted to the thread (hwnd 0).
inline constexpr HWND HWND_THREAD_ONLY = ~HWND{0};

// SetWindowLongA/GetWindowLongA indices besides the extra memory.
inline constexpr int GWLP_WNDPROC = -4;
inline constexpr int GWLP_USERDATA = -21;

// Shortest timer interval; shorter requests are raised to it.
inline constexpr UINT USER_TIMER_MINIMUM = 10;
inline constexpr UINT USER_TIMER_MAXIMUM = 0x7FFFFFFF;

inline constexpr DWORD WS_POPUP = 0x80000000u;
inline constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080u;

struct ORV_API MSG {
  HWND hwnd = 0;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  // Tick count when posted, to a few milliseconds; while the window's thread is busy, the
  // time that thread last looked at its queue (reading the clock for every message would
  // be a good part of the cost of a message).
  DWORD time = 0;
};

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
// Called by DispatchMessageA for a WM_TIMER of a timer set with a function, instead of the
// window procedure: (hwnd, WM_TIMER, id, tick count).
using TIMERPROC = void (*)(HWND, UINT, std::uintptr_t, DWORD);

struct ORV_API WNDCLASSA {
  UINT style = 0;
  WNDPROC lpfnWndProc = nullptr;
  int cbClsExtra = 0;
  int cbWndExtra = 0;  // bytes of per-window extra memory (multiples of 8 hold a pointer)
  void* hInstance = nullptr;
  const char* lpszClassName = nullptr;
};

inline constexpr std::uint16_t LOWORD(LPARAM v) {
  return static_cast<std::uint16_t>(v & 0xFFFF);
}
inline constexpr std::uint16_t HIWORD(LPARAM v) {
  return static_cast<std::uint16_t>((v >> 16) & 0xFFFF);
}
inline constexpr LPARAM MAKELONG(std::uint16_t lo, std::uint16_t hi) {
  return static_cast<LPARAM>(static_cast<std::uint32_t>(lo) |
                             (static_cast<std::uint32_t>(hi) << 16));
}

// Window classes are process-wide. Registering a name twice fails, and so does a class
// without a name or procedure, or with cbWndExtra outside 0..4096.
ORV_API BOOL GetClassInfoA(void* hInstance, const char* className, WNDCLASSA* out);
ORV_API BOOL RegisterClassA(const WNDCLASSA* wc);
ORV_API BOOL UnregisterClassA(const char* className, void* hInstance);

// Creates a (never shown) window of a registered class, owned by the calling thread.
// Returns 0 when the class is unknown. Class names compare without regard to case.
ORV_API HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName,
                             DWORD style, int x, int y, int width, int height, HWND parent,
                             void* menu, void* hInstance, void* param);
// Sends WM_DESTROY to the window procedure, then removes the window's queued messages
// and kills its timers. Owner thread only. Windows still alive when their thread exits
// are destroyed silently (no WM_DESTROY: the thread's other state may be gone).
ORV_API BOOL DestroyWindow(HWND hwnd);
ORV_API BOOL IsWindow(HWND hwnd);
// Extra memory of the window at a byte offset; returns the previous value / 0 on error.
// The extra memory holds max(cbWndExtra, 8) bytes, addressed in pointer-sized words at
// offsets that are multiples of 8; GWLP_USERDATA and GWLP_WNDPROC are also accepted.
ORV_API LONG_PTR SetWindowLongA(HWND hwnd, int index, LONG_PTR value);
ORV_API LONG_PTR GetWindowLongA(HWND hwnd, int index);
ORV_API LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Calls the window procedure directly, on the calling thread. Exceptions propagate to
// the caller, as from any direct call.
ORV_API LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Any thread; fails (FALSE) for a destroyed or unknown window, or one whose thread has
// exited. hwnd 0 posts a thread message to the calling thread's own queue.
ORV_API BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Asks the calling thread's loops to end: GetMessageA answers 0 once everything
// posted before it has been retrieved. Asking again while a quit is still queued only
// updates its code (wParam of the WM_QUIT).
ORV_API void PostQuitMessage(int exitCode);
// Waits for a message of the calling thread. Answers 0 for the quit message, 1 otherwise,
// -1 when the thread has no usable queue (msg null, or the thread is exiting).
// Filters: hwnd 0 takes every message, HWND_THREAD_ONLY only thread messages, another
// handle only that window's; a range of 0..0 takes every number. WM_QUIT passes every
// filter. Order: posted messages (FIFO), the quit message, then due timers; a timer
// overdue by at least its interval goes ahead of posted messages so it cannot starve.
ORV_API BOOL GetMessageA(MSG* msg, HWND filter, UINT filterMin, UINT filterMax);
// Never waits. PM_REMOVE takes the message out of the queue.
ORV_API BOOL PeekMessageA(MSG* msg, HWND filter, UINT filterMin, UINT filterMax, UINT removeFlags);
ORV_API BOOL TranslateMessage(const MSG* msg);
// Calls the window procedure of msg->hwnd; a message for a window that is gone is dropped.
// An exception that leaves the window procedure goes to the dispatch exception handler.
ORV_API LRESULT DispatchMessageA(const MSG* msg);
// Blocks until the calling thread's queue holds something (a message, a due timer, quit).
ORV_API BOOL WaitMessage();

// Timers: a WM_TIMER (wParam = id, lParam = the timer function) is generated when due
// and nothing else is queued; the next one is due an interval after it was retrieved
// (no catch-up). Setting an existing id again replaces and restarts it. Owner thread of
// hwnd only. hwnd 0 makes a thread timer whose id is chosen here unless id names an
// existing thread timer. timerFunc, when not null, is a TIMERPROC. Intervals are clamped
// to USER_TIMER_MINIMUM..USER_TIMER_MAXIMUM. Returns the id (1 for id 0 on a window),
// 0 on failure.
ORV_API std::uintptr_t SetTimer(HWND hwnd, std::uintptr_t id, UINT elapseMs, void* timerFunc);
ORV_API BOOL KillTimer(HWND hwnd, std::uintptr_t id);

// Milliseconds since an arbitrary start, wrapping at 2^32.
ORV_API DWORD GetTickCount();

// Where an exception that escapes a window procedure during dispatch goes. The host's
// application object installs its exception handling here; without a handler the
// exception is written to stderr and dropped. Never lets it unwind through a loop.
using DispatchExceptionHandler = std::function<void(std::exception_ptr)>;
ORV_API void SetDispatchExceptionHandler(DispatchExceptionHandler handler);

}  // namespace plat
