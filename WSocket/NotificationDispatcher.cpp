#include "WSocket/NotificationDispatcher.h"

#include "WSocket/CustomWSocket.h"

void TCustomWSocket::WMASyncSelect(TMessage& MsgRec) {
  TNotificationDispatcher(*this).Dispatch(MsgRec);
}

void TCustomWSocket::ASyncReceive(TMessage& MsgRec) {
  TNotificationDispatcher(*this).DeliverData(plat::HIWORD(MsgRec.LParam),
                                             (plat::LOWORD(MsgRec.LParam) & plat::FD_CLOSE) != 0);
}

void TNotificationDispatcher::DeliverData(std::uint16_t Error, bool Closing) {
  TCustomWSocket& S = FSocket;
  TCustomWSocket::TSessionGuard Guard(S);
  // Waiting bytes after the previous pass; a handler that takes nothing is not called
  // again for this notification (its next read re-arms the socket layer's FD_READ).
  plat::u_long Before = 0;
  bool First = true;
  try {
    for (;;) {
      S.FLastError = 0;
      if (S.FLine.Active()) {
        S.ReadLineReceive();
        if (Guard.SessionEnded()) return;
        // The line is complete: the bytes after its line feed stay in the socket for the
        // next ReadLine, or for the read notification that follows. At the peer's close
        // they are delivered now, as the session ends right after.
        if (!S.FLine.Active() && !Closing) break;
      } else if (!S.TriggerDataAvailable(Error)) {
        if (Guard.SessionEnded()) return;
        // Left unread: no read re-arms the notification, so none follows until the next
        // ReadLine has read.
        if (S.KeepsBytesForReadLine()) return;
        char Discard[1024];
        if (plat::recv(S.FSocketHandle, Discard, sizeof Discard, 0) < 0) {
          const int Code = plat::WSAGetLastError();
          if (Code == plat::WSAEWOULDBLOCK) {
            S.FLastError = 0;
            return;
          }
          S.FLastError = Code;
        }
      }
      if (Guard.SessionEnded()) return;
      if (S.FLastError != 0) break;
      plat::u_long Waiting = 0;
      if (plat::ioctlsocket(S.FSocketHandle, plat::FIONREAD, &Waiting) != 0) {
        S.FLastError = plat::WSAGetLastError();
        break;
      }
      if (Waiting == 0) break;
      if (!First && Waiting >= Before) break;
      Before = Waiting;
      First = false;
    }
  } catch (...) {
    // An error of the handler or an unreported failure ends this delivery only.
  }
}

void TNotificationDispatcher::Dispatch(const TMessage& MsgRec) {
  TCustomWSocket& S = FSocket;
  if (S.FSocketHandle == plat::INVALID_SOCKET || MsgRec.WParam != S.FSocketHandle || S.FPaused)
    return;
  const std::uint16_t Events = plat::LOWORD(MsgRec.LParam);
  const std::uint16_t Error = plat::HIWORD(MsgRec.LParam);
  TCustomWSocket::TSessionGuard Guard(S);
  auto CloseIfOpen = [](TCustomWSocket& Socket) {
    if (Socket.FState != wsClosed) Socket.Close();
  };
  // Runs Step; when it throws, the session is ended (unless a handler already ended or
  // replaced it) before the exception goes on.
  auto EndingSessionOnThrow = [&Guard](TCustomWSocket& Socket, auto Step, auto End) {
    try {
      Step();
    } catch (...) {
      if (!Guard.SessionEnded()) End(Socket);
      throw;
    }
  };

  if (Events & plat::FD_CONNECT) {
    S.ChangeState(wsConnected);
    if (Guard.SessionEnded()) return;
    if (Error != 0) {
      // A refused connection ends, whatever its handler does.
      EndingSessionOnThrow(
          S, [&] { S.TriggerSessionConnected(Error); }, CloseIfOpen);
      if (Guard.SessionEnded()) return;
      CloseIfOpen(S);
      return;
    }
    S.TriggerSessionConnected(Error);
    if (Guard.SessionEnded()) return;
  }
  if (Events & plat::FD_READ) {
    DeliverData(Error, false);
    if (Guard.SessionEnded()) return;
  }
  if (Events & plat::FD_WRITE) {
    S.TryToSend();
    if (Guard.SessionEnded()) return;
    if (S.FAllSent && S.OnDataSent) {
      S.TriggerDataSent(Error);
      if (Guard.SessionEnded()) return;
    }
  }
  if (Events & plat::FD_ACCEPT) {
    S.TriggerSessionAvailable(Error);
    if (Guard.SessionEnded()) return;
  }
  if ((Events & plat::FD_CLOSE) && S.FState != wsConnecting) {
    // The peer's close ends the session even when a handler on the way raises.
    EndingSessionOnThrow(
        S,
        [&] {
          DeliverData(Error, true);
          if (Guard.SessionEnded()) return;
          // Lines still wait in the socket for a session that reads them with ReadLine: it
          // takes them, then finds the end of the stream and closes.
          if (S.KeepsBytesForReadLine() && S.BytesWaiting() > 0) return;
          if (S.FLine.Active()) {
            S.EndLineMode();
            if (Guard.SessionEnded()) return;
          }
          if (S.OnSessionClosed && !S.FCloseNotified) {
            S.FCloseNotified = true;
            S.TriggerSessionClosed(Error);
            if (Guard.SessionEnded()) return;
          }
          CloseIfOpen(S);
        },
        CloseIfOpen);
  }
}
