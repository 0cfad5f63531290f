#include "WSocket/SslWSocket.h"

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "Host/MessagePump.h"

namespace {

// Read from the network per call, and at most this much held undecrypted: a handler that
// reads nothing leaves the rest in the socket, as with a plain session.
constexpr std::size_t kPullChunk = 64 * 1024;
constexpr std::size_t kMaxHeldRecords = 512 * 1024;
// One record's plaintext at most.
constexpr int kPlainChunk = 16 * 1024;
// Plaintext handed to the engine per call of Send: its records go out while the rest is
// encrypted, and the records of a large Send never pile up in memory at once.
constexpr std::int32_t kWriteChunk = 256 * 1024;
// Rounds of one delivery before other messages get their turn.
constexpr int kDeliveryRounds = 64;
// How often WaitForClose looks at a paused socket.
constexpr std::uint32_t RetryMs = 100;

}  // namespace

struct TSslWSocket::TSession {
  // The engine's queues come first: they outlive the engine that points at them.
  ssl::TByteFifo In;   // the peer's records, not yet decrypted
  ssl::TByteFifo Out;  // our records, not yet handed to the network
  ssl_st* Ssl = nullptr;
  ssl::TByteFifo Plain;  // decrypted, not yet taken by the application
  // Plaintext handed to the application or thrown away: tells whether a handler read.
  std::uint64_t Taken = 0;
  bool Established = false;
  bool PeerEof = false;              // the socket has no more bytes from the peer
  std::uint16_t PeerError = 0;       // the connection ended with this error
  bool CloseNotifyReceived = false;  // the peer ended the TLS stream properly
  bool Fatal = false;                // an alert or a broken record: nothing more comes
  std::string FatalText;
  int ShutdownPending = -1;  // a Shutdown waits for the send queue to drain
  bool CloseSeen = false;    // the socket layer has told of the peer's end: read to it
  bool Upgrade = false;      // started by StartSsl on an open session
  std::string PendingPlain;  // taken by Send before the handshake was done
  std::string Host;

  TSession() = default;
  TSession(const TSession&) = delete;
  TSession& operator=(const TSession&) = delete;
  ~TSession() { ssl::FreeSession(Ssl); }
};

TSslWSocket::TSslWSocket(TComponent* AOwner) : TWSocket(AOwner) {}

TSslWSocket::~TSslWSocket() {
  SetDestroying();
  if (FTls && FState != wsClosed) {
    try {
      // Sends the close-notify through the background closer.
      Close();
    } catch (...) {
    }
  }
  FTls.reset();
}

void TSslWSocket::SetSslCAFile(const std::string& Value) {
  FSettings.CAFile = Value;
  FCtxStale = true;
}

void TSslWSocket::SetSslCAPath(const std::string& Value) {
  FSettings.CAPath = Value;
  FCtxStale = true;
}

void TSslWSocket::SetSslUnsafeSkipVerify(bool Value) {
  FSettings.Verify = !Value;
  FCtxStale = true;
}

bool TSslWSocket::SslEstablished() const {
  return FTls && FTls->Established;
}

std::string TSslWSocket::SslVersion() const {
  return SslEstablished() ? SSL_get_version(FTls->Ssl) : "";
}

std::string TSslWSocket::SslCipher() const {
  if (!SslEstablished()) return "";
  const char* name = SSL_get_cipher_name(FTls->Ssl);
  return name != nullptr ? name : "";
}

std::string TSslWSocket::HostToCheck() const {
  return FSslHostName.empty() ? Addr() : FSslHostName;
}

void TSslWSocket::Connect() {
  if (FSocketHandle != plat::INVALID_SOCKET && FState != wsClosed) {
    // Reports the socket in use.
    TWSocket::Connect();
    return;
  }
  FTls.reset();
  FCloseError = 0;
  FReadPosted = false;
  if (!FSslEnable) {
    TWSocket::Connect();
    return;
  }
  FSslErrorText.clear();
  if (FSocketType != SOCK_STREAM) {
    RaiseException("Connect: TLS needs the tcp protocol");
    return;
  }
  if (!MakeSession("Connect")) return;
  TWSocket::Connect();
}

