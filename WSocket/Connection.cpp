// Opening and ending sessions: Connect, Listen, Accept, Dup, Close, Abort and their steps.
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>

#include "Host/MessagePump.h"
#include "Host/SysUtils.h"
#include "WSocket/BackgroundCloser.h"
#include "WSocket/ConnectRace.h"
#include "WSocket/CustomWSocket.h"
#include "WSocket/HostResolve.h"

namespace {

constexpr long ListenEvents = plat::FD_READ | plat::FD_WRITE | plat::FD_ACCEPT | plat::FD_CLOSE;
constexpr long SessionEvents = plat::FD_READ | plat::FD_WRITE | plat::FD_CONNECT | plat::FD_CLOSE;

}  // namespace

void TCustomWSocket::StartSession() {
  FCloseNotified = false;
  FPaused = false;
  FReadCount = 0;
  FLine.Reset();
  FLineReader = false;
  FAllSent = true;
}

void TCustomWSocket::AimAt(const TSockAddr& Address) {
  TSockAddr& to = Extras().SockAddr;
  const std::uint16_t port = to.In.sin_port;
  to = Address;
  to.In.sin_port = port;
  FAddrFamily = static_cast<std::uint8_t>(Address.Any.sa_family);
}

void TCustomWSocket::ResolveAddr(bool ForRace) {
  if (FAddrResolved) return;
  TExtras& x = Extras();
  x.Race.reset();
  std::vector<TSockAddr> all = !x.LookedUp.empty() && Trim(Addr()) == x.LookedUpName
                                   ? std::move(x.LookedUp)
                                   : WSocketResolveHostAll(Addr());
  x.LookedUp.clear();
  x.LookedUpName.clear();
  // Without a race (a listener, a datagram) a name of both families keeps to IPv4, as before
  // IPv6 was spoken.
  auto first = all.begin();
  if (!ForRace) {
    auto v4 = std::find_if(all.begin(), all.end(),
                           [](const TSockAddr& a) { return a.Any.sa_family == AF_INET; });
    if (v4 != all.end()) first = v4;
  }
  AimAt(*first);
  if (ForRace && all.size() > 1) {
    x.Race = std::make_unique<TConnectRace>();
    x.Race->Waiting.assign(all.begin() + 1, all.end());
  }
  FAddrResolved = true;
}

void TCustomWSocket::Connect() {
  if (FSocketHandle != plat::INVALID_SOCKET && FState != wsClosed) {
    RaiseException("Connect: Socket already in use");
    return;
  }
  if (!FPortAssigned) {
    RaiseException("Connect: No Port Specified");
    return;
  }
  if (!FAddrAssigned) {
    RaiseException("Connect: No IP Address Specified");
    return;
  }
  if (!FProtoAssigned) {
    RaiseException("Connect: No Protocol Specified");
    return;
  }
  ResolveAddr(FSocketType == SOCK_STREAM);
  DeleteBufferedData();
  TConnectRace* race = Extras().Race.get();
  FSocketHandle = plat::socket(FAddrFamily, FSocketType, FProtoNum);
  // A family the system does not speak leaves the race to the next address.
  while (FSocketHandle == plat::INVALID_SOCKET && race && !race->Waiting.empty()) {
    if (race->FirstError == 0)
      race->FirstError = static_cast<std::uint16_t>(plat::WSAGetLastError());
    AimAt(race->Waiting.front());
    race->Waiting.erase(race->Waiting.begin());
    FSocketHandle = plat::socket(FAddrFamily, FSocketType, FProtoNum);
  }
  if (FSocketHandle == plat::INVALID_SOCKET) {
    SocketError("Connect (socket)");
    return;
  }
  StartSession();
  TSessionGuard guard(*this);
  ChangeState(wsOpened);
  if (guard.SessionEnded()) return;

  if (FSocketType == SOCK_DGRAM) {
    BindSocket();
    if (guard.SessionEnded()) return;
    if (FAddrFamily == AF_INET && SockAddr().sin_addr.s_addr == INADDR_NONE &&
        !SetIntOption(FSocketHandle, SO_BROADCAST, 1)) {
      SocketError("setsockopt(SO_BROADCAST)");
      return;
    }
  } else {
    SetLingerOption();
    if (guard.SessionEnded()) return;
    if (!SetIntOption(FSocketHandle, SO_KEEPALIVE, -1)) {
      SocketError("setsockopt(SO_KEEPALIVE)");
      return;
    }
    if (!SetIntOption(FSocketHandle, SO_REUSEADDR, -1)) {
      SocketError("setsockopt(SO_REUSEADDR)");
      return;
    }
  }

  // While racing, only the outcome of the connect is wanted, apart from the session's
  // notifications: the winner is selected for them once it has connected.
  if (plat::WSAAsyncSelect(FSocketHandle, FWindowHandle,
                           race ? WM_SOCKET_ATTEMPT : WM_SOCKET_SELECT,
                           race ? plat::FD_CONNECT : ConnectEvents) != 0) {
    SocketError("WSAAsyncSelect");
    return;
  }

  if (FSocketType == SOCK_DGRAM) {
    ChangeState(wsConnected);
    if (guard.SessionEnded()) return;
    TriggerSessionConnected(0);
    return;
  }

  const TSockAddr& to = Extras().SockAddr;
  const bool refused = plat::connect(FSocketHandle, &to.Any, SockAddrLen(to)) != 0 &&
                       plat::WSAGetLastError() != plat::WSAEWOULDBLOCK;
  if (refused && !race) {
    SocketError("Connect");
    return;
  }
  const int code = plat::WSAGetLastError();
  ChangeState(wsConnecting);
  if (!race || guard.SessionEnded() || FExtras->Race.get() != race) return;
  if (refused) {
    AttemptFailed(FSocketHandle, static_cast<std::uint16_t>(code));
    return;
  }
  plat::SetTimer(FWindowHandle, TConnectRace::TimerId, TConnectRace::DelayMs, nullptr);
}

