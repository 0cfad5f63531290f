// Notifications of stream sockets against the kernel over loopback.
#include <fcntl.h>

#include <atomic>
#include <csignal>
#include <mutex>
#include <string>

#include "Platform/SocketTable.h"
#include "WinsockTestSupport.h"

namespace wstest {
namespace {

using plat::FD_ACCEPT;
using plat::FD_CLOSE;
using plat::FD_CONNECT;
using plat::FD_OOB;
using plat::FD_READ;
using plat::FD_WRITE;
using Events = std::vector<std::pair<int, int>>;

class SelectTest : public WinsockTest {};

TEST_F(SelectTest, ConnectPostsConnectThenWriteAndNothingElse) {
  int peer = -1;
  const plat::SOCKET s = ConnectedPair(&peer);
  PumpFor(50);
  EXPECT_EQ(EventsOf(s), (Events{{FD_CONNECT, 0}, {FD_WRITE, 0}}));
  ::close(peer);
}

TEST_F(SelectTest, RefusedConnectPostsOnlyConnectWithTheError) {
  std::uint16_t port = 0;
  const int held = RefusingPort(&port);
  const plat::SOCKET s = NewSelected();
  const sockaddr_in a = Loopback(port);
  const int r = plat::connect(s, Sa(a), sizeof a);
  ASSERT_EQ(r, plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEWOULDBLOCK);
  ASSERT_TRUE(PumpUntil([&] { return Has(s, FD_CONNECT); }));
  PumpFor(50);
  EXPECT_EQ(EventsOf(s), (Events{{FD_CONNECT, plat::WSAECONNREFUSED}}));
  ::close(held);
}

TEST_F(SelectTest, ConnectOutcomeIsNeverPostedFromInsideConnect) {
  std::uint16_t port = 0;
  const int listener = RawListener(&port);
  const plat::SOCKET s = NewSelected();
  const sockaddr_in a = Loopback(port);
  plat::connect(s, Sa(a), sizeof a);
  // Nothing reaches the window before the loop runs; the first message is FD_CONNECT.
  EXPECT_TRUE(Log().empty());
  ASSERT_TRUE(PumpUntil([&] { return !EventsOf(s).empty(); }));
  EXPECT_EQ(EventsOf(s).front().first, FD_CONNECT);
  ::close(listener);
}

TEST_F(SelectTest, SecondPendingConnectionWaitsForAcceptAndAcceptedSocketInherits) {
  const plat::SOCKET ls = plat::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(0);
  ASSERT_EQ(plat::bind(ls, Sa(a), sizeof a), 0);
  ASSERT_EQ(plat::listen(ls, 5), 0);
  ASSERT_EQ(plat::WSAAsyncSelect(ls, Wnd(), kSelectMsg, FD_ACCEPT | FD_READ | FD_WRITE | FD_CLOSE),
            0);
  int len = sizeof a;
  ASSERT_EQ(plat::getsockname(ls, reinterpret_cast<sockaddr*>(&a), &len), 0);
  const std::uint16_t port = ntohs(a.sin_port);

  const int c1 = RawConnect(port);
  const int c2 = RawConnect(port);
  ASSERT_TRUE(PumpUntil([&] { return Has(ls, FD_ACCEPT); }));
  PumpFor(50);
  EXPECT_EQ(CountOf(ls, FD_ACCEPT), 1) << "no second FD_ACCEPT before accept";

  sockaddr_in peer{};
  int plen = sizeof peer;
  const plat::SOCKET a1 = plat::accept(ls, reinterpret_cast<sockaddr*>(&peer), &plen);
  ASSERT_NE(a1, plat::INVALID_SOCKET);
  EXPECT_EQ(plen, static_cast<int>(sizeof(sockaddr_in)));
  EXPECT_EQ(peer.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
  // The second connection is still waiting: announced again at once.
  ASSERT_TRUE(PumpUntil([&] { return CountOf(ls, FD_ACCEPT) == 2; }));
  // The accepted socket inherits window, message and mask: it gets its FD_WRITE ...
  ASSERT_TRUE(PumpUntil([&] { return Has(a1, FD_WRITE); }));
  // ... and FD_READ, which is in the inherited mask.
  ASSERT_EQ(::send(c1, "x", 1, 0), 1);
  ASSERT_TRUE(PumpUntil([&] { return Has(a1, FD_READ); }));
  EXPECT_FALSE(Has(a1, FD_CONNECT));

  const plat::SOCKET a2 = plat::accept(ls, nullptr, nullptr);
  ASSERT_NE(a2, plat::INVALID_SOCKET);
  EXPECT_NE(a1, a2);
  PumpFor(30);
  EXPECT_EQ(CountOf(ls, FD_ACCEPT), 2);
  // With the backlog empty, accept fails with would-block and re-arms.
  EXPECT_EQ(plat::accept(ls, nullptr, nullptr), plat::INVALID_SOCKET);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEWOULDBLOCK);
  const int c3 = RawConnect(port);
  ASSERT_TRUE(PumpUntil([&] { return CountOf(ls, FD_ACCEPT) == 3; }));
  ::close(c1);
  ::close(c2);
  ::close(c3);
}

TEST_F(SelectTest, TwoSendsWithoutRecvGiveOneRead) {
  int peer = -1;
  const plat::SOCKET s = ConnectedPair(&peer);
  ASSERT_EQ(::send(peer, "abc", 3, 0), 3);
  ASSERT_TRUE(PumpUntil([&] { return Has(s, FD_READ); }));
  ASSERT_EQ(::send(peer, "def", 3, 0), 3);
  PumpFor(50);
  EXPECT_EQ(CountOf(s, FD_READ), 1);
  char buf[16];
  EXPECT_EQ(plat::recv(s, buf, sizeof buf, 0), 6);
  PumpFor(30);
  EXPECT_EQ(CountOf(s, FD_READ), 1) << "nothing left: re-armed, not re-posted";
  ASSERT_EQ(::send(peer, "g", 1, 0), 1);
  ASSERT_TRUE(PumpUntil([&] { return CountOf(s, FD_READ) == 2; }));
  ::close(peer);
}

TEST_F(SelectTest, PartialOrFailingRecvRepostsButIoctlDoesNot) {
  int peer = -1;
  const plat::SOCKET s = ConnectedPair(&peer);
  ASSERT_EQ(::send(peer, "0123456789", 10, 0), 10);
  ASSERT_TRUE(PumpUntil([&] { return Has(s, FD_READ); }));

  plat::u_long waiting = 0;
  ASSERT_EQ(plat::ioctlsocket(s, plat::FIONREAD, &waiting), 0);
  EXPECT_EQ(waiting, 10u);
  PumpFor(30);
  EXPECT_EQ(CountOf(s, FD_READ), 1) << "FIONREAD re-enables nothing";

  char buf[4];
  EXPECT_EQ(plat::recv(s, buf, 4, 0), 4);
  ASSERT_TRUE(PumpUntil([&] { return CountOf(s, FD_READ) == 2; })) << "data left: posted again";

  EXPECT_EQ(plat::recv(s, buf, 4, MSG_PEEK), 4);
  ASSERT_TRUE(PumpUntil([&] { return CountOf(s, FD_READ) == 3; })) << "a peek re-enables too";

  EXPECT_EQ(plat::recv(s, nullptr, 4, 0), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEFAULT);
  ASSERT_TRUE(PumpUntil([&] { return CountOf(s, FD_READ) == 4; })) << "a failing recv too";

  char rest[16];
  EXPECT_EQ(plat::recv(s, rest, sizeof rest, 0), 6);
  // A handler that reads again finds nothing: would-block, and no new FD_READ.
  EXPECT_EQ(plat::recv(s, rest, sizeof rest, 0), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEWOULDBLOCK);
  PumpFor(30);
  EXPECT_EQ(CountOf(s, FD_READ), 4);
  ::close(peer);
}

// A reader that takes a little at a time without running the queue in between (a line
// reader in a wait of its own) used to queue one FD_READ per receive: 20,000 of them
// for 20,000 small reads. One undelivered FD_READ at most: once it has been delivered,
// the next receive that leaves data posts the next.
TEST_F(SelectTest, ManySmallReadsQueueOneReadNotification) {
  int peer = -1;
  const plat::SOCKET s = ConnectedPair(&peer);
  const std::string data(2000, 'r');
  ASSERT_EQ(::send(peer, data.data(), data.size(), 0), static_cast<ssize_t>(data.size()));
  ASSERT_TRUE(PumpUntil([&] { return Has(s, FD_READ); }));
  char buf[2];
  for (int i = 0; i < 500; ++i) ASSERT_EQ(plat::recv(s, buf, sizeof buf, 0), 2);
  PumpFor(50);
  EXPECT_EQ(CountOf(s, FD_READ), 2) << "one delivered before the reads, one queued by them";
  EXPECT_EQ(plat::recv(s, buf, sizeof buf, 0), 2);
  ASSERT_TRUE(PumpUntil([&] { return CountOf(s, FD_READ) == 3; }));
  PumpFor(30);
  EXPECT_EQ(CountOf(s, FD_READ), 3);
  ::close(peer);
}

// sendv hands the pieces over in order as one send; its arguments are checked like
// send's, and a datagram socket sends them as one datagram.
TEST_F(SelectTest, GatherSendKeepsOrderAndChecksItsPieces) {
  int peer = -1;
  const plat::SOCKET s = ConnectedPair(&peer);
  char a[] = "first-", b[] = "second-", c[] = "third";
  const iovec pieces[] = {{a, 6}, {b, 0}, {b, 7}, {c, 5}};
  EXPECT_EQ(plat::sendv(s, pieces, 4, 0), 18);
  EXPECT_EQ(RawRead(peer), "first-second-third");
  const iovec null[] = {{nullptr, 3}};
  EXPECT_EQ(plat::sendv(s, null, 1, 0), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEFAULT);
  EXPECT_EQ(plat::sendv(s, pieces, plat::kMaxSendPieces + 1, 0), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEINVAL);
  EXPECT_EQ(plat::sendv(s, nullptr, 0, 0), 0);
  EXPECT_EQ(plat::sendv(plat::INVALID_SOCKET, pieces, 1, 0), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAENOTSOCK);

  // Until the peer reads, the system's buffer fills: the part taken counts as a send
  // that would block, and FD_WRITE follows once the peer has drained it.
  ASSERT_TRUE(PumpUntil([&] { return Has(s, FD_WRITE); }));
  const int before = CountOf(s, FD_WRITE);
  std::vector<char> big(1 << 20, 'z');
  std::vector<iovec> many;
  for (int i = 0; i < 16; ++i) many.push_back({big.data(), big.size()});
  long long taken = 0;
  for (int i = 0; i < 64; ++i) {
    const int n = plat::sendv(s, many.data(), static_cast<int>(many.size()), 0);
    if (n < 0) {
      EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEWOULDBLOCK);
      break;
    }
    taken += n;
    if (n < static_cast<int>(16 * big.size())) break;
  }
  EXPECT_GT(taken, 0);
  PumpFor(30);
  EXPECT_EQ(CountOf(s, FD_WRITE), before);
  RawDrain drain(peer, static_cast<int>(taken));
  ASSERT_TRUE(PumpUntil([&] { return CountOf(s, FD_WRITE) == before + 1; }));
  drain.Stop();
  ::close(peer);