bool TSslWSocket::MakeSession(const std::string& Caller) {
  std::string error;
  if (!FCtx || FCtxStale) {
    FCtx = ssl::NewClientContext(FSettings, error);
    if (!FCtx) {
      FSslErrorText = error;
      RaiseException(Caller + ": " + error);
      return false;
    }
    FCtxStale = false;
  }
  auto tls = std::make_unique<TSession>();
  tls->Host = HostToCheck();
  tls->Ssl =
      ssl::NewClientSession(FCtx.get(), tls->In, tls->Out, tls->Host, FSettings.Verify, error);
  if (tls->Ssl == nullptr) {
    FSslErrorText = error;
    RaiseException(Caller + ": " + error);
    return false;
  }
  FTls = std::move(tls);
  return true;
}

void TSslWSocket::StartSsl() {
  if (FSocketHandle == plat::INVALID_SOCKET || FState != wsConnected ||
      FSocketType != SOCK_STREAM) {
    RaiseException("StartSsl: no stream session is open");
    return;
  }
  if (FTls) {
    RaiseException("StartSsl: the session speaks TLS already");
    return;
  }
  FSslErrorText.clear();
  FCloseError = 0;
  if (!MakeSession("StartSsl")) return;
  FTls->Upgrade = true;
  Handshake();
}

void TSslWSocket::TriggerSslHandshakeDone(std::uint16_t Error) {
  static_cast<void>(FireEvent(*this, OnSslHandshakeDone, this, Error));
}

void TSslWSocket::Dup(plat::SOCKET NewHSocket) {
  FTls.reset();
  FCloseError = 0;
  FReadPosted = false;
  TWSocket::Dup(NewHSocket);
}

void TSslWSocket::WndProc(TMessage& MsgRec) {
  if (MsgRec.Msg == WM_SOCKET_SELECT && FTls) {
    SslSelect(MsgRec);
    return;
  }
  TWSocket::WndProc(MsgRec);
}

void TSslWSocket::SslSelect(TMessage& MsgRec) {
  if (FSocketHandle == plat::INVALID_SOCKET || MsgRec.WParam != FSocketHandle) return;
  const std::uint16_t events = plat::LOWORD(MsgRec.LParam);
  const std::uint16_t error = plat::HIWORD(MsgRec.LParam);
  if (events & plat::FD_READ) FReadPosted = false;
  if (FPaused) return;
  if ((events & plat::FD_CONNECT) && error != 0) {
    // No connection, no TLS: reported as for any socket.
    FTls.reset();
    TWSocket::WndProc(MsgRec);
    return;
  }
  TSessionGuard guard(*this);
  if (events & plat::FD_CONNECT) {
    Handshake();
    if (guard.SessionEnded()) return;
  }
  if ((events & plat::FD_READ) && !(events & plat::FD_CLOSE)) {
    Deliver(false);
    if (guard.SessionEnded()) return;
  }
  if (events & plat::FD_WRITE) {
    TryToSend();
    if (guard.SessionEnded()) return;
    if (FTls->ShutdownPending >= 0 && FSendQueue.Empty()) {
      const int how = FTls->ShutdownPending;
      FTls->ShutdownPending = -1;
      TWSocket::Shutdown(how);
    }
    // The handshake's own records are no data of the application's.
    if (FAllSent && FTls->Established && OnDataSent) {
      TriggerDataSent(error);
      if (guard.SessionEnded()) return;
    }
  }
  if (events & plat::FD_CLOSE) {
    FTls->CloseSeen = true;
    if (error != 0) FTls->PeerError = error;
    Deliver(true);
  }
}

void TSslWSocket::PullRecords() {
  TSession& t = *FTls;
  if (t.PeerEof || FSocketHandle == plat::INVALID_SOCKET) return;
  // Once the peer has ended, everything up to the end is read, whatever the application
  // takes: the end of the stream (cleanly or not) is known only there.
  while (t.CloseSeen || t.In.Size() < kMaxHeldRecords) {
    char* p = t.In.Space(kPullChunk);
    const int r = plat::recv(FSocketHandle, p, static_cast<int>(kPullChunk), 0);
    if (r > 0) {
      t.In.Commit(static_cast<std::size_t>(r));
      // A short read emptied the socket; the next notification tells of more.
      if (static_cast<std::size_t>(r) < kPullChunk && !t.CloseSeen) return;
      continue;
    }
    if (r == 0) {
      t.PeerEof = true;
      return;
    }
    const int code = plat::WSAGetLastError();
    if (code == plat::WSAEWOULDBLOCK) return;
    t.PeerEof = true;
    t.PeerError = static_cast<std::uint16_t>(code);
    return;
  }
}

