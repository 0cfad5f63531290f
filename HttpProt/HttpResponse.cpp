// THttpCli from received bytes to a response: line splitting, the header, the body, and
// relocations.
#include <algorithm>
#include <cstring>
#include <exception>

#include "Host/Streams.h"
#include "Host/StringList.h"
#include "HttpProt/HttpCli.h"
#include "HttpProt/Url.h"
#include "WSocket/WSocket.h"

namespace {

// Data bytes the receive buffer holds for a line; one more byte keeps a terminating zero.
constexpr std::int32_t ReceiveRoom = THttpCli::ReceiveBufferSize - 1;
// The buffer a large body is read into once a read has filled the line buffer.
constexpr std::int32_t BodyBufferSize = 256 * 1024 + 1;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A "content-length" value: optional blanks, then decimal digits only. False for anything
// else, a value too large included.
bool ParseLength(const std::string& Text, std::int64_t& Value) {
  std::size_t i = 0;
  while (i < Text.size() && (Text[i] == ' ' || Text[i] == '\t')) ++i;
  std::size_t end = Text.size();
  while (end > i && (Text[end - 1] == ' ' || Text[end - 1] == '\t')) --end;
  if (i == end || end - i > 18) return false;
  std::int64_t v = 0;
  for (; i < end; ++i) {
    if (!IsDigit(Text[i])) return false;
    v = v * 10 + (Text[i] - '0');
  }
  Value = v;
  return true;
}

}  // namespace

void THttpCli::SocketDataAvailable(TObject*, std::uint16_t Error) {
  TAliveGuard guard(*this);
  ++FReceiveDepth;
  try {
    ReceiveData(Error);
  } catch (...) {
    if (!guard.Gone()) EndReceiving();
    throw;
  }
  if (!guard.Gone()) EndReceiving();
}

void THttpCli::EndReceiving() {
  --FReceiveDepth;
  // The request ended while its data was being handled.
  if (FReceiveDepth == 0 && FState == httpReady) ReleaseRequestBuffers();
}

void THttpCli::ReleaseRequestBuffers() {
  // A handler's message loop may end the request while the buffers are still in hand.
  if (FReceiveDepth > 0 || FDeliveringBody) return;
  FReceiveBuffer.reset();
  FReceiveCapacity = 0;
  FReceiveLen = 0;
  std::string().swap(FCurrentLine);
  std::string().swap(FPendingBody);
  FSendBuffer.reset();
  if (FRequestStream) FRequestStream->Clear();
}

void THttpCli::ReceiveData(std::uint16_t Error) {
  NoteProgress();
  if (FDeliveringBody) {
    // A message loop run by OnDocData delivers more of the body: it waits until the
    // chunk in hand has reached RcvdStream.
    const std::size_t held = FPendingBody.size();
    FPendingBody.resize(held + ReceiveRoom);
    const std::int32_t n = FSocket->Receive(FPendingBody.data() + held, ReceiveRoom);
    FPendingBody.resize(held + static_cast<std::size_t>(n > 0 ? n : 0));
    return;
  }
  if (!FReceiveBuffer) {
    FReceiveBuffer = std::make_unique_for_overwrite<char[]>(ReceiveBufferSize);
    FReceiveCapacity = ReceiveBufferSize;
    FReceiveBuffer[0] = 0;
  }
  char* const buf = FReceiveBuffer.get();

  if (FState == httpWaitingBody && FReceiveLen == 0 && FLineHandler == &THttpCli::GetBodyLineNext) {
    // The body goes from the buffer to the handler and the stream as it was read, in reads
    // as large as the buffer: fewer system calls and acknowledgements per byte.
    const std::int32_t room = FReceiveCapacity - 1;
    const std::int32_t n = FSocket->Receive(buf, room);
    if (FRequestType == httpAbort || n <= 0) return;
    buf[n] = 0;
    TAliveGuard guard(*this);
    DeliverBody(buf, static_cast<std::size_t>(n));
    if (guard.Gone()) return;
    // A read that filled the buffer tells of a large body: later reads take more at once.
    // Not inside a handler's message loop, whose caller may still hold the old buffer.
    if (n == room && FReceiveCapacity < BodyBufferSize && FReceiveDepth == 1 &&
        FState == httpWaitingBody && !Stopped() && FReceiveLen == 0) {
      FReceiveBuffer = std::make_unique_for_overwrite<char[]>(BodyBufferSize);
      FReceiveCapacity = BodyBufferSize;
      FReceiveBuffer[0] = 0;
    }
    return;
  }

  const std::int32_t room = ReceiveRoom - FReceiveLen;
  if (room <= 0) {
    FailRequest("HTTP line too long");
    throw EHttpException("HTTP line too long", 4);
  }
  const std::int32_t n = FSocket->Receive(buf + FReceiveLen, room);
  if (FRequestType == httpAbort) return;  // no request was ever started
  if (n <= 0) return;
  FReceiveLen += n;
  buf[FReceiveLen] = 0;

  if (FState == httpWaitingBody) {
    FCurrentLine.assign(buf, static_cast<std::size_t>(FReceiveLen));
    FReceiveLen = 0;
    if (FLineHandler)
      (this->*FLineHandler)();
    else
      SetReady();
    return;
  }

  TAliveGuard guard(*this);
  while (FReceiveLen > 0) {
    // The line search stops at a zero byte, as the text of the buffer ends there.
    const std::size_t text = strnlen(buf, static_cast<std::size_t>(FReceiveLen));
    const char* lf = static_cast<const char*>(std::memchr(buf, '\n', text));
    if (lf == nullptr) break;
    const std::int32_t i = static_cast<std::int32_t>(lf - buf) + 1;  // 1-based
    const std::int32_t len = (i > 1 && buf[i - 2] == '\r') ? i - 2 : i - 1;
    FCurrentLine.assign(buf, static_cast<std::size_t>(len));
    FReceiveLen -= i;
    std::memmove(buf, buf + i, static_cast<std::size_t>(FReceiveLen) + 1);
    if (FState == httpWaitingHeader || FState == httpWaitingBody) {
      if (FLineHandler)
        (this->*FLineHandler)();
      else
        SetReady();
    } else {
      TriggerDataAvailable(Error);
    }
    if (guard.Gone() || Stopped()) return;
  }
  // A full buffer without a line feed can never become a line; waiting for more data
  // would hang on a server that keeps the connection open.
  if (FReceiveLen >= ReceiveRoom && FState == httpWaitingHeader) {
    FailRequest("HTTP line too long");
    throw EHttpException("HTTP line too long", 4);
  }
}

