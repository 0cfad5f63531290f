// Line mode: ReadLine and the line collection it runs, in the dispatcher too.
#include <sys/socket.h>

#include <cstdint>
#include <string>

#include "Host/WaitControl.h"
#include "WSocket/CustomWSocket.h"

bool TCustomWSocket::CheckFWait() {
  if (WaitCtrl() != nullptr) return true;
  RaiseException("No wait object assigned");
  return false;
}

void TCustomWSocket::EndLineMode() {
  FLine.End();
  if (!FMultiThreaded && WaitCtrl() != nullptr) WaitCtrl()->Stop();
}

void TCustomWSocket::FireLineTooLong() {
  TAliveGuard guard(*this);
  try {
    TriggerLineTooLong();
  } catch (...) {
    if (!guard.Gone()) EndLineMode();
    throw;
  }
}

bool TCustomWSocket::KeepsBytesForReadLine() const {
  return FLineReader && !OnDataAvailable;
}

void TCustomWSocket::ReadLineStart() {
  FLine.Start();
}

void TCustomWSocket::ReadLineReceive() {
  TSessionGuard guard(*this);
  for (;;) {
    if (FSocketHandle == plat::INVALID_SOCKET) {
      EndLineMode();
      return;
    }
    // Not connected yet: the read notification goes on once it is.
    if (FState != wsConnected) return;
    // Looked at first, then exactly the line's part taken: whatever follows the line
    // feed stays in the socket.
    char bytes[2 * TLineCollector::MaxLength];
    int r = plat::recv(FSocketHandle, bytes, sizeof bytes, MSG_PEEK);
    TLineCollector::TSpan span;
    if (r > 0) {
      span = FLine.Measure(bytes, static_cast<std::size_t>(r));
      r = plat::recv(FSocketHandle, bytes, static_cast<int>(span.Take), 0);
    }
    if (r > 0) {
      FReadCount += r;
      FLine.Append(bytes, static_cast<std::size_t>(r));
      // Taken only in part (it cannot be less than was looked at, but then the rest
      // is measured again).
      if (static_cast<std::size_t>(r) < span.Take) continue;
      if (span.TooLong) {
        FireLineTooLong();
        if (guard.Gone()) return;
      }
      if (span.Ends) {
        EndLineMode();
        return;
      }
      continue;
    }
    if (r < 0) {
      const int code = plat::WSAGetLastError();
      // Nothing to read: the failed call re-armed the read notification, which
      // continues the line when bytes come.
      if (code == plat::WSAEWOULDBLOCK) return;
      if (code != plat::WSAECONNRESET) {
        plat::WSASetLastError(code);
        SocketError("ReadLine");
        return;
      }
    }
    // The peer has closed (or reset) the connection.
    EndLineMode();
    if (guard.SessionEnded()) return;
    Close();
    return;
  }
}

void TCustomWSocket::ReadLine(std::int32_t Timeout, std::string& Buffer) {
  if (!FMultiThreaded && !CheckFWait()) return;
  TSessionGuard guard(*this);
  FLineReader = true;
  if (FLine.Start()) {
    ReadLineReceive();
    if (guard.Gone()) return;
  }
  // A time-out of 0 or less takes what has arrived and returns at once.
  if (FLine.Active() && Timeout > 0) {
    if (FMultiThreaded)
      DeadlineLoop(Timeout, [this] { return !FLine.Active(); });
    else if (WaitCtrl() != nullptr)
      ModalWait(Timeout);
    if (guard.Gone()) return;
  }
  // The buffer keeps its text when the session ends meanwhile (the peer closing): the
  // caller gets the part of the line that came before. A line goes to one caller only: a
  // ReadLine in a handler that ran meanwhile (OnSessionClosed, at the peer's close) may have
  // taken it already, and then nothing is left for this one.
  Buffer = FLine.Active() || FLine.Unread() ? FLine.Line() : std::string();
  FLine.Delivered();
}