void TSslWSocket::PushRecords() {
  TSession& t = *FTls;
  if (t.Out.Empty()) return;
  if (FSocketHandle == plat::INVALID_SOCKET) {
    t.Out.Clear();
    return;
  }
  if (FSendQueue.Empty()) {
    // Nothing waits before these records: the network takes them straight from the
    // engine's queue, and only what it leaves is copied into the send queue.
    const iovec piece{const_cast<char*>(t.Out.Data()), t.Out.Size()};
    std::int32_t r = RealSendGather(&piece, 1);
    if (r < 0) {
      const int code = plat::WSAGetLastError();
      if (code != plat::WSAEWOULDBLOCK) {
        t.Out.Clear();
        // Ends the session (the connection is gone) or reports the failure.
        SendFailed(code);
        return;
      }
      r = 0;
    }
    t.Out.Consume(static_cast<std::size_t>(r));
    if (t.Out.Empty()) return;
  }
  // The network is full: its FD_WRITE sends the rest from the queue.
  PutDataInSendBuffer(t.Out.Data(), static_cast<std::int32_t>(t.Out.Size()));
  t.Out.Clear();
  FAllSent = false;
}

void TSslWSocket::Handshake() {
  TSessionGuard guard(*this);
  TSession& t = *FTls;
  if (t.Established) return;
  ssl::ClearErrors();
  const int r = SSL_do_handshake(t.Ssl);
  const int err = r == 1 ? SSL_ERROR_NONE : SSL_get_error(t.Ssl, r);
  const std::string reason = err == SSL_ERROR_SSL || err == SSL_ERROR_SYSCALL
                                 ? ssl::TakeErrorText("the peer broke off the handshake")
                                 : std::string();
  const long verify = SSL_get_verify_result(t.Ssl);
  const std::string host = t.Host;
  const bool peerEof = t.PeerEof;
  if (r == 1) t.Established = true;
  // Our part of the handshake, or the alert that tells the peer why we stop.
  PushRecords();
  if (guard.SessionEnded()) return;
  if (r == 1) {
    if (FTls->Upgrade) {
      const std::string pending = std::move(FTls->PendingPlain);
      FTls->PendingPlain.clear();
      if (!pending.empty() &&
          !WritePlain(pending.data(), static_cast<std::int32_t>(pending.size())))
        return;
      TriggerSslHandshakeDone(0);
    } else {
      ChangeState(wsConnected);
      if (guard.SessionEnded()) return;
      TriggerSessionConnected(0);
    }
    if (guard.SessionEnded()) return;
    // As after a plain connection: OnDataSent follows once the network has taken all.
    if (FSendQueue.Empty()) {
      FAllSent = true;
      plat::PostMessageA(FWindowHandle, WM_SOCKET_SELECT, FSocketHandle,
                         plat::MAKELONG(static_cast<std::uint16_t>(plat::FD_WRITE), 0));
    }
    return;
  }
  if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
    if (peerEof)
      FailHandshake(sslHandshakeFailed,
                    "TLS handshake with " + host + " failed: the peer closed the connection");
    return;
  }
  if (FSettings.Verify && verify != X509_V_OK)
    FailHandshake(sslCertificateRejected, "TLS certificate verification failed for " + host + ": " +
                                              ssl::VerifyFailureText(verify));
  else
    FailHandshake(sslHandshakeFailed, "TLS handshake with " + host + " failed: " + reason);
}

void TSslWSocket::FailHandshake(std::uint16_t Code, const std::string& Text) {
  FSslErrorText = Text;
  FLastError = Code;
  FCloseError = Code;
  TSessionGuard guard(*this);
  try {
    if (FTls && FTls->Upgrade)
      TriggerSslHandshakeDone(Code);
    else
      TriggerSessionConnected(Code);
  } catch (...) {
    if (!guard.SessionEnded() && FState != wsClosed) Close();
    throw;
  }
  if (guard.SessionEnded()) return;
  // OnSessionClosed(Code) follows from the close.
  if (FState != wsClosed) Close();
}

void TSslWSocket::EndSession(std::uint16_t Code, const std::string& Text) {
  if (Code != 0) {
    FSslErrorText = Text;
    FLastError = Code;
    FCloseError = Code;
  }
  TSessionGuard guard(*this);
  try {
    if (FLine.Active()) {
      EndLineMode();
      if (guard.SessionEnded()) return;
    }
    if (OnSessionClosed && !FCloseNotified) {
      FCloseNotified = true;
      TriggerSessionClosed(Code);
      if (guard.SessionEnded()) return;
    }
  } catch (...) {
    // The stream has ended whatever a handler does.
    if (!guard.SessionEnded() && FState != wsClosed) Close();
    throw;
  }
  if (FState != wsClosed) Close();
}

