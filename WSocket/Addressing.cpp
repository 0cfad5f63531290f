// Addr, Port and Proto, the queries on an open socket, and the asynchronous look-ups.
#include <arpa/inet.h>

#include <cstring>

#include "Host/StringList.h"
#include "Host/SysUtils.h"
#include "WSocket/CustomWSocket.h"
#include "WSocket/HostResolve.h"
#include "WSocket/WinsockStartup.h"

namespace {

// Protocol and service names were limited by fixed buffers; longer ones are refused
// rather than cut.
constexpr std::size_t MaxNameLength = 31;
constexpr std::size_t MaxReverseTextLength = 255;

bool IsDigitChar(char c) {
  return c >= '0' && c <= '9';
}

// Leading blanks skipped, then decimal digits up to the first other character; no digit
// gives 0. Wraps silently like the 32-bit arithmetic it stands for.
std::int32_t ParseLeadingNumber(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  std::uint32_t n = 0;
  for (; i < s.size() && IsDigitChar(s[i]); ++i)
    n = n * 10u + static_cast<std::uint32_t>(s[i] - '0');
  return static_cast<std::int32_t>(n);
}

// The leading decimal number of a port text, when it is a port (0 to 65535); -1 for a
// larger one, which must not wrap into some other port.
std::int32_t ParsePortNumber(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  std::int32_t n = 0;
  for (; i < s.size() && IsDigitChar(s[i]); ++i) {
    n = n * 10 + (s[i] - '0');
    if (n > 65535) return -1;
  }
  return n;
}

bool HasZeroByte(const std::string& s) {
  return s.find('\0') != std::string::npos;
}

}  // namespace

void TCustomWSocket::SetAddr(const std::string& Value) {
  if (FAddrAssigned && Value == Addr()) return;
  // The resolver takes names as C strings: the part after a zero byte would be ignored.
  if (HasZeroByte(Value)) {
    FAddrAssigned = false;
    FLastError = plat::WSAEINVAL;
    RaiseException("SetAddr: host address contains a zero byte");
    return;
  }
  std::string& addr = Extras().AddrStr;
  addr = Trim(Value);
  if (addr.empty()) {
    FAddrAssigned = false;
    return;
  }
  if (FState == wsClosed) {
    FAddrResolved = false;
    FAddrAssigned = true;
    return;
  }
  RaiseException("Cannot change Addr if not closed");
}

void TCustomWSocket::SetPort(const std::string& Value) {
  if (FPortAssigned && Value == Port()) return;
  Extras().PortStr = Value;
  if (FState != wsClosed) {
    RaiseException("Cannot change Port if not closed");
    return;
  }
  const std::string v = Trim(Value);
  if (v.empty()) {
    FPortAssigned = false;
    return;
  }
  FPortAssigned = true;
  if (IsDigitChar(v[0])) {
    const std::int32_t port = ParsePortNumber(v);
    if (port < 0) {
      FPortAssigned = false;
      plat::WSASetLastError(plat::WSAEINVAL);
      SocketError("SetPort: Cannot convert port '" + v + "'");
      return;
    }
    SockAddr().sin_port = htons(static_cast<std::uint16_t>(port));
    Extras().PortNum = port;
    return;
  }
  if (HasZeroByte(v)) {
    FPortAssigned = false;
    plat::WSASetLastError(plat::WSAEINVAL);
    SocketError("SetPort: Cannot convert port '" + v.substr(0, v.find('\0')) + "...'");
    return;
  }
  const std::string& proto = Proto();
  if (v.size() > MaxNameLength || proto.size() > MaxNameLength) {
    FPortAssigned = false;
    FLastError = plat::WSAENAMETOOLONG;
    RaiseException(v.size() > MaxNameLength ? "SetPort: service name too long"
                                            : "SetPort: protocol name too long");
    return;
  }
  EnsureWinsockStarted();
  const servent* se = plat::getservbyname(v.c_str(), proto.empty() ? nullptr : proto.c_str());
  if (se == nullptr) {
    FPortAssigned = false;
    SocketError("SetPort: Cannot convert port '" + v + "'");
    return;
  }
  SockAddr().sin_port = static_cast<std::uint16_t>(se->s_port);
  Extras().PortNum = ntohs(SockAddr().sin_port);
}

