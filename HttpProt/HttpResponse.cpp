// THttpCli from received bytes to a response: line splitting, the header, the body, and
// relocations.
#include <algorithm>
#include <cstring>
#include <exception>
#include <string_view>

#include "Host/Streams.h"
#include "Host/StringList.h"
#include "HttpProt/HttpCli.h"
#include "HttpProt/Url.h"
#include "WSocket/SslWSocket.h"

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
bool ParseLength(std::string_view Text, std::int64_t& Value) {
  std::size_t i = 0;
  while (i < Text.size() && (Text[i] == ' ' || Text[i] == '\t')) ++i;
  std::size_t end = Text.size();
  while (end > i && (Text[end - 1] == ' ' || Text[end - 1] == '\t')) --end;
  if (i == end || end - i > 18) return false;  // 19 digits may exceed INT64_MAX
  std::int64_t v = 0;
  for (; i < end; ++i) {
    if (!IsDigit(Text[i])) return false;
    v = v * 10 + (Text[i] - '0');
  }
  Value = v;
  return true;
}

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Text equals Lower (all lower case) letter by letter, whatever the case of Text: header
// names and markers are compared where they are, every line of every reply.
bool EqualsNoCase(std::string_view Text, std::string_view Lower) {
  if (Text.size() != Lower.size()) return false;
  for (std::size_t i = 0; i < Text.size(); ++i)
    if (AsciiLower(Text[i]) != Lower[i]) return false;
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
  if (FReceiveDepth > 0) return;
  // The request ended while its data was being handled.
  if (FState == httpReady) {
    ReleaseRequestBuffers();
    return;
  }
  // Nothing is held for a later read: the line buffer goes back to the thread's spare until
  // the next read, so that many components waiting for their servers hold none.
  if (FRq.ReceiveLen == 0 && !FRq.DeliveringBody && FReceiveCapacity == ReceiveBufferSize)
    ReturnReceiveBuffer();
}

namespace {

// One line buffer and one line kept per thread between the reads of its components: taking
// them back spares allocations per request, and an idle component holds neither.
thread_local std::unique_ptr<char[]> SpareReceiveBuffer;
thread_local std::string SpareLine;
// Room for a usual header line at once, rather than growing line after line.
constexpr std::size_t LineRoom = 128;

}  // namespace

void THttpCli::TakeReceiveBuffer() {
  if (SpareReceiveBuffer)
    FReceiveBuffer = std::move(SpareReceiveBuffer);
  else
    FReceiveBuffer = std::make_unique_for_overwrite<char[]>(ReceiveBufferSize);
  FReceiveCapacity = ReceiveBufferSize;
  FReceiveBuffer[0] = 0;
  FRq.ReceiveStart = 0;
  if (FCurrentLine.capacity() < LineRoom) {
    FCurrentLine.swap(SpareLine);
    FCurrentLine.clear();
    FCurrentLine.reserve(LineRoom);
  }
}

void THttpCli::ReturnReceiveBuffer() {
  if (FReceiveCapacity == ReceiveBufferSize && !SpareReceiveBuffer)
    SpareReceiveBuffer = std::move(FReceiveBuffer);
  FReceiveBuffer.reset();
  FReceiveCapacity = 0;
}

void THttpCli::ReleaseRequestBuffers() {
  // A handler's message loop may end the request while the buffers are still in hand.
  if (FReceiveDepth > 0 || FRq.DeliveringBody) return;
  ReturnReceiveBuffer();
  FRq.ReceiveLen = 0;
  FRq.ReceiveStart = 0;
  // A line of a usual size is kept for the thread's next request, a longer one freed.
  if (SpareLine.capacity() < LineRoom && FCurrentLine.capacity() <= 4 * LineRoom)
    FCurrentLine.swap(SpareLine);
  std::string().swap(FCurrentLine);
  std::string().swap(FRq.PendingBody);
  FSendBuffer.reset();
  std::string().swap(FRequestText);
}