void TSslWSocket::EndOfStream() {
  TSession& t = *FTls;
  if (t.CloseNotifyReceived) {
    EndSession(0, "");
  } else if (t.PeerError != 0) {
    EndSession(t.PeerError, "TLS connection with " + t.Host +
                                " lost before the peer's close-notify: the data may be incomplete");
  } else {
    EndSession(sslTruncated, "TLS connection truncated: " + t.Host +
                                 " closed the connection without a close-notify");
  }
}

void TSslWSocket::TriggerSessionClosed(std::uint16_t Error) {
  TWSocket::TriggerSessionClosed(Error == 0 && FCloseError != 0 ? FCloseError : Error);
}

bool TSslWSocket::StagePlain() {
  TSession& t = *FTls;
  if (!t.Plain.Empty()) return true;
  if (!t.Established || t.Fatal || t.CloseNotifyReceived) return false;
  for (bool pulled = false;;) {
    ssl::ClearErrors();
    const int r = SSL_read(t.Ssl, t.Plain.Space(kPlainChunk), kPlainChunk);
    if (r > 0) {
      t.Plain.Commit(static_cast<std::size_t>(r));
      return true;
    }
    const int err = SSL_get_error(t.Ssl, r);
    if (err == SSL_ERROR_ZERO_RETURN) {
      t.CloseNotifyReceived = true;
      return false;
    }
    if (err == SSL_ERROR_WANT_READ) {
      if (pulled || t.PeerEof) return false;
      const std::size_t held = t.In.Size();
      PullRecords();
      pulled = true;
      if (t.In.Size() == held) return false;
      continue;
    }
    if (err == SSL_ERROR_WANT_WRITE) return false;
    t.Fatal = true;
    t.FatalText = "TLS error from " + t.Host + ": " + ssl::TakeErrorText("broken record");
    return false;
  }
}

void TSslWSocket::DrainRecords() {
  TSession& t = *FTls;
  while (t.Established && !t.Fatal && !t.CloseNotifyReceived) {
    ssl::ClearErrors();
    const int r = SSL_read(t.Ssl, t.Plain.Space(kPlainChunk), kPlainChunk);
    if (r > 0) {
      t.Plain.Commit(static_cast<std::size_t>(r));
      continue;
    }
    const int err = SSL_get_error(t.Ssl, r);
    if (err == SSL_ERROR_ZERO_RETURN) {
      t.CloseNotifyReceived = true;
    } else if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) {
      t.Fatal = true;
      t.FatalText = "TLS error from " + t.Host + ": " + ssl::TakeErrorText("broken record");
    }
    return;
  }
}

bool TSslWSocket::Buffered() const {
  if (!FTls) return false;
  const TSession& t = *FTls;
  return !t.Plain.Empty() || !t.In.Empty() || (t.Ssl != nullptr && SSL_pending(t.Ssl) > 0) ||
         ((t.CloseNotifyReceived || t.Fatal) && t.Established);
}

void TSslWSocket::RearmRead() {
  if (FReadPosted || FSocketHandle == plat::INVALID_SOCKET || FPaused) return;
  FReadPosted = plat::PostMessageA(FWindowHandle, WM_SOCKET_SELECT, FSocketHandle,
                                   plat::MAKELONG(static_cast<std::uint16_t>(plat::FD_READ), 0));
}

