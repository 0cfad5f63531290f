// THttpCli from a prepared request to bytes on the wire: name look-up, connect, the request
// header and the POST body.
#include <algorithm>
#include <exception>

#include "Host/Streams.h"
#include "HttpProt/Encoding.h"
#include "HttpProt/HttpCli.h"
#include "HttpProt/HttpDate.h"
#include "WSocket/WSocket.h"

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
      FReasonPhrase =
          "can't connect: " + WSocketErrorDesc(code) + " (Error #" + std::to_string(code) + ")";
    else
      FReasonPhrase = std::string("can't connect: ") + e.what();
    FSocket->Close();
    if (guard.Gone()) return;
    SocketSessionClosed(Sender, static_cast<std::uint16_t>(code));
  }
}

void THttpCli::SocketSessionConnected(TObject* Sender, std::uint16_t Error) {
  NoteProgress();
  if (FRq.SessionEnded || Stopped()) return;
  if (Error != 0) {
    FRq.StatusCode = 404;
    FReasonPhrase = WSocketErrorDesc(Error) + " (Error #" + std::to_string(Error) + ")";
    SocketSessionClosed(Sender, Error);
    return;
  }
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
  if (!S.empty()) FRequestStream->WriteBuffer(S.data(), static_cast<std::int32_t>(S.size()));
  FRequestStream->WriteBuffer("\r\n", 2);
}

bool THttpCli::SendsCredentials() const {
  return !FUsername.empty() && SameText(FRq.Target.TargetHost, FRq.UrlHost);
}

void THttpCli::SendRequest(const std::string& Method, const std::string& Version) {
  TAliveGuard guard(*this);
  // Every line goes through SendCommand, whose event may abort or destroy the component.
  auto line = [&](const std::string& S) {
    SendCommand(S);
    return !guard.Gone() && !Stopped();
  };
  FRequestStream->Clear();
  TriggerRequestHeaderBegin();
  if (guard.Gone() || Stopped()) return;
  if (!line(Method + " " + FRq.Target.RequestPath + " HTTP/" + Version)) return;
  if (!FSender.empty() && !line("From: " + FSender)) return;
  if (!FReference.empty() && !line("Referer: " + FReference)) return;
  if (Method == "POST" && !FContentTypePost.empty() && !line("Content-Type: " + FContentTypePost))
    return;
  if (!FAgent.empty() && !line("User-Agent: " + FAgent)) return;
  if (!line("Host: " + FRq.Target.TargetHost)) return;
  if (FNoCache && !line("Pragma: no-cache")) return;
  // The bytes that will follow: from where the stream stood when the request started.
  if (Method == "POST" &&
      !line("Content-Length: " +
            std::to_string(std::max<std::int64_t>(
                0, FSendStream->Size() - std::max<std::int64_t>(0, FRq.PostStart)))))
    return;
  if (FModifiedSince != 0 && !line("If-Modified-Since: " + RFC1123_Date(FModifiedSince) + " GMT"))
    return;
  if (SendsCredentials() &&
      !line("Authorization: Basic " + EncodeStr(encBase64, FUsername + ":" + FPassword)))
    return;
  if (!FProxy.empty() && !FProxyUsername.empty() &&
      !line("Proxy-Authorization: Basic " +
            EncodeStr(encBase64, FProxyUsername + ":" + FProxyPassword)))
    return;
  if (!FCookie.empty() && !line("Cookie: " + FCookie)) return;
  TriggerRequestHeaderEnd();
  if (guard.Gone() || Stopped()) return;
  if (!line("")) return;
  FSocket->Send(FRequestStream->Memory(), static_cast<std::int32_t>(FRequestStream->Size()));
  if (guard.Gone()) return;
  FRequestStream->Clear();
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
