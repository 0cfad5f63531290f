// Turns the socket layer's notifications (WM_SOCKET_SELECT) into a socket component's
// events: connect, read, write, accept and close bits, in that order. Each step may run
// handlers that close the socket, start another session or destroy the component; the
// dispatcher re-checks before every further step. A handler's exception still leaves the
// session ended where the notification ends it (a refused connection, the peer's close)
// before it travels on to the application's exception handler.
#pragma once

#include <cstdint>

#include "Host/HiddenWindow.h"  // TMessage

class TCustomWSocket;

class TNotificationDispatcher {
 public:
  explicit TNotificationDispatcher(TCustomWSocket& Socket) : FSocket(Socket) {}

  void Dispatch(const TMessage& MsgRec);
  // Hands the waiting data to OnDataAvailable, again while bytes remain, or to the line
  // collector while a ReadLine runs; without a handler the data is read and thrown away,
  // unless the session reads lines (then it stays for the next ReadLine). Closing: the
  // peer has closed, so bytes after a completed line are delivered too. Exceptions of the
  // handlers end this delivery only.
  void DeliverData(std::uint16_t Error, bool Closing);

 private:
  TCustomWSocket& FSocket;
};
