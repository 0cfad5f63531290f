#include "WSocket/CustomWSocket.h"

#include <sys/socket.h>

#include "Host/StringList.h"
#include "Host/SysUtils.h"
#include "Host/WaitControl.h"
#include "WSockbuf/Buffer.h"
#include "WSocket/ConnectRace.h"
#include "WSocket/ErrorDesc.h"
#include "WSocket/SocketWindow.h"
#include "WSocket/WinsockStartup.h"

TCustomWSocket::TCustomWSocket(TComponent* AOwner) : TComponent(AOwner) {
  FWindowHandle = CreateSocketWindow(this);
  // Runs this class's defaults: a descendant's override cannot run before its own part
  // of the object exists.
  AssignDefaultValue();
  try {
    WinsockSocketCreatedAndStarted();
  } catch (...) {
    DestroySocketWindow(FWindowHandle);
    throw;
  }
}

TCustomWSocket::~TCustomWSocket() {
  SetDestroying();
  try {
    CancelDnsLookup();
  } catch (...) {
  }
  if (FState != wsClosed) {
    try {
      Close();
    } catch (...) {
      // A destructor cannot report: the socket is released below all the same.
    }
    if (FSocketHandle != plat::INVALID_SOCKET) plat::closesocket(FSocketHandle);
    FSocketHandle = plat::INVALID_SOCKET;
  }
  WinsockSocketDestroyed();
  DeleteBufferedData();
  FExtras.reset();
  DestroySocketWindow(FWindowHandle);
  FWindowHandle = 0;
}

TCustomWSocket::TExtras::TExtras() : ProtoStr(DefaultProto()) {
  SockAddr.In.sin_family = AF_INET;
}

TCustomWSocket::TExtras::~TExtras() = default;

TCustomWSocket::TExtras& TCustomWSocket::Extras() const {
  if (!FExtras) FExtras = std::make_unique<TExtras>();
  return *FExtras;
}

const std::string& TCustomWSocket::NoText() {
  static const std::string none;
  return none;
}

const std::string& TCustomWSocket::DefaultProto() {
  static const std::string tcp = "tcp";
  return tcp;
}

TStringList* TCustomWSocket::DnsResultList() const {
  TExtras& x = Extras();
  if (!x.DnsResultList) x.DnsResultList = std::make_unique<TStringList>();
  return x.DnsResultList.get();
}

void TCustomWSocket::AssignDefaultValue() {
  const bool lineWaiting = FLine.Active();
  FAddrFamily = AF_INET;
  FPortAssigned = false;
  FAddrAssigned = false;
  FAddrResolved = false;
  FProtoAssigned = true;
  FProtoNum = IPPROTO_TCP;
  if (FExtras) {
    FExtras->SockAddr = TSockAddr{};
    FExtras->SockAddr.In.sin_family = AF_INET;
    FExtras->ProtoStr = DefaultProto();
    FExtras->LingerTimeout = 0;
    FExtras->FlushTimeout = TExtras::DefaultFlushTimeout;
  }
  FSocketType = SOCK_STREAM;
  FLingerOnOff = wsLingerOn;
  FSocketHandle = plat::INVALID_SOCKET;
  FState = wsClosed;
  FAwaitedState = wsInvalidState;
  FAllSent = true;
  FPaused = false;
  FReadCount = 0;
  FCloseNotified = false;
  // A ReadLine still waiting for its line (the session closed or the component destroyed
  // by a handler) returns now with what it has, instead of at its time-out.
  if (lineWaiting) EndLineMode();
}

void TCustomWSocket::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && WaitCtrl() != nullptr && AComponent == &WaitCtrl()->WaitComponent())
    FExtras->WaitCtrl = nullptr;
}

void TCustomWSocket::SetWaitCtrl(TWaitControl* Value) {
  if (Value == WaitCtrl()) return;
  if (WaitCtrl() != nullptr) RemoveFreeNotification(&WaitCtrl()->WaitComponent());
  Extras().WaitCtrl = Value;
  // So that the reference is cleared when the control goes, whoever owns it.
  if (Value != nullptr) FreeNotification(&Value->WaitComponent());
}

