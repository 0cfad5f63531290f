// The connect attempts to a host of several addresses, while they race (RFC 8305).
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <vector>

#include "Platform/Winsock.h"
#include "WSocket/HostResolve.h"

// What a stream connect selects.
inline constexpr long ConnectEvents =
    plat::FD_READ | plat::FD_WRITE | plat::FD_ACCEPT | plat::FD_CONNECT | plat::FD_CLOSE;

inline bool SetIntOption(plat::SOCKET s, int option, int value) {
  return plat::setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&value),
                          sizeof value) == 0;
}

// Closes a socket at once, resetting the connection instead of lingering over unsent data.
inline void CloseAtOnce(plat::SOCKET s) {
  const linger hard{1, 0};
  plat::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
  plat::closesocket(s);
}

// One connect under way, to one of the host's addresses.
struct TConnectAttempt {
  plat::SOCKET Handle;
  TSockAddr Addr;
};

struct TConnectRace {
  // A new attempt starts this long after the last one unless that one has failed already.
  static constexpr unsigned DelayMs = 250;
  static constexpr std::uintptr_t TimerId = 1;

  TConnectRace() = default;
  TConnectRace(const TConnectRace&) = delete;
  TConnectRace& operator=(const TConnectRace&) = delete;
  // Closes the attempts still running.
  ~TConnectRace();

  // The addresses not tried yet, in the order to try them.
  std::vector<TSockAddr> Waiting;
  // The attempts running besides the component's own socket, which is one of them.
  std::vector<TConnectAttempt> Others;
  // What the first attempt to fail reported, the outcome when all fail.
  std::uint16_t FirstError = 0;
};
