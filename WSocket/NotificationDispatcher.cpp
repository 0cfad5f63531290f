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
  TCustomWSocket& sock = FSocket;
  TCustomWSocket::TSessionGuard guard(sock);
  // Waiting bytes after the previous pass; a handler that takes nothing is not called
  // again for this notification (its next read re-arms the socket layer's FD_READ).
  plat::u_long before = 0;
  bool first = true;
  try {
    for (;;) {
      sock.FLastError = 0;
      const std::uint8_t serial = sock.FReadSerial;
      if (sock.FLine.Active()) {
        sock.ReadLineReceive();
        if (guard.SessionEnded()) return;
        // The line is complete: the bytes after its line feed stay in the socket for the
        // next ReadLine, or for the read notification that follows. At the peer's close
        // they are delivered now, as the session ends right after.
        if (!sock.FLine.Active() && !Closing) break;
      } else if (!sock.TriggerDataAvailable(Error)) {
        if (guard.SessionEnded()) return;
        // Left unread: no read re-arms the notification, so none follows until the next
        // ReadLine has read.
        if (sock.KeepsBytesForReadLine()) return;
        char Discard[1024];
        if (plat::recv(sock.FSocketHandle, Discard, sizeof Discard, 0) < 0) {
          const int code = plat::WSAGetLastError();
          if (code == plat::WSAEWOULDBLOCK) {
            sock.FLastError = 0;
            return;
          }
          sock.FLastError = code;
        }
      }
      if (guard.SessionEnded()) return;
      if (sock.FLastError != 0) break;
      if (sock.FReadSerial != serial) {
        // The handler read (or counted the waiting bytes) through this component: the
        // socket layer already knows from that call whether any are left, as a query here
        // would tell.
        const int left = plat::recvleft(sock.FSocketHandle);
        if (left == 0) break;
        if (left > 0) {
          first = true;
          continue;
        }
      }
      plat::u_long waiting = 0;
      if (plat::ioctlsocket(sock.FSocketHandle, plat::FIONREAD, &waiting) != 0) {
        sock.FLastError = plat::WSAGetLastError();
        break;
      }
      if (waiting == 0) break;
      if (!first && waiting >= before) break;
      before = waiting;
      first = false;
    }
  } catch (...) {
    // An error of the handler or an unreported failure ends this delivery only.
  }
}

void TNotificationDispatcher::Dispatch(const TMessage& MsgRec) {
  TCustomWSocket& sock = FSocket;
  if (sock.FSocketHandle == plat::INVALID_SOCKET || MsgRec.WParam != sock.FSocketHandle ||
      sock.FPaused)
    return;
  const std::uint16_t events = plat::LOWORD(MsgRec.LParam);
  const std::uint16_t error = plat::HIWORD(MsgRec.LParam);
  TCustomWSocket::TSessionGuard guard(sock);
  auto closeIfOpen = [](TCustomWSocket& Socket) {
    if (Socket.FState != wsClosed) Socket.Close();
  };
  // Runs Step; when it throws, the session is ended (unless a handler already ended or
  // replaced it) before the exception goes on.
  auto endingSessionOnThrow = [&guard](TCustomWSocket& Socket, auto Step, auto End) {
    try {
      Step();
    } catch (...) {
      if (!guard.SessionEnded()) End(Socket);
      throw;
    }
  };

  if (events & plat::FD_CONNECT) {
    sock.ChangeState(wsConnected);
    if (guard.SessionEnded()) return;
    if (error != 0) {
      // A refused connection ends, whatever its handler does.
      endingSessionOnThrow(
          sock, [&] { sock.TriggerSessionConnected(error); }, closeIfOpen);
      if (guard.SessionEnded()) return;
      closeIfOpen(sock);
      return;
    }
    sock.TriggerSessionConnected(error);
    if (guard.SessionEnded()) return;
  }
  if (events & plat::FD_READ) {
    DeliverData(error, false);
    if (guard.SessionEnded()) return;
  }
  if (events & plat::FD_WRITE) {
    sock.TryToSend();
    if (guard.SessionEnded()) return;
    if (sock.FAllSent && sock.OnDataSent) {
      sock.TriggerDataSent(error);
      if (guard.SessionEnded()) return;
    }
  }
  if (events & plat::FD_ACCEPT) {
    sock.TriggerSessionAvailable(error);
    if (guard.SessionEnded()) return;
  }
  if ((events & plat::FD_CLOSE) && sock.FState != wsConnecting) {
    // The peer's close ends the session even when a handler on the way raises.
    endingSessionOnThrow(
        sock,
        [&] {
          DeliverData(error, true);
          if (guard.SessionEnded()) return;
          // Lines still wait in the socket for a session that reads them with ReadLine: it
          // takes them, then finds the end of the stream and closes.
          if (sock.KeepsBytesForReadLine() && sock.BytesWaiting() > 0) return;
          if (sock.FLine.Active()) {
            sock.EndLineMode();
            if (guard.SessionEnded()) return;
          }
          if (sock.OnSessionClosed && !sock.FCloseNotified) {
            sock.FCloseNotified = true;
            sock.TriggerSessionClosed(error);
            if (guard.SessionEnded()) return;
          }
          closeIfOpen(sock);
        },
        closeIfOpen);
  }
}
