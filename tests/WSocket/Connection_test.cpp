#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "Host/StringList.h"
#include "Host/Timer.h"
#include "WSocket/ProbeSocket.h"
#include "WSocket/WSocket.h"
#include "support/FreePort.h"
#include "support/Pump.h"
#include "support/ScopedResolver.h"

using testsupport::PumpUntil;
using wsocktest::Loopback;
using wsocktest::ProbeSocket;

namespace {

// Every event of a socket, in order, as short texts.
struct EventLog {
  std::vector<std::string> lines;
  void Attach(TCustomWSocket& s) {
    s.OnChangeState = [this](TObject*, TSocketState o, TSocketState n) {
      lines.push_back("state " + std::to_string(o) + ">" + std::to_string(n));
    };
    s.OnSessionConnected = [this](TObject*, std::uint16_t e) {
      lines.push_back("connected " + std::to_string(e));
    };
    s.OnSessionClosed = [this](TObject*, std::uint16_t e) {
      lines.push_back("closed " + std::to_string(e));
    };
  }
  bool Has(const std::string& line) const {
    for (const auto& l : lines)
      if (l == line) return true;
    return false;
  }
};

std::string ErrorText(const std::function<void()>& op) {
  try {
    op();
  } catch (const ESocketException& e) {
    return e.Message();
  }
  return "";
}

TEST(ConnectionTest, ConnectChecksItsSettingsInOrder) {
  ProbeSocket s(nullptr);
  s.SetAddr("127.0.0.1");
  EXPECT_EQ(ErrorText([&] { s.Connect(); }), "Connect: No Port Specified");
  s.SetAddr("");
  s.SetPort("1");
  EXPECT_EQ(ErrorText([&] { s.Connect(); }), "Connect: No IP Address Specified");
  s.SetAddr("127.0.0.1");
  s.SetProto(" ");
  EXPECT_EQ(ErrorText([&] { s.Connect(); }), "Connect: No Protocol Specified");
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(s.FSocketHandle, plat::INVALID_SOCKET);
  // An address that resolves nowhere raises whatever OnError holds.
  s.SetProto("tcp");
  s.SetAddr("no-such-host.invalid");
  s.OnError = [](TObject*) {};
  EXPECT_THROW(s.Connect(), ESocketException);
}

TEST(ConnectionTest, RefusedStreamConnectPassesThroughConnectedToClosed) {
  testsupport::ReservedPort refused;
  ProbeSocket s(nullptr);
  EventLog log;
  log.Attach(s);
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(refused.Port()));
  s.Connect();
  EXPECT_EQ(log.lines, (std::vector<std::string>{"state 7>1", "state 1>3"}));
  ASSERT_TRUE(PumpUntil([&] { return s.State() == wsClosed; }));
  EXPECT_EQ(log.lines, (std::vector<std::string>{"state 7>1", "state 1>3", "state 3>4",
                                                 "connected 10061", "state 4>7", "closed 0"}));
  EXPECT_EQ(s.Proto(), "tcp");
  // The port keeps its text but must be given again for the next session.
  EXPECT_EQ(s.Port(), std::to_string(refused.Port()));
  EXPECT_EQ(ErrorText([&] { s.Connect(); }), "Connect: No Port Specified");
  EXPECT_EQ(s.State(), wsClosed);
}

