// Reverse look-ups that answer from a table while the object lives, so that a test does
// not depend on what the machine's resolver (its hosts file) says about an address.
#pragma once

#include <arpa/inet.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "Platform/Resolver.h"
#include "Platform/Winsock.h"

namespace testsupport {

class ScopedReverse {
 public:
  // Dotted address -> name; any other address is not found.
  explicit ScopedReverse(std::map<std::string, std::string> names) {
    std::map<std::uint32_t, std::string> byAddr;
    for (const auto& [dotted, name] : names) byAddr[::inet_addr(dotted.c_str())] = name;
    plat::resolver::SetReverse([byAddr = std::move(byAddr)](std::uint32_t addr) {
      plat::resolver::HostInfo info;
      const auto it = byAddr.find(addr);
      if (it == byAddr.end()) {
        info.error = plat::WSAHOST_NOT_FOUND;
        return info;
      }
      info.name = it->second;
      info.addrs = {addr};
      return info;
    });
  }
  ~ScopedReverse() { plat::resolver::SetReverse(nullptr); }
  ScopedReverse(const ScopedReverse&) = delete;
  ScopedReverse& operator=(const ScopedReverse&) = delete;
};

}  // namespace testsupport
