// THttpCli's component model: construction, the hidden window and its messages, the state
// machine and the event triggers.
#include "HttpProt/HttpCli.h"

#include "Host/HiddenWindow.h"
#include "Host/Streams.h"
#include "Host/StringList.h"
#include "WSocket/SslWSocket.h"

namespace {

constexpr const char* HttpCliWindowClass = "THttpCliWindowClass";
constexpr std::uintptr_t TimeoutTimerId = 1;
// How often a running time-out looks at the connection's progress.
constexpr plat::UINT TimeoutTickMs = 250;

}  // namespace

THttpCli::THttpCli(TComponent* AOwner) : TComponent(AOwner) {
  FWindowHandle = CreateHiddenWindow(HttpCliWindowClass, &THttpCli::WindowProc, this);
  if (!FWindowHandle) throw Exception("Cannot create the window of an HTTP component");
  try {
    FSocket = std::make_unique<TSslWSocket>(nullptr);
  } catch (...) {
    plat::SetWindowLongA(FWindowHandle, 0, 0);
    plat::DestroyWindow(FWindowHandle);
    throw;
  }
  FProxyPort = "80";
  FContentTypePost = "application/x-www-form-urlencoded";
  FAuthChallenges = std::make_unique<TStringList>();
  // One handler for both ends of a connection: a relocating response's close starts the
  // next connection, every other close ends the request.
  FSocket->OnSessionClosed = [this](TObject* S, std::uint16_t E) {
    if (FRq.Relocating)
      LocationSessionClosed(S, E);
    else
      SocketSessionClosed(S, E);
  };
  FSocket->OnDataAvailable = [this](TObject* S, std::uint16_t E) { SocketDataAvailable(S, E); };
  FSocket->OnSessionConnected = [this](TObject* S, std::uint16_t E) {
    SocketSessionConnected(S, E);
  };
  FSocket->OnDataSent = [this](TObject* S, std::uint16_t E) { SocketDataSent(S, E); };
  FSocket->OnDnsLookupDone = [this](TObject* S, std::uint16_t E) { SocketDNSLookupDone(S, E); };
  FSocket->OnSslHandshakeDone = [this](TObject* S, std::uint16_t E) {
    SocketSslHandshakeDone(S, E);
  };
  FHeaderLines = std::make_unique<TStringList>();
  FState = httpReady;
  // No request is under way: a close of the socket ends nothing.
  FRq.SessionEnded = true;
}

THttpCli::~THttpCli() {
  FAuthChallenges.reset();
  // The socket copes with being destroyed from inside its own event.
  FSocket.reset();
  FHeaderLines.reset();
  // Destroying the window drops its queued messages and kills the time-out timer.
  plat::SetWindowLongA(FWindowHandle, 0, 0);
  plat::DestroyWindow(FWindowHandle);
}

void THttpCli::SetMultiThreaded(bool Value) {
  FMultiThreaded = Value;
  FSocket->SetMultiThreaded(Value);
}

void THttpCli::SetProxyPort(const std::string& Value) {
  // Refused here rather than when the next request connects: the socket would only then
  // say that it cannot use it, far from the code that set it.
  const std::string v = Trim(Value);
  bool port = true;
  if (!v.empty() && (v[0] == '-' || v[0] == '+')) {
    port = v.size() < 2 || v[1] < '0' || v[1] > '9';  // a signed number is no port
  } else {
    std::uint32_t n = 0;
    for (std::size_t i = 0; port && i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
      n = n * 10 + static_cast<std::uint32_t>(v[i] - '0');
      port = n <= 65535;
    }
  }
  if (!port) throw EConvertError("ProxyPort must be a port number from 0 to 65535, not " + Value);
  FProxyPort = Value;
}

void THttpCli::SetTimeout(std::int32_t Value) {
  SetTimeBound(FTimeout, Value, "Timeout");
}

void THttpCli::SetLowSpeedLimit(std::int32_t Value) {
  SetTimeBound(FLowSpeedLimit, Value, "LowSpeedLimit");
}

void THttpCli::SetLowSpeedTime(std::int32_t Value) {
  SetTimeBound(FLowSpeedTime, Value, "LowSpeedTime");
}

void THttpCli::SetMaxTime(std::int32_t Value) {
  SetTimeBound(FMaxTime, Value, "MaxTime");
}

void THttpCli::SetTimeBound(std::int32_t& Field, std::int32_t Value, const char* Name) {
  if (Value < 0) throw EHttpException(std::string("HTTP ") + Name + " must not be negative", 5);
  Field = Value;
  // A request under way keeps its bounds up to date.
  if (FRq.SessionEnded) return;
  if (TimeBounded())
    StartTimeoutTimer();
  else
    StopTimeoutTimer();
}

void THttpCli::SetMaxRelocations(std::int32_t Value) {
  if (Value < 0) throw EHttpException("HTTP MaxRelocations must not be negative", 5);
  FMaxRelocations = Value;
}

const std::string& THttpCli::SslCAFile() const {
  return FSocket->SslCAFile();
}

void THttpCli::SetSslCAFile(const std::string& Value) {
  // The same value again keeps the socket's context, and the authorities it loaded.
  if (Value != FSocket->SslCAFile()) FSocket->SetSslCAFile(Value);
}

const std::string& THttpCli::SslCAPath() const {
  return FSocket->SslCAPath();
}

void THttpCli::SetSslCAPath(const std::string& Value) {
  // The same value again keeps the socket's context, and the authorities it loaded.
  if (Value != FSocket->SslCAPath()) FSocket->SetSslCAPath(Value);
}