TEST(ConnectionTest, StreamSessionFromListenAcceptAndDup) {
  Loopback server;
  EventLog servedLog;
  server.Setup = [&](ProbeSocket& c) { servedLog.Attach(c); };
  ASSERT_TRUE(server.Start());
  EXPECT_EQ(server.Listener->State(), wsListening);
  EXPECT_NE(server.Port, "0");

  auto client = server.NewClient();
  EventLog log;
  log.Attach(*client);
  int dataSent = 0;
  client->OnDataSent = [&](TObject*, std::uint16_t e) {
    EXPECT_EQ(e, 0);
    ++dataSent;
  };
  client->Connect();
  ASSERT_TRUE(PumpUntil([&] { return dataSent > 0 && server.Served.size() == 1; }));
  // The first FD_WRITE reports the (empty) queue as sent.
  EXPECT_EQ(dataSent, 1);
  EXPECT_TRUE(log.Has("connected 0"));
  EXPECT_EQ(client->GetPeerAddr(), "127.0.0.1");
  EXPECT_EQ(client->GetXPort(), std::to_string(ntohs(server.Listener->SockAddr().sin_port)));
  // Dup adopts without a connected-event; the listener stays listening.
  EXPECT_EQ(servedLog.lines, (std::vector<std::string>{"state 7>4"}));
  EXPECT_EQ(server.Served[0]->State(), wsConnected);
  EXPECT_EQ(server.Listener->State(), wsListening);

  // The peer's close ends this side's session once.
  server.Served[0]->Close();
  EXPECT_EQ(servedLog.lines.back(), "closed 0");
  ASSERT_TRUE(PumpUntil([&] { return client->State() == wsClosed; }));
  EXPECT_EQ(std::count(log.lines.begin(), log.lines.end(), "closed 0") +
                std::count(log.lines.begin(), log.lines.end(), "closed 10054") +
                std::count(log.lines.begin(), log.lines.end(), "closed 10053"),
            1);

  // A second session closed gracefully by the server leaves the connection in the
  // system's time-wait state on the server's port; a new server there starts all the same.
  server.Setup = [](ProbeSocket& c) { c.SetLingerOnOff(wsLingerOff); };
  server.Aim(*client);
  client->SetLingerOnOff(wsLingerOff);
  ASSERT_TRUE(server.ConnectClient(*client));
  server.Served[1]->Close();
  ASSERT_TRUE(PumpUntil([&] { return client->State() == wsClosed; }));
  server.Listener->Close();
  ProbeSocket again(nullptr);
  again.SetAddr("127.0.0.1");
  again.SetPort(server.Port);
  EXPECT_EQ(again.Listen(), 0);
  EXPECT_EQ(again.State(), wsListening);
}

TEST(ConnectionTest, Ipv6SessionOnLoopback) {
  Loopback server;
  server.Address = "::1";
  std::string served;
  server.Setup = [&](ProbeSocket& c) {
    c.OnDataAvailable = [&served, &c](TObject*, std::uint16_t) { served += c.ReceiveStr(); };
  };
  ASSERT_TRUE(server.Start());
  auto client = server.NewClient();
  ASSERT_TRUE(server.ConnectClient(*client));
  EXPECT_EQ(client->GetPeerAddr(), "::1");
  EXPECT_EQ(server.Served[0]->GetPeerAddr(), "::1");
  EXPECT_EQ(client->FAddrFamily, AF_INET6);
  // The records of an IPv6 socket are 28 bytes long.
  TSockAddr local{};
  std::int32_t len = sizeof local;
  ASSERT_EQ(client->GetSockName(local.In, len), 0);
  EXPECT_EQ(len, static_cast<std::int32_t>(sizeof(sockaddr_in6)));
  EXPECT_EQ(SockAddrText(local), "::1");
  EXPECT_EQ(std::to_string(ntohs(local.In6.sin6_port)), client->GetXPort());
  client->SendStr("over IPv6");
  ASSERT_TRUE(PumpUntil([&] { return served == "over IPv6"; }));
  client->Close();

  // In brackets as in a URL, and through a listener on every IPv6 address.
  ProbeSocket any(nullptr);
  any.SetAddr("::");
  any.SetPort("0");
  any.OnSessionAvailable = [&any](TObject*, std::uint16_t) { plat::closesocket(any.Accept()); };
  ASSERT_EQ(any.Listen(), 0);
  ProbeSocket bracketed(nullptr);
  EventLog log;
  log.Attach(bracketed);
  bracketed.SetAddr("[::1]");
  bracketed.SetPort(any.GetXPort());
  bracketed.Connect();
  ASSERT_TRUE(PumpUntil([&] { return log.Has("connected 0"); }));
}