void TCustomWSocket::SetProto(const std::string& Value) {
  if (FProtoAssigned && Value == Proto()) return;
  Extras().ProtoStr = Value;
  if (FState != wsClosed) {
    RaiseException("Cannot change Proto if not closed");
    return;
  }
  const std::string v = Trim(Value);
  if (v.empty()) {
    FProtoAssigned = false;
    return;
  }
  if (v == "not found") return;
  FProtoAssigned = true;
  if (IsDigitChar(v[0])) {
    FProtoNum = ParseLeadingNumber(v);
  } else {
    if (HasZeroByte(v)) {
      FProtoAssigned = false;
      plat::WSASetLastError(plat::WSAEINVAL);
      SocketError("SetProto: Cannot convert protocol '" + v.substr(0, v.find('\0')) + "...'");
      return;
    }
    if (v.size() > MaxNameLength) {
      FProtoAssigned = false;
      FLastError = plat::WSAENAMETOOLONG;
      RaiseException("SetProto: protocol name too long");
      return;
    }
    EnsureWinsockStarted();
    const protoent* pe = plat::getprotobyname(v.c_str());
    if (pe == nullptr) {
      FProtoAssigned = false;
      SocketError("SetProto: Cannot convert protocol '" + v + "'");
      return;
    }
    FProtoNum = pe->p_proto;
  }
  FSocketType = FProtoNum == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
}

std::string TCustomWSocket::GetXPort() {
  if (FState != wsBound && FState != wsConnected && FState != wsListening) return "error";
  TSockAddr local{};
  int len = sizeof local;
  if (plat::getsockname(FSocketHandle, &local.Any, &len) != 0) return "error";
  return IntToStr(ntohs(local.In.sin_port));
}

std::string TCustomWSocket::GetPeerAddr() {
  if (FState != wsConnected) return "error";
  TSockAddr peer{};
  int len = sizeof peer;
  if (plat::getpeername(FSocketHandle, &peer.Any, &len) != 0) {
    SocketError("GetPeerName");
    return "error";
  }
  return SockAddrText(peer);
}

std::int32_t TCustomWSocket::GetPeerName(sockaddr_in& Name, std::int32_t NameLen) {
  if (FState != wsConnected) return -1;
  int len = NameLen;
  return plat::getpeername(FSocketHandle, reinterpret_cast<sockaddr*>(&Name), &len);
}

std::int32_t TCustomWSocket::GetSockName(sockaddr_in& Name, std::int32_t& NameLen) {
  int len = NameLen;
  const int r = plat::getsockname(FSocketHandle, reinterpret_cast<sockaddr*>(&Name), &len);
  NameLen = len;
  return r;
}

void TCustomWSocket::DnsLookup(const std::string& HostName) {
  StartLookup(HostName, false);
}

void TCustomWSocket::ReverseDnsLookup(const std::string& HostAddr) {
  StartLookup(HostAddr, true);
}

