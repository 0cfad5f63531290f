// The calls that wait: Wait, Flush, WaitForClose, the two ways of waiting that ReadLine
// shares with them, and the timeval helpers. Every loop here runs on the host's message
// pump, which hands a quit on to the loops outside.
//
// On the user-interface thread the waits run the wait control's modal loop (or pump
// through the application, when there is one); a socket of a worker thread
// (MultiThreaded) pumps that thread's own queue until a tick-count deadline.
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <thread>

#include "Host/MessagePump.h"
#include "Host/SysUtils.h"
#include "Host/WaitControl.h"
#include "WSocket/CustomWSocket.h"

namespace {

// Longest sleep of a Flush between two attempts to send: a paused socket gets no
// notification, so the queue is tried again at least this often. WaitForClose looks at
// a paused socket as often.
constexpr std::uint32_t RetryMs = 100;

}  // namespace

void TCustomWSocket::ModalWait(std::int32_t Timeout) {
  TWaitControl* ctrl = WaitCtrl();
  TSessionGuard guard(*this);
  ctrl->ShowWait(IntToStr(Timeout));
  try {
    ctrl->StartModal();
  } catch (...) {
    // The control may have been freed by a handler; WaitCtrl is cleared when it is.
    if (!guard.Gone() && WaitCtrl() == ctrl) ctrl->HideWait();
    throw;
  }
  if (!guard.Gone() && WaitCtrl() == ctrl) ctrl->HideWait();
}

void TCustomWSocket::DeadlineLoop(std::int32_t Timeout, const std::function<bool()>& Done) {
  TSessionGuard guard(*this);
  // One message at a time, so that the wait ends right after the message that fulfilled
  // it: later ones (data after a line feed) stay queued for the thread's own loop.
  TMessagePump pump;
  static_cast<void>(
      pump.PumpUntil([&] { return guard.Gone() || Done(); }, TDeadline::InSeconds(Timeout)));
}

bool TCustomWSocket::Wait(std::int32_t Timeout, TSocketState AwaitedState) {
  // No time to wait: no change can be seen.
  if (FState == AwaitedState || Timeout <= 0) return false;
  FAwaitedState = AwaitedState;
  TSessionGuard guard(*this);
  if (FMultiThreaded) {
    DeadlineLoop(Timeout, [this, AwaitedState] { return FState == AwaitedState; });
  } else if (WaitCtrl() == nullptr) {
    // Nothing is awaited any more: a later change must not stop a wait control.
    FAwaitedState = wsInvalidState;
    plat::WSASetLastError(plat::WSANO_DATA);
    SocketError("TWSocket.Wait");
    return false;
  } else {
    ModalWait(Timeout);
  }
  if (guard.Gone()) return false;
  const bool result = FState == AwaitedState;
  FAwaitedState = wsInvalidState;
  return result;
}

void TCustomWSocket::Flush() {
  TSessionGuard guard(*this);
  // Tries the queue again before every message; done when it has drained or the socket
  // (or the component) is gone.
  auto drained = [&] {
    if (guard.Gone() || FSocketHandle == plat::INVALID_SOCKET || FAllSent) return true;
    TryToSend();
    return guard.Gone() || FSocketHandle == plat::INVALID_SOCKET || FAllSent;
  };
  if (FMultiThreaded) {
    // No time limit. The network being full, the write notification (or the retry
    // period) wakes the pump.
    TMessagePump pump;
    static_cast<void>(pump.PumpUntil(drained, TDeadline::Never(), RetryMs));
    return;
  }

  if (!CheckFWait()) return;
  TWaitControl* ctrl = WaitCtrl();
  // Ends the count-down unless the control or the component went away meanwhile.
  auto finish = [&] {
    if (guard.Gone() || WaitCtrl() != ctrl) return;
    ctrl->Stop();
    if (!guard.Gone() && WaitCtrl() == ctrl) ctrl->HideWait();
  };
  ctrl->ShowWait(IntToStr(FlushTimeout()));
  try {
    ctrl->Start();
    // The count-down's ticks run through the same pump and end the wait.
    TMessagePump pump(ModalWaitFilter());
    static_cast<void>(
        pump.PumpUntil([&] { return drained() || WaitCtrl() != ctrl || !ctrl->Running(); },
                       TDeadline::Never(), RetryMs));
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void TCustomWSocket::WaitForClose() {
  TSessionGuard guard(*this);
  auto ended = [&] {
    return guard.SessionEnded() || FSocketHandle == plat::INVALID_SOCKET || FState == wsClosed;
  };
  bool peerClosed = false;
  TMessagePump pump(ModalWaitFilter());
  static_cast<void>(pump.PumpUntil(
      [&] {
        if (ended()) return true;
        plat::u_long waiting = 0;
        if (plat::ioctlsocket(FSocketHandle, plat::FIONREAD, &waiting) != 0) return true;
        if (waiting > 0) {
          if (FLine.Active()) {
            ReadLineReceive();
          } else if (!TriggerDataAvailable(0)) {
            // Nobody reads them (not even a ReadLine, while the caller waits here).
            char discard[1024];
            plat::recv(FSocketHandle, discard, sizeof discard, 0);
          }
          if (ended()) return true;
        }
        char probe = 0;
        const int r = plat::recv(FSocketHandle, &probe, 1, MSG_PEEK);
        if (r == 0) {
          // The peer has closed and everything it sent has been read.
          FLastError = 0;
          peerClosed = true;
          return true;
        }
        if (r < 0) {
          FLastError = plat::WSAGetLastError();
          // Nothing to read and the peer still there: the next notification (the failed
          // read re-armed FD_READ) wakes the pump; a paused socket gets none.
          return FLastError != plat::WSAEWOULDBLOCK;
        }
        return false;
      },
      TDeadline::Never(), RetryMs));
  // Lets the close notification that is due run, so that the component ends the session.
  if (peerClosed && !guard.Gone()) static_cast<void>(pump.PumpPending());
}

bool TCustomWSocket::TimerIsSet(const TTimeVal& Tvp) {
  return Tvp.tv_sec != 0 || Tvp.tv_usec != 0;
}

void TCustomWSocket::TimerClear(TTimeVal& Tvp) {
  Tvp.tv_sec = 0;
  Tvp.tv_usec = 0;
}

bool TCustomWSocket::TimerCmp(const TTimeVal& Tvp, const TTimeVal& Uvp, bool IsEqual) {
  const bool eq = Tvp.tv_sec == Uvp.tv_sec && Tvp.tv_usec == Uvp.tv_usec;
  return IsEqual ? eq : !eq;
}
