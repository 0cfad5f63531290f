// Shared helpers of the socket-layer tests: the recording window and the pump of the
// tests, and plain kernel sockets as peers over 127.0.0.1.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "Platform/Messages.h"
#include "Platform/Winsock.h"
#include "support/Pump.h"
#include "support/RecordingWindow.h"

namespace wstest {

inline constexpr plat::UINT kSelectMsg = plat::WM_USER + 1;
inline constexpr plat::UINT kByNameMsg = plat::WM_USER + 2;
inline constexpr plat::UINT kByAddrMsg = plat::WM_USER + 3;
inline constexpr long kAllEvents = plat::FD_READ | plat::FD_WRITE | plat::FD_OOB | plat::FD_ACCEPT |
                                   plat::FD_CONNECT | plat::FD_CLOSE;

// What the recording windows of this thread received.
using Note = plat::MSG;
using testsupport::RecordingWindow;
inline std::vector<Note>& Log() {
  return testsupport::Recorded();
}

using testsupport::PumpFor;
using testsupport::PumpUntil;
// Dispatches what is queued now.
inline void PumpOnce() {
  testsupport::DispatchQueued();
}

// Waits until a message of that number is queued, without dispatching anything.
inline bool WaitQueued(plat::UINT msg, int ms = 2000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  plat::MSG m;
  while (!plat::PeekMessageA(&m, 0, msg, msg, plat::PM_NOREMOVE)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The socket events recorded for s, as (event, error), in arrival order.
inline std::vector<std::pair<int, int>> EventsOf(plat::SOCKET s) {
  std::vector<std::pair<int, int>> out;
  for (const Note& n : Log()) {
    if (n.message == kSelectMsg && n.wParam == s) {
      out.emplace_back(plat::LOWORD(n.lParam), plat::HIWORD(n.lParam));
    }
  }
  return out;
}

inline int CountOf(plat::SOCKET s, long ev) {
  int c = 0;
  for (const auto& [e, err] : EventsOf(s)) c += e == ev ? 1 : 0;
  return c;
}

inline bool Has(plat::SOCKET s, long ev) {
  return CountOf(s, ev) > 0;
}

inline sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

inline const sockaddr* Sa(const sockaddr_in& a) {
  return reinterpret_cast<const sockaddr*>(&a);
}

// A kernel TCP socket bound to a free port of 127.0.0.1 (blocking, for use as a test peer).
inline int BoundRaw(std::uint16_t* port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  *port = ntohs(a.sin_port);
  return fd;
}

// A kernel socket listening on 127.0.0.1.
inline int RawListener(std::uint16_t* port) {
  const int fd = BoundRaw(port);
  ::listen(fd, 16);
  return fd;
}

// Accepts on a raw listener, waiting at most 2 s; -1 on time-out.
inline int RawAccept(int listener) {
  pollfd p{listener, POLLIN, 0};
  if (::poll(&p, 1, 2000) <= 0) return -1;
  return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

inline int RawConnect(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Closes with a reset instead of a FIN.
inline void RawAbort(int fd) {
  linger l{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(fd);
}

// A TCP port on 127.0.0.1 that refuses connections: bound, never listening, and held
// (so nobody else can take it) until the descriptor is closed.
inline int RefusingPort(std::uint16_t* port) {
  return BoundRaw(port);
}

// A port on 127.0.0.1 where nothing listens (bound, never listening, then released).
inline std::uint16_t DeadPort() {
  std::uint16_t port = 0;
  const int fd = RawListener(&port);
  ::close(fd);
  return port;
}

// Reads what a raw peer has received, waiting up to ms for the first byte.
inline std::string RawRead(int fd, int ms = 2000) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, ms) <= 0) return {};
  char buf[65536];
  const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// Reads from a raw peer on a thread of its own until it has total bytes, the peer closes
// or Stop() is called (at the latest by the destructor).
class RawDrain {
 public:
  RawDrain(int fd, int total)
      : thread_([this, fd, total] {
          std::vector<char> buf(1 << 20);
          int got = 0;
          while (got < total && !stop_) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
            if (n <= 0) break;
            got += static_cast<int>(n);
          }
        }) {}
  ~RawDrain() { Stop(); }
  RawDrain(const RawDrain&) = delete;
  RawDrain& operator=(const RawDrain&) = delete;

  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};  // before thread_, which reads it from the start
  std::thread thread_;
};

// Start-up for the test, clean-up after it, and a recording window.
class WinsockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::WSADATA data;
    ASSERT_EQ(plat::WSAStartup(0x0101, &data), 0);
    Log().clear();
    ASSERT_NE(window_.Handle(), 0u);
  }
  void TearDown() override {
    plat::WSACleanup();
    PumpOnce();
    Log().clear();
  }

  plat::HWND Wnd() const { return window_.Handle(); }

  // An asynchronous socket of ours, selected with every event.
  plat::SOCKET NewSelected(int type = SOCK_STREAM, long mask = kAllEvents) {
    const plat::SOCKET s = plat::socket(AF_INET, type, 0);
    EXPECT_NE(s, plat::INVALID_SOCKET);
    EXPECT_EQ(plat::WSAAsyncSelect(s, Wnd(), kSelectMsg, mask), 0);
    return s;
  }

  // Connects one of our sockets to a raw peer; returns our socket, the peer in *peer.
  plat::SOCKET ConnectedPair(int* peer, long mask = kAllEvents) {
    std::uint16_t port = 0;
    const int listener = RawListener(&port);
    const plat::SOCKET s = NewSelected(SOCK_STREAM, mask);
    const sockaddr_in a = Loopback(port);
    const int r = plat::connect(s, Sa(a), sizeof a);
    EXPECT_TRUE(r == 0 || plat::WSAGetLastError() == plat::WSAEWOULDBLOCK);
    *peer = RawAccept(listener);
    ::close(listener);
    EXPECT_GE(*peer, 0);
    if (mask & plat::FD_CONNECT) {
      EXPECT_TRUE(PumpUntil([&] { return Has(s, plat::FD_CONNECT); }));
    }
    return s;
  }

  RecordingWindow window_;
};

}  // namespace wstest