void TCustomWSocket::BindSocket() {
  TSockAddr local{};  // any address, a port of the system's choice
  local.Any.sa_family = FAddrFamily;
  if (plat::bind(FSocketHandle, &local.Any, SockAddrLen(local)) != 0) {
    RaiseExceptionFmt("winsock.bind failed, error #%d", {plat::WSAGetLastError()});
    return;
  }
  int len = sizeof local;
  if (plat::getsockname(FSocketHandle, &local.Any, &len) != 0) {
    RaiseExceptionFmt("winsock.getsockname failed, error #%d", {plat::WSAGetLastError()});
    return;
  }
  Extras().LocalPortNum = ntohs(local.In.sin_port);
}

void TCustomWSocket::SetLingerOption() {
  if (FLingerOnOff == wsLingerNoSet) return;
  if (FSocketHandle == plat::INVALID_SOCKET) {
    RaiseException("Cannot set linger option at this time");
    return;
  }
  // Set as each session starts: with the defaults (on, 0 seconds) the close resets the
  // connection instead of letting the system finish it in the background. The socket layer
  // keeps the setting and gives it to the kernel at the close, where it still changes
  // anything, so a session pays no system call for it here.
  const linger value{FLingerOnOff == wsLingerOn ? 1 : 0, LingerTimeout() & 0xFFFF};
  if (plat::setsockopt(FSocketHandle, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&value),
                       sizeof value) != 0)
    SocketError("setsockopt(SO_LINGER)");
}