// A listener on [::1] whose queue is full: a connection to it is never answered.
class DeadIpv6Port {
 public:
  explicit DeadIpv6Port(std::uint16_t port) {
    FListener = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    a.sin6_port = htons(port);
    if (::bind(FListener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(FListener, 0) != 0)
      return;
    for (int& f : FFillers) {
      f = ::socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      ::connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    FOk = true;
  }
  ~DeadIpv6Port() {
    for (int f : FFillers) ::close(f);
    ::close(FListener);
  }
  bool Ok() const { return FOk; }

 private:
  int FListener = -1;
  int FFillers[2] = {-1, -1};
  bool FOk = false;
};

TEST(ConnectionTest, HostOfSeveralAddressesIsRacedIpv6First) {
  Loopback server;
  ASSERT_TRUE(server.Start());
  const DeadIpv6Port dead(static_cast<std::uint16_t>(std::stoi(server.Port)));
  ASSERT_TRUE(dead.Ok());
  testsupport::ScopedForward names({{"dual.test", {"127.0.0.1", "::1"}}});

  // The IPv6 address is tried first and never answers; the IPv4 one, started 250 ms later,
  // wins, and the session is the one that connected.
  auto client = server.NewClient();
  client->SetAddr("dual.test");
  EventLog log;
  log.Attach(*client);
  ASSERT_TRUE(server.ConnectClient(*client));
  EXPECT_EQ(client->GetPeerAddr(), "127.0.0.1");
  EXPECT_EQ(client->FAddrFamily, AF_INET);
  testsupport::PumpFor(std::chrono::milliseconds(300));
  EXPECT_EQ(log.lines,
            (std::vector<std::string>{"state 7>1", "state 1>3", "state 3>4", "connected 0"}));
  client->Close();

  // A name DnsLookup has just looked up is not asked again by the Connect that follows.
  ProbeSocket looked(nullptr);
  bool done = false;
  looked.OnDnsLookupDone = [&](TObject*, std::uint16_t e) { done = e == 0; };
  looked.DnsLookup("dual.test");
  ASSERT_TRUE(PumpUntil([&] { return done; }));
  EXPECT_EQ(looked.DnsResult(), "::1");
  EXPECT_EQ(looked.DnsResultList()->Count(), 2);
  EXPECT_EQ(looked.DnsResultList()->Strings(1), "127.0.0.1");
  plat::resolver::SetForward([](const std::string&) {
    plat::resolver::HostInfo gone;
    gone.error = plat::WSAHOST_NOT_FOUND;
    return gone;
  });
  server.Aim(looked);
  looked.SetAddr("dual.test");
  ASSERT_TRUE(server.ConnectClient(looked));
  EXPECT_EQ(looked.GetPeerAddr(), "127.0.0.1");
}

TEST(ConnectionTest, RaceOfFailuresReportsTheFirst) {
  testsupport::ReservedPort refused;
  // ::1 refuses (10061); 0.0.0.0 is refused by the socket layer before any packet (10049).
  testsupport::ScopedForward names({{"nowhere.test", {"0.0.0.0", "::1"}}});
  ProbeSocket s(nullptr);
  EventLog log;
  log.Attach(s);
  s.SetAddr("nowhere.test");
  s.SetPort(std::to_string(refused.Port()));
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return s.State() == wsClosed; }));
  EXPECT_EQ(log.lines, (std::vector<std::string>{"state 7>1", "state 1>3", "state 3>4",
                                                 "connected 10061", "state 4>7", "closed 0"}));
}

TEST(ConnectionTest, CloseFiresOnceAndLateNotificationsAreIgnored) {
  Loopback server;
  ASSERT_TRUE(server.Start());
  auto client = server.NewClient();
  EventLog log;
  log.Attach(*client);
  ASSERT_TRUE(server.ConnectClient(*client));
  const plat::SOCKET old = client->FSocketHandle;
  client->Close();
  EXPECT_EQ(log.lines.back(), "closed 0");
  // A descendant's Shutdown is part of the close.
  EXPECT_EQ(client->Shutdowns, std::vector<std::int32_t>{plat::SD_BOTH});
  const std::size_t n = log.lines.size();
  client->Close();  // closed already: nothing
  plat::PostMessageA(client->FWindowHandle, WM_SOCKET_SELECT, old,
                     plat::MAKELONG(plat::FD_CLOSE | plat::FD_READ, 0));
  testsupport::PumpFor(std::chrono::milliseconds(30));
  EXPECT_EQ(log.lines.size(), n);

  // No handle but a state left open: closed without a session-closed event.
  client->FState = wsConnected;
  client->Close();
  EXPECT_EQ(client->State(), wsClosed);
  EXPECT_EQ(log.lines.size(), n + 1);
  EXPECT_EQ(log.lines.back(), "state 4>7");
}

