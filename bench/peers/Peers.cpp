#include "Peers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace peers {

#ifdef ORV_BENCH_UV
Peer UvPeer();
#endif
#ifdef ORV_BENCH_ASIO
Peer AsioPeer();
#endif

std::vector<Peer> Available() {
  std::vector<Peer> v;
#ifdef ORV_BENCH_UV
  v.push_back(UvPeer());
#endif
#ifdef ORV_BENCH_ASIO
  v.push_back(AsioPeer());
#endif
  return v;
}

std::vector<std::string> Missing() {
  std::vector<std::string> v;
#ifndef ORV_BENCH_UV
  v.emplace_back("libuv peer not built (install libuv1-dev and reconfigure)");
#endif
#ifndef ORV_BENCH_ASIO
  v.emplace_back("Asio peer not built (install libasio-dev and reconfigure)");
#endif
  return v;
}

bool SetCongestion(int fd, const std::string& name) {
  if (name.empty()) return true;
  if (::setsockopt(fd, IPPROTO_TCP, TCP_CONGESTION, name.data(),
                   static_cast<socklen_t>(name.size())) == 0)
    return true;
  std::perror(("TCP_CONGESTION " + name).c_str());
  return false;
}

long VmRssKiB() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, "VmRSS:", 6) == 0) kib = std::strtol(line + 6, nullptr, 10);
  std::fclose(f);
  return kib;
}

}  // namespace peers
