// Loopback ports for tests. A port found free may be taken by someone else before it is
// used; where that matters, hold the port with ReservedPort instead.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace testsupport {

// A port on 127.0.0.1 that nobody listens on as long as this object lives: it is bound
// to a socket that never listens, so a connection to it is refused.
class ReservedPort {
 public:
  explicit ReservedPort(int type = SOCK_STREAM) {
    FFd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (FFd < 0) return;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      ::close(FFd);
      FFd = -1;
      return;
    }
    FPort = ntohs(a.sin_port);
  }
  ~ReservedPort() { Release(); }
  ReservedPort(const ReservedPort&) = delete;
  ReservedPort& operator=(const ReservedPort&) = delete;

  // 0 when no port could be had.
  std::uint16_t Port() const { return FPort; }
  void Release() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
  }

 private:
  int FFd = -1;
  std::uint16_t FPort = 0;
};

// A port on 127.0.0.1 that was free a moment ago.
inline std::uint16_t FreePort(int type = SOCK_STREAM) {
  ReservedPort p(type);
  return p.Port();
}

}  // namespace testsupport
