// THttpCli's request driver: starting a request, waiting for it, aborting it, and the end
// of every request.
#include <exception>
#include <string>

#include "Host/Application.h"
#include "Host/MessagePump.h"
#include "Host/Streams.h"
#include "Host/StringList.h"
#include "HttpProt/HttpCli.h"
#include "HttpProt/Url.h"
#include "WSocket/SslWSocket.h"

namespace {

// The last address split on this thread: components that ask for the same one again and
// again (a poll, many clients of one server) split it once.
struct TLastTarget {
  bool Valid = false;
  std::string URL;
  std::string Proxy;
  std::string ProxyPort;
  THttpTarget Target;
  std::string DocName;
};
thread_local TLastTarget LastTarget;

}  // namespace

void THttpCli::GetASync() {
  DoRequestAsync(httpGET);
}

void THttpCli::HeadASync() {
  DoRequestAsync(httpHEAD);
}

void THttpCli::PostASync() {
  DoRequestAsync(httpPOST);
}

void THttpCli::Get() {
  DoRequestSync(httpGET);
}

void THttpCli::Head() {
  DoRequestSync(httpHEAD);
}

void THttpCli::Post() {
  DoRequestSync(httpPOST);
}

void THttpCli::DoRequestAsync(THttpRequest Rq) {
  if (FState != httpReady) throw EHttpException("HTTP component is busy", 1);
  if (Rq == httpPOST && FSendStream == nullptr)
    throw EHttpException("HTTP component has nothing to post", 2);

  FHeaderLines->Clear();
  FRequestType = Rq;
  // Nothing of the previous request applies to this one: not its outcome, nor the size
  // and type of its response, nor leftovers of a response that ended inside its header.
  FRq = TRequestState();
  TLastTarget& last = LastTarget;
  if (!last.Valid || last.URL != FURL || last.Proxy != FProxy || last.ProxyPort != FProxyPort) {
    last.Valid = false;
    last.Target = RequestTarget(FURL, FProxy, FProxyPort);
    last.DocName = DocumentName(last.Target.Path);
    last.URL = FURL;
    last.Proxy = FProxy;
    last.ProxyPort = FProxyPort;
    last.Valid = true;
  }
  FRq.Target = last.Target;
  FRq.DocName = last.DocName;
  FRq.UrlHost = FRq.Target.TargetHost;
  FRq.UrlTls = FRq.Target.Tls;
  if (!FRq.Target.User.empty()) FUsername = FRq.Target.User;
  if (!FRq.Target.Password.empty()) FPassword = FRq.Target.Password;
  if (Rq == httpPOST) {
    try {
      FRq.PostStart = FSendStream->Position();
    } catch (const std::exception& e) {
      // Only a relocation needs to go back: the first sending does not.
      FRq.PostStartError = e.what();
    }
  }
  TAliveGuard guard(*this);
  StateChange(httpNotConnected);
  if (guard.Gone() || FState != httpNotConnected) return;

  if (!FRq.Target.Refusal.empty()) {
    // Refused before any connection: the request ends as any failed one does.
    FRq.StatusCode = 404;
    FReasonPhrase = FRq.Target.Refusal;
    FRq.Stopped = true;
    SocketSessionClosed(FSocket.get(), 0);
    return;
  }

  FRequestStart = FSpeedWindowStart = std::chrono::steady_clock::now();
  FSpeedWindowMark = 0;
  if (TimeBounded()) StartTimeoutTimer();
  try {
    Login();
  } catch (...) {
    // The look-up was refused (no host name): the component stays busy until Abort, as
    // the caller learns from the exception.
    if (!guard.Gone()) StopTimeoutTimer();
    throw;
  }
}

void THttpCli::DoRequestSync(THttpRequest Rq) {
  TAliveGuard guard(*this);
  DoRequestAsync(Rq);
  // OnRequestDone has run once the component is ready and no request-done message waits.
  auto done = [&] { return guard.Gone() || (FState == httpReady && !FRequestDonePending); };
  TMessagePump pump(FMultiThreaded ? nullptr : Application);
  const bool ended = pump.PumpUntil(done);
  if (guard.Gone()) throw EHttpException("HTTP component destroyed during the request", 404);
  if (!ended) {
    // The loops are ending (a quit, or the application is gone): so does the request.
    Abort();
    if (guard.Gone()) throw EHttpException("HTTP component destroyed during the request", 404);
    if (FRq.StatusCode < 400) throw EHttpException("Connection aborted on request", 404);
  }
  if (FRq.StatusCode >= 400)
    throw EHttpException(FReasonPhrase, static_cast<std::uint16_t>(FRq.StatusCode));
}

void THttpCli::Abort() {
  AbortRequest("Connection aborted on request", 3);
}

void THttpCli::AbortRequest(const std::string& Reason, std::int32_t DoneErrorValue) {
  if (FState == httpReady) {
    if (FSocket->State() != wsClosed) FSocket->Close();
    return;
  }
  const bool lookup = FState == httpDnsLookup;
  FRq.Stopped = true;
  TAliveGuard guard(*this);
  StateChange(httpAborting);
  if (guard.Gone()) return;
  if (lookup) {
    try {
      FSocket->CancelDnsLookup();
    } catch (...) {
    }
    if (guard.Gone()) return;
  }
  if (FRq.SessionEnded) return;  // the connection had ended already: its outcome stands
  FRq.StatusCode = 404;
  FReasonPhrase = Reason;
  FRq.DoneError = DoneErrorValue;
  const TSocketState socketState = FSocket->State();
  if (!lookup && socketState != wsClosed && socketState != wsInvalidState) {
    FSocket->Close();
    if (guard.Gone()) return;
  }
  // A socket that was closed already (between a relocation's close and the next
  // connection, or during the look-up) reports nothing more.
  if (!FRq.SessionEnded) SocketSessionClosed(FSocket.get(), 0);
}

