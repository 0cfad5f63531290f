// Posting, retrieval and timers of the calling thread's queue.
#include "Platform/Messaging/Clock.h"
#include "Platform/Messaging/Registry.h"
#include "Platform/Messaging/ThreadQueue.h"

namespace plat {

using detail::MessageFilter;
using detail::Registry;
using detail::ThreadQueue;

BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  bool wake = false;
  if (hwnd == 0) {
    ThreadQueue* q = ThreadQueue::Current();
    return q && q->Push(hwnd, message, wParam, lParam, q->RecentTickCount(), &wake) ? 1 : 0;
  }
  // A window of the calling thread needs no registry look-up, nor a wake-up.
  if (ThreadQueue* q = ThreadQueue::CurrentIfAny(); q && q->FindWindow(hwnd))
    return q->Push(hwnd, message, wParam, lParam, q->RecentTickCount(), &wake) ? 1 : 0;
  // Stamped by the queue.
  return Registry::PostToWindow(MSG{hwnd, message, wParam, lParam, 0}) ? 1 : 0;
}

void PostQuitMessage(int exitCode) {
  if (ThreadQueue* q = ThreadQueue::Current()) q->PostQuit(exitCode);
}

BOOL GetMessageA(MSG* msg, HWND filter, UINT filterMin, UINT filterMax) {
  ThreadQueue* q = ThreadQueue::Current();
  if (msg == nullptr || q == nullptr) return -1;
  if (filter == 0 && filterMin == 0 && filterMax == 0)
    q->Retrieve(msg, true, true);
  else
    q->Retrieve(msg, MessageFilter{filter, filterMin, filterMax}, true, true);
  return msg->message == WM_QUIT ? 0 : 1;
}

BOOL PeekMessageA(MSG* msg, HWND filter, UINT filterMin, UINT filterMax, UINT removeFlags) {
  ThreadQueue* q = ThreadQueue::Current();
  if (msg == nullptr || q == nullptr) return 0;
  const bool remove = (removeFlags & PM_REMOVE) != 0;
  if (filter == 0 && filterMin == 0 && filterMax == 0) return q->Retrieve(msg, remove, false);
  return q->Retrieve(msg, MessageFilter{filter, filterMin, filterMax}, remove, false);
}

BOOL TranslateMessage(const MSG*) {
  return 0;
}

BOOL WaitMessage() {
  ThreadQueue* q = ThreadQueue::Current();
  if (q == nullptr) return 0;
  MSG ignored;
  q->Retrieve(&ignored, false, true);
  return 1;
}

std::uintptr_t SetTimer(HWND hwnd, std::uintptr_t id, UINT elapseMs, void* timerFunc) {
  ThreadQueue* q = ThreadQueue::Current();
  return q ? q->SetTimer(hwnd, id, elapseMs, reinterpret_cast<TIMERPROC>(timerFunc)) : 0;
}

BOOL KillTimer(HWND hwnd, std::uintptr_t id) {
  ThreadQueue* q = ThreadQueue::CurrentIfAny();
  return q && q->KillTimer(hwnd, id) ? 1 : 0;
}

}  // namespace plat
