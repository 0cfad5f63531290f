// Start-up, the small calls, options and datagrams.
#include <string>

#include "Platform/SocketTable.h"
#include "WinsockTestSupport.h"

namespace wstest {
namespace {

using plat::FD_CLOSE;
using plat::FD_READ;
using plat::FD_WRITE;

TEST(WinsockStartup, CountedStartupAndCallsBeforeIt) {
  EXPECT_EQ(plat::socket(AF_INET, SOCK_STREAM, 0), plat::INVALID_SOCKET);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSANOTINITIALISED);
  EXPECT_EQ(plat::WSACleanup(), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSANOTINITIALISED);
  EXPECT_EQ(plat::getservbyname("http", "tcp"), nullptr);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSANOTINITIALISED);

  plat::WSADATA data;
  std::memset(&data, 0x55, sizeof data);
  ASSERT_EQ(plat::WSAStartup(0x0101, &data), 0);
  EXPECT_EQ(data.wVersion, 0x0101);
  EXPECT_EQ(data.wHighVersion, 0x0101);
  EXPECT_GT(std::strlen(data.szDescription), 0u);
  EXPECT_LE(std::strlen(data.szDescription), static_cast<std::size_t>(plat::WSADESCRIPTION_LEN));
  EXPECT_STREQ(data.szSystemStatus, "Running");
  ASSERT_EQ(plat::WSAStartup(0x0202, &data), 0);  // a later version is served as 1.1
  EXPECT_EQ(data.wVersion, 0x0101);
  EXPECT_EQ(plat::WSAStartup(0x0000, &data), plat::WSAVERNOTSUPPORTED);

  const plat::SOCKET s = plat::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(s, plat::INVALID_SOCKET);
  ASSERT_EQ(plat::WSACleanup(), 0);  // not the last: the socket lives on
  plat::u_long n = 0;
  EXPECT_EQ(plat::ioctlsocket(s, plat::FIONREAD, &n), 0);
  ASSERT_EQ(plat::WSACleanup(), 0);  // the last one closes it
  EXPECT_EQ(plat::ioctlsocket(s, plat::FIONREAD, &n), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSANOTINITIALISED);
  ASSERT_EQ(plat::WSAStartup(0x0101, &data), 0);
  EXPECT_EQ(plat::ioctlsocket(s, plat::FIONREAD, &n), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAENOTSOCK);
  EXPECT_EQ(plat::sockimpl::Table().LiveCount(), 0u);
  ASSERT_EQ(plat::WSACleanup(), 0);
}

TEST(WinsockStartup, LastErrorBelongsToEachThread) {
  plat::WSASetLastError(plat::WSAEINTR);
  std::thread other([] {
    EXPECT_EQ(plat::WSAGetLastError(), 0);
    plat::WSASetLastError(plat::WSAEACCES);
  });
  other.join();
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEINTR);
}

TEST(WinsockInetAddr, AcceptsTheLibraryFormsAndRejectsTheRest) {
  EXPECT_EQ(plat::inet_addr("127.0.0.1"), htonl(0x7F000001));
  EXPECT_EQ(plat::inet_addr("10.1.2"), htonl(0x0A010002));       // a.b.c: c is 16 bits
  EXPECT_EQ(plat::inet_addr("10.65535"), htonl(0x0A00FFFF));     // a.b: b is 24 bits
  EXPECT_EQ(plat::inet_addr("3232235777"), htonl(0xC0A80101));   // a: 32 bits
  EXPECT_EQ(plat::inet_addr("0x7f.0.0.01"), htonl(0x7F000001));  // hexadecimal and octal
  EXPECT_EQ(plat::inet_addr("010.0.0.1"), htonl(0x08000001));
  EXPECT_EQ(plat::inet_addr("1.2.3.4 trailing"), htonl(0x01020304));
  EXPECT_EQ(plat::inet_addr("255.255.255.255"), 0xFFFFFFFFu);
  for (const char* bad : {"", " ", "1.2.3.4.5", "256.1.1.1", "1.2.3.256", "1..2", "08.1.1.1",
                          "host.example", "1.2.3.4x", "0x", "4294967296", "1.16777216"}) {
    EXPECT_EQ(plat::inet_addr(bad), INADDR_NONE) << bad;
  }
  EXPECT_EQ(plat::inet_addr(nullptr), INADDR_NONE);
  in_addr a;
  a.s_addr = plat::inet_addr("192.168.1.20");
  EXPECT_STREQ(plat::inet_ntoa(a), "192.168.1.20");
}