void TCustomWSocket::WndProc(TMessage& MsgRec) {
  switch (MsgRec.Msg) {
    case WM_SOCKET_SELECT:
      WMASyncSelect(MsgRec);
      break;
    case WM_SOCKET_HOSTBYNAME:
      WMAsyncGetHostByName(MsgRec);
      break;
    case WM_SOCKET_HOSTBYADDR:
      WMAsyncGetHostByAddr(MsgRec);
      break;
    case WM_SOCKET_ATTEMPT:
      WMConnectAttempt(MsgRec);
      break;
    case plat::WM_TIMER:
      WMRaceTimer();
      break;
    default:
      MsgRec.Result = plat::DefWindowProcA(FWindowHandle, MsgRec.Msg, MsgRec.WParam, MsgRec.LParam);
      break;
  }
}

void TCustomWSocket::ChangeState(TSocketState NewState) {
  const TSocketState oldState = FState;
  FState = NewState;
  // Nothing is fired from the destructor: the objects a handler refers to may already be
  // gone by then (destroyed before the component, in reverse order of their creation).
  if (!Destroying()) {
    TSessionGuard guard(*this);
    TriggerChangeState(oldState, NewState);
    if (guard.Gone()) return;
  }
  if (!FMultiThreaded && WaitCtrl() != nullptr &&
      (NewState == FAwaitedState || (FAwaitedState == wsConnected && NewState == wsClosed)))
    WaitCtrl()->Stop();
}

// Every handler is called through FireEvent: it may destroy the component, and the
// callers check their guards before they go on.
bool TCustomWSocket::TriggerDataAvailable(std::uint16_t Error) {
  if (!OnDataAvailable) return false;
  static_cast<void>(FireEvent(*this, OnDataAvailable, this, Error));
  return true;
}

void TCustomWSocket::TriggerSessionAvailable(std::uint16_t Error) {
  static_cast<void>(FireEvent(*this, OnSessionAvailable, this, Error));
}

void TCustomWSocket::TriggerSessionConnected(std::uint16_t Error) {
  static_cast<void>(FireEvent(*this, OnSessionConnected, this, Error));
}

void TCustomWSocket::TriggerSessionClosed(std::uint16_t Error) {
  static_cast<void>(FireEvent(*this, OnSessionClosed, this, Error));
}

void TCustomWSocket::TriggerDataSent(std::uint16_t Error) {
  static_cast<void>(FireEvent(*this, OnDataSent, this, Error));
}

void TCustomWSocket::TriggerChangeState(TSocketState OldState, TSocketState NewState) {
  static_cast<void>(FireEvent(*this, OnChangeState, this, OldState, NewState));
}

void TCustomWSocket::TriggerDNSLookupDone(std::uint16_t Error) {
  static_cast<void>(FireEvent(*this, OnDnsLookupDone, this, Error));
}

void TCustomWSocket::TriggerLineTooLong() {
  static_cast<void>(FireEvent(*this, OnLineTooLong, this));
}

void TCustomWSocket::TriggerError() {
  static_cast<void>(FireEvent(*this, OnError, this));
}

void TCustomWSocket::SocketError(const std::string& Sockfunc) {
  const int code = plat::WSAGetLastError();
  const std::string line =
      "Error " + IntToStr(code) + " in function " + Sockfunc + "\r\n" + WSocketErrorDesc(code);
  if (code == plat::WSAECONNRESET || code == plat::WSAENOTCONN) {
    if (FSocketHandle != plat::INVALID_SOCKET) plat::closesocket(FSocketHandle);
    FSocketHandle = plat::INVALID_SOCKET;
    TSessionGuard guard(*this);
    ChangeState(wsClosed);
    if (guard.Gone()) return;
  }
  FLastError = code;
  RaiseException(line);
}

void TCustomWSocket::RaiseException(const std::string& Msg) {
  if (OnError && !Destroying()) {
    TriggerError();
    return;
  }
  throw ESocketException(Msg);
}

void TCustomWSocket::RaiseExceptionFmt(const std::string& Fmt,
                                       std::initializer_list<TFmtArg> Args) {
  if (OnError && !Destroying()) {
    TriggerError();
    return;
  }
  throw ESocketException(Fmt, Args);
}
