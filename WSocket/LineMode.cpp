// Line mode: ReadLine and the line collection it runs, in the dispatcher too.
#include <sys/socket.h>

#include <cstdint>

#include "WSocket/CustomWSocket.h"
#include "Wait/Wait.h"

bool TCustomWSocket::CheckFWait() {
  if (FWaitCtrl != nullptr) return true;
  RaiseException("No wait object assigned");
  return false;
}

void TCustomWSocket::EndLineMode() {
  FLine.End();
  if (!FMultiThreaded && FWaitCtrl != nullptr) FWaitCtrl->Stop();
}

bool TCustomWSocket::KeepsBytesForReadLine() const {
  return FLineReader && !OnDataAvailable;
}

void TCustomWSocket::ReadLineStart() {
  FLine.Start();
}

void TCustomWSocket::ReadLineReceive() {
  TSessionGuard Guard(*this);
  for (;;) {
    if (FSocketHandle == plat::INVALID_SOCKET) {
      EndLineMode();
      return;
    }
    // Not connected yet: the read notification goes on once it is.
    if (FState != wsConnected) return;
    // Looked at first, then exactly the line's part taken: whatever follows the line
    // feed stays in the socket.
    char Bytes[2 * TLineCollector::MaxLength];
    int R = plat::recv(FSocketHandle, Bytes, sizeof Bytes, MSG_PEEK);
    TLineCollector::TSpan Span;
    if (R > 0) {
      Span = FLine.Measure(Bytes, static_cast<std::size_t>(R));
      R = plat::recv(FSocketHandle, Bytes, static_cast<int>(Span.Take), 0);
    }
    if (R > 0) {
      FReadCount += R;
      FLine.Append(Bytes, static_cast<std::size_t>(R));
      // Taken only in part (it cannot be less than was looked at, but then the rest
      // is measured again).
      if (static_cast<std::size_t>(R) < Span.Take) continue;
      if (Span.TooLong) {
        try {
          TriggerLineTooLong();
        } catch (...) {
          // The line is complete all the same; the handler's error goes to the caller.
          if (!Guard.Gone()) EndLineMode();
          throw;
        }
        if (Guard.Gone()) return;
      }
      if (Span.Ends) {
        EndLineMode();
        return;
      }
      continue;
    }
    if (R < 0) {
      const int Code = plat::WSAGetLastError();
      // Nothing to read: the failed call re-armed the read notification, which
      // continues the line when bytes come.
      if (Code == plat::WSAEWOULDBLOCK) return;
      if (Code != plat::WSAECONNRESET) {
        plat::WSASetLastError(Code);
        SocketError("ReadLine");
        return;
      }
    }
    // The peer has closed (or reset) the connection.
    EndLineMode();
    if (Guard.SessionEnded()) return;
    Close();
    return;
  }
}

void TCustomWSocket::ReadLine(std::int32_t Timeout, std::string& Buffer) {
  if (!FMultiThreaded && !CheckFWait()) return;
  TSessionGuard Guard(*this);
  FLineReader = true;
  if (FLine.Start()) {
    ReadLineReceive();
    if (Guard.Gone()) return;
  }
  // A time-out of 0 or less takes what has arrived and returns at once.
  if (FLine.Active() && Timeout > 0) {
    if (FMultiThreaded)
      DeadlineLoop(Timeout, [this] { return !FLine.Active(); });
    else if (FWaitCtrl != nullptr)
      ModalWait(Timeout);
    if (Guard.Gone()) return;
  }
  // The buffer keeps its text when the session ends meanwhile (the peer closing): the
  // caller gets the part of the line that came before.
  Buffer = FLine.Line();
  FLine.Delivered();
}