class CallsTest : public WinsockTest {};

TEST_F(CallsTest, BlockingResolverCalls) {
  const servent* http = plat::getservbyname("http", "tcp");
  ASSERT_NE(http, nullptr);
  EXPECT_EQ(ntohs(static_cast<std::uint16_t>(http->s_port)), 80);
  EXPECT_EQ(plat::getservbyname("no-such-service", "tcp"), nullptr);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSANO_DATA);
  const protoent* udp = plat::getprotobyname("udp");
  ASSERT_NE(udp, nullptr);
  EXPECT_EQ(udp->p_proto, 17);
  EXPECT_EQ(plat::getprotobyname("no-such-protocol"), nullptr);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSANO_DATA);

  char name[256];
  ASSERT_EQ(plat::gethostname(name, sizeof name), 0);
  EXPECT_GT(std::strlen(name), 0u);
  EXPECT_EQ(plat::gethostname(name, 1), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEFAULT);
}

TEST_F(CallsTest, SocketArgumentsAreChecked) {
  EXPECT_EQ(plat::socket(AF_UNIX, SOCK_STREAM, 0), plat::INVALID_SOCKET);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEAFNOSUPPORT);
  // An IPv6 socket takes whole IPv6 records only.
  const plat::SOCKET s6 = plat::socket(AF_INET6, SOCK_STREAM, 0);
  ASSERT_NE(s6, plat::INVALID_SOCKET);
  sockaddr_in6 v6{};
  v6.sin6_family = AF_INET;  // an IPv4 record's family in room enough for IPv6
  EXPECT_EQ(plat::bind(s6, reinterpret_cast<sockaddr*>(&v6), sizeof v6), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEAFNOSUPPORT);
  v6.sin6_family = AF_INET6;
  EXPECT_EQ(plat::bind(s6, reinterpret_cast<sockaddr*>(&v6), sizeof(sockaddr_in)),
            plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEFAULT);
  EXPECT_EQ(plat::connect(s6, reinterpret_cast<sockaddr*>(&v6), sizeof v6), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEADDRNOTAVAIL);  // "::" names no peer
  ASSERT_EQ(plat::bind(s6, reinterpret_cast<sockaddr*>(&v6), sizeof v6), 0);
  sockaddr_in small{};
  int smallLen = sizeof small;
  EXPECT_EQ(plat::getsockname(s6, reinterpret_cast<sockaddr*>(&small), &smallLen),
            plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEFAULT);
  EXPECT_EQ(plat::closesocket(s6), 0);
  EXPECT_EQ(plat::socket(AF_INET, SOCK_RAW, 0), plat::INVALID_SOCKET);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAESOCKTNOSUPPORT);
  EXPECT_EQ(plat::socket(AF_INET, SOCK_STREAM, IPPROTO_UDP), plat::INVALID_SOCKET);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEPROTONOSUPPORT);

  const plat::SOCKET s = plat::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(s, plat::INVALID_SOCKET);
  sockaddr_in a{};
  int len = sizeof a;
  EXPECT_EQ(plat::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEINVAL) << "not bound yet";
  EXPECT_EQ(plat::getpeername(s, reinterpret_cast<sockaddr*>(&a), &len), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAENOTCONN);
  EXPECT_EQ(plat::listen(s, 5), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEINVAL) << "listen needs bind";
  EXPECT_EQ(plat::send(s, "x", 1, 0), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAENOTCONN);
  char buf[4];
  EXPECT_EQ(plat::recv(s, buf, sizeof buf, 0), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAENOTCONN);
  EXPECT_EQ(plat::accept(s, nullptr, nullptr), plat::INVALID_SOCKET);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEINVAL);
  a = Loopback(0);
  EXPECT_EQ(plat::bind(s, Sa(a), 8), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEFAULT);
  ASSERT_EQ(plat::bind(s, Sa(a), sizeof a), 0);
  EXPECT_EQ(plat::bind(s, Sa(a), sizeof a), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEINVAL);
  len = 4;
  EXPECT_EQ(plat::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEFAULT);
  len = sizeof a;
  ASSERT_EQ(plat::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), 0);
  EXPECT_NE(a.sin_port, 0);
  EXPECT_EQ(plat::shutdown(s, 7), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEINVAL);
  EXPECT_EQ(plat::ioctlsocket(s, 12345, nullptr), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEFAULT);
  EXPECT_EQ(plat::closesocket(s), 0);
  EXPECT_EQ(plat::closesocket(s), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAENOTSOCK);
  EXPECT_EQ(plat::closesocket(plat::INVALID_SOCKET), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAENOTSOCK);
}

