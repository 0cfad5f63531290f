// The calls that wait: Wait, Flush and the two ways of waiting that ReadLine shares with
// them, and the timeval helpers.
//
// On the user-interface thread the waits run the wait control's modal loop; a socket of a
// worker thread (MultiThreaded) pumps that thread's own queue until a tick-count deadline.
#include <sys/socket.h>

#include <algorithm>
#include <cstdint>

#include "Host/Application.h"
#include "Host/SysUtils.h"
#include "WSocket/CustomWSocket.h"
#include "Wait/Wait.h"

namespace {

// Longest sleep of a Flush between two attempts to send: a paused socket gets no
// notification, so the queue is tried again at least this often.
constexpr plat::UINT FlushRetryMs = 100;

// A point in time on the tick counter, given in seconds from now. Compared through the
// signed difference, so the wrap of the counter every 49.7 days does not matter.
class TDeadline {
 public:
  explicit TDeadline(std::int32_t Seconds) {
    // 2^31 - 1 ms is the farthest a signed difference can reach.
    const std::int64_t Ms = std::clamp<std::int64_t>(std::int64_t{Seconds} * 1000, 0, INT32_MAX);
    FEnd = plat::GetTickCount() + static_cast<plat::DWORD>(Ms);
  }
  // Milliseconds left; 0 or less once the deadline has passed.
  std::int32_t Left() const { return static_cast<std::int32_t>(FEnd - plat::GetTickCount()); }

 private:
  plat::DWORD FEnd = 0;
};

// Sleeps until the calling thread's queue holds something, or at most Ms milliseconds.
// A thread timer bounds the sleep; its message is dropped when dispatched (no window).
void SleepForMessage(plat::UINT Ms) {
  const std::uintptr_t Id = plat::SetTimer(0, 0, std::max<plat::UINT>(Ms, 1), nullptr);
  plat::WaitMessage();
  if (Id != 0) plat::KillTimer(0, Id);
}

// Dispatches one pending message of the calling thread. Answers false when the queue was
// empty; a quit message is taken out and its code stored in Quit instead.
bool DispatchOne(bool& QuitSeen, int& QuitCode) {
  plat::MSG Msg{};
  if (!plat::PeekMessageA(&Msg, 0, 0, 0, plat::PM_REMOVE)) return false;
  if (Msg.message == plat::WM_QUIT) {
    QuitSeen = true;
    QuitCode = static_cast<int>(Msg.wParam);
    return true;
  }
  plat::TranslateMessage(&Msg);
  plat::DispatchMessageA(&Msg);
  return true;
}

}  // namespace

void TCustomWSocket::ModalWait(std::int32_t Timeout) {
  TWait* Ctrl = FWaitCtrl;
  TAliveGuard Guard(this);
  Ctrl->SetCaption(IntToStr(Timeout));
  Ctrl->SetVisible(true);
  try {
    Ctrl->StartModal();
  } catch (...) {
    // The control may have been freed by a handler; WaitCtrl is cleared when it is.
    if (!Guard.Gone() && FWaitCtrl == Ctrl) Ctrl->SetVisible(false);
    throw;
  }
  if (!Guard.Gone() && FWaitCtrl == Ctrl) Ctrl->SetVisible(false);
}

void TCustomWSocket::DeadlineLoop(std::int32_t Timeout, const std::function<bool()>& Done) {
  const TDeadline Deadline(Timeout);
  TAliveGuard Guard(this);
  bool QuitSeen = false;
  int QuitCode = 0;
  // One message at a time, so that the wait ends right after the message that fulfilled
  // it: later ones (data after a line feed) stay queued for the thread's own loop.
  while (!Done() && Deadline.Left() > 0) {
    if (DispatchOne(QuitSeen, QuitCode)) {
      // The thread is asked to end: waiting on would only delay it.
      if (QuitSeen || Guard.Gone()) break;
      continue;
    }
    const std::int32_t Left = Deadline.Left();
    if (Left <= 0) break;
    SleepForMessage(static_cast<plat::UINT>(Left));
  }
  // Left for the thread's own loop, which must end too.
  if (QuitSeen) plat::PostQuitMessage(QuitCode);
}

bool TCustomWSocket::Wait(std::int32_t Timeout, TSocketState AwaitedState) {
  // No time to wait: no change can be seen.
  if (FState == AwaitedState || Timeout <= 0) return false;
  FAwaitedState = AwaitedState;
  TAliveGuard Guard(this);
  if (FMultiThreaded) {
    DeadlineLoop(Timeout, [this, AwaitedState] { return FState == AwaitedState; });
  } else if (FWaitCtrl == nullptr) {
    // Nothing is awaited any more: a later change must not stop a wait control.
    FAwaitedState = wsInvalidState;
    plat::WSASetLastError(plat::WSANO_DATA);
    SocketError("TWSocket.Wait");
    return false;
  } else {
    ModalWait(Timeout);
  }
  if (Guard.Gone()) return false;
  const bool Result = FState == AwaitedState;
  FAwaitedState = wsInvalidState;
  return Result;
}