TEST(ConnectionTest, AbortClosesWithoutLingering) {
  Loopback server;
  std::vector<std::uint16_t> peerClosed;
  server.Setup = [&](ProbeSocket& c) {
    c.OnSessionClosed = [&](TObject*, std::uint16_t e) { peerClosed.push_back(e); };
  };
  ASSERT_TRUE(server.Start());
  auto client = server.NewClient();
  ASSERT_TRUE(server.ConnectClient(*client));
  client->SendStr("last words");
  client->Abort();
  EXPECT_EQ(client->State(), wsClosed);
  EXPECT_TRUE(client->Shutdowns.empty());
  EXPECT_EQ(client->LingerOnOff(), wsLingerOn);  // back to the default after the session
  // Lingering off lets the bytes already handed over go out before a graceful end.
  std::string got;
  server.Served[0]->OnDataAvailable = [&](TObject*, std::uint16_t) {
    got += server.Served[0]->ReceiveStr();
  };
  ASSERT_TRUE(PumpUntil([&] { return !peerClosed.empty(); }));
  EXPECT_EQ(peerClosed, std::vector<std::uint16_t>{0});
  EXPECT_EQ(got, "last words");
}

TEST(ConnectionTest, DatagramConnectIsImmediate) {
  testsupport::ReservedPort target(SOCK_DGRAM);
  ProbeSocket s(nullptr);
  EventLog log;
  log.Attach(s);
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(target.Port()));
  s.SetProto("udp");
  s.Connect();
  EXPECT_EQ(log.lines, (std::vector<std::string>{"state 7>1", "state 1>4", "connected 0"}));
  int broadcast = -1;
  int len = sizeof broadcast;
  ASSERT_EQ(plat::getsockopt(s.FSocketHandle, SOL_SOCKET, SO_BROADCAST,
                             reinterpret_cast<char*>(&broadcast), &len),
            0);
  EXPECT_EQ(broadcast, 0);
  EXPECT_NE(s.LocalPortNum(), 0);
  s.Close();

  ProbeSocket b(nullptr);
  b.SetAddr("255.255.255.255");
  b.SetPort("9");
  b.SetProto("udp");
  b.Connect();
  ASSERT_EQ(b.State(), wsConnected);
  len = sizeof broadcast;
  ASSERT_EQ(plat::getsockopt(b.FSocketHandle, SOL_SOCKET, SO_BROADCAST,
                             reinterpret_cast<char*>(&broadcast), &len),
            0);
  EXPECT_NE(broadcast, 0);
}

TEST(ConnectionTest, ConnectWhileInUseLeavesTheSessionAlone) {
  Loopback server;
  ASSERT_TRUE(server.Start());
  auto client = server.NewClient();
  client->Connect();
  ASSERT_TRUE(PumpUntil([&] { return client->State() == wsConnected; }));
  const plat::SOCKET h = client->FSocketHandle;
  EXPECT_EQ(ErrorText([&] { client->Connect(); }), "Connect: Socket already in use");
  EXPECT_EQ(client->FSocketHandle, h);
  EXPECT_EQ(client->State(), wsConnected);
}

