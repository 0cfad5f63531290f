// THttpCli from a prepared request to bytes on the wire: name look-up, connect, the request
// header and the POST body.
#include <algorithm>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

#include "Host/Streams.h"
#include "Host/StringList.h"
#include "HttpProt/Encoding.h"
#include "HttpProt/HttpCli.h"
#include "HttpProt/HttpDate.h"
#include "HttpProt/Url.h"
#include "WSocket/SslWSocket.h"

void THttpCli::Login() {
  TAliveGuard guard(*this);
  StateChange(httpDnsLookup);
  if (guard.Gone() || FState != httpDnsLookup) return;
  FSocket->DnsLookup(FRq.Target.ConnectHost);
}

void THttpCli::Logout() {
  FSocket->Close();
  FConnected = false;
}

void THttpCli::SocketDNSLookupDone(TObject* Sender, std::uint16_t Error) {
  NoteProgress();
  if (FRq.SessionEnded || FState == httpAborting) return;  // a late or cancelled look-up
  if (Error != 0) {
    FRq.StatusCode = 404;
    FReasonPhrase = "can't resolve hostname to IP address";
    SocketSessionClosed(Sender, Error);
    return;
  }
  TAliveGuard guard(*this);
  StateChange(httpDnsLookupDone);
  if (guard.Gone() || FState != httpDnsLookupDone) return;
  try {
    // TLS from the start to an https server; through a proxy it starts in the tunnel. The
    // certificate must name the host of the address, not the address it resolved to.
    FSocket->SetSslEnable(FRq.Target.Tls && FRq.Target.Tunnel.empty());
    FSocket->SetSslHostName(BareHost(FRq.Target.TargetHost));
    FSocket->SetAddr(FSocket->DnsResult());
    FSocket->SetPort(FRq.Target.ConnectPort);
    FSocket->SetProto("tcp");
    FSocket->Connect();
  } catch (const std::exception& e) {
    if (guard.Gone() || FRq.SessionEnded) return;
    const std::int32_t code = FSocket->LastError();
    FRq.DoneError = code;
    FRq.StatusCode = 404;
    // A refusal of the socket layer names its error; one of the component's own checks
    // (a port that is no number) has only its message.
    if (code != 0)
      FReasonPhrase = "can't connect: " + ErrorText(static_cast<std::uint16_t>(code));
    else
      FReasonPhrase = std::string("can't connect: ") + e.what();
    FSocket->Close();
    if (guard.Gone()) return;
    SocketSessionClosed(Sender, static_cast<std::uint16_t>(code));
  }
}

// A connection or its TLS handshake failed: the request ends as a failure with the reason.
void THttpCli::FailSession(TObject* Sender, std::uint16_t Error) {
  FRq.StatusCode = 404;
  FReasonPhrase = ErrorText(Error);
  SocketSessionClosed(Sender, Error);
}

void THttpCli::SocketSessionConnected(TObject* Sender, std::uint16_t Error) {
  NoteProgress();
  if (FRq.SessionEnded || Stopped()) return;
  if (Error != 0) {
    FailSession(Sender, Error);
    return;
  }
  if (!FRq.Target.Tunnel.empty()) {
    // Connected to the proxy only: the server is reached once the tunnel stands.
    SendConnect();
    return;
  }
  StartExchange();
}

std::string THttpCli::ErrorText(std::uint16_t Error) const {
  if (Error >= sslHandshakeFailed && Error <= sslProtocolError && !FSocket->SslErrorText().empty())
    return FSocket->SslErrorText();
  return WSocketErrorDesc(Error) + " (Error #" + std::to_string(Error) + ")";
}

void THttpCli::SendConnect() {
  TAliveGuard guard(*this);
  const std::string& tunnel = FRq.Target.Tunnel;
  FRq.TunnelReply = true;
  FRq.TunnelStatus = 0;
  FLineHandler = &THttpCli::GetTunnelLineNext;
  try {
    // The lines go through OnCommand like the request's; only the proxy sees them.
    FRequestText.clear();
    SendCommand("CONNECT " + tunnel + " HTTP/1.0");
    if (guard.Gone() || Stopped()) return;
    SendCommand("Host: " + tunnel);
    if (guard.Gone() || Stopped()) return;
    if (!FProxyUsername.empty()) {
      SendCommand("Proxy-Authorization: Basic " +
                  EncodeStr(encBase64, FProxyUsername + ":" + FProxyPassword));
      if (guard.Gone() || Stopped()) return;
    }
    SendCommand("");
    if (guard.Gone() || Stopped()) return;
    FSocket->Send(FRequestText.data(), static_cast<std::int32_t>(FRequestText.size()));
    if (guard.Gone()) return;
    FRequestText.clear();
  } catch (const std::exception& e) {
    if (guard.Gone() || FRq.SessionEnded) return;
    FailRequest(std::string("can't ask the proxy for a tunnel: ") + e.what());
  }
}