void THttpCli::GetHeaderLineNext() {
  TAliveGuard guard(*this);
  if (FHeaderLineCount == 0) {
    TriggerHeaderBegin();
    if (guard.Gone() || Stopped()) return;
  }
  ++FHeaderLineCount;

  if (UpperCase(FCurrentLine.substr(0, 6)) == "<HTML>") {
    // A reply without any header: the document starts here.
    if (FContentType.empty()) FContentType = "text/html";
    StateChange(httpWaitingBody);
    if (guard.Gone() || Stopped()) return;
    FLineHandler = &THttpCli::GetBodyLineNext;
    TriggerHeaderEnd();
    if (guard.Gone() || Stopped()) return;
    GetBodyLineNext();
    return;
  }

  if (FCurrentLine.empty()) {
    if (FLocationSeen) {
      TriggerHeaderEnd();
      if (guard.Gone() || Stopped()) return;
      FReceiveLen = 0;
      if (FSessionEnded) return;  // an error status closed the connection first
      if (FRelocationCount >= MaxRelocations) {
        FailRequest("too many relocations");
        return;
      }
      ++FRelocationCount;
      FHeaderLineCount = 0;
      FBodyLineCount = 0;
      FRelocating = true;
      FSocket->Close();  // ends in LocationSessionClosed
      return;
    }
    const std::int32_t dot = Posn(".", FDocName, -1);
    if (dot > 0 && LowerCase(FDocName.substr(static_cast<std::size_t>(dot - 1))) == ".exe" &&
        FContentType == "text/html")
      FDocName = FDocName.substr(0, static_cast<std::size_t>(dot)) + "htm";
    StateChange(httpWaitingBody);
    if (guard.Gone() || Stopped()) return;
    FLineHandler = &THttpCli::GetBodyLineNext;
    TriggerHeaderEnd();
    if (guard.Gone() || Stopped()) return;
    if (FReceiveLen >= 1) {
      // The start of the body, read with the header; the line loop that called us stops
      // at the emptied buffer.
      const auto len = static_cast<std::size_t>(FReceiveLen);
      FReceiveLen = 0;
      DeliverBody(FReceiveBuffer.get(), len);
    }
    return;
  }

  FHeaderLines->Add(FCurrentLine);
  std::string failure;
  if (FCurrentLine.compare(0, 8, "HTTP/1.0") == 0 || FCurrentLine.compare(0, 8, "HTTP/1.1") == 0) {
    const std::string code = FCurrentLine.size() >= 12 ? FCurrentLine.substr(9, 3) : "";
    if (code.size() == 3 && IsDigit(code[0]) && IsDigit(code[1]) && IsDigit(code[2])) {
      FStatusCode = std::stoi(code);
      FReasonPhrase = FCurrentLine.size() > 13 ? FCurrentLine.substr(13) : "";
    } else {
      failure = "malformed status line";
    }
  } else if (const std::size_t k = FCurrentLine.find(':'); k != std::string::npos) {
    const std::string name = LowerCase(FCurrentLine.substr(0, k));
    // Exactly one character after the colon is skipped, normally the blank.
    const std::string value = k + 2 <= FCurrentLine.size() ? FCurrentLine.substr(k + 2) : "";
    if (name == "location") {
      FLocationSeen = true;
      TakeLocation(value);
    } else if (name == "content-length") {
      if (!ParseLength(value, FContentLength)) failure = "malformed content-length";
    } else if (name == "content-type") {
      FContentType = LowerCase(value);
    } else if (name == "www-authenticate") {
      FAuthChallenges->Add(value);
    }
  }
  TriggerHeaderData();
  if (guard.Gone() || Stopped()) return;
  if (!failure.empty()) {
    FReceiveLen = 0;
    FailRequest(failure);
  } else if (FStatusCode >= 400) {
    // No body is read for an error; the close ends the request.
    FSocket->Close();
  }
}

