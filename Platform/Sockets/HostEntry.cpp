#include "Platform/Sockets/HostEntry.h"

#include "Platform/Winsock.h"

#include <sys/socket.h>

#include <cstring>
#include <string>
#include <vector>

namespace plat::hostentry {

namespace {

struct Layout {
  std::size_t aliasArray = 0;
  std::size_t addrArray = 0;
  std::size_t addrs = 0;
  std::size_t strings = 0;
  std::size_t total = 0;
};

// The addresses of the entry, one after the other.
std::vector<std::uint8_t> AddressBytes(const resolver::HostInfo& info, int family) {
  std::vector<std::uint8_t> out;
  if (family != AF_INET6) {
    for (const std::uint32_t a : info.addrs) {
      const auto* b = reinterpret_cast<const std::uint8_t*>(&a);
      out.insert(out.end(), b, b + 4);
    }
    return out;
  }
  for (const auto& a : info.addrs6) out.insert(out.end(), a.begin(), a.end());
  for (const std::uint32_t a : info.addrs) {
    static constexpr std::uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    const auto* b = reinterpret_cast<const std::uint8_t*>(&a);
    out.insert(out.end(), kMapped, kMapped + sizeof kMapped);
    out.insert(out.end(), b, b + 4);
  }
  return out;
}

int AddrSize(int family) {
  return family == AF_INET6 ? 16 : 4;
}

Layout Compute(const resolver::HostInfo& info, const char* buf, int family) {
  constexpr std::size_t kPtr = sizeof(char*);
  const auto base = reinterpret_cast<std::uintptr_t>(buf);
  Layout l;
  std::size_t off = sizeof(hostent);
  off += (kPtr - (base + off) % kPtr) % kPtr;  // align on the real address
  l.aliasArray = off;
  off += (info.aliases.size() + 1) * kPtr;
  l.addrArray = off;
  const std::size_t count =
      info.addrs.size() + (family == AF_INET6 ? info.addrs6.size() : std::size_t{0});
  off += (count + 1) * kPtr;
  l.addrs = off;
  off += count * static_cast<std::size_t>(AddrSize(family));
  l.strings = off;
  off += info.name.size() + 1;
  for (const std::string& a : info.aliases) off += a.size() + 1;
  l.total = off;
  return l;
}

void PutPtr(char* at, char* value) {
  std::memcpy(at, &value, sizeof value);
}

}  // namespace

int EntryError(const resolver::HostInfo& info, int family) {
  if (info.error != 0) return info.error;
  return family == AF_INET && info.addrs.empty() && !info.addrs6.empty() ? WSANO_DATA : 0;
}

std::size_t PackedSize(const resolver::HostInfo& info, const char* buf, int family) {
  return Compute(info, buf, family).total;
}

std::size_t Pack(const resolver::HostInfo& info, char* buf, int family) {
  const Layout l = Compute(info, buf, family);
  char* str = buf + l.strings;
  auto putString = [&str](const std::string& s) {
    char* start = str;
    std::memcpy(str, s.c_str(), s.size() + 1);
    str += s.size() + 1;
    return start;
  };
  hostent h{};
  h.h_name = putString(info.name);
  h.h_aliases = reinterpret_cast<char**>(buf + l.aliasArray);
  const int size = AddrSize(family);
  h.h_addrtype = family == AF_INET6 ? AF_INET6 : AF_INET;
  h.h_length = size;
  h.h_addr_list = reinterpret_cast<char**>(buf + l.addrArray);
  for (std::size_t i = 0; i < info.aliases.size(); ++i) {
    PutPtr(buf + l.aliasArray + i * sizeof(char*), putString(info.aliases[i]));
  }
  PutPtr(buf + l.aliasArray + info.aliases.size() * sizeof(char*), nullptr);
  const std::vector<std::uint8_t> bytes = AddressBytes(info, family);
  const std::size_t count = bytes.size() / static_cast<std::size_t>(size);
  if (!bytes.empty()) std::memcpy(buf + l.addrs, bytes.data(), bytes.size());
  for (std::size_t i = 0; i < count; ++i) {
    PutPtr(buf + l.addrArray + i * sizeof(char*), buf + l.addrs + i * size);
  }
  PutPtr(buf + l.addrArray + count * sizeof(char*), nullptr);
  std::memcpy(buf, &h, sizeof h);
  return l.total;
}

hostent* ThreadEntry(const resolver::HostInfo& info, int family) {
  struct Storage {
    hostent h{};
    std::vector<char> bytes;
  };
  thread_local Storage st;
  // Pointer-aligned storage so the packed record may be read in place.
  st.bytes.assign(PackedSize(info, nullptr, family) + sizeof(char*), 0);
  char* base = st.bytes.data();
  base += (sizeof(char*) - reinterpret_cast<std::uintptr_t>(base) % sizeof(char*)) % sizeof(char*);
  Pack(info, base, family);
  std::memcpy(&st.h, base, sizeof st.h);
  return &st.h;
}

}  // namespace plat::hostentry