void TCustomWSocket::Flush() {
  TAliveGuard Guard(this);
  if (FMultiThreaded) {
    // No time limit: ends when the queue has drained or the socket is gone. A quit that
    // arrives meanwhile is held back and handed to the thread's loop afterwards.
    bool QuitSeen = false;
    int QuitCode = 0;
    while (FSocketHandle != plat::INVALID_SOCKET && !FAllSent) {
      TryToSend();
      if (Guard.Gone()) break;
      if (FSocketHandle == plat::INVALID_SOCKET || FAllSent) break;
      bool Dispatched = false;
      while (DispatchOne(QuitSeen, QuitCode)) {
        Dispatched = true;
        if (Guard.Gone()) break;
      }
      if (Guard.Gone()) break;
      // The network is full: the write notification (or the retry period) wakes us.
      if (!Dispatched) SleepForMessage(FlushRetryMs);
    }
    if (QuitSeen) plat::PostQuitMessage(QuitCode);
    return;
  }

  if (!CheckFWait()) return;
  TWait* Ctrl = FWaitCtrl;
  TApplication& App = *Application;
  const bool WasTerminated = App.Terminated();
  // Ends the count-down unless the control or the component went away meanwhile.
  auto Finish = [&] {
    if (Guard.Gone() || FWaitCtrl != Ctrl) return;
    Ctrl->Stop();
    if (!Guard.Gone() && FWaitCtrl == Ctrl) Ctrl->SetVisible(false);
  };
  Ctrl->SetCaption(IntToStr(FFlushTimeout));
  Ctrl->SetVisible(true);
  try {
    Ctrl->Start();
    while (!Guard.Gone() && FWaitCtrl == Ctrl && Ctrl->Running() &&
           FSocketHandle != plat::INVALID_SOCKET && !FAllSent) {
      TryToSend();
      if (Guard.Gone() || FSocketHandle == plat::INVALID_SOCKET || FAllSent) break;
      App.ProcessMessages();
      if (App.Terminated()) {
        // Loops outside must still see the quit that ended this one.
        if (!WasTerminated) plat::PostQuitMessage(App.ExitCode());
        break;
      }
      if (Guard.Gone() || FWaitCtrl != Ctrl || !Ctrl->Running()) break;
      // Sleep until the next message instead of spinning: the write notification when
      // the network takes more, or the count-down's tick.
      if (FSocketHandle != plat::INVALID_SOCKET && !FAllSent) SleepForMessage(FlushRetryMs);
    }
  } catch (...) {
    Finish();
    throw;
  }
  Finish();
}

void TCustomWSocket::WaitForClose() {
  TAliveGuard guard(this);
  while (FSocketHandle != plat::INVALID_SOCKET && FState != wsClosed) {
    guard.Bind();
    Application->ProcessMessages();
    if (guard.SessionEnded() || Application->Terminated()) return;
    plat::u_long waiting = 0;
    if (plat::ioctlsocket(FSocketHandle, plat::FIONREAD, &waiting) != 0) return;
    if (waiting > 0) {
      if (FLine.Active()) {
        ReadLineReceive();
      } else if (!TriggerDataAvailable(0)) {
        // Nobody reads them (not even a ReadLine, while the caller waits here).
        char discard[1024];
        plat::recv(FSocketHandle, discard, sizeof discard, 0);
      }
      if (guard.SessionEnded()) return;
    }
    char probe = 0;
    const int r = plat::recv(FSocketHandle, &probe, 1, MSG_PEEK);
    if (r == 0) {
      // The peer has closed and everything it sent has been read. The last error still
      // holds an earlier would-block, which must not keep a paused socket (which gets no
      // close notification) spinning here: let a due notification run, then stop.
      FLastError = 0;
      Application->ProcessMessages();
      return;
    }
    if (r < 0) {
      FLastError = plat::WSAGetLastError();
      if (FLastError != plat::WSAEWOULDBLOCK) return;
      // Nothing to read and the peer still there: sleep until the next notification
      // (the failed read re-armed FD_READ) instead of spinning.
      if (!FPaused) plat::WaitMessage();
    }
    Application->ProcessMessages();
    if (guard.SessionEnded()) return;
  }
}

bool TCustomWSocket::TimerIsSet(const TTimeVal& Tvp) {
  return Tvp.tv_sec != 0 || Tvp.tv_usec != 0;
}

void TCustomWSocket::TimerClear(TTimeVal& Tvp) {
  Tvp.tv_sec = 0;
  Tvp.tv_usec = 0;
}

bool TCustomWSocket::TimerCmp(const TTimeVal& Tvp, const TTimeVal& Uvp, bool IsEqual) {
  const bool Eq = Tvp.tv_sec == Uvp.tv_sec && Tvp.tv_usec == Uvp.tv_usec;
  return IsEqual ? Eq : !Eq;
}
