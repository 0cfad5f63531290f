#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "WSocket/ProbeSocket.h"
#include "WSocket/WSocket.h"

using wsocktest::ProbeSocket;

namespace {

// Expects an ESocketException whose text starts with Prefix.
template <class F>
void ExpectSocketError(F f, const std::string& Prefix) {
  try {
    f();
    ADD_FAILURE() << "no exception, expected " << Prefix;
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message().substr(0, Prefix.size()), Prefix) << e.Message();
  }
}

TEST(AddressingTest, PortNumbersAndServiceNames) {
  ProbeSocket s(nullptr);
  s.SetPort(" 80 ");
  EXPECT_EQ(s.Port(), " 80 ");
  EXPECT_TRUE(s.FPortAssigned);
  EXPECT_EQ(s.PortNum(), 80);
  EXPECT_EQ(s.SockAddr().sin_port, htons(80));

  // A number outside 0..65535 used to wrap into another port (70000 into 4464, 65536
  // into 0, a port of the system's choice): refused like a text that names no port.
  for (const char* wrapped : {"70000", "65536", "99999", "4294967297"}) {
    ExpectSocketError([&] { s.SetPort(wrapped); },
                      "Error 10022 in function SetPort: Cannot convert port");
    EXPECT_FALSE(s.FPortAssigned) << wrapped;
    EXPECT_EQ(s.PortNum(), 80) << wrapped;
  }
  s.SetPort("65535");
  EXPECT_EQ(s.PortNum(), 65535);
  s.SetPort("0");
  EXPECT_TRUE(s.FPortAssigned);
  EXPECT_EQ(s.PortNum(), 0);
  s.SetPort("8080abc");  // digits up to the first other character
  EXPECT_EQ(s.PortNum(), 8080);

  s.SetPort("http");  // from the system's service table, for the current protocol
  EXPECT_EQ(s.PortNum(), 80);
  EXPECT_EQ(s.SockAddr().sin_port, htons(80));

  s.SetPort("   ");
  EXPECT_FALSE(s.FPortAssigned);
  EXPECT_EQ(s.Port(), "   ");
}

TEST(AddressingTest, UnknownOrOverlongServiceIsReported) {
  ProbeSocket s(nullptr);
  ExpectSocketError([&] { s.SetPort(" nosuchservice "); }, "Error ");
  EXPECT_FALSE(s.FPortAssigned);
  ExpectSocketError([&] { s.SetPort("nosuchservice2"); }, "Error ");
  EXPECT_NE(s.LastError(), 0);

  int errors = 0;
  s.OnError = [&](TObject*) { ++errors; };
  s.SetPort("nosuchservice3");
  EXPECT_EQ(errors, 1);
  EXPECT_FALSE(s.FPortAssigned);

  // 31 characters still go to the service table; 32 are refused before it.
  s.OnError = nullptr;
  const std::string name31(31, 'q');
  try {
    s.SetPort(name31);
    ADD_FAILURE() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_NE(e.Message().find("SetPort: Cannot convert port '" + name31 + "'"), std::string::npos);
  }
  ExpectSocketError([&] { s.SetPort(std::string(32, 'q')); }, "SetPort: service name too long");
  EXPECT_FALSE(s.FPortAssigned);
  EXPECT_EQ(s.LastError(), plat::WSAENAMETOOLONG);
}

TEST(AddressingTest, UnknownServiceMessageNamesTheService) {
  ProbeSocket s(nullptr);
  try {
    s.SetPort("  nosuchservice ");
    FAIL() << "no exception";
  } catch (const ESocketException& e) {
    const std::string head = "in function SetPort: Cannot convert port 'nosuchservice'\r\n";
    EXPECT_NE(e.Message().find(head), std::string::npos) << e.Message();
  }
}