void THttpCli::GetTunnelLineNext() {
  if (!FCurrentLine.empty()) {
    FHeaderLines->Add(FCurrentLine);
    if (FRq.TunnelStatus != 0) return;  // the reply's header lines tell nothing more
    // The status line: "HTTP/1.x NNN phrase".
    const std::string& l = FCurrentLine;
    if (l.size() >= 12 && l.compare(0, 7, "HTTP/1.") == 0 && l[8] == ' ' && l[9] >= '0' &&
        l[9] <= '9' && l[10] >= '0' && l[10] <= '9' && l[11] >= '0' && l[11] <= '9' &&
        (l.size() == 12 || l[12] == ' ')) {
      FRq.TunnelStatus = std::stoi(l.substr(9, 3));
      FRq.TunnelPhrase = l.size() > 13 ? l.substr(13) : "";
    } else {
      FRq.ReceiveLen = 0;
      FailRequest("malformed reply from the proxy to CONNECT");
    }
    return;
  }
  if (FRq.TunnelStatus == 0) {
    FRq.ReceiveLen = 0;
    FailRequest("malformed reply from the proxy to CONNECT");
    return;
  }
  const std::string tunnel = FRq.Target.Tunnel;
  if (FRq.TunnelStatus < 200 || FRq.TunnelStatus > 299) {
    // The proxy's refusal (407 for missing credentials) is the request's outcome.
    FRq.ReceiveLen = 0;
    const std::int32_t status = FRq.TunnelStatus;
    TAliveGuard guard(*this);
    FailRequest("proxy refused the tunnel to " + tunnel + ": " + std::to_string(status) + " " +
                FRq.TunnelPhrase);
    // Read once the request-done message is handled, which is still to come.
    if (!guard.Gone() && status >= 400) FRq.StatusCode = status;
    return;
  }
  if (FRq.ReceiveLen > 0) {
    // The server speaks only after our TLS hello: these bytes are the proxy's, and
    // nothing that follows could be trusted to be the server's.
    FRq.ReceiveLen = 0;
    FailRequest("the proxy sent data after its reply to CONNECT");
    return;
  }
  FRq.TunnelReply = false;
  FLineHandler = nullptr;
  TAliveGuard guard(*this);
  try {
    FSocket->SetSslHostName(BareHost(FRq.Target.TargetHost));
    FSocket->StartSsl();  // ends in SocketSslHandshakeDone
  } catch (const std::exception& e) {
    if (guard.Gone() || FRq.SessionEnded) return;
    const std::string why = FSocket->SslErrorText();
    FailRequest("can't start TLS in the tunnel to " + tunnel + ": " +
                (why.empty() ? std::string(e.what()) : why));
  }
}

void THttpCli::SocketSslHandshakeDone(TObject* Sender, std::uint16_t Error) {
  NoteProgress();
  if (FRq.SessionEnded || Stopped()) return;
  if (Error != 0) {
    // The socket closes the session after this.
    FailSession(Sender, Error);
    return;
  }
  StartExchange();
}

void THttpCli::StartExchange() {
  TAliveGuard guard(*this);
  FConnected = true;
  StateChange(httpConnected);
  if (guard.Gone() || FState != httpConnected) return;
  TriggerSessionConnected();
  if (guard.Gone() || FState != httpConnected) return;
  FLineHandler = &THttpCli::GetHeaderLineNext;
  StateChange(httpWaitingHeader);
  if (guard.Gone() || FState != httpWaitingHeader) return;
  try {
    switch (FRequestType) {
      case httpGET:
        SendRequest("GET", "1.0");
        break;
      case httpPOST:
        SendRequest("POST", "1.0");
        if (guard.Gone() || Stopped()) return;
        TriggerSendBegin();
        if (guard.Gone() || Stopped()) return;
        FRq.PostPending = true;
        SocketDataSent(FSocket.get(), 0);
        break;
      case httpHEAD:
        SendRequest("HEAD", "1.0");
        break;
      default:
        break;
    }
  } catch (const std::exception& e) {
    if (guard.Gone() || FRq.SessionEnded) return;
    // Not a reply: the request ends as a failure with the reason, not as an empty reply.
    FRq.StatusCode = 404;
    FReasonPhrase = std::string("can't send the request: ") + e.what();
    Logout();
  }
}

void THttpCli::SendCommand(const std::string& S) {
  TAliveGuard guard(*this);
  TriggerCommand(S);
  if (guard.Gone()) return;
  FRequestText.append(S).append("\r\n", 2);
}