void THttpCli::ReceiveData(std::uint16_t Error) {
  NoteProgress();
  if (FRq.DeliveringBody) {
    // A message loop run by OnDocData delivers more of the body: it waits until the
    // chunk in hand has reached RcvdStream.
    std::string& pending = FRq.PendingBody;
    const std::size_t held = pending.size();
    pending.resize(held + ReceiveRoom);
    const std::int32_t n = ReceiveCounted(pending.data() + held, ReceiveRoom);
    pending.resize(held + static_cast<std::size_t>(n > 0 ? n : 0));
    return;
  }
  if (!FReceiveBuffer) TakeReceiveBuffer();
  char* const buf = FReceiveBuffer.get();

  if (FState == httpWaitingBody && FRq.ReceiveLen == 0 &&
      FLineHandler == &THttpCli::GetBodyLineNext) {
    // The body goes from the buffer to the handler and the stream as it was read, in reads
    // as large as the buffer: fewer system calls and acknowledgements per byte.
    const std::int32_t room = FReceiveCapacity - 1;
    const std::int32_t n = ReceiveCounted(buf, room);
    if (FRequestType == httpAbort || n <= 0) return;
    buf[n] = 0;
    TAliveGuard guard(*this);
    DeliverBody(buf, static_cast<std::size_t>(n));
    if (guard.Gone()) return;
    // A read that filled the buffer tells of a large body: later reads take more at once.
    // Not inside a handler's message loop, whose caller may still hold the old buffer.
    if (n == room && FReceiveCapacity < BodyBufferSize && FReceiveDepth == 1 &&
        FState == httpWaitingBody && !Stopped() && FRq.ReceiveLen == 0) {
      ReturnReceiveBuffer();
      FReceiveBuffer = std::make_unique_for_overwrite<char[]>(BodyBufferSize);
      FReceiveCapacity = BodyBufferSize;
      FReceiveBuffer[0] = 0;
    }
    return;
  }

  // Lines are taken from where they lie; what is left of them moves to the front only
  // before the next read, once per read rather than once per line.
  if (FRq.ReceiveStart > 0) {
    if (FRq.ReceiveLen > 0)
      std::memmove(buf, buf + FRq.ReceiveStart, static_cast<std::size_t>(FRq.ReceiveLen));
    FRq.ReceiveStart = 0;
    buf[FRq.ReceiveLen] = 0;
  }
  const std::int32_t room = ReceiveRoom - FRq.ReceiveLen;
  if (room <= 0) {
    FailRequest("HTTP line too long");
    throw EHttpException("HTTP line too long", 4);
  }
  const std::int32_t n = ReceiveCounted(buf + FRq.ReceiveLen, room);
  if (FRequestType == httpAbort) return;  // no request was ever started
  if (n <= 0) return;
  // Whatever follows a body that is whole is no part of the reply.
  if (FRq.Response.BodyDone) return;
  FRq.ReceiveLen += n;
  buf[FRq.ReceiveLen] = 0;

  if (FState == httpWaitingBody) {
    FCurrentLine.assign(buf, static_cast<std::size_t>(FRq.ReceiveLen));
    FRq.ReceiveLen = 0;
    if (FLineHandler)
      (this->*FLineHandler)();
    else
      SetReady();
    return;
  }

  TAliveGuard guard(*this);
  while (FRq.ReceiveLen > 0) {
    // A handler's message loop may have read more and moved the rest to the front.
    const char* const at = FReceiveBuffer.get() + FRq.ReceiveStart;
    // The line search stops at a zero byte, as the text of the buffer ends there: a line
    // feed counts only with no zero byte before it (looked for up to it, not through the
    // whole rest of the buffer for every line).
    const char* lf =
        static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(FRq.ReceiveLen)));
    if (lf == nullptr || std::memchr(at, 0, static_cast<std::size_t>(lf - at)) != nullptr) break;
    const std::int32_t i = static_cast<std::int32_t>(lf - at) + 1;  // 1-based
    const std::int32_t len = (i > 1 && at[i - 2] == '\r') ? i - 2 : i - 1;
    FCurrentLine.assign(at, static_cast<std::size_t>(len));
    FRq.ReceiveStart += i;
    FRq.ReceiveLen -= i;
    if (FState == httpWaitingHeader || FState == httpWaitingBody || FRq.TunnelReply) {
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
  if (FRq.ReceiveLen >= ReceiveRoom && (FState == httpWaitingHeader || FRq.TunnelReply)) {
    FailRequest("HTTP line too long");
    throw EHttpException("HTTP line too long", 4);
  }
}