void THttpCli::FailRequest(const std::string& Reason) {
  FRq.StatusCode = 404;
  FReasonPhrase = Reason;
  FRq.Stopped = true;
  if (FRq.SessionEnded) return;
  TAliveGuard guard(*this);
  FRq.Relocating = false;
  FSocket->Close();
  if (guard.Gone()) return;
  if (!FRq.SessionEnded) SocketSessionClosed(FSocket.get(), 0);
}

std::string THttpCli::HowClosed(std::uint16_t Error) const {
  if (Error == 0) return "connection closed";
  if (Error == plat::WSAECONNRESET) return "connection reset";
  // A TLS stream cut short or broken: its reason says which, and that data may be missing.
  if (Error >= sslHandshakeFailed && Error <= sslProtocolError && !FSocket->SslErrorText().empty())
    return FSocket->SslErrorText();
  return "connection lost (" + WSocketErrorDesc(Error) + ", Error #" + std::to_string(Error) + ")";
}

bool THttpCli::BodyExpected() const {
  return FRequestType != httpHEAD && FRq.StatusCode != 204 && FRq.StatusCode != 304;
}

void THttpCli::SocketSessionClosed(TObject*, std::uint16_t Error) {
  if (FRq.SessionEnded) return;
  if (FRq.DeliveringBody) {
    // A message loop inside OnDocData saw the close; the body it read is still pending.
    // The connection is over: a slow handler is no stalled connection.
    FRq.CloseDeferred = true;
    FRq.CloseError = Error;
    StopTimeoutTimer();
    return;
  }
  FRq.SessionEnded = true;
  FConnected = false;
  StopTimeoutTimer();
  const TResponseState& r = FRq.Response;
  if (FState != httpAborting && FRq.StatusCode < 400 && !r.BodyDone) {
    if (FState == httpWaitingBody) {
      // A body cut short is a truncated document, not a whole one; so is one that an error
      // ended, whose true length nobody knows.
      const std::string got = std::to_string(FRq.RcvdCount);
      std::string failure;
      if (BodyExpected() && r.Chunked)
        failure = HowClosed(Error) + " after " + got + " body bytes, before the last chunk";
      else if (BodyExpected() && r.ContentLength >= 0 && FRq.RcvdCount < r.ContentLength)
        failure = HowClosed(Error) + " after " + got + " of " + std::to_string(r.ContentLength) +
                  " body bytes";
      else if (Error != 0)
        failure = HowClosed(Error) + " after " + got + " body bytes";
      if (!failure.empty()) {
        FRq.StatusCode = 404;
        FReasonPhrase = failure;
      }
    } else if (FRq.TunnelReply) {
      FRq.StatusCode = 404;
      FReasonPhrase =
          HowClosed(Error) + " by the proxy before the tunnel to " + FRq.Target.Tunnel + " stood";
    } else {
      // The header never ended: there is no response to speak of.
      FRq.StatusCode = 404;
      if (r.HeaderLineCount == 0 && FRq.ReceiveLen == 0)
        FReasonPhrase =
            Error == 0 ? "empty reply from server" : HowClosed(Error) + " before any reply";
      else
        FReasonPhrase = HowClosed(Error) + " before the end of the response header";
    }
  }
  if (r.BodyLineCount > 0) {
    TAliveGuard guard(*this);
    TriggerDocEnd();
    if (guard.Gone()) return;
  }
  SetReady();
}

bool THttpCli::TimeBounded() const {
  return FTimeout > 0 || FMaxTime > 0 || (FLowSpeedLimit > 0 && FLowSpeedTime > 0);
}

std::string THttpCli::TimeBoundPassed() {
  using std::chrono::seconds;
  const auto now = std::chrono::steady_clock::now();
  if (FTimeout > 0 && now - FLastProgress >= seconds(FTimeout)) return "Connection timed out";
  if (FMaxTime > 0 && now - FRequestStart >= seconds(FMaxTime))
    return "took longer than " + std::to_string(FMaxTime) + " s";
  if (FLowSpeedLimit <= 0 || FLowSpeedTime <= 0) return {};
  // A window ends as soon as it has seen its quota, so a stall after a burst is caught one
  // window after the burst, not diluted by it.
  const std::int64_t moved = FRq.WireCount + FRq.SentCount;
  if (moved - FSpeedWindowMark >= static_cast<std::int64_t>(FLowSpeedLimit) * FLowSpeedTime) {
    FSpeedWindowStart = now;
    FSpeedWindowMark = moved;
    return {};
  }
  if (now - FSpeedWindowStart < seconds(FLowSpeedTime)) return {};
  return "slower than " + std::to_string(FLowSpeedLimit) + " bytes/s for " +
         std::to_string(FLowSpeedTime) + " s";
}

std::int32_t THttpCli::ReceiveCounted(void* Buf, std::int32_t Len) {
  const std::int32_t n = FSocket->Receive(Buf, Len);
  if (n > 0) FRq.WireCount += n;
  return n;
}