TEST_F(CallsTest, BlockingModeIsRefusedWhileSelected) {
  const plat::SOCKET s = plat::socket(AF_INET, SOCK_STREAM, 0);
  plat::u_long on = 1;
  plat::u_long off = 0;
  EXPECT_EQ(plat::ioctlsocket(s, plat::FIONBIO, &on), 0);
  EXPECT_EQ(plat::ioctlsocket(s, plat::FIONBIO, &off), 0);
  ASSERT_EQ(plat::WSAAsyncSelect(s, Wnd(), kSelectMsg, FD_READ), 0);
  EXPECT_EQ(plat::ioctlsocket(s, plat::FIONBIO, &off), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEINVAL);
  EXPECT_EQ(plat::ioctlsocket(s, plat::FIONBIO, &on), 0);
  ASSERT_EQ(plat::WSAAsyncSelect(s, Wnd(), 0, 0), 0);
  EXPECT_EQ(plat::ioctlsocket(s, plat::FIONBIO, &off), 0);
  EXPECT_EQ(plat::WSAAsyncSelect(s, 0x7777777, kSelectMsg, FD_READ), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEINVAL);
}

TEST_F(CallsTest, ZeroLingerMakesThePeerSeeAReset) {
  int peer = -1;
  const plat::SOCKET s = ConnectedPair(&peer);
  const linger l{1, 0};
  ASSERT_EQ(plat::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l),
            0);
  ASSERT_EQ(plat::closesocket(s), 0);
  pollfd p{peer, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 2000), 1);
  char c;
  EXPECT_EQ(::recv(peer, &c, 1, 0), -1);
  EXPECT_EQ(errno, ECONNRESET);
  ::close(peer);
}

TEST_F(CallsTest, LingerOffClosesGracefullyAndDeliversQueuedData) {
  int peer = -1;
  const plat::SOCKET s = ConnectedPair(&peer);
  // The original numbering: level 0xFFFF, option 0x80, two 16-bit words.
  const std::uint16_t off[2] = {0, 0};
  ASSERT_EQ(plat::setsockopt(s, 0xFFFF, 0x80, reinterpret_cast<const char*>(off), 4), 0);
  ASSERT_EQ(plat::send(s, "bye", 3, 0), 3);
  ASSERT_EQ(plat::closesocket(s), 0);
  EXPECT_EQ(RawRead(peer), "bye");
  char c;
  EXPECT_EQ(::recv(peer, &c, 1, 0), 0);
  ::close(peer);
}

TEST_F(CallsTest, TimedLingerRefusesCloseWhileDataIsUnsentAndEndsWhenTimeRunsOut) {
  int peer = -1;
  const plat::SOCKET s = ConnectedPair(&peer);
  int small = 4096;
  ::setsockopt(peer, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  const linger l{1, 1};
  ASSERT_EQ(plat::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l),
            0);
  linger back{};
  int len = sizeof back;
  ASSERT_EQ(plat::getsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&back), &len), 0);
  EXPECT_EQ(back.l_onoff, 1);
  EXPECT_EQ(back.l_linger, 1);
  std::string chunk(65536, 'z');
  for (int i = 0; i < 200; ++i) {
    if (plat::send(s, chunk.data(), static_cast<int>(chunk.size()), 0) == plat::SOCKET_ERROR) break;
  }
  ASSERT_EQ(plat::WSAGetLastError(), plat::WSAEWOULDBLOCK);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(plat::closesocket(s), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEWOULDBLOCK);
  // A caller that retries while pumping always comes to an end.
  int result = plat::SOCKET_ERROR;
  for (int i = 0; i < 3000 && result != 0; ++i) {
    PumpOnce();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    result = plat::closesocket(s);
    if (result != 0) {
      ASSERT_EQ(plat::WSAGetLastError(), plat::WSAEWOULDBLOCK);
    }
  }
  EXPECT_EQ(result, 0);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  ::close(peer);
}