void THttpCli::GetHeaderLineNext() {
  TAliveGuard guard(*this);
  TResponseState& r = FRq.Response;
  if (r.HeaderLineCount == 0) {
    TriggerHeaderBegin();
    if (guard.Gone() || Stopped()) return;
  }
  ++r.HeaderLineCount;
  // After a status of 400 or more the connection is closed: the lines still in hand are
  // only header lines, and no body follows.
  const bool errorStatus = FRq.StatusCode >= 400;

  if (!errorStatus && EqualsNoCase(std::string_view(FCurrentLine).substr(0, 6), "<html>")) {
    // A reply without any header: the document starts here.
    if (r.ContentType.empty()) r.ContentType = "text/html";
    StateChange(httpWaitingBody);
    if (guard.Gone() || Stopped()) return;
    FLineHandler = &THttpCli::GetBodyLineNext;
    TriggerHeaderEnd();
    if (guard.Gone() || Stopped()) return;
    GetBodyLineNext();
    return;
  }

  if (FCurrentLine.empty()) {
    if (errorStatus) {
      TriggerHeaderEnd();
      FRq.ReceiveLen = 0;
      return;
    }
    if (r.LocationSeen) {
      TriggerHeaderEnd();
      if (guard.Gone() || Stopped()) return;
      FRq.ReceiveLen = 0;
      if (FRq.SessionEnded) return;
      if (!r.Location.Refusal.empty()) {
        FailRequest("can't follow the relocation: " + r.Location.Refusal);
        return;
      }
      if (FRq.Target.Tls && !r.Location.Tls && !FAllowHttpsDowngrade) {
        // What was asked for over TLS would come over the open network.
        FailRequest(
            "can't follow the relocation from https to http (a downgrade; "
            "AllowHttpsDowngrade is off)");
        return;
      }
      if (FRq.RelocationCount >= FMaxRelocations) {
        FailRequest("too many relocations");
        return;
      }
      if (FRequestType == httpPOST) {
        // The relocated request carries the same body: it must be read again.
        FRq.PostPending = false;
        const std::string why = RewindPost();
        if (!why.empty()) {
          FailRequest("can't follow the relocation: " + why);
          return;
        }
      }
      ++FRq.RelocationCount;
      FRq.Target = r.Location;
      FRq.Relocating = true;
      FSocket->Close();  // ends in LocationSessionClosed
      return;
    }
    // The body's framing: chunks, or the announced length (ignored beside chunks), or the
    // close of the connection.
    if (r.Chunked) r.ContentLength = -1;
    const std::int32_t dot = Posn(".", FRq.DocName, -1);
    if (dot > 0 && LowerCase(FRq.DocName.substr(static_cast<std::size_t>(dot - 1))) == ".exe" &&
        r.ContentType == "text/html")
      FRq.DocName = FRq.DocName.substr(0, static_cast<std::size_t>(dot)) + "htm";
    StateChange(httpWaitingBody);
    if (guard.Gone() || Stopped()) return;
    FLineHandler = &THttpCli::GetBodyLineNext;
    TriggerHeaderEnd();
    if (guard.Gone() || Stopped()) return;
    if (!BodyExpected() || (!r.Chunked && r.ContentLength == 0)) {
      FRq.ReceiveLen = 0;
      EndBody();
      return;
    }
    if (!r.UnknownCoding.empty()) {
      FRq.ReceiveLen = 0;
      FailRequest("unsupported transfer coding: " + r.UnknownCoding);
      return;
    }
    if (FRq.ReceiveLen >= 1) {
      // The start of the body, read with the header; the line loop that called us stops
      // at the emptied buffer.
      const auto len = static_cast<std::size_t>(FRq.ReceiveLen);
      FRq.ReceiveLen = 0;
      DeliverBody(FReceiveBuffer.get() + FRq.ReceiveStart, len);
    }
    return;
  }

  FHeaderLines->Add(FCurrentLine);
  std::string failure;
  if (FCurrentLine.compare(0, 8, "HTTP/1.0") == 0 || FCurrentLine.compare(0, 8, "HTTP/1.1") == 0) {
    const char* code = FCurrentLine.data() + 9;
    if (FCurrentLine.size() >= 12 && IsDigit(code[0]) && IsDigit(code[1]) && IsDigit(code[2])) {
      FRq.StatusCode = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
      FReasonPhrase = FCurrentLine.size() > 13 ? FCurrentLine.substr(13) : "";
    } else {
      failure = "malformed status line";
    }
  } else if (const std::size_t k = FCurrentLine.find(':'); k != std::string::npos) {
    const std::string_view line(FCurrentLine);
    const std::string_view name = line.substr(0, k);
    // Exactly one character after the colon is skipped, normally the blank.
    const std::string_view value = k + 2 <= line.size() ? line.substr(k + 2) : std::string_view();
    if (EqualsNoCase(name, "location")) {
      r.LocationSeen = true;
      r.Location = RelocationTarget(FRq.Target, std::string(value), !FProxy.empty());
    } else if (EqualsNoCase(name, "content-length")) {
      if (!ParseLength(value, r.ContentLength)) failure = "malformed content-length";
    } else if (EqualsNoCase(name, "content-type")) {
      r.ContentType.assign(value);
      for (char& c : r.ContentType) c = AsciiLower(c);
    } else if (EqualsNoCase(name, "www-authenticate")) {
      FAuthChallenges->Add(std::string(value));
    } else if (EqualsNoCase(name, "transfer-encoding")) {
      // Chunks are decoded; identity changes nothing; anything else cannot be read.
      const std::string codings = LowerCase(std::string(value));
      for (std::size_t at = 0; at <= codings.size();) {
        std::size_t comma = codings.find(',', at);
        if (comma == std::string::npos) comma = codings.size();
        std::size_t from = at, to = comma;
        while (from < to && (codings[from] == ' ' || codings[from] == '\t')) ++from;
        while (to > from && (codings[to - 1] == ' ' || codings[to - 1] == '\t')) --to;
        const std::string coding = codings.substr(from, to - from);
        if (coding == "chunked")
          r.Chunked = true;
        else if (!coding.empty() && coding != "identity" && r.UnknownCoding.empty())
          r.UnknownCoding = coding;
        at = comma + 1;
      }
    }
  }
  TriggerHeaderData();
  if (guard.Gone() || Stopped()) return;
  if (!failure.empty()) {
    FRq.ReceiveLen = 0;
    FailRequest(failure);
  } else if (FRq.StatusCode >= 400 && !errorStatus) {
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
  // inside a handler receives waits in PendingBody.
  FRq.DeliveringBody = true;
  // What a nested loop received, taken out of PendingBody while it is delivered.
  std::string pending;
  for (;;) {
    if (!HandBody(Data, Len)) return;
    if (Stopped() || FRq.PendingBody.empty()) break;
    pending.swap(FRq.PendingBody);
    FRq.PendingBody.clear();
    Data = pending.data();
    Len = pending.size();
  }
  FRq.DeliveringBody = false;
  FRq.PendingBody.clear();
  if (FRq.CloseDeferred) {
    FRq.CloseDeferred = false;
    SocketSessionClosed(FSocket.get(), FRq.CloseError);
  }
}

bool THttpCli::HandBody(const char* Data, std::size_t Len) {
  TResponseState& r = FRq.Response;
  if (!r.Chunked) return HandPiece(Data, Len);
  const char* in = Data;
  const char* const end = Data + Len;
  while (!Stopped()) {
    const char* piece = nullptr;
    std::size_t n = 0;
    switch (r.Chunks.Next(in, end, piece, n)) {
      case TChunkedDecoder::TStep::Data:
        if (!HandPiece(piece, n)) return false;
        break;
      case TChunkedDecoder::TStep::NeedMore:
        return true;
      case TChunkedDecoder::TStep::Done:
        EndBody();
        return true;
      case TChunkedDecoder::TStep::Failed:
        FRq.DeliveringBody = false;
        FRq.CloseDeferred = false;
        FailRequest(r.Chunks.Error() + " after " + std::to_string(FRq.RcvdCount) + " body bytes");
        return false;
    }
  }
  return true;
}

bool THttpCli::HandPiece(const char* Data, std::size_t Len) {
  TAliveGuard guard(*this);
  TResponseState& r = FRq.Response;
  // The entity ends at its announced length: what follows it is not the document's.
  if (r.ContentLength >= 0 && !r.Chunked)
    Len = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(Len), r.ContentLength - FRq.RcvdCount));
  if (Len > 0) {
    if (r.BodyLineCount == 0) {
      TriggerDocBegin();
      if (guard.Gone()) return false;
    }
    ++r.BodyLineCount;
  }
  // Handlers see the pieces the buffer for one line could hold, however large the read.
  for (std::size_t at = 0; at < Len && !Stopped();) {
    const auto len = static_cast<std::int32_t>(std::min<std::size_t>(Len - at, ReceiveRoom));
    FRq.RcvdCount += len;
    try {
      TriggerDocData(Data + at, len);
      if (guard.Gone()) return false;
      if (FRcvdStream != nullptr) FRcvdStream->WriteBuffer(Data + at, len);
    } catch (const std::exception& e) {
      if (guard.Gone()) return false;
      // The chunk is lost to RcvdStream: the document would be taken as whole without it.
      FRq.DeliveringBody = false;
      FRq.CloseDeferred = false;
      FRq.PendingBody.clear();
      FRq.ReceiveLen = 0;
      FailRequest(std::string("document data not stored: ") + e.what());
      return false;
    }
    at += static_cast<std::size_t>(len);
  }
  if (r.ContentLength >= 0 && !r.Chunked && FRq.RcvdCount >= r.ContentLength && !Stopped())
    EndBody();
  return true;
}