bool THttpCli::SendsCredentials() const {
  // Given for an https server, they are never sent where the network can read them.
  return !FUsername.empty() && SameText(FRq.Target.TargetHost, FRq.UrlHost) &&
         (FRq.Target.Tls || !FRq.UrlTls);
}

namespace {

// The request's text and the line being built, kept per thread between requests so that
// composing a request allocates nothing; taken out while in use, so that a request that a
// handler starts meanwhile gets fresh ones.
thread_local std::string SpareRequestText;
thread_local std::string SpareCommandLine;
constexpr std::size_t RequestTextRoom = 256;  // a plain request's lines fit

}  // namespace

void THttpCli::SendRequest(const std::string& Method, const std::string& Version) {
  TAliveGuard guard(*this);
  // Every line goes through SendCommand, whose event may abort or destroy the component.
  auto line = [&](std::initializer_list<std::string_view> Parts) {
    std::string text = std::move(SpareCommandLine);
    text.clear();
    for (const std::string_view part : Parts) text.append(part);
    SendCommand(text);
    SpareCommandLine = std::move(text);
    return !guard.Gone() && !Stopped();
  };
  FRequestText.clear();
  if (FRequestText.capacity() < RequestTextRoom) {
    FRequestText.swap(SpareRequestText);
    FRequestText.clear();
    FRequestText.reserve(RequestTextRoom);
  }
  TriggerRequestHeaderBegin();
  if (guard.Gone() || Stopped()) return;
  if (!line({Method, " ", FRq.Target.RequestPath, " HTTP/", Version})) return;
  if (!FSender.empty() && !line({"From: ", FSender})) return;
  if (!FReference.empty() && !line({"Referer: ", FReference})) return;
  if (Method == "POST" && !FContentTypePost.empty() && !line({"Content-Type: ", FContentTypePost}))
    return;
  if (!FAgent.empty() && !line({"User-Agent: ", FAgent})) return;
  if (!line({"Host: ", FRq.Target.TargetHost})) return;
  if (FNoCache && !line({"Pragma: no-cache"})) return;
  // The bytes that will follow: from where the stream stood when the request started.
  if (Method == "POST" &&
      !line({"Content-Length: ",
             std::to_string(std::max<std::int64_t>(
                 0, FSendStream->Size() - std::max<std::int64_t>(0, FRq.PostStart)))}))
    return;
  if (FModifiedSince != 0 && !line({"If-Modified-Since: ", RFC1123_Date(FModifiedSince), " GMT"}))
    return;
  if (SendsCredentials() &&
      !line({"Authorization: Basic ", EncodeStr(encBase64, FUsername + ":" + FPassword)}))
    return;
  // Inside a tunnel the server reads the request: the proxy's credentials went with CONNECT.
  if (!FProxy.empty() && FRq.Target.Tunnel.empty() && !FProxyUsername.empty() &&
      !line({"Proxy-Authorization: Basic ",
             EncodeStr(encBase64, FProxyUsername + ":" + FProxyPassword)}))
    return;
  if (!FCookie.empty() && !line({"Cookie: ", FCookie})) return;
  TriggerRequestHeaderEnd();
  if (guard.Gone() || Stopped()) return;
  if (!line({""})) return;
  FSocket->Send(FRequestText.data(), static_cast<std::int32_t>(FRequestText.size()));
  if (guard.Gone()) return;
  FRequestText.clear();
  // Sent (the socket keeps what it could not send at once): the next request reuses it.
  if (SpareRequestText.capacity() < FRequestText.capacity()) {
    FRequestText.swap(SpareRequestText);
    FRequestText.clear();
  }
}

void THttpCli::SocketDataSent(TObject*, std::uint16_t) {
  NoteProgress();
  if (!FRq.PostPending) return;
  if (Stopped() || FRq.SessionEnded) {
    FRq.PostPending = false;
    return;
  }
  TAliveGuard guard(*this);
  if (!FSendBuffer) FSendBuffer = std::make_unique<char[]>(SendBufferSize);
  std::int32_t count = 0;
  try {
    count = FSendStream->Read(FSendBuffer.get(), SendBufferSize);
  } catch (const std::exception& e) {
    // The body can no longer be sent whole: the server would take what came as all of it.
    FRq.PostPending = false;
    FailRequest(std::string("can't read the data to post: ") + e.what());
    return;
  }
  if (count <= 0) {
    FRq.PostPending = false;
    TriggerSendEnd();
    return;
  }
  FRq.SentCount += count;
  TriggerSendData(FSendBuffer.get(), count);
  if (guard.Gone() || Stopped()) return;
  FSocket->Send(FSendBuffer.get(), count);
}
