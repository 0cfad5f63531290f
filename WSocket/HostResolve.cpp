#include "WSocket/HostResolve.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "Host/StringList.h"
#include "Host/SysUtils.h"
#include "Platform/Winsock.h"
#include "WSocket/SocketException.h"
#include "WSocket/WinsockStartup.h"

namespace {

// Names were handed to the resolver in a 257-byte buffer; longer ones are refused rather
// than cut.
constexpr std::size_t MaxHostTextLength = 256;

// Created with the unit, freed at its end.
TStringList LocalIPListObject;

}  // namespace

int SockAddrLen(const TSockAddr& Addr) {
  return Addr.Any.sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

std::string SockAddrText(const TSockAddr& Addr) {
  if (Addr.Any.sa_family != AF_INET6) return plat::inet_ntoa(Addr.In.sin_addr);
  char text[INET6_ADDRSTRLEN] = {};
  inet_ntop(AF_INET6, &Addr.In6.sin6_addr, text, sizeof text);
  return text;
}

bool ParseIPv6Literal(const std::string& Text, TSockAddr& Addr) {
  std::string t = Text;
  if (t.size() > 2 && t.front() == '[' && t.back() == ']') t = t.substr(1, t.size() - 2);
  in6_addr a{};
  // inet_pton refuses a zone ("%eth0") and anything else but the address.
  if (t.find(':') == std::string::npos || inet_pton(AF_INET6, t.c_str(), &a) != 1) return false;
  const std::uint16_t port = Addr.In.sin_port;
  Addr = TSockAddr{};
  Addr.In6.sin6_family = AF_INET6;
  Addr.In6.sin6_port = port;
  Addr.In6.sin6_addr = a;
  return true;
}

std::vector<TSockAddr> EntryAddresses(const hostent& HostEntry) {
  std::vector<TSockAddr> v6, v4;
  if (HostEntry.h_addr_list == nullptr) return v4;
  for (char** p = HostEntry.h_addr_list; *p != nullptr; ++p) {
    TSockAddr a{};
    in6_addr in6{};
    if (HostEntry.h_addrtype == AF_INET6) std::memcpy(&in6, *p, sizeof in6);
    if (HostEntry.h_addrtype != AF_INET6 || IN6_IS_ADDR_V4MAPPED(&in6)) {
      a.In.sin_family = AF_INET;
      std::memcpy(&a.In.sin_addr, HostEntry.h_addrtype == AF_INET6 ? *p + 12 : *p, 4);
      v4.push_back(a);
    } else {
      a.In6.sin6_family = AF_INET6;
      a.In6.sin6_addr = in6;
      v6.push_back(a);
    }
  }
  std::vector<TSockAddr> all;
  for (std::size_t i = 0; i < std::max(v6.size(), v4.size()); ++i) {
    if (i < v6.size()) all.push_back(v6[i]);
    if (i < v4.size()) all.push_back(v4[i]);
  }
  return all;
}

void FillAddressList(const hostent& HostEntry, TStringList& ToList) {
  for (const TSockAddr& a : EntryAddresses(HostEntry)) ToList.Add(SockAddrText(a));
}

namespace {

// The dotted address (or the broadcast address) that trimmed Text is, after the checks
// every resolution makes; false for a name. Raises for text holding a zero byte.
bool DottedAddress(const std::string& Text, in_addr& Out) {
  EnsureWinsockStarted();
  // The resolver takes names as C strings: the part after a zero byte would be ignored.
  if (Text.find('\0') != std::string::npos)
    throw ESocketException("SetAddr: Cannot convert host address (it contains a zero byte)");
  Out.s_addr = plat::inet_addr(Text.c_str());
  return Out.s_addr != INADDR_NONE || Text == "255.255.255.255";
}

// The resolver's entry for a name, nullptr when it has none (or the text is too long).
template <class Lookup>
const hostent* NameEntry(const std::string& Text, Lookup lookup) {
  return Text.size() > MaxHostTextLength ? nullptr : lookup(Text.c_str());
}

}  // namespace

in_addr WSocketResolveHost(const std::string& InAddr) {
  const std::string text = Trim(InAddr);
  in_addr result{};
  if (DottedAddress(text, result)) return result;
  const hostent* entry = NameEntry(text, plat::gethostbyname);
  if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr)
    throw ESocketException("SetAddr: Cannot convert host address '%s'", {InAddr});
  std::memcpy(&result, entry->h_addr_list[0], sizeof result);
  return result;
}

std::vector<TSockAddr> WSocketResolveHostAll(const std::string& InAddr) {
  const std::string text = Trim(InAddr);
  TSockAddr one{};
  if (ParseIPv6Literal(text, one)) return {one};
  one.In.sin_family = AF_INET;
  if (DottedAddress(text, one.In.sin_addr)) return {one};
  const hostent* entry = NameEntry(text, plat::gethostbyname6);
  const std::vector<TSockAddr> all = entry ? EntryAddresses(*entry) : std::vector<TSockAddr>();
  if (all.empty()) throw ESocketException("SetAddr: Cannot convert host address '%s'", {InAddr});
  return all;
}

hostent* WSocketGetHostByName(const std::string& Name) {
  EnsureWinsockStarted();
  if (Name.find('\0') != std::string::npos) {
    plat::WSASetLastError(plat::WSAEINVAL);
    return nullptr;
  }
  if (Name.size() > MaxHostTextLength) {
    plat::WSASetLastError(plat::WSAENAMETOOLONG);
    return nullptr;
  }
  return plat::gethostbyname(Name.c_str());
}

hostent* WSocketGetHostByAddr(const std::string& Addr) {
  EnsureWinsockStarted();
  if (Addr.find('\0') != std::string::npos) {
    plat::WSASetLastError(plat::WSAEINVAL);
    return nullptr;
  }
  if (Addr.size() > MaxHostTextLength) {
    plat::WSASetLastError(plat::WSAENAMETOOLONG);
    return nullptr;
  }
  const std::uint32_t a = plat::inet_addr(Addr.c_str());
  return plat::gethostbyaddr(reinterpret_cast<const char*>(&a), sizeof a, AF_INET);
}

std::string LocalHostName() {
  EnsureWinsockStarted();
  char buffer[64] = {};
  if (plat::gethostname(buffer, sizeof buffer) != 0)
    throw ESocketException("Winsock.GetHostName failed");
  return std::string(buffer, strnlen(buffer, sizeof buffer));
}

TStringList* LocalIPList() {
  LocalIPListObject.Clear();
  const std::string name = LocalHostName();
  if (const hostent* entry = WSocketGetHostByName(name)) FillAddressList(*entry, LocalIPListObject);
  return &LocalIPListObject;
}
