// A stream connecting to a host of several addresses tries them as RFC 8305 describes. The
// component's own socket is always one of the running attempts, so that Close and Abort end
// the race as they end any connect; the others wait in the race record. Attempts report on
// a message of their own (only their outcome): a descendant that reads the session's
// notifications (TLS) sees only the winner's connect, as for a host of one address.
#include <sys/socket.h>

#include <algorithm>

#include "WSocket/ConnectRace.h"
#include "WSocket/CustomWSocket.h"

namespace {

std::vector<TConnectAttempt>::iterator FindAttempt(TConnectRace& Race, plat::SOCKET h) {
  return std::find_if(Race.Others.begin(), Race.Others.end(),
                      [h](const TConnectAttempt& a) { return a.Handle == h; });
}

}  // namespace

TConnectRace::~TConnectRace() {
  for (const TConnectAttempt& a : Others) CloseAtOnce(a.Handle);
}

plat::SOCKET TCustomWSocket::StartAttempt(const TSockAddr& Addr) {
  const plat::SOCKET s = plat::socket(Addr.Any.sa_family, FSocketType, FProtoNum);
  if (s == plat::INVALID_SOCKET) return s;
  // The options Connect gives its own socket.
  const linger value{FLingerOnOff == wsLingerOn ? 1 : 0, LingerTimeout() & 0xFFFF};
  bool ready = FLingerOnOff == wsLingerNoSet ||
               plat::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&value),
                                sizeof value) == 0;
  ready = ready && SetIntOption(s, SO_KEEPALIVE, -1) && SetIntOption(s, SO_REUSEADDR, -1) &&
          plat::WSAAsyncSelect(s, FWindowHandle, WM_SOCKET_ATTEMPT, plat::FD_CONNECT) == 0;
  TSockAddr to = Addr;
  to.In.sin_port = SockAddr().sin_port;
  if (ready && (plat::connect(s, &to.Any, SockAddrLen(to)) == 0 ||
                plat::WSAGetLastError() == plat::WSAEWOULDBLOCK))
    return s;
  const int code = plat::WSAGetLastError();
  plat::closesocket(s);
  plat::WSASetLastError(code);
  return plat::INVALID_SOCKET;
}

bool TCustomWSocket::StartNextAttempt() {
  TConnectRace& race = *FExtras->Race;
  while (!race.Waiting.empty()) {
    const TSockAddr next = race.Waiting.front();
    race.Waiting.erase(race.Waiting.begin());
    const plat::SOCKET s = StartAttempt(next);
    if (s != plat::INVALID_SOCKET) {
      race.Others.push_back({s, next});
      // The next one after the full delay, unless this one fails before.
      if (!race.Waiting.empty())
        plat::SetTimer(FWindowHandle, TConnectRace::TimerId, TConnectRace::DelayMs, nullptr);
      return true;
    }
    if (race.FirstError == 0) race.FirstError = static_cast<std::uint16_t>(plat::WSAGetLastError());
  }
  plat::KillTimer(FWindowHandle, TConnectRace::TimerId);
  return false;
}

void TCustomWSocket::TakeOver(const TConnectAttempt& Attempt) {
  FSocketHandle = Attempt.Handle;
  AimAt(Attempt.Addr);
}

void TCustomWSocket::WMRaceTimer() {
  if (!FExtras || !FExtras->Race || FState != wsConnecting) return;
  StartNextAttempt();
}

void TCustomWSocket::EndRace() {
  if (!FExtras || !FExtras->Race) return;
  plat::KillTimer(FWindowHandle, TConnectRace::TimerId);
  FExtras->Race.reset();
}

void TCustomWSocket::WMConnectAttempt(TMessage& MsgRec) {
  if (!FExtras || !FExtras->Race || FState != wsConnecting) return;
  TConnectRace& race = *FExtras->Race;
  const plat::SOCKET h = MsgRec.WParam;
  const auto other = FindAttempt(race, h);
  if (h != FSocketHandle && other == race.Others.end()) return;  // an attempt already closed
  const std::uint16_t error = plat::HIWORD(MsgRec.LParam);
  if ((plat::LOWORD(MsgRec.LParam) & plat::FD_CONNECT) == 0) return;
  if (error != 0) {
    AttemptFailed(h, error);
    return;
  }
  // The winner becomes the component's socket and the session starts as for any connect.
  if (h != FSocketHandle) {
    CloseAtOnce(FSocketHandle);
    TakeOver(*other);
    race.Others.erase(other);
  }
  EndRace();
  if (plat::WSAAsyncSelect(FSocketHandle, FWindowHandle, WM_SOCKET_SELECT, ConnectEvents) != 0) {
    SocketError("WSAAsyncSelect");
    return;
  }
  TMessage connected{WM_SOCKET_SELECT, FSocketHandle, plat::MAKELONG(plat::FD_CONNECT, 0), 0};
  WndProc(connected);
}

void TCustomWSocket::AttemptFailed(plat::SOCKET Handle, std::uint16_t Error) {
  TConnectRace& race = *FExtras->Race;
  if (race.FirstError == 0) race.FirstError = Error;
  // The next address at once: a failed attempt leaves nothing to wait for.
  StartNextAttempt();
  if (Handle != FSocketHandle) {
    // The component's own socket still connects.
    race.Others.erase(FindAttempt(race, Handle));
    plat::closesocket(Handle);
    return;
  }
  if (!race.Others.empty()) {
    // Another attempt takes the place of the component's socket.
    plat::closesocket(FSocketHandle);
    TakeOver(race.Others.front());
    race.Others.erase(race.Others.begin());
    return;
  }
  // Every address has failed: the session ends with the first failure.
  const std::uint16_t first = race.FirstError;
  EndRace();
  TMessage failed{WM_SOCKET_SELECT, FSocketHandle, plat::MAKELONG(plat::FD_CONNECT, first), 0};
  WndProc(failed);
}