TEST(ConnectionTest, ListenFailuresReturnMinusOne) {
  ProbeSocket s(nullptr);
  int errors = 0;
  s.OnError = [&](TObject*) { ++errors; };
  EXPECT_EQ(s.Listen(), -1);
  EXPECT_EQ(s.LastError(), plat::WSAEINVAL);
  s.OnError = nullptr;
  EXPECT_NE(ErrorText([&] { s.Listen(); }).find("in function listen: port not assigned"),
            std::string::npos);
  s.SetPort("0");
  s.SetProto("");
  EXPECT_NE(ErrorText([&] { s.Listen(); }).find("listen: protocol not assigned"),
            std::string::npos);
  s.SetProto("tcp");
  EXPECT_NE(ErrorText([&] { s.Listen(); }).find("listen: address not assigned"), std::string::npos);

  // A port that is taken: the bind fails and the new socket is released again.
  testsupport::ReservedPort taken;
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(taken.Port()));
  s.OnError = [&](TObject*) { ++errors; };
  EXPECT_EQ(s.Listen(), -1);
  EXPECT_EQ(s.LastError(), plat::WSAEADDRINUSE);
  EXPECT_EQ(s.FSocketHandle, plat::INVALID_SOCKET);
  EXPECT_EQ(s.State(), wsClosed);

  // Listening twice would orphan the first socket.
  s.SetPort("0");
  EXPECT_EQ(s.Listen(), 0);
  const plat::SOCKET first = s.FSocketHandle;
  EXPECT_EQ(s.Listen(), -1);
  EXPECT_EQ(s.FSocketHandle, first);
  EXPECT_EQ(s.State(), wsListening);
}

TEST(ConnectionTest, AcceptAndDupRefuseBadArguments) {
  ProbeSocket s(nullptr);
  int errors = 0;
  s.OnError = [&](TObject*) { ++errors; };
  EXPECT_EQ(s.Accept(), plat::INVALID_SOCKET);
  EXPECT_EQ(s.LastError(), plat::WSAEINVAL);
  s.OnError = nullptr;
  EXPECT_NE(ErrorText([&] { s.Accept(); }).find("in function not a listening socket"),
            std::string::npos);
  EXPECT_NE(ErrorText([&] { s.Dup(plat::INVALID_SOCKET); }).find("Error 10022 in function Dup"),
            std::string::npos);
  EXPECT_NE(ErrorText([&] { s.Dup(0); }).find("Error 10022 in function Dup"), std::string::npos);
  EXPECT_EQ(s.State(), wsClosed);
}

TEST(ConnectionTest, DupReplacesAnOpenSocketAndDropsItsQueue) {
  Loopback server;
  ASSERT_TRUE(server.Start());
  auto first = server.NewClient();
  auto second = server.NewClient();
  first->Connect();
  second->Connect();
  ASSERT_TRUE(PumpUntil([&] {
    return server.Served.size() == 2 && first->State() == wsConnected &&
           second->State() == wsConnected;
  }));
  std::string gotBySecondPeer;
  server.Served[1]->OnDataAvailable = [&](TObject*, std::uint16_t) {
    gotBySecondPeer += server.Served[1]->ReceiveStr();
  };
  // Something queued for the first peer that the network has not taken yet.
  ProbeSocket& adopter = *server.Served[0];
  adopter.PutStringInSendBuffer("for the first peer only");
  EventLog log;
  log.Attach(adopter);
  // Take over the second client's far end from the other served component.
  const plat::SOCKET moved = server.Served[1]->FSocketHandle;
  server.Served[1]->FSocketHandle = plat::INVALID_SOCKET;
  server.Served[1]->FState = wsClosed;
  adopter.Dup(moved);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"state 4>7", "state 7>4"}));
  EXPECT_TRUE(adopter.FSendQueue.Empty());
  std::string got;
  second->OnDataAvailable = [&](TObject*, std::uint16_t) { got += second->ReceiveStr(); };
  adopter.SendStr("hello second");
  ASSERT_TRUE(PumpUntil([&] { return got == "hello second"; }));
  // The first client lost its peer.
  ASSERT_TRUE(PumpUntil([&] { return first->State() == wsClosed; }));
}