TEST(AddressingTest, ProtocolsChooseTheSocketType) {
  ProbeSocket s(nullptr);
  s.SetProto("udp");
  EXPECT_EQ(s.FProtoNum, 17);
  EXPECT_EQ(s.FSocketType, SOCK_DGRAM);
  s.SetProto("tcp");
  EXPECT_EQ(s.FProtoNum, 6);
  EXPECT_EQ(s.FSocketType, SOCK_STREAM);
  s.SetProto(" 17 ");
  EXPECT_EQ(s.FSocketType, SOCK_DGRAM);
  s.SetProto("99");
  EXPECT_EQ(s.FProtoNum, 99);
  EXPECT_EQ(s.FSocketType, SOCK_STREAM);

  s.SetProto("not found");  // only the text changes
  EXPECT_EQ(s.Proto(), "not found");
  EXPECT_EQ(s.FProtoNum, 99);
  EXPECT_TRUE(s.FProtoAssigned);

  s.SetProto("");
  EXPECT_FALSE(s.FProtoAssigned);
}

TEST(AddressingTest, UnknownOrOverlongProtocolIsReported) {
  ProbeSocket s(nullptr);
  try {
    s.SetProto("xyzproto");
    FAIL() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_NE(e.Message().find("in function SetProto: Cannot convert protocol 'xyzproto'"),
              std::string::npos);
  }
  EXPECT_FALSE(s.FProtoAssigned);
  ExpectSocketError([&] { s.SetProto(std::string(40, 'p')); }, "SetProto: protocol name too long");
  EXPECT_FALSE(s.FProtoAssigned);
  // A service name is looked up for the protocol text, which must fit as well.
  ExpectSocketError([&] { s.SetPort("http"); }, "SetPort: protocol name too long");
  EXPECT_FALSE(s.FPortAssigned);
}

TEST(AddressingTest, AddrIsTrimmed) {
  ProbeSocket s(nullptr);
  s.SetAddr(" host\t");
  EXPECT_EQ(s.Addr(), "host");
  EXPECT_TRUE(s.FAddrAssigned);
  EXPECT_FALSE(s.FAddrResolved);
  s.SetAddr(" ");
  EXPECT_FALSE(s.FAddrAssigned);
}

TEST(AddressingTest, SettingsChangeOnlyWhileClosed) {
  ProbeSocket s(nullptr);
  s.SetAddr("10.0.0.1");
  s.SetPort("81");
  s.FState = wsConnected;
  ExpectSocketError([&] { s.SetAddr(" 10.0.0.2 "); }, "Cannot change Addr if not closed");
  EXPECT_EQ(s.Addr(), "10.0.0.2");  // the text is taken, the flags are not
  ExpectSocketError([&] { s.SetPort("82"); }, "Cannot change Port if not closed");
  EXPECT_EQ(s.Port(), "82");
  EXPECT_EQ(s.PortNum(), 81);
  ExpectSocketError([&] { s.SetProto("udp"); }, "Cannot change Proto if not closed");
  EXPECT_EQ(s.FSocketType, SOCK_STREAM);
  // An unchanged assigned value is no change.
  EXPECT_NO_THROW(s.SetPort("82"));
  s.FState = wsClosed;
}

TEST(AddressingTest, QueriesOnAClosedSocket) {
  ProbeSocket s(nullptr);
  EXPECT_EQ(s.GetXPort(), "error");
  EXPECT_EQ(s.GetPeerAddr(), "error");
  sockaddr_in name{};
  name.sin_port = 1234;
  EXPECT_EQ(s.GetPeerName(name, sizeof name), -1);
  EXPECT_EQ(name.sin_port, 1234);  // untouched
}

TEST(AddressingTest, LocalPortOfABoundSocket) {
  ProbeSocket s(nullptr);
  const plat::SOCKET h = plat::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(h, plat::INVALID_SOCKET);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(plat::bind(h, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  int len = sizeof a;
  ASSERT_EQ(plat::getsockname(h, reinterpret_cast<sockaddr*>(&a), &len), 0);
  s.FSocketHandle = h;
  s.FState = wsBound;
  EXPECT_EQ(s.GetXPort(), std::to_string(ntohs(a.sin_port)));
  sockaddr_in back{};
  std::int32_t backLen = sizeof back;
  EXPECT_EQ(s.GetSockName(back, backLen), 0);
  EXPECT_EQ(back.sin_port, a.sin_port);
  s.FState = wsOpened;
  EXPECT_EQ(s.GetXPort(), "error");
  plat::closesocket(h);
  s.FSocketHandle = plat::INVALID_SOCKET;
  s.FState = wsClosed;
}

}  // namespace
