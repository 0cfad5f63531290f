#include "WSocket/HostResolve.h"

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

void FillAddressList(const hostent& HostEntry, TStringList& ToList) {
  if (HostEntry.h_addr_list == nullptr) return;
  for (char** p = HostEntry.h_addr_list; *p != nullptr; ++p) {
    in_addr a{};
    std::memcpy(&a, *p, sizeof a);
    ToList.Add(plat::inet_ntoa(a));
  }
}

in_addr WSocketResolveHost(const std::string& InAddr) {
  const std::string text = Trim(InAddr);
  EnsureWinsockStarted();
  // The resolver takes names as C strings: the part after a zero byte would be ignored.
  if (text.find('\0') != std::string::npos)
    throw ESocketException("SetAddr: Cannot convert host address (it contains a zero byte)");
  in_addr result{};
  result.s_addr = plat::inet_addr(text.c_str());
  if (result.s_addr != INADDR_NONE) return result;
  if (text == "255.255.255.255") return result;
  const hostent* entry =
      text.size() > MaxHostTextLength ? nullptr : plat::gethostbyname(text.c_str());
  if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr)
    throw ESocketException("SetAddr: Cannot convert host address '%s'", {InAddr});
  std::memcpy(&result, entry->h_addr_list[0], sizeof result);
  return result;
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
