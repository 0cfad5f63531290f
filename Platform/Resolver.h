// Name resolution behind the socket layer's look-ups, replaceable so that tests decide
// what a name resolves to and when the answer comes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace plat::resolver {

struct HostInfo {
  int error = 0;  // 0, or a socket error number (WSAHOST_NOT_FOUND...)
  std::string name;
  std::vector<std::string> aliases;
  std::vector<std::uint32_t> addrs;                  // IPv4, network byte order
  std::vector<std::array<std::uint8_t, 16>> addrs6;  // IPv6, in the resolver's order
};

using ForwardFn = std::function<HostInfo(const std::string& name)>;
using ReverseFn = std::function<HostInfo(std::uint32_t addrNetOrder)>;

// Replace the functions used by the blocking and the asynchronous look-ups; an empty
// function restores the default. Safe from any thread; look-ups already running keep
// the function they started with.
void SetForward(ForwardFn fn);
void SetReverse(ReverseFn fn);

// Through the current function.
HostInfo Forward(const std::string& name);
HostInfo Reverse(std::uint32_t addrNetOrder);

// The system's resolver: getaddrinfo (both families, canonical name) and getnameinfo (a
// name is required). Names in the reserved ".invalid" domain fail with WSAHOST_NOT_FOUND
// without asking anybody.
HostInfo SystemForward(const std::string& name);
HostInfo SystemReverse(std::uint32_t addrNetOrder);

// Runs jobs on a small pool of worker threads, started on first use.
void Submit(std::function<void()> job);

}  // namespace plat::resolver