// The queue of connections that wait for Accept: 5 unless set. A burst of clients larger
// than that all get their connection at once when ListenBacklog makes room for them.
TEST(ConnectionTest, ListenBacklogHoldsABurstOfClients) {
  ProbeSocket listener(nullptr);
  EXPECT_EQ(listener.ListenBacklog(), 5);
  listener.SetListenBacklog(64);
  listener.SetAddr("127.0.0.1");
  listener.SetPort("0");
  ASSERT_EQ(listener.Listen(), 0);
  EXPECT_EQ(listener.ListenBacklog(), 64) << "a setting, not reset by the session";
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(std::stoi(listener.GetXPort())));
  std::vector<int> clients;
  for (int i = 0; i < 40; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(fd, 0);
    ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    clients.push_back(fd);
  }
  // Nobody accepts: the system keeps them all waiting, each with its handshake done.
  int connected = 0;
  for (int fd : clients) {
    pollfd p{fd, POLLOUT, 0};
    int err = -1;
    socklen_t len = sizeof err;
    if (::poll(&p, 1, 2000) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 &&
        err == 0)
      ++connected;
    ::close(fd);
  }
  EXPECT_EQ(connected, 40);
}

TEST(ConnectionTest, PauseHoldsNotificationsUntilResume) {
  Loopback server;
  ASSERT_TRUE(server.Start());
  auto client = server.NewClient();
  std::string got;
  client->OnDataAvailable = [&](TObject*, std::uint16_t) { got += client->ReceiveStr(); };
  ASSERT_TRUE(server.ConnectClient(*client));
  client->Pause();
  server.Served[0]->SendStr("while paused");
  testsupport::PumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(got, "");
  EXPECT_EQ(client->RcvdCount(), 12);
  client->Resume();
  ASSERT_TRUE(PumpUntil([&] { return got == "while paused"; }));
}

TEST(ConnectionTest, ShutdownOfSendingEndsThePeersSession) {
  Loopback server;
  std::vector<std::uint16_t> peerClosed;
  server.Setup = [&](ProbeSocket& c) {
    c.OnSessionClosed = [&](TObject*, std::uint16_t e) { peerClosed.push_back(e); };
  };
  ASSERT_TRUE(server.Start());
  auto client = server.NewClient();
  ASSERT_TRUE(server.ConnectClient(*client));
  client->Shutdown(plat::SD_SEND);
  ASSERT_TRUE(PumpUntil([&] { return !peerClosed.empty(); }));
  EXPECT_EQ(peerClosed, std::vector<std::uint16_t>{0});
  EXPECT_EQ(client->State(), wsConnected);
}

TEST(ConnectionTest, WaitForCloseDeliversDataUntilThePeerHasGone) {
  Loopback server;
  server.Setup = [&](ProbeSocket& c) { c.SetLingerOnOff(wsLingerOff); };
  ASSERT_TRUE(server.Start());
  auto client = server.NewClient();
  std::string got;
  client->OnDataAvailable = [&](TObject*, std::uint16_t) { got += client->ReceiveStr(); };
  ASSERT_TRUE(server.ConnectClient(*client));
  server.Served[0]->SendStr("goodbye");
  server.Served[0]->Close();
  client->WaitForClose();
  EXPECT_EQ(got, "goodbye");
  EXPECT_EQ(client->State(), wsClosed);
}

TEST(ConnectionTest, WaitForCloseOnAPausedSocketEndsWhenThePeerHasGone) {
  Loopback server;
  server.Setup = [&](ProbeSocket& c) { c.SetLingerOnOff(wsLingerOff); };
  ASSERT_TRUE(server.Start());
  auto client = server.NewClient();
  ASSERT_TRUE(server.ConnectClient(*client));
  client->Pause();
  server.Served[0]->Close();
  // A paused socket gets no close notification; the watchdog resumes it should the wait
  // fail to notice the peer's close by itself.
  bool watchdogFired = false;
  TTimer watchdog(nullptr);
  watchdog.SetInterval(2000);
  watchdog.OnTimer = [&](TObject*) {
    watchdogFired = true;
    watchdog.SetEnabled(false);
    client->Resume();
  };
  watchdog.SetEnabled(true);
  client->WaitForClose();
  EXPECT_FALSE(watchdogFired);
}

}  // namespace
