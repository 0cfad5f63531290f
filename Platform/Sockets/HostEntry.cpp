#include "Platform/Sockets/HostEntry.h"

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

Layout Compute(const resolver::HostInfo& info, const char* buf) {
  constexpr std::size_t kPtr = sizeof(char*);
  const auto base = reinterpret_cast<std::uintptr_t>(buf);
  Layout l;
  std::size_t off = sizeof(hostent);
  off += (kPtr - (base + off) % kPtr) % kPtr;  // align on the real address
  l.aliasArray = off;
  off += (info.aliases.size() + 1) * kPtr;
  l.addrArray = off;
  off += (info.addrs.size() + 1) * kPtr;
  l.addrs = off;
  off += info.addrs.size() * 4;
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

std::size_t PackedSize(const resolver::HostInfo& info, const char* buf) {
  return Compute(info, buf).total;
}

std::size_t Pack(const resolver::HostInfo& info, char* buf) {
  const Layout l = Compute(info, buf);
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
  h.h_addrtype = AF_INET;
  h.h_length = 4;
  h.h_addr_list = reinterpret_cast<char**>(buf + l.addrArray);
  for (std::size_t i = 0; i < info.aliases.size(); ++i) {
    PutPtr(buf + l.aliasArray + i * sizeof(char*), putString(info.aliases[i]));
  }
  PutPtr(buf + l.aliasArray + info.aliases.size() * sizeof(char*), nullptr);
  for (std::size_t i = 0; i < info.addrs.size(); ++i) {
    char* a = buf + l.addrs + i * 4;
    std::memcpy(a, &info.addrs[i], 4);
    PutPtr(buf + l.addrArray + i * sizeof(char*), a);
  }
  PutPtr(buf + l.addrArray + info.addrs.size() * sizeof(char*), nullptr);
  std::memcpy(buf, &h, sizeof h);
  return l.total;
}

hostent* ThreadEntry(const resolver::HostInfo& info) {
  struct Storage {
    hostent h{};
    std::vector<char> bytes;
  };
  thread_local Storage st;
  // Pointer-aligned storage so the packed record may be read in place.
  st.bytes.assign(PackedSize(info, nullptr) + sizeof(char*), 0);
  char* base = st.bytes.data();
  base += (sizeof(char*) - reinterpret_cast<std::uintptr_t>(base) % sizeof(char*)) % sizeof(char*);
  Pack(info, base);
  std::memcpy(&st.h, base, sizeof st.h);
  return &st.h;
}

}  // namespace plat::hostentry