void TSslWSocket::Deliver(bool Closing) {
  TSessionGuard guard(*this);
  bool bounded = false;
  {
    // Counts this delivery for as long as it runs, whatever its handlers do.
    struct TDepth {
      TSslWSocket& Socket;
      const TSessionGuard& Guard;
      explicit TDepth(TSslWSocket& S, const TSessionGuard& G) : Socket(S), Guard(G) {
        ++Socket.FDelivering;
      }
      ~TDepth() {
        if (!Guard.Gone()) --Socket.FDelivering;
      }
      TDepth(const TDepth&) = delete;
      TDepth& operator=(const TDepth&) = delete;
    } depth(*this, guard);
    try {
      for (int round = 0;; ++round) {
        if (round == kDeliveryRounds) {
          // Other messages get their turn; the delivery goes on with the next notification.
          bounded = true;
          RearmRead();
          break;
        }
        PullRecords();
        if (!FTls->Established) {
          Handshake();
          if (guard.SessionEnded()) return;
          if (!FTls->Established) break;
        }
        const bool have = StagePlain();
        if (!FTls->Out.Empty()) {
          PushRecords();
          if (guard.SessionEnded()) return;
        }
        if (!have) break;
        const std::uint64_t before = FTls->Taken;
        if (FLine.Active()) {
          ReadLineReceive();
          if (guard.SessionEnded()) return;
          // The line is complete: what follows it waits for the next ReadLine or the next
          // notification (ReadLineReceive asked for one).
          if (!FLine.Active() && !Closing) break;
        } else if (!TriggerDataAvailable(0)) {
          if (guard.SessionEnded()) return;
          // Kept for the next ReadLine.
          if (FLineReader && !OnDataAvailable) break;
          FTls->Taken += FTls->Plain.Size();
          FTls->Plain.Clear();
          continue;
        }
        if (guard.SessionEnded()) return;
        if (FTls->Taken == before) break;
      }
    } catch (...) {
      // An error of a handler ends this delivery only, as with a plain session.
      if (guard.SessionEnded()) return;
    }
  }
  if (guard.SessionEnded()) return;
  CheckStreamEnd(bounded);
}

void TSslWSocket::CheckStreamEnd(bool Bounded) {
  if (!FTls || FDelivering > 0) return;
  TSession& t = *FTls;
  if (t.Fatal) {
    EndSession(sslProtocolError, t.FatalText);
    return;
  }
  if (!t.Established || !(t.PeerEof || t.CloseNotifyReceived) || Bounded) return;
  // Records still queued may hold the close-notify.
  DrainRecords();
  if (t.Fatal) {
    EndSession(sslProtocolError, t.FatalText);
    return;
  }
  // Lines for a ReadLine that is still to come: it takes them, then ends the session.
  if (!t.Plain.Empty() && FLineReader && !OnDataAvailable) return;
  EndOfStream();
}

std::int32_t TSslWSocket::TakePlain(char* Buffer, std::int32_t Len) {
  TSession& t = *FTls;
  const std::size_t want = static_cast<std::size_t>(Len);
  std::size_t got = std::min(want, t.Plain.Size());
  std::memcpy(Buffer, t.Plain.Data(), got);
  t.Plain.Consume(got);
  bool pulled = false;
  while (got < want && t.Established && !t.Fatal && !t.CloseNotifyReceived) {
    ssl::ClearErrors();
    const std::size_t room = std::min<std::size_t>(want - got, INT32_MAX);
    const int r = SSL_read(t.Ssl, Buffer + got, static_cast<int>(room));
    if (r > 0) {
      got += static_cast<std::size_t>(r);
      continue;
    }
    const int err = SSL_get_error(t.Ssl, r);
    if (err == SSL_ERROR_ZERO_RETURN) {
      t.CloseNotifyReceived = true;
    } else if (err == SSL_ERROR_WANT_READ) {
      if (pulled || t.PeerEof) break;
      const std::size_t held = t.In.Size();
      PullRecords();
      pulled = true;
      if (t.In.Size() == held) break;
      continue;
    } else if (err != SSL_ERROR_WANT_WRITE) {
      t.Fatal = true;
      t.FatalText = "TLS error from " + t.Host + ": " + ssl::TakeErrorText("broken record");
    }
    break;
  }
  t.Taken += got;
  return static_cast<std::int32_t>(got);
}

std::int32_t TSslWSocket::Receive(void* Buffer, std::int32_t BufferSize) {
  if (!FTls) return TWSocket::Receive(Buffer, BufferSize);
  auto wouldBlock = [this] {
    plat::WSASetLastError(plat::WSAEWOULDBLOCK);
    FLastError = plat::WSAEWOULDBLOCK;
    return -1;
  };
  // The handshake's bytes are not the application's.
  if (!FTls->Established || FSocketHandle == plat::INVALID_SOCKET) return wouldBlock();
  if (Buffer == nullptr || BufferSize <= 0) return 0;
  TSessionGuard guard(*this);
  const std::int32_t got = TakePlain(static_cast<char*>(Buffer), BufferSize);
  if (!FTls->Out.Empty()) {
    PushRecords();
    if (guard.SessionEnded()) {
      if (!guard.Gone()) FReadCount += got;
      return got;
    }
  }
  const TSession& t = *FTls;
  if (got > 0) {
    FReadCount += got;
    // Read outside a notification: what is left needs one of its own.
    if (FDelivering == 0 && Buffered()) RearmRead();
    return got;
  }
  if (t.Fatal) {
    RearmRead();
    plat::WSASetLastError(sslProtocolError);
    FLastError = sslProtocolError;
    return -1;
  }
  if (t.CloseNotifyReceived || t.PeerEof) {
    // The end is reported by the notification.
    RearmRead();
    return 0;
  }
  return wouldBlock();
}