std::int32_t TCustomWSocket::Listen() {
  const std::pair<bool, const char*> settings[] = {{bool{FPortAssigned}, "port"},
                                                   {bool{FProtoAssigned}, "protocol"},
                                                   {bool{FAddrAssigned}, "address"}};
  for (const auto& [assigned, what] : settings) {
    if (assigned) continue;
    plat::WSASetLastError(plat::WSAEINVAL);
    SocketError(std::string("listen: ") + what + " not assigned");
    return -1;
  }
  // A second Listen would orphan the socket already open, still taking connections.
  if (FSocketHandle != plat::INVALID_SOCKET && FState != wsClosed) {
    RaiseException("Listen: Socket already in use");
    return -1;
  }
  ResolveAddr();
  DeleteBufferedData();
  FSocketHandle = plat::socket(FAddrFamily, FSocketType, FProtoNum);
  if (FSocketHandle == plat::INVALID_SOCKET) {
    SocketError("socket");
    return -1;
  }
  StartSession();
  // Connections of an earlier server on this port may linger in the system's time-wait
  // state: a new server takes the port over all the same.
  if (FSocketType == SOCK_STREAM && !SetIntOption(FSocketHandle, SO_REUSEADDR, -1)) {
    const int code = plat::WSAGetLastError();
    plat::closesocket(FSocketHandle);
    FSocketHandle = plat::INVALID_SOCKET;
    plat::WSASetLastError(code);
    SocketError("setsockopt(SO_REUSEADDR)");
    return -1;
  }
  if (plat::bind(FSocketHandle, &Extras().SockAddr.Any, SockAddrLen(Extras().SockAddr)) != 0) {
    // The socket is released here: Close would find the component closed and keep it.
    const int code = plat::WSAGetLastError();
    plat::closesocket(FSocketHandle);
    FSocketHandle = plat::INVALID_SOCKET;
    plat::WSASetLastError(code);
    SocketError("Bind");
    return -1;
  }
  TSessionGuard guard(*this);
  ChangeState(wsBound);
  if (guard.SessionEnded()) return -1;
  if (FSocketType == SOCK_DGRAM) {
    ChangeState(wsListening);
    if (guard.SessionEnded()) return -1;
    ChangeState(wsConnected);
    if (guard.SessionEnded()) return -1;
    TriggerSessionConnected(0);
    if (guard.SessionEnded()) return -1;
  } else if (FSocketType == SOCK_STREAM) {
    if (plat::listen(FSocketHandle, ListenBacklog()) != 0) {
      SocketError("Listen");
      return -1;
    }
    ChangeState(wsListening);
    if (guard.SessionEnded()) return -1;
  }
  if (plat::WSAAsyncSelect(FSocketHandle, FWindowHandle, WM_SOCKET_SELECT, ListenEvents) != 0) {
    SocketError("WSAASyncSelect");
    return -1;
  }
  return 0;
}

plat::SOCKET TCustomWSocket::Accept() {
  if (FState != wsListening) {
    plat::WSASetLastError(plat::WSAEINVAL);
    SocketError("not a listening socket");
    return plat::INVALID_SOCKET;
  }
  int len = sizeof(TSockAddr);
  const plat::SOCKET h = plat::accept(FSocketHandle, &Extras().SockAddr.Any, &len);
  Extras().AcceptedHandle = h;
  if (h == plat::INVALID_SOCKET) {
    SocketError("Accept");
    return plat::INVALID_SOCKET;
  }
  return h;
}

void TCustomWSocket::Dup(plat::SOCKET NewHSocket) {
  if (NewHSocket == 0 || NewHSocket == plat::INVALID_SOCKET) {
    plat::WSASetLastError(plat::WSAEINVAL);
    SocketError("Dup");
    return;
  }
  TSessionGuard guard(*this);
  if (FState != wsClosed) {
    const plat::SOCKET old = FSocketHandle;
    FSocketHandle = plat::INVALID_SOCKET;
    if (old != plat::INVALID_SOCKET && plat::closesocket(old) != 0) {
      SocketError("Dup (closesocket)");
      return;
    }
    guard.Bind();
    ChangeState(wsClosed);
    if (guard.SessionEnded()) {
      // A handler started something else: the adopted handle would have no owner.
      CloseAtOnce(NewHSocket);
      return;
    }
  }
  // What an earlier session left queued must not reach this peer.
  DeleteBufferedData();
  StartSession();
  FSocketHandle = NewHSocket;
  guard.Bind();
  SetLingerOption();
  if (guard.SessionEnded()) return;
  if (plat::WSAAsyncSelect(FSocketHandle, FWindowHandle, WM_SOCKET_SELECT, SessionEvents) != 0) {
    SocketError("WSAAsyncSelect");
    return;
  }
  ChangeState(wsConnected);
}

void TCustomWSocket::Close() {
  InternalClose(true);
}

void TCustomWSocket::Abort() {
  TSessionGuard guard(*this);
  CancelDnsLookup();
  if (guard.Gone()) return;
  DeleteBufferedData();
  if (FState == wsConnected) {
    FLingerOnOff = wsLingerOff;
    guard.Bind();
    SetLingerOption();
    if (guard.SessionEnded()) return;
  }
  InternalClose(false);
}

void TCustomWSocket::Shutdown(std::int32_t How) {
  if (FSocketHandle == plat::INVALID_SOCKET) return;
  if (FShutdownForClose && How == plat::SD_BOTH) {
    FShutdownForClose = false;  // the close that follows shuts down too
    return;
  }
  plat::shutdown(FSocketHandle, How);
}

