// The socket component over UDP, with a Python peer and socat on the other side.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "WSocket/WSocket.h"
#include "support/Bytes.h"
#include "support/ChildProcess.h"
#include "support/Pump.h"
#include "support/PythonPeer.h"
#include "support/SocketServer.h"
#include "support/TempFile.h"

using namespace std::chrono_literals;
using testsupport::ChildProcess;
using testsupport::Crc32;
using testsupport::PatternString;
using testsupport::PumpUntil;
using testsupport::StartPythonPeer;

namespace {

std::string DgramLine(const std::string& d) {
  return "dgram " + std::to_string(d.size()) + " " + Crc32::HexOf(d);
}

}  // namespace

// A datagram "connection" has no handshake: it is connected before Connect returns.
// A send larger than a chunk leaves as several datagrams of at most 1514 bytes, each
// echoed back by the peer as a datagram of its own.
TEST(PeerUdp, LargeSendLeavesAsSeveralDatagramsAndTheEchoesArrive) {
  auto peer = StartPythonPeer("udp_echo.py", {});
  ASSERT_NE(peer.port, 0);
  auto s = testsupport::NewLoopbackClient(peer.port, "udp");
  std::vector<std::string> states;
  std::vector<std::string> got;
  int connected = 0;
  std::uint16_t connectError = 0xFFFF;
  s->OnChangeState = [&](TObject*, TSocketState o, TSocketState n) {
    states.push_back(std::to_string(static_cast<int>(o)) + ">" +
                     std::to_string(static_cast<int>(n)));
  };
  s->OnSessionConnected = [&](TObject*, std::uint16_t e) {
    ++connected;
    connectError = e;
  };
  s->OnDataAvailable = [&](TObject*, std::uint16_t) {
    char buf[4096];
    const int n = s->Receive(buf, sizeof buf);
    if (n > 0) got.emplace_back(buf, static_cast<std::size_t>(n));
  };
  s->Connect();
  EXPECT_EQ(connected, 1);
  EXPECT_EQ(connectError, 0);
  EXPECT_EQ(states, (std::vector<std::string>{"7>1", "1>4"}));  // closed, opened, connected
  EXPECT_EQ(s->State(), wsConnected);

  const std::string payload = PatternString(31, 0, 4000);
  EXPECT_EQ(s->SendStr(payload), 4000);
  ASSERT_TRUE(PumpUntil([&] { return got.size() >= 3; }, 10s));
  const std::vector<std::string> parts{payload.substr(0, 1514), payload.substr(1514, 1514),
                                       payload.substr(3028)};
  ASSERT_EQ(got.size(), 3u);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    EXPECT_EQ(peer.NextLine(), DgramLine(parts[i])) << "datagram " << i;
    EXPECT_TRUE(got[i] == parts[i]) << "echo " << i;
  }

  // A small send after a drained one starts a fresh datagram.
  EXPECT_EQ(s->SendStr("ping"), 4);
  ASSERT_TRUE(PumpUntil([&] { return got.size() >= 4; }, 10s));
  EXPECT_EQ(got[3], "ping");
  EXPECT_EQ(peer.NextLine(), DgramLine("ping"));
  s->SendStr("quit");
  EXPECT_EQ(peer.process->Wait(5s), 0);
}

// A listening datagram socket receives from senders it never heard of, learns who they
// are, and reports a datagram too big for the reader's buffer as an error without losing
// the next one.
TEST(PeerUdp, ListeningSocketReceivesFromForeignSenders) {
  TWSocket s(nullptr);
  s.SetAddr("127.0.0.1");
  s.SetPort("0");
  s.SetProto("udp");
  struct Got {
    int n;
    int error;
    std::string data;
    std::uint16_t fromPort;
    std::string fromAddr;
  };
  std::vector<Got> got;
  int connected = 0;
  s.OnSessionConnected = [&](TObject*, std::uint16_t e) { connected += e == 0 ? 1 : 100; };
  s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    char buf[2048];
    sockaddr_in from{};
    int fromLen = sizeof from;
    const int n = s.ReceiveFrom(buf, sizeof buf, from, fromLen);
    Got g{n, n < 0 ? s.LastError() : 0, n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "",
          ntohs(from.sin_port), n >= 0 ? inet_ntoa(from.sin_addr) : ""};
    got.push_back(g);
  };
  ASSERT_EQ(s.Listen(), 0);
  EXPECT_EQ(connected, 1);
  EXPECT_EQ(s.State(), wsConnected);
  const std::string portText = s.GetXPort();
  ASSERT_NE(portText, "error");

  auto peer =
      StartPythonPeer("udp_echo.py", {"--no-echo", "--send-to", portText, "--send-bytes", "1200"});
  ASSERT_NE(peer.port, 0);
  const std::string sent = peer.LineStartingWith("sent ");
  ASSERT_TRUE(PumpUntil([&] { return got.size() >= 1; }, 10s));
  EXPECT_EQ(got[0].n, 1200);
  EXPECT_EQ("sent 1200 " + Crc32::HexOf(got[0].data), sent);
  EXPECT_EQ(got[0].fromPort, peer.port);
  EXPECT_EQ(got[0].fromAddr, "127.0.0.1");

  // socat sends each file as one datagram: the first does not fit the 2048-byte buffer.
  const std::string big = PatternString(41, 0, 3000);
  const std::string small = PatternString(42, 0, 300);
  for (const std::string* d : {&big, &small}) {
    testsupport::TempFile tf(*d);
    ChildProcess socat(
        {"socat", "-u", "-b", "8192", "OPEN:" + tf.Path(), "UDP-SENDTO:127.0.0.1:" + portText});
    ASSERT_TRUE(socat.Started()) << socat.Error();
    EXPECT_EQ(socat.Wait(10s), 0);
  }
  ASSERT_TRUE(PumpUntil([&] { return got.size() >= 3; }, 10s));
  EXPECT_EQ(got[1].n, -1);
  EXPECT_EQ(got[1].error, plat::WSAEMSGSIZE);
  EXPECT_EQ(got[2].n, 300);
  EXPECT_TRUE(got[2].data == small);
  s.Close();
}
