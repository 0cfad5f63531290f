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

// The socket's own bytes: looked at first, then exactly the line's part taken, so that
// whatever follows the line feed stays in the socket.
class TCustomWSocket::TSocketLines final : public TLineSource {
 public:
  explicit TSocketLines(TCustomWSocket& Socket) : FSocket(Socket) {}

  TResult Peek(const char*& Data, std::size_t& Len) override {
    // Not connected yet: the read notification goes on once it is.
    if (FSocket.FState != wsConnected) return Later;
    const int r = plat::recv(FSocket.FSocketHandle, FBytes, sizeof FBytes, MSG_PEEK);
    Data = FBytes;
    Len = r > 0 ? static_cast<std::size_t>(r) : 0;
    return Outcome(r);
  }
  TResult Take(std::size_t Len, std::size_t& Taken) override {
    const int r = plat::recv(FSocket.FSocketHandle, FBytes, static_cast<int>(Len), 0);
    Taken = r > 0 ? static_cast<std::size_t>(r) : 0;
    return Outcome(r);
  }
  // The peer has closed (or reset) the connection.
  void StreamEnded() override { FSocket.Close(); }

 private:
  TResult Outcome(int R) {
    if (R > 0) return Bytes;
    if (R == 0) return Ended;
    const int code = plat::WSAGetLastError();
    // Nothing to read: the failed call re-armed the read notification, which continues
    // the line when bytes come.
    if (code == plat::WSAEWOULDBLOCK) return Later;
    if (code == plat::WSAECONNRESET) return Ended;
    plat::WSASetLastError(code);
    FSocket.SocketError("ReadLine");
    return Failed;
  }

  TCustomWSocket& FSocket;
  char FBytes[2 * TLineCollector::MaxLength];
};

void TCustomWSocket::ReadLineReceive() {
  TSocketLines source(*this);
  CollectLine(source);
}

void TCustomWSocket::CollectLine(TLineSource& Source) {
  TSessionGuard guard(*this);
  for (;;) {
    if (FSocketHandle == plat::INVALID_SOCKET) {
      EndLineMode();
      return;
    }
    const char* bytes = nullptr;
    std::size_t len = 0;
    TLineSource::TResult got = Source.Peek(bytes, len);
    // Looking may have sent (the TLS engine's answers), and a failed send ends a session.
    if (guard.SessionEnded()) return;
    TLineCollector::TSpan span;
    std::size_t taken = 0;
    if (got == TLineSource::Bytes) {
      span = FLine.Measure(bytes, len);
      got = Source.Take(span.Take, taken);
    }
    if (got == TLineSource::Later || got == TLineSource::Failed) return;
    if (got == TLineSource::Ended) {
      // The stream has ended: the line is what came of it.
      EndLineMode();
      if (guard.SessionEnded()) return;
      Source.StreamEnded();
      return;
    }
    FReadCount += static_cast<std::int32_t>(taken);
    FLine.Append(bytes, taken);
    // Taken only in part (it cannot be less than was looked at, but then the rest is
    // measured again).
    if (taken < span.Take) continue;
    if (span.TooLong) {
      FireLineTooLong();
      if (guard.SessionEnded()) return;
    }
    if (span.Ends) {
      EndLineMode();
      if (guard.SessionEnded()) return;
      Source.LineCompleted();
      return;
    }
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
  // Assigned in place: a temporary copy would cost an allocation per line.
  if (FLine.Active() || FLine.Unread())
    Buffer = FLine.Line();
  else
    Buffer.clear();
  FLine.Delivered();
}
