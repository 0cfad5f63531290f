// THttpCli's request driver: starting a request, waiting for it, aborting it, and the end
// of every request.
#include <exception>

#include "Host/Application.h"
#include "Host/MessagePump.h"
#include "Host/StringList.h"
#include "HttpProt/HttpCli.h"
#include "HttpProt/Url.h"
#include "WSocket/WSocket.h"

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
  FDoneError = 0;
  FRelocating = false;
  FSessionEnded = false;
  FStopped = false;
  FRelocationCount = 0;
  // Leftovers of a previous response that ended inside its header mean nothing here.
  FReceiveLen = 0;
  FLocationSeen = false;
  FDeliveringBody = false;
  FPendingBody.clear();
  FCloseDeferred = false;
  TAliveGuard guard(*this);
  StateChange(httpNotConnected);
  if (guard.Gone() || FState != httpNotConnected) return;

  FDocName.clear();
  FStatusCode = 0;
  FRcvdCount = 0;
  FSentCount = 0;
  FHeaderLineCount = 0;
  FBodyLineCount = 0;
  FPostPending = false;
  // Nothing of the previous response's size or type applies to this one.
  FContentLength = -1;
  FContentType.clear();

  std::string s, u, w, h, p, q;
  ParseURL(FURL, s, u, w, h, p, q);
  FTargetHost = h;
  if (!u.empty()) FUsername = u;
  if (!w.empty()) FPassword = w;
  FRequestAuthority = p.empty() ? h : h + ":" + p;
  if (!FProxy.empty()) {
    FDocName = q;
    // The proxy fetches what the request-URI names: a port of URL must stay in it.
    FRequestPath = (s.empty() ? std::string("http") : s) + "://" + FRequestAuthority + q;
    ParseURL(FProxy, s, u, w, h, p, q);
    if (p.empty()) p = FProxyPort;
  } else {
    FRequestPath = q;
    FDocName = FRequestPath;
    if (p.empty()) p = "80";
  }
  // Not assigned from a literal: GCC 12 then warns of an overlapping copy that cannot occur.
  if (FRequestPath.empty()) FRequestPath.push_back('/');

  if (FDocName.empty() || FDocName == "/") {
    FDocName = "document.htm";
  } else {
    if (FDocName.back() == '/') FDocName.pop_back();
    const std::int32_t slash = Posn("/", FDocName, -1);
    if (slash > 0) FDocName = FDocName.substr(static_cast<std::size_t>(slash));
    FDocName = FDocName.substr(0, 255);
    if (const std::size_t query = FDocName.find('?'); query != std::string::npos)
      FDocName.erase(query);
  }

  FConnectHost = h;
  FConnectPort = p;
  FUrlHost = FTargetHost;
  FRequestHost = FTargetHost;

  if (FTimeout > 0) StartTimeoutTimer();
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
    if (FStatusCode < 400) throw EHttpException("Connection aborted on request", 404);
  }
  if (FStatusCode >= 400)
    throw EHttpException(FReasonPhrase, static_cast<std::uint16_t>(FStatusCode));
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
  FStopped = true;
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
  if (FSessionEnded) return;  // the connection had ended already: its outcome stands
  FStatusCode = 404;
  FReasonPhrase = Reason;
  FDoneError = DoneErrorValue;
  const TSocketState socketState = FSocket->State();
  if (!lookup && socketState != wsClosed && socketState != wsInvalidState) {
    FSocket->Close();
    if (guard.Gone()) return;
  }
  // A socket that was closed already (between a relocation's close and the next
  // connection, or during the look-up) reports nothing more.
  if (!FSessionEnded) SocketSessionClosed(FSocket.get(), 0);
}

void THttpCli::FailRequest(const std::string& Reason) {
  FStatusCode = 404;
  FReasonPhrase = Reason;
  FStopped = true;
  if (FSessionEnded) return;
  TAliveGuard guard(*this);
  FRelocating = false;
  FSocket->Close();
  if (guard.Gone()) return;
  if (!FSessionEnded) SocketSessionClosed(FSocket.get(), 0);
}

void THttpCli::SocketSessionClosed(TObject*, std::uint16_t) {
  if (FSessionEnded) return;
  if (FDeliveringBody) {
    // A message loop inside OnDocData saw the close; the body it read is still pending.
    // The connection is over: a slow handler is no stalled connection.
    FCloseDeferred = true;
    StopTimeoutTimer();
    return;
  }
  FSessionEnded = true;
  FConnected = false;
  StopTimeoutTimer();
  if (FState != httpAborting && FStatusCode < 400) {
    if (FState == httpWaitingBody) {
      // A body shorter than announced is a truncated document, not a whole one.
      const bool bodyExpected =
          FRequestType != httpHEAD && FStatusCode != 204 && FStatusCode != 304;
      if (bodyExpected && FContentLength >= 0 && FRcvdCount < FContentLength) {
        FStatusCode = 404;
        FReasonPhrase = "connection closed after " + std::to_string(FRcvdCount) + " of " +
                        std::to_string(FContentLength) + " body bytes";
      }
    } else {
      // The header never ended: there is no response to speak of.
      FStatusCode = 404;
      FReasonPhrase = FHeaderLineCount == 0 && FReceiveLen == 0
                          ? "empty reply from server"
                          : "connection closed before the end of the response header";
    }
  }
  if (FBodyLineCount > 0) {
    TAliveGuard guard(*this);
    TriggerDocEnd();
    if (guard.Gone()) return;
  }
  SetReady();
}