std::string TSslWSocket::ReceiveStr() {
  if (!FTls) return TWSocket::ReceiveStr();
  std::string result;
  if (!FTls->Established || FSocketHandle == plat::INVALID_SOCKET) return result;
  TSessionGuard guard(*this);
  PullRecords();
  DrainRecords();
  TSession& t = *FTls;
  result.assign(t.Plain.Data(), t.Plain.Size());
  t.Taken += t.Plain.Size();
  t.Plain.Clear();
  if (!t.Out.Empty()) {
    PushRecords();
    if (guard.SessionEnded()) return result;
  }
  if (FDelivering == 0 && Buffered()) RearmRead();
  return result;
}

std::int32_t TSslWSocket::PeekData(void* Buffer, std::int32_t BufferSize) {
  if (!FTls) return TWSocket::PeekData(Buffer, BufferSize);
  if (!FTls->Established || Buffer == nullptr || BufferSize <= 0) return 0;
  StagePlain();
  const TSession& t = *FTls;
  const std::size_t n = std::min(static_cast<std::size_t>(BufferSize), t.Plain.Size());
  std::memcpy(Buffer, t.Plain.Data(), n);
  return static_cast<std::int32_t>(n);
}

std::int32_t TSslWSocket::RcvdCount() {
  if (!FTls || FSocketHandle == plat::INVALID_SOCKET) return TWSocket::RcvdCount();
  if (!FTls->Established) return 0;
  StagePlain();
  const std::size_t n = FTls->Plain.Size() + static_cast<std::size_t>(SSL_pending(FTls->Ssl));
  return static_cast<std::int32_t>(std::min<std::size_t>(n, INT32_MAX));
}

std::int32_t TSslWSocket::Send(const void* Data, std::int32_t Len) {
  // A tunnel's handshake under way: the plaintext waits for it.
  if (FTls && FTls->Upgrade && !FTls->Established && FState == wsConnected && Data != nullptr &&
      Len > 0) {
    FTls->PendingPlain.append(static_cast<const char*>(Data), static_cast<std::size_t>(Len));
    FAllSent = false;
    return Len;
  }
  // Not connected (the handshake still running included), nothing to send: reported and
  // handled as by any socket.
  if (!FTls || FState != wsConnected || (Data == nullptr && Len > 0) || Len <= 0)
    return TWSocket::Send(Data, Len);
  if (SSL_get_shutdown(FTls->Ssl) & SSL_SENT_SHUTDOWN) {
    plat::WSASetLastError(plat::WSAESHUTDOWN);
    SocketError("Send");
    return -1;
  }
  TSessionGuard guard(*this);
  FAllSent = false;
  if (!WritePlain(static_cast<const char*>(Data), Len)) return guard.SessionEnded() ? Len : -1;
  // Reported from the notification later, never from inside Send.
  if (FSendQueue.Empty()) {
    FAllSent = true;
    plat::PostMessageA(FWindowHandle, WM_SOCKET_SELECT, FSocketHandle,
                       plat::MAKELONG(static_cast<std::uint16_t>(plat::FD_WRITE), 0));
  }
  return Len;
}

bool TSslWSocket::WritePlain(const char* Data, std::int32_t Len) {
  TSessionGuard guard(*this);
  for (std::int32_t left = Len; left > 0;) {
    const std::int32_t n = std::min(left, kWriteChunk);
    ssl::ClearErrors();
    const int r = SSL_write(FTls->Ssl, Data, n);
    if (r <= 0) {
      FTls->Fatal = true;
      FTls->FatalText = "TLS error: " + ssl::TakeErrorText("cannot encrypt");
      FLastError = sslProtocolError;
      RearmRead();
      RaiseException("Send: " + FTls->FatalText);
      return false;
    }
    Data += r;
    left -= r;
    PushRecords();
    if (guard.SessionEnded()) return false;
  }
  return true;
}