void THttpCli::GetBodyLineNext() {
  DeliverBody(FCurrentLine.data(), FCurrentLine.size());
}

void THttpCli::DeliverBody(const char* Data, std::size_t Len) {
  TAliveGuard guard(*this);
  // From here until the data in hand has reached RcvdStream, data that a message loop
  // inside a handler receives waits in FPendingBody.
  FDeliveringBody = true;
  if (FBodyLineCount == 0) {
    TriggerDocBegin();
    if (guard.Gone()) return;
  }
  ++FBodyLineCount;
  // What a nested loop received, taken out of FPendingBody while it is delivered.
  std::string pending;
  for (;;) {
    // Handlers see the pieces the buffer for one line could hold, however large the read.
    std::size_t at = 0;
    do {
      if (Stopped()) break;
      const auto len = static_cast<std::int32_t>(std::min<std::size_t>(Len - at, ReceiveRoom));
      FRcvdCount += len;
      try {
        TriggerDocData(Data + at, len);
        if (guard.Gone()) return;
        if (FRcvdStream != nullptr) FRcvdStream->WriteBuffer(Data + at, len);
      } catch (const std::exception& e) {
        if (guard.Gone()) return;
        // The chunk is lost to RcvdStream: the document would be taken as whole without it.
        FDeliveringBody = false;
        FCloseDeferred = false;
        FPendingBody.clear();
        FReceiveLen = 0;
        FailRequest(std::string("document data not stored: ") + e.what());
        return;
      }
      at += static_cast<std::size_t>(len);
    } while (at < Len);
    if (Stopped() || FPendingBody.empty()) break;
    pending.swap(FPendingBody);
    FPendingBody.clear();
    Data = pending.data();
    Len = pending.size();
  }
  FDeliveringBody = false;
  if (FCloseDeferred) {
    FCloseDeferred = false;
    SocketSessionClosed(FSocket.get(), 0);
  }
}

void THttpCli::TakeLocation(const std::string& Value) {
  std::string s, u, w, h, p, q;
  ParseURL(Value, s, u, w, h, p, q);
  if (s.empty()) s = "http";
  if (!FProxy.empty()) {
    // Relative forms name the document's server, port included, as the proxy needs it.
    if (q.empty()) {
      FRequestPath = s + "://" + FRequestAuthority + "/" + h;
    } else if (h.empty()) {
      FRequestPath = s + "://" + FRequestAuthority + q;
    } else {
      FRequestPath = Value;
      FRequestHost = h;
      FRequestAuthority = p.empty() ? h : h + ":" + p;
    }
    return;
  }
  if (!Value.empty() && Value[0] == '/') {
    FRequestPath = Value;
    return;
  }
  FConnectHost = h;
  FRequestPath = q;
  if (!p.empty()) FConnectPort = p;
  if (FRequestPath.empty()) {
    FRequestPath = s + "://" + FTargetHost + "/" + FConnectHost;
    FConnectHost = FTargetHost;
  } else if (FConnectHost.empty()) {
    FRequestPath = s + "://" + FTargetHost + FRequestPath;
    FConnectHost = FTargetHost;
  } else {
    // Another server: a port of the old one means nothing there.
    if (p.empty()) FConnectPort = "80";
    FTargetHost = FConnectHost;
    FRequestHost = FConnectHost;
  }
}

void THttpCli::LocationSessionClosed(TObject*, std::uint16_t) {
  FConnected = false;
  FLocationSeen = false;
  FRelocating = false;
  TAliveGuard guard(*this);
  TriggerLocationChange();
  if (guard.Gone() || Stopped()) return;
  plat::PostMessageA(FWindowHandle, WM_HTTP_LOGIN, 0, 0);
}

void THttpCli::WMHttpLogin(TMessage&) {
  // An abort or a time-out may have ended the request since the relocation.
  if (FSessionEnded || Stopped()) return;
  // A new response starts: nothing of the relocating one's size or type applies to it.
  FContentLength = -1;
  FContentType.clear();
  FReceiveLen = 0;
  TAliveGuard guard(*this);
  try {
    Login();
  } catch (const std::exception& e) {
    // A location that names no host: the request must still end.
    if (guard.Gone() || FSessionEnded) return;
    FStatusCode = 404;
    FReasonPhrase = std::string("can't follow the relocation: ") + e.what();
    SocketSessionClosed(FSocket.get(), 0);
  }
}