// Text is a copy: callers may pass DnsResult itself, which is cleared below.
void TCustomWSocket::StartLookup(std::string Text, bool Reverse) {
  TSessionGuard guard(*this);
  const bool tooLong = Reverse && Text.size() > MaxReverseTextLength;
  // The resolver takes names as C strings: the part after a zero byte would be ignored.
  const bool zeroByte = HasZeroByte(Text);
  if (Text.empty() || tooLong || zeroByte) {
    if (tooLong) FLastError = plat::WSAENAMETOOLONG;
    if (zeroByte) FLastError = plat::WSAEINVAL;
    RaiseException(tooLong    ? "DNS lookup: address text too long."
                   : zeroByte ? "DNS lookup: host name contains a zero byte."
                              : "DNS lookup: invalid host name.");
    if (guard.Gone()) return;
    TriggerDNSLookupDone(plat::WSAEINVAL);
    return;
  }
  TExtras& x = Extras();
  if (x.LookupHandle != 0) {
    // Replaced silently: the socket layer never writes the buffer of a cancelled look-up.
    plat::WSACancelAsyncRequest(x.LookupHandle);
    x.LookupHandle = 0;
  }
  x.DnsResult.clear();
  if (x.DnsResultList) x.DnsResultList->Clear();
  x.LookedUp.clear();
  x.LookedUpName.clear();
  const std::uint32_t addr = plat::inet_addr(Text.c_str());
  TSockAddr literal{};
  literal.In.sin_addr.s_addr = addr;
  if (!Reverse && (addr != INADDR_NONE || ParseIPv6Literal(Text, literal))) {
    x.DnsResult = SockAddrText(literal);
    x.HostEntryBuffer.reset();
    TriggerDNSLookupDone(0);
    return;
  }
  if (!x.HostEntryBuffer) x.HostEntryBuffer = std::make_unique<char[]>(HostEntryBufferSize);
  if (Reverse) {
    x.LookupHandle = plat::WSAAsyncGetHostByAddr(
        FWindowHandle, WM_SOCKET_HOSTBYADDR, reinterpret_cast<const char*>(&addr), sizeof addr,
        PF_INET, x.HostEntryBuffer.get(), HostEntryBufferSize);
  } else {
    x.LookupHandle = plat::WSAAsyncGetHostByName6(FWindowHandle, WM_SOCKET_HOSTBYNAME, Text.c_str(),
                                                  x.HostEntryBuffer.get(), HostEntryBufferSize);
    x.LookedUpName = Trim(Text);
  }
  if (x.LookupHandle == 0) {
    x.HostEntryBuffer.reset();
    const int err = plat::WSAGetLastError();
    RaiseExceptionFmt("%s: can't start DNS lookup, error #%d", {Text, err});
  }
}

void TCustomWSocket::CancelDnsLookup() {
  if (LookupHandle() == 0) return;
  const int r = plat::WSACancelAsyncRequest(FExtras->LookupHandle);
  FExtras->LookupHandle = 0;
  // Cancelled or already delivered: either way the socket layer writes it no more.
  FExtras->HostEntryBuffer.reset();
  if (r != 0) {
    SocketError("WSACancelAsyncRequest");
    return;
  }
  if (!Destroying()) TriggerDNSLookupDone(plat::WSAEINTR);
}

void TCustomWSocket::FinishLookup(TMessage& MsgRec,
                                  const std::function<void(const hostent&)>& TakeEntry) {
  if (LookupHandle() == 0 || MsgRec.WParam != FExtras->LookupHandle) return;
  FExtras->LookupHandle = 0;
  const std::uint16_t err = plat::HIWORD(MsgRec.LParam);
  // Released before OnDnsLookupDone, whose handler may start the next look-up.
  const std::unique_ptr<char[]> entry = std::move(FExtras->HostEntryBuffer);
  if (err == 0 && entry) TakeEntry(*reinterpret_cast<const hostent*>(entry.get()));
  TriggerDNSLookupDone(err);
}

void TCustomWSocket::WMAsyncGetHostByName(TMessage& MsgRec) {
  FinishLookup(MsgRec, [this](const hostent& Entry) {
    TExtras& x = Extras();
    x.LookedUp = EntryAddresses(Entry);
    TStringList& list = *DnsResultList();
    for (const TSockAddr& a : x.LookedUp) list.Add(SockAddrText(a));
    if (list.Count() > 0) x.DnsResult = list.Strings(0);
  });
}

void TCustomWSocket::WMAsyncGetHostByAddr(TMessage& MsgRec) {
  FinishLookup(MsgRec, [this](const hostent& Entry) {
    TExtras& x = Extras();
    x.DnsResult = Entry.h_name != nullptr ? Entry.h_name : "";
    DnsResultList()->Clear();
    DnsResultList()->Add(x.DnsResult);
  });
}