void THttpCli::EndBody() {
  FRq.Response.BodyDone = true;
  FRq.Stopped = true;
  FRq.PendingBody.clear();
  if (FRq.SessionEnded) return;
  TAliveGuard guard(*this);
  FSocket->Close();
  if (guard.Gone() || FRq.SessionEnded) return;
  if (FRq.DeliveringBody)
    FRq.CloseDeferred = true;  // DeliverBody ends the request once the chunk in hand is stored
  else
    SocketSessionClosed(FSocket.get(), 0);
}

std::string THttpCli::RewindPost() {
  if (FRq.PostStart < 0)
    return "the data to post cannot be sent again (" + FRq.PostStartError + ")";
  try {
    if (FSendStream->Seek(FRq.PostStart, soFromBeginning) == FRq.PostStart) {
      FRq.SentCount = 0;
      return "";
    }
  } catch (const std::exception& e) {
    return std::string("the data to post cannot be sent again (") + e.what() + ")";
  }
  return "the data to post cannot be sent again (the stream cannot go back)";
}

void THttpCli::LocationSessionClosed(TObject*, std::uint16_t) {
  FConnected = false;
  FRq.Relocating = false;
  TAliveGuard guard(*this);
  TriggerLocationChange();
  if (guard.Gone() || Stopped()) return;
  plat::PostMessageA(FWindowHandle, WM_HTTP_LOGIN, 0, 0);
}

void THttpCli::WMHttpLogin(TMessage&) {
  // An abort or a time-out may have ended the request since the relocation.
  if (FRq.SessionEnded || Stopped()) return;
  // A new response starts: nothing of the relocating one's size, type or framing applies.
  FRq.Response = TResponseState();
  FRq.ReceiveLen = 0;
  TAliveGuard guard(*this);
  try {
    Login();
  } catch (const std::exception& e) {
    // A location that names no host: the request must still end.
    if (guard.Gone() || FRq.SessionEnded) return;
    FRq.StatusCode = 404;
    FReasonPhrase = std::string("can't follow the relocation: ") + e.what();
    SocketSessionClosed(FSocket.get(), 0);
  }
}