  const plat::SOCKET d = plat::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  const int receiver = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in to = Loopback(0);
  socklen_t len = sizeof to;
  ASSERT_EQ(::bind(receiver, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  ASSERT_EQ(::getsockname(receiver, reinterpret_cast<sockaddr*>(&to), &len), 0);
  ASSERT_EQ(plat::connect(d, Sa(to), sizeof to), 0);
  EXPECT_EQ(plat::sendv(d, pieces, 4, 0), 18);
  char dgram[64];
  EXPECT_EQ(::recv(receiver, dgram, sizeof dgram, 0), 18);
  plat::closesocket(d);
  ::close(receiver);
}

TEST_F(SelectTest, WriteComesOnlyAfterWouldBlockAndThePeerDraining) {
  int peer = -1;
  const plat::SOCKET s = ConnectedPair(&peer);
  ASSERT_TRUE(PumpUntil([&] { return Has(s, FD_WRITE); }));
  // Successful sends never post FD_WRITE.
  ASSERT_EQ(plat::send(s, "hello", 5, 0), 5);
  PumpFor(30);
  EXPECT_EQ(CountOf(s, FD_WRITE), 1);

  std::string chunk(65536, 'x');
  int sent = 0;
  bool blocked = false;
  for (int i = 0; i < 1000 && !blocked; ++i) {
    const int n = plat::send(s, chunk.data(), static_cast<int>(chunk.size()), 0);
    if (n == plat::SOCKET_ERROR) {
      ASSERT_EQ(plat::WSAGetLastError(), plat::WSAEWOULDBLOCK);
      blocked = true;
    } else {
      sent += n;
    }
  }
  ASSERT_TRUE(blocked);
  PumpFor(50);
  EXPECT_EQ(CountOf(s, FD_WRITE), 1) << "no FD_WRITE while the peer reads nothing";

  // The peer drains until it has everything or its time is up.
  RawDrain drain(peer, sent + 5);
  const bool wrote = PumpUntil([&] { return CountOf(s, FD_WRITE) == 2; });
  drain.Stop();
  EXPECT_TRUE(wrote);
  PumpFor(30);
  EXPECT_EQ(CountOf(s, FD_WRITE), 2);
  ::close(peer);
}

TEST_F(SelectTest, PartialSendAlsoEarnsAWriteOnceSpaceReturns) {
  int peer = -1;
  const plat::SOCKET s = ConnectedPair(&peer);
  ASSERT_TRUE(PumpUntil([&] { return Has(s, FD_WRITE); }));
  // More than the kernel's buffers hold: taken in part, without a would-block.
  const std::string big(64 << 20, 'p');
  const int n = plat::send(s, big.data(), static_cast<int>(big.size()), 0);
  ASSERT_GT(n, 0);
  ASSERT_LT(n, static_cast<int>(big.size()));
  RawDrain drain(peer, n);
  const bool wrote = PumpUntil([&] { return CountOf(s, FD_WRITE) == 2; });
  drain.Stop();
  EXPECT_TRUE(wrote) << "a sender waiting for FD_WRITE after a partial send would stall";
  ::close(peer);
}

TEST_F(SelectTest, NotificationsFollowTheWindowToItsThread) {
  std::mutex mu;
  std::vector<Note> seen;
  std::atomic<plat::HWND> wnd{0};
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    RecordingWindow w;
    wnd = w.Handle();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!stop && std::chrono::steady_clock::now() < deadline) {
      PumpOnce();
      {
        std::lock_guard lock(mu);
        seen.insert(seen.end(), Log().begin(), Log().end());
      }
      Log().clear();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  auto count = [&](plat::SOCKET sock, long ev) {
    std::lock_guard lock(mu);
    int c = 0;
    for (const Note& n : seen) c += n.wParam == sock && plat::LOWORD(n.lParam) == ev ? 1 : 0;
    return c;
  };
  auto waitFor = [&](auto pred) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  };
  ASSERT_TRUE(waitFor([&] { return wnd.load() != 0; }));

  // Created and connected here, where nobody pumps; selected for the worker's window.
  std::uint16_t port = 0;
  const int listener = RawListener(&port);
  const plat::SOCKET s = plat::socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in a = Loopback(port);
  plat::connect(s, Sa(a), sizeof a);
  const int peer = RawAccept(listener);
  ASSERT_GE(peer, 0);
  ASSERT_EQ(plat::WSAAsyncSelect(s, wnd, kSelectMsg, kAllEvents), 0);
  EXPECT_TRUE(waitFor([&] { return count(s, FD_CONNECT) == 1 && count(s, FD_WRITE) == 1; }));
  ASSERT_EQ(::send(peer, "abc", 3, 0), 3);
  EXPECT_TRUE(waitFor([&] { return count(s, FD_READ) == 1; }));
  char buf[8];
  EXPECT_EQ(plat::recv(s, buf, sizeof buf, 0), 3);  // re-enables from this thread
  ASSERT_EQ(::send(peer, "d", 1, 0), 1);
  EXPECT_TRUE(waitFor([&] { return count(s, FD_READ) == 2; }));
  ::close(peer);
  EXPECT_TRUE(waitFor([&] { return count(s, FD_CLOSE) == 1; }));
  EXPECT_EQ(plat::closesocket(s), 0);
  stop = true;
  worker.join();
  ::close(listener);
  EXPECT_EQ(Log().size(), 0u) << "nothing reached this thread's queue";
}

TEST_F(SelectTest, GracefulCloseWithUnreadDataReadsBeforeCloseAndKeepsTheData) {
  int peer = -1;
  const plat::SOCKET s = ConnectedPair(&peer);
  ASSERT_EQ(::send(peer, "0123456789", 10, 0), 10);
  ::shutdown(peer, SHUT_WR);
  ASSERT_TRUE(PumpUntil([&] { return Has(s, FD_CLOSE); }));
  Events ev = EventsOf(s);
  ASSERT_GE(ev.size(), 4u);
  EXPECT_EQ(ev[2], (std::pair<int, int>{FD_READ, 0}));
  EXPECT_EQ(ev[3], (std::pair<int, int>{FD_CLOSE, 0}));

  char buf[4];
  EXPECT_EQ(plat::recv(s, buf, 4, 0), 4);
  EXPECT_EQ(std::string(buf, 4), "0123");
  EXPECT_EQ(plat::recv(s, buf, 4, 0), 4);
  EXPECT_EQ(plat::recv(s, buf, 4, 0), 2);
  EXPECT_EQ(std::string(buf, 2), "89");
  EXPECT_EQ(plat::recv(s, buf, 4, 0), 0);
  PumpFor(50);
  EXPECT_EQ(CountOf(s, FD_CLOSE), 1);
  ::close(peer);
}

TEST_F(SelectTest, PeerShutdownOfSendingGivesCloseButLocalShutdownGivesNothing) {
  int peer = -1;
  const plat::SOCKET s = ConnectedPair(&peer);
  ASSERT_EQ(plat::shutdown(s, plat::SD_BOTH), 0);
  PumpFor(50);
  EXPECT_FALSE(Has(s, FD_CLOSE));
  EXPECT_FALSE(Has(s, FD_READ));
  ::close(peer);

  int peer2 = -1;
  const plat::SOCKET s2 = ConnectedPair(&peer2);
  ::shutdown(peer2, SHUT_WR);
  ASSERT_TRUE(PumpUntil([&] { return Has(s2, FD_CLOSE); }));
  EXPECT_EQ(EventsOf(s2).back(), (std::pair<int, int>{FD_CLOSE, 0}));
  ::close(peer2);
}

TEST_F(SelectTest, ResetGivesCloseWithAnErrorAndSendingThenDoesNotKillTheProcess) {
  int peer = -1;
  const plat::SOCKET s = ConnectedPair(&peer);
  RawAbort(peer);
  ASSERT_TRUE(PumpUntil([&] { return Has(s, FD_CLOSE); }));
  const int err = EventsOf(s).back().second;
  EXPECT_TRUE(err == plat::WSAECONNRESET || err == plat::WSAECONNABORTED) << err;

  // No SIGPIPE: every send fails with an error instead.
  int failures = 0;
  for (int i = 0; i < 5; ++i) {
    if (plat::send(s, "data", 4, 0) == plat::SOCKET_ERROR) {
      ++failures;
      const int e = plat::WSAGetLastError();
      EXPECT_TRUE(e == plat::WSAECONNRESET || e == plat::WSAECONNABORTED) << e;
    }
  }
  EXPECT_GT(failures, 0);
  PumpFor(30);
  EXPECT_EQ(CountOf(s, FD_CLOSE), 1);
}

TEST_F(SelectTest, ReselectRepostsCurrentConditionsAndMaskZeroStopsPosting) {
  int peer = -1;
  const plat::SOCKET s = ConnectedPair(&peer);
  ASSERT_EQ(::send(peer, "abc", 3, 0), 3);
  ASSERT_TRUE(PumpUntil([&] { return Has(s, FD_READ); }));
  Log().clear();

  ASSERT_EQ(plat::WSAAsyncSelect(s, Wnd(), kSelectMsg, kAllEvents), 0);
  PumpFor(30);
  // Unread data and a writable socket; the connect is not announced again.
  EXPECT_EQ(EventsOf(s), (Events{{FD_READ, 0}, {FD_WRITE, 0}}));

  Log().clear();
  ASSERT_EQ(plat::WSAAsyncSelect(s, Wnd(), 0, 0), 0);
  char buf[8];
  EXPECT_EQ(plat::recv(s, buf, sizeof buf, 0), 3);
  ASSERT_EQ(::send(peer, "more", 4, 0), 4);
  ::close(peer);
  PumpFor(50);
  EXPECT_TRUE(Log().empty());

  // Selecting again announces what is true now: data, then the close.
  ASSERT_EQ(plat::WSAAsyncSelect(s, Wnd(), kSelectMsg, FD_READ | FD_CLOSE), 0);
  PumpFor(30);
  EXPECT_EQ(EventsOf(s), (Events{{FD_READ, 0}, {FD_CLOSE, 0}}));
}

TEST_F(SelectTest, SeveralDueEventsArriveInThePlatformOrder) {
  // The peer sends data, out-of-band data and its FIN before we select.
  int peer = -1;
  const plat::SOCKET s = ConnectedPair(&peer, 0);
  ASSERT_EQ(::send(peer, "data", 4, 0), 4);
  ASSERT_EQ(::send(peer, "!", 1, MSG_OOB), 1);
  ::shutdown(peer, SHUT_WR);
  PumpFor(30);
  EXPECT_TRUE(Log().empty());
  ASSERT_EQ(plat::WSAAsyncSelect(s, Wnd(), kSelectMsg, kAllEvents), 0);
  PumpFor(30);
  EXPECT_EQ(EventsOf(s), (Events{{FD_OOB, 0}, {FD_READ, 0}, {FD_WRITE, 0}, {FD_CLOSE, 0}}));
  char c = 0;
  EXPECT_EQ(plat::recv(s, &c, 1, MSG_OOB), 1);
  EXPECT_EQ(c, '!');
  ::close(peer);
}

TEST_F(SelectTest, AfterLocalCloseQueuedMessagesSurviveAndNoCloseComes) {
  int peer = -1;
  const plat::SOCKET s = ConnectedPair(&peer);
  PumpFor(20);
  Log().clear();
  ASSERT_EQ(::send(peer, "abc", 3, 0), 3);
  // The reactor queues the FD_READ; it stays undispatched while the socket closes.
  ASSERT_TRUE(WaitQueued(kSelectMsg));
  ASSERT_EQ(plat::closesocket(s), 0);
  ::close(peer);
  PumpFor(50);
  EXPECT_EQ(CountOf(s, FD_READ), 1);
  EXPECT_FALSE(Has(s, FD_CLOSE));
  // The handle is dead now.
  char buf[4];
  EXPECT_EQ(plat::recv(s, buf, sizeof buf, 0), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAENOTSOCK);
}

TEST_F(SelectTest, ANewSocketOnAReusedDescriptorGetsNoStaleEvents) {
  int peer = -1;
  const plat::SOCKET s1 = ConnectedPair(&peer);
  PumpFor(20);
  Log().clear();
  ASSERT_EQ(::send(peer, "abc", 3, 0), 3);
  ::shutdown(peer, SHUT_WR);
  int fd1;
  {
    std::lock_guard lock(plat::sockimpl::Mutex());
    fd1 = plat::sockimpl::Table().Find(s1)->fd;
  }
  // Readiness is pending in the kernel, not yet harvested; close and reuse at once.
  ASSERT_EQ(plat::closesocket(s1), 0);
  // The kernel gives out the lowest free number: open sockets until it is fd1 again.
  plat::SOCKET s2 = plat::INVALID_SOCKET;
  std::vector<plat::SOCKET> others;
  for (int i = 0; i < 32 && s2 == plat::INVALID_SOCKET; ++i) {
    const plat::SOCKET t = plat::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(t, plat::INVALID_SOCKET);
    std::lock_guard lock(plat::sockimpl::Mutex());
    if (plat::sockimpl::Table().Find(t)->fd == fd1) {
      s2 = t;
    } else {
      others.push_back(t);
    }
  }
  ASSERT_NE(s2, plat::INVALID_SOCKET) << "the kernel reused the descriptor";
  EXPECT_NE(s1, s2) << "a handle is never reused as it was";
  ASSERT_EQ(plat::WSAAsyncSelect(s2, Wnd(), kSelectMsg, kAllEvents), 0);
  PumpFor(50);
  EXPECT_TRUE(EventsOf(s1).empty());
  EXPECT_TRUE(EventsOf(s2).empty());
  for (const plat::SOCKET t : others) plat::closesocket(t);
  ::close(peer);
}

TEST_F(SelectTest, WakeUpsStayBoundedWhileAnEventIsOutstandingAndAfterEof) {
  int peer = -1;
  const plat::SOCKET s = ConnectedPair(&peer);
  ASSERT_EQ(::send(peer, "abc", 3, 0), 3);
  ASSERT_TRUE(PumpUntil([&] { return Has(s, FD_READ); }));
  std::uint64_t before = plat::sockimpl::IoHandlerCalls();
  PumpFor(100);  // FD_READ outstanding, data unread
  EXPECT_LE(plat::sockimpl::IoHandlerCalls() - before, 3u);

  ::shutdown(peer, SHUT_WR);
  ASSERT_TRUE(PumpUntil([&] { return Has(s, FD_CLOSE); }));
  before = plat::sockimpl::IoHandlerCalls();
  PumpFor(100);  // end-of-file seen, data still unread
  EXPECT_LE(plat::sockimpl::IoHandlerCalls() - before, 3u);

  ::close(peer);  // the connection is gone altogether
  PumpFor(30);
  before = plat::sockimpl::IoHandlerCalls();
  PumpFor(100);
  EXPECT_LE(plat::sockimpl::IoHandlerCalls() - before, 3u);
}

TEST_F(SelectTest, DestroyedWindowStopsNotifications) {
  RecordingWindow other;
  int peer = -1;
  const plat::SOCKET s = ConnectedPair(&peer);
  ASSERT_EQ(plat::WSAAsyncSelect(s, other.Handle(), kSelectMsg, FD_READ | FD_CLOSE), 0);
  other.Destroy();
  ASSERT_EQ(::send(peer, "abc", 3, 0), 3);
  ::close(peer);
  const std::uint64_t before = plat::sockimpl::IoHandlerCalls();
  PumpFor(100);
  EXPECT_LE(plat::sockimpl::IoHandlerCalls() - before, 3u);
  EXPECT_EQ(plat::closesocket(s), 0);
}

}  // namespace
}  // namespace wstest