TEST_F(CallsTest, TimedLingerClosesOnceThePeerHasTakenTheData) {
  int peer = -1;
  const plat::SOCKET s = ConnectedPair(&peer);
  const linger l{1, 30};
  ASSERT_EQ(plat::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l),
            0);
  ASSERT_EQ(plat::send(s, "tail", 4, 0), 4);
  EXPECT_EQ(RawRead(peer), "tail");
  int result = plat::SOCKET_ERROR;
  for (int i = 0; i < 2000 && result != 0; ++i) {
    result = plat::closesocket(s);
    if (result != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(result, 0);
  ::close(peer);
}

TEST_F(CallsTest, DatagramWriteAtSelectAndTruncation) {
  const plat::SOCKET rx = plat::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a = Loopback(0);
  ASSERT_EQ(plat::bind(rx, Sa(a), sizeof a), 0);
  int len = sizeof a;
  ASSERT_EQ(plat::getsockname(rx, reinterpret_cast<sockaddr*>(&a), &len), 0);
  ASSERT_EQ(plat::WSAAsyncSelect(rx, Wnd(), kSelectMsg, FD_READ | FD_WRITE), 0);
  ASSERT_TRUE(PumpUntil([&] { return Has(rx, FD_WRITE); }));

  const plat::SOCKET tx = plat::socket(AF_INET, SOCK_DGRAM, 0);
  const std::string big(100, 'd');
  ASSERT_EQ(plat::sendto(tx, big.data(), 100, 0, Sa(a), sizeof a), 100);
  ASSERT_EQ(plat::sendto(tx, "small", 5, 0, Sa(a), sizeof a), 5);
  ASSERT_TRUE(PumpUntil([&] { return Has(rx, FD_READ); }));
  plat::u_long first = 0;
  ASSERT_EQ(plat::ioctlsocket(rx, plat::FIONREAD, &first), 0);
  EXPECT_EQ(first, 100u) << "the size of the first datagram";

  char buf[10];
  sockaddr_in from{};
  int fromlen = sizeof from;
  EXPECT_EQ(plat::recvfrom(rx, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromlen),
            plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEMSGSIZE);
  EXPECT_EQ(std::string(buf, 10), std::string(10, 'd'));
  EXPECT_EQ(from.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
  ASSERT_TRUE(PumpUntil([&] { return CountOf(rx, FD_READ) == 2; }));
  EXPECT_EQ(plat::recv(rx, buf, sizeof buf, 0), 5);
  EXPECT_EQ(std::string(buf, 5), "small");
  PumpFor(30);
  EXPECT_EQ(CountOf(rx, FD_READ), 2);

  sockaddr_in any = Loopback(0);
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  EXPECT_EQ(plat::sendto(tx, "x", 1, 0, Sa(any), sizeof any), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAEADDRNOTAVAIL);
}

TEST_F(CallsTest, DatagramToAClosedPortReportsAResetOnTheNextReceive) {
  const plat::SOCKET s = NewSelected(SOCK_DGRAM, FD_READ);
  const sockaddr_in dead = Loopback(DeadPort());
  ASSERT_EQ(plat::connect(s, Sa(dead), sizeof dead), 0);
  ASSERT_EQ(plat::send(s, "ping", 4, 0), 4);
  ASSERT_TRUE(PumpUntil([&] { return Has(s, FD_READ); }));
  char buf[8];
  EXPECT_EQ(plat::recv(s, buf, sizeof buf, 0), plat::SOCKET_ERROR);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAECONNRESET);
  const std::uint64_t before = plat::sockimpl::IoHandlerCalls();
  PumpFor(50);
  EXPECT_LE(plat::sockimpl::IoHandlerCalls() - before, 2u);
}

TEST_F(CallsTest, LastCleanupClosesEverySocketAndPostsNothing) {
  int peer = -1;
  const plat::SOCKET s = ConnectedPair(&peer);
  PumpFor(20);
  Log().clear();
  ASSERT_EQ(plat::WSACleanup(), 0);
  ::send(peer, "late", 4, MSG_NOSIGNAL);
  PumpFor(50);
  EXPECT_TRUE(EventsOf(s).empty());
  char c;
  pollfd p{peer, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 2000), 1);
  EXPECT_LE(::recv(peer, &c, 1, 0), 0) << "the peer sees the connection end";
  ::close(peer);
  plat::WSADATA data;
  ASSERT_EQ(plat::WSAStartup(0x0101, &data), 0);
}

}  // namespace
}  // namespace wstest
