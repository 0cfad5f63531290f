// Look-ups that answer from a table while the object lives, so that a test does not depend
// on what the machine's resolver (its hosts file) says about a name or an address.
#pragma once

#include <arpa/inet.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

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

class ScopedForward {
 public:
  // Name -> its addresses, IPv4 and IPv6 texts in any mix (each family keeps its order);
  // any other name is not found.
  explicit ScopedForward(std::map<std::string, std::vector<std::string>> names) {
    plat::resolver::SetForward([names = std::move(names)](const std::string& name) {
      plat::resolver::HostInfo info;
      const auto it = names.find(name);
      if (it == names.end()) {
        info.error = plat::WSAHOST_NOT_FOUND;
        return info;
      }
      info.name = name;
      for (const std::string& text : it->second) {
        std::array<std::uint8_t, 16> a6;
        if (::inet_pton(AF_INET6, text.c_str(), a6.data()) == 1) {
          info.addrs6.push_back(a6);
        } else {
          info.addrs.push_back(::inet_addr(text.c_str()));
        }
      }
      return info;
    });
  }
  ~ScopedForward() { plat::resolver::SetForward(nullptr); }
  ScopedForward(const ScopedForward&) = delete;
  ScopedForward& operator=(const ScopedForward&) = delete;
};

}  // namespace testsupport