void TSslWSocket::Shutdown(std::int32_t How) {
  if (!FTls || !FTls->Established || How == plat::SD_RECEIVE ||
      FSocketHandle == plat::INVALID_SOCKET) {
    TWSocket::Shutdown(How);
    return;
  }
  TSessionGuard guard(*this);
  if (!(SSL_get_shutdown(FTls->Ssl) & SSL_SENT_SHUTDOWN)) {
    ssl::ClearErrors();
    SSL_shutdown(FTls->Ssl);
    ssl::ClearErrors();
    PushRecords();
    if (guard.SessionEnded()) return;
  }
  // The close-notify goes first; the stream's end follows it.
  if (FSendQueue.Empty())
    TWSocket::Shutdown(How);
  else
    FTls->ShutdownPending = How;
}

void TSslWSocket::Resume() {
  TWSocket::Resume();
  if (FTls && Buffered()) RearmRead();
}

void TSslWSocket::InternalClose(bool bShut) {
  FReadPosted = false;
  if (FTls) {
    // The session ends here, whatever the close runs into.
    const std::unique_ptr<TSession> tls = std::move(FTls);
    if (bShut && tls->Established && !tls->Fatal && FState == wsConnected &&
        FSocketHandle != plat::INVALID_SOCKET &&
        !(SSL_get_shutdown(tls->Ssl) & SSL_SENT_SHUTDOWN)) {
      ssl::ClearErrors();
      SSL_shutdown(tls->Ssl);
      ssl::ClearErrors();
      // Goes with the send queue: the background closer delivers it before the end.
      if (!tls->Out.Empty())
        PutDataInSendBuffer(tls->Out.Data(), static_cast<std::int32_t>(tls->Out.Size()));
    }
  }
  TSessionGuard guard(*this);
  TWSocket::InternalClose(bShut);
  // The failure has been reported by the close; the next session starts without it.
  if (!guard.Gone() && FSocketHandle == plat::INVALID_SOCKET) FCloseError = 0;
}

// The session's plaintext, a record's worth at a time.
class TSslWSocket::TPlainLines final : public TLineSource {
 public:
  explicit TPlainLines(TSslWSocket& Socket) : FSocket(Socket) {}

  TResult Peek(const char*& Data, std::size_t& Len) override {
    TSslWSocket& s = FSocket;
    // Not connected yet (or still in the handshake): the line goes on once it is.
    if (s.FState != wsConnected || !s.FTls->Established) return Later;
    const bool have = s.StagePlain();
    if (!s.FTls->Out.Empty()) {
      TSessionGuard guard(s);
      s.PushRecords();
      if (guard.SessionEnded()) return Later;
    }
    const TSession& t = *s.FTls;
    if (!have) return t.Fatal || t.CloseNotifyReceived || t.PeerEof ? Ended : Later;
    Data = t.Plain.Data();
    Len = t.Plain.Size();
    return Bytes;
  }
  TResult Take(std::size_t Len, std::size_t& Taken) override {
    FSocket.FTls->Plain.Consume(Len);
    FSocket.FTls->Taken += Len;
    Taken = Len;
    return Bytes;
  }
  void StreamEnded() override { FSocket.CheckStreamEnd(false); }
  // What follows the line waits for the next ReadLine or OnDataAvailable.
  void LineCompleted() override {
    if (FSocket.Buffered()) FSocket.RearmRead();
  }

 private:
  TSslWSocket& FSocket;
};

void TSslWSocket::ReadLineReceive() {
  if (!FTls) {
    TWSocket::ReadLineReceive();
    return;
  }
  TPlainLines source(*this);
  CollectLine(source);
}

void TSslWSocket::WaitForClose() {
  if (!FTls) {
    TWSocket::WaitForClose();
    return;
  }
  TSessionGuard guard(*this);
  auto ended = [&] {
    return guard.SessionEnded() || FSocketHandle == plat::INVALID_SOCKET || FState == wsClosed ||
           !FTls;
  };
  TMessagePump pump(ModalWaitFilter());
  static_cast<void>(pump.PumpUntil(
      [&] {
        if (ended()) return true;
        // A paused socket gets no notification: its data is looked at here.
        if (FPaused) {
          Deliver(false);
          if (ended()) return true;
        }
        return false;
      },
      TDeadline::Never(), RetryMs));
}