void TCustomWSocket::InternalClose(bool bShut) {
  EndRace();
  TSessionGuard guard(*this);
  if (FSocketHandle == plat::INVALID_SOCKET) {
    if (FState != wsClosed) {
      ChangeState(wsClosed);
      if (guard.SessionEnded()) return;
      AssignDefaultValue();
    }
    return;
  }
  if (FState == wsClosed) return;
  // Bytes still on their way go with the socket to the background closer, which keeps
  // sending them: this component is free for a new session at once.
  const bool background = bShut && CloseInBackground();
  // A graceful close shuts the socket down both ways through the virtual Shutdown, so that
  // a descendant's own step (a TLS close-notify) comes first. The component's own Shutdown
  // leaves its system call to the close, which makes both in one call and spares the
  // shutdown where the close alone ends the connection the same way.
  bool shutFirst = false;
  if (bShut && !background) {
    FShutdownForClose = true;
    Shutdown(plat::SD_BOTH);
    if (guard.SessionEnded()) return;
    shutFirst = !FShutdownForClose;
    FShutdownForClose = false;
  }

  const plat::SOCKET h = FSocketHandle;
  FSocketHandle = plat::INVALID_SOCKET;
  guard.Bind();
  // A timed linger refuses the close while data is still on its way: the rest of the
  // application runs meanwhile, and the close is tried again now and then.
  int failure = 0;
  auto closed = [&] {
    if (guard.SessionEnded()) return true;
    if ((shutFirst ? plat::shutdownclose(h) : plat::closesocket(h)) == 0) {
      failure = 0;
      return true;
    }
    failure = plat::WSAGetLastError();
    FLastError = failure;
    return failure != plat::WSAEWOULDBLOCK;
  };
  if (!background && !closed()) {
    TMessagePump pump(FMultiThreaded ? nullptr : ModalWaitFilter());
    if (!pump.PumpUntil(closed, TDeadline::Never(), 10)) {
      // The pump ended (a quit): the linger's own time bounds the rest.
      while (!closed()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (guard.SessionEnded()) {
    // Destroyed or reused meanwhile: nobody is left to wait for this socket.
    if (failure == plat::WSAEWOULDBLOCK) CloseAtOnce(h);
    return;
  }
  if (failure != 0 && failure != plat::WSAEWOULDBLOCK) {
    plat::WSASetLastError(failure);
    SocketError("Disconnect (closesocket)");
    return;
  }
  try {
    ChangeState(wsClosed);
    if (guard.SessionEnded()) return;
    if (!Destroying() && !FCloseNotified && OnSessionClosed) {
      FCloseNotified = true;
      TriggerSessionClosed(0);
      if (guard.SessionEnded()) return;
    }
  } catch (...) {
    // The session has ended all the same: the next one starts from the defaults.
    if (!guard.SessionEnded()) AssignDefaultValue();
    throw;
  }
  AssignDefaultValue();
}

bool TCustomWSocket::CloseInBackground() {
  if (FSocketType != SOCK_STREAM || FState != wsConnected) return false;
  if (FSendQueue.Empty()) {
    // Without lingering the system finishes what it holds by itself; with it, a close
    // would reset the connection, or wait, over bytes the peer has not acknowledged. Only
    // the kernel knows whether any are left; its answer also tells the socket layer that
    // a zero linger would change nothing at a close after the peer's end.
    if (FLingerOnOff != wsLingerOn) return false;
    plat::u_long unsent = 0;
    if (plat::ioctlsocket(FSocketHandle, plat::FIONWRITE, &unsent) != 0 || unsent == 0)
      return false;
  }
  const int lingerSeconds = FLingerOnOff == wsLingerOn ? (LingerTimeout() & 0xFFFF) : 0;
  BackgroundCloser::HandOver(FSocketHandle, FSendQueue, FSendFlagsValue, lingerSeconds);
  return true;
}

void TCustomWSocket::Pause() {
  FPaused = true;
  plat::WSAAsyncSelect(FSocketHandle, FWindowHandle, 0, 0);
}

void TCustomWSocket::Resume() {
  FPaused = false;
  plat::WSAAsyncSelect(FSocketHandle, FWindowHandle, WM_SOCKET_SELECT, SessionEvents);
}