bool THttpCli::SslUnsafeSkipVerify() const {
  return FSocket->SslUnsafeSkipVerify();
}

void THttpCli::SetSslUnsafeSkipVerify(bool Value) {
  if (Value != FSocket->SslUnsafeSkipVerify()) FSocket->SetSslUnsafeSkipVerify(Value);
}

plat::LRESULT THttpCli::WindowProc(plat::HWND Handle, plat::UINT Msg, plat::WPARAM WParam,
                                   plat::LPARAM LParam) {
  auto* self = reinterpret_cast<THttpCli*>(plat::GetWindowLongA(Handle, 0));
  if (self == nullptr) return plat::DefWindowProcA(Handle, Msg, WParam, LParam);
  TMessage rec{Msg, WParam, LParam, 0};
  // The component may be destroyed by a handler: only the local record is read afterwards.
  self->WndProc(rec);
  return rec.Result;
}

void THttpCli::WndProc(TMessage& Msg) {
  switch (Msg.Msg) {
    case WM_HTTP_REQUEST_DONE:
      WMHttpRequestDone(Msg);
      return;
    case WM_HTTP_SET_READY:
      WMHttpSetReady(Msg);
      return;
    case WM_HTTP_LOGIN:
      WMHttpLogin(Msg);
      return;
    case plat::WM_TIMER:
      if (Msg.WParam == TimeoutTimerId) {
        TimeoutTick();
        return;
      }
      break;
    default:
      break;
  }
  Msg.Result = plat::DefWindowProcA(FWindowHandle, Msg.Msg, Msg.WParam, Msg.LParam);
}

void THttpCli::StateChange(THttpState NewState) {
  if (FState == NewState) return;
  FState = NewState;
  TAliveGuard guard(*this);
  TriggerStateChange();
  if (guard.Gone()) return;
  if (NewState == httpReady) TriggerRequestDone();
}

void THttpCli::SetReady() {
  plat::PostMessageA(FWindowHandle, WM_HTTP_SET_READY, 0, 0);
}

void THttpCli::WMHttpSetReady(TMessage&) {
  ReleaseRequestBuffers();
  StateChange(httpReady);
}

void THttpCli::TriggerRequestDone() {
  FRequestDonePending = true;
  plat::PostMessageA(FWindowHandle, WM_HTTP_REQUEST_DONE, 0, 0);
}

void THttpCli::WMHttpRequestDone(TMessage&) {
  FRequestDonePending = false;
  (void)FireEvent(*this, OnRequestDone, this, FRequestType,
                  static_cast<std::uint16_t>(FRq.DoneError));
}

void THttpCli::NoteProgress() {
  // Only a time-out reads it: no clock reading per event without one.
  if (FTimeout <= 0) return;
  FLastProgress = std::chrono::steady_clock::now();
}

void THttpCli::StartTimeoutTimer() {
  NoteProgress();
  plat::SetTimer(FWindowHandle, TimeoutTimerId, TimeoutTickMs, nullptr);
}

void THttpCli::StopTimeoutTimer() {
  plat::KillTimer(FWindowHandle, TimeoutTimerId);
}

void THttpCli::TimeoutTick() {
  if (FRq.SessionEnded || !TimeBounded()) {
    StopTimeoutTimer();
    return;
  }
  const std::string reason = TimeBoundPassed();
  if (reason.empty()) return;
  StopTimeoutTimer();
  AbortRequest(reason, 10060);
}

void THttpCli::TriggerSessionConnected() {
  (void)FireEvent(*this, OnSessionConnected, this);
}

void THttpCli::TriggerRequestHeaderBegin() {
  (void)FireEvent(*this, OnRequestHeaderBegin, this);
}

void THttpCli::TriggerRequestHeaderEnd() {
  (void)FireEvent(*this, OnRequestHeaderEnd, this);
}

void THttpCli::TriggerHeaderBegin() {
  (void)FireEvent(*this, OnHeaderBegin, this);
}

void THttpCli::TriggerHeaderEnd() {
  (void)FireEvent(*this, OnHeaderEnd, this);
}

void THttpCli::TriggerDocBegin() {
  (void)FireEvent(*this, OnDocBegin, this);
}

void THttpCli::TriggerDocData(const void* Data, std::int32_t Len) {
  (void)FireEvent(*this, OnDocData, this, Data, Len);
}

void THttpCli::TriggerDocEnd() {
  (void)FireEvent(*this, OnDocEnd, this);
}

void THttpCli::TriggerSendBegin() {
  (void)FireEvent(*this, OnSendBegin, this);
}

void THttpCli::TriggerSendData(const void* Data, std::int32_t Len) {
  (void)FireEvent(*this, OnSendData, this, Data, Len);
}

void THttpCli::TriggerSendEnd() {
  (void)FireEvent(*this, OnSendEnd, this);
}

void THttpCli::TriggerStateChange() {
  (void)FireEvent(*this, OnStateChange, this);
}

void THttpCli::TriggerCommand(const std::string& S) {
  (void)FireEvent(*this, OnCommand, this, S);
}

void THttpCli::TriggerHeaderData() {
  (void)FireEvent(*this, OnHeaderData, this);
}

void THttpCli::TriggerLocationChange() {
  (void)FireEvent(*this, OnLocationChange, this);
}

void THttpCli::TriggerDataAvailable(std::uint16_t Error) {
  (void)FireEvent(*this, OnDataAvailable, this, Error);
}
