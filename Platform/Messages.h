// Hidden windows, per-thread message queues and timers.
//
// Every thread that touches this API gets its own queue, created on first use.
// Windows belong to the thread that created them; messages posted to a window from
// any thread land, FIFO, in the queue of that window's thread. Handles are opaque
// 64-bit values (table index + generation) that are never reused while messages
// for an older window could still be queued.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>

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

inline constexpr DWORD WS_POPUP = 0x80000000u;
inline constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080u;

struct MSG {
  HWND hwnd = 0;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  DWORD time = 0;
};

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

struct WNDCLASSA {
  UINT style = 0;
  WNDPROC lpfnWndProc = nullptr;
  int cbClsExtra = 0;
  int cbWndExtra = 0;  // bytes of per-window extra memory (multiples of 8 hold a pointer)
  void* hInstance = nullptr;
  const char* lpszClassName = nullptr;
};

inline constexpr std::uint16_t LOWORD(LPARAM v) { return static_cast<std::uint16_t>(v & 0xFFFF); }
inline constexpr std::uint16_t HIWORD(LPARAM v) {
  return static_cast<std::uint16_t>((v >> 16) & 0xFFFF);
}
inline constexpr LPARAM MAKELONG(std::uint16_t lo, std::uint16_t hi) {
  return static_cast<LPARAM>(static_cast<std::uint32_t>(lo) | (static_cast<std::uint32_t>(hi) << 16));
}

// Window classes are process-wide. Registering a name twice fails.
BOOL GetClassInfoA(void* hInstance, const char* className, WNDCLASSA* out);
BOOL RegisterClassA(const WNDCLASSA* wc);
BOOL UnregisterClassA(const char* className, void* hInstance);

// Creates a (never shown) window of a registered class, owned by the calling thread.
// Returns 0 when the class is unknown.
HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName, DWORD style,
                     int x, int y, int width, int height, HWND parent, void* menu,
                     void* hInstance, void* param);
// Removes the window's queued messages and kills its timers. Owner thread only.
BOOL DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);
// Extra memory of the window at a byte offset; returns the previous value / 0 on error.
LONG_PTR SetWindowLongA(HWND hwnd, int index, LONG_PTR value);
LONG_PTR GetWindowLongA(HWND hwnd, int index);
LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Calls the window procedure directly, on the calling thread.
LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Any thread; fails (FALSE) for a destroyed or unknown window.
BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Asks the calling thread's loops to end: GetMessageA answers 0 once everything
// posted before it has been retrieved.
void PostQuitMessage(int exitCode);
// Waits for a message of the calling thread. Answers 0 for the quit message, 1 otherwise.
BOOL GetMessageA(MSG* msg, HWND filter, UINT filterMin, UINT filterMax);
// Never waits. PM_REMOVE takes the message out of the queue.
BOOL PeekMessageA(MSG* msg, HWND filter, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL TranslateMessage(const MSG* msg);
// Calls the window procedure of msg->hwnd; a message for a window that is gone is dropped.
// An exception that leaves the window procedure goes to the dispatch exception handler.
LRESULT DispatchMessageA(const MSG* msg);
// Blocks until the calling thread's queue holds something (a message, a due timer, quit).
BOOL WaitMessage();

// Timers: a WM_TIMER (wParam = id) is generated when due and nothing else is queued.
// Setting an existing id again replaces and restarts it. Returns the id, 0 on failure.
std::uintptr_t SetTimer(HWND hwnd, std::uintptr_t id, UINT elapseMs, void* timerFunc);
BOOL KillTimer(HWND hwnd, std::uintptr_t id);

// Milliseconds since an arbitrary start, wrapping at 2^32.
DWORD GetTickCount();

// Where an exception that escapes a window procedure during dispatch goes. The host's
// application object installs its exception handling here; without a handler the
// exception is written to stderr and dropped. Never lets it unwind through a loop.
using DispatchExceptionHandler = std::function<void(std::exception_ptr)>;
void SetDispatchExceptionHandler(DispatchExceptionHandler handler);

}  // namespace plat
