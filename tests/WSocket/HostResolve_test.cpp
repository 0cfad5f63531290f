#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "Host/StringList.h"
#include "WSocket/WSocket.h"
#include "support/ScopedResolver.h"

namespace {

std::string Dotted(in_addr a) {
  char buf[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

TEST(HostResolveTest, DottedAddressesAreTrimmedAndConvertedDirectly) {
  EXPECT_EQ(Dotted(WSocketResolveHost("  10.1.2.3  ")), "10.1.2.3");
  EXPECT_EQ(WSocketResolveHost("255.255.255.255").s_addr, 0xFFFFFFFFu);
  EXPECT_EQ(WSocketResolveHost(" 255.255.255.255\t").s_addr, 0xFFFFFFFFu);
  EXPECT_EQ(Dotted(WSocketResolveHost("localhost")), "127.0.0.1");
}

TEST(HostResolveTest, UnknownNameQuotesTheTextAsGiven) {
  try {
    WSocketResolveHost("  no-such-host.invalid ");
    FAIL() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message(), "SetAddr: Cannot convert host address '  no-such-host.invalid '");
  }
  // Too long for any resolver: refused, not cut to something that might resolve.
  const std::string overlong = "localhost" + std::string(300, ' ') + "x";
  EXPECT_THROW(WSocketResolveHost(overlong), ESocketException);
  EXPECT_EQ(WSocketGetHostByName(std::string(257, 'a')), nullptr);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSAENAMETOOLONG);
}

TEST(HostResolveTest, HostEntriesByNameAndByAddress) {
  const hostent* byName = WSocketGetHostByName("localhost");
  ASSERT_NE(byName, nullptr);
  ASSERT_NE(byName->h_addr_list[0], nullptr);
  in_addr first{};
  std::memcpy(&first, byName->h_addr_list[0], sizeof first);
  EXPECT_EQ(Dotted(first), "127.0.0.1");

  const testsupport::ScopedReverse names{{{"127.0.0.1", "loopback.example.test"}}};
  const hostent* byAddr = WSocketGetHostByAddr("127.0.0.1");
  ASSERT_NE(byAddr, nullptr);
  EXPECT_STREQ(byAddr->h_name, "loopback.example.test");
  EXPECT_EQ(WSocketGetHostByAddr("192.0.2.9"), nullptr);

  EXPECT_EQ(WSocketGetHostByName("no-such-host.invalid"), nullptr);
  EXPECT_NE(plat::WSAGetLastError(), 0);
}

std::vector<std::string> Texts(const std::vector<TSockAddr>& All) {
  std::vector<std::string> out;
  for (const TSockAddr& a : All) out.push_back(SockAddrText(a));
  return out;
}

TEST(HostResolveTest, BothFamiliesInTheOrderAClientTriesThem) {
  const testsupport::ScopedForward names(
      {{"mixed.test", {"10.0.0.1", "10.0.0.2", "10.0.0.3", "2001:db8::1", "2001:db8::2"}},
       {"six.test", {"2001:db8::6"}}});
  // The families alternate, IPv6 first, each in the resolver's order.
  EXPECT_EQ(
      Texts(WSocketResolveHostAll("mixed.test")),
      (std::vector<std::string>{"2001:db8::1", "10.0.0.1", "2001:db8::2", "10.0.0.2", "10.0.0.3"}));
  // The IPv4 entry and its resolver keep to IPv4: an IPv6-only name has none.
  EXPECT_EQ(Dotted(WSocketResolveHost("mixed.test")), "10.0.0.1");
  EXPECT_EQ(WSocketGetHostByName("six.test"), nullptr);
  EXPECT_EQ(plat::WSAGetLastError(), plat::WSANO_DATA);
  EXPECT_THROW(WSocketResolveHost("six.test"), ESocketException);
  EXPECT_EQ(Texts(WSocketResolveHostAll("six.test")), std::vector<std::string>{"2001:db8::6"});

  // Literals need no resolver; an IPv6 one may come in brackets, never with a zone.
  EXPECT_EQ(Texts(WSocketResolveHostAll(" [0:0::1] ")), std::vector<std::string>{"::1"});
  EXPECT_EQ(Texts(WSocketResolveHostAll("10.1")), std::vector<std::string>{"10.0.0.1"});
  TSockAddr a{};
  a.In.sin_port = htons(8080);
  ASSERT_TRUE(ParseIPv6Literal("fe80::1", a));
  EXPECT_EQ(ntohs(a.In6.sin6_port), 8080);  // the port stays
  EXPECT_EQ(SockAddrLen(a), static_cast<int>(sizeof(sockaddr_in6)));
  for (const char* bad : {"fe80::1%lo", "[::1", "::1]", "1.2.3.4", "host", ":::", ""})
    EXPECT_FALSE(ParseIPv6Literal(bad, a)) << bad;
  EXPECT_THROW(WSocketResolveHostAll("absent.test"), ESocketException);
}

TEST(HostResolveTest, LocalNameAndAddresses) {
  char expected[256] = {};
  ASSERT_EQ(gethostname(expected, sizeof expected), 0);
  EXPECT_EQ(LocalHostName(), expected);

  TStringList* first = LocalIPList();
  ASSERT_NE(first, nullptr);
  const int count = first->Count();
  TStringList* second = LocalIPList();
  EXPECT_EQ(first, second);
  EXPECT_EQ(second->Count(), count);  // refilled, not appended to
  for (int i = 0; i < second->Count(); ++i)
    EXPECT_NE(plat::inet_addr(second->Strings(i).c_str()), INADDR_NONE) << second->Strings(i);
}

TEST(HostResolveTest, FillAddressListKeepsTheEntryOrder) {
  in_addr a{}, b{}, c{};
  a.s_addr = htonl(0x0A000001);
  b.s_addr = htonl(0x0A000002);
  c.s_addr = htonl(0x0A000003);
  char* list[] = {reinterpret_cast<char*>(&c), reinterpret_cast<char*>(&a),
                  reinterpret_cast<char*>(&b), nullptr};
  hostent entry{};
  entry.h_addrtype = AF_INET;
  entry.h_length = 4;
  entry.h_addr_list = list;
  TStringList out;
  out.Add("kept");
  FillAddressList(entry, out);
  ASSERT_EQ(out.Count(), 4);
  EXPECT_EQ(out.Strings(1), "10.0.0.3");
  EXPECT_EQ(out.Strings(2), "10.0.0.1");
  EXPECT_EQ(out.Strings(3), "10.0.0.2");
}

}  // namespace

namespace {

// The resolver takes names as C strings: a name with a zero byte used to be looked up as
// its part before the zero ("good.example\0evil.example" as "good.example", a dotted
// address followed by a zero as that address) and reported as a success. Refused
// everywhere a name enters, with a clear error.
TEST(HostResolveTest, NamesWithAZeroByteAreRefusedEverywhere) {
  const std::string evil("localhost\0evil.example", 22);
  const std::string dottedEvil("127.0.0.1\0.evil", 15);
  for (const std::string& name : {evil, dottedEvil}) {
    EXPECT_THROW(WSocketResolveHost(name), ESocketException);
    EXPECT_EQ(WSocketGetHostByName(name), nullptr);
    EXPECT_EQ(WSocketGetHostByAddr(name), nullptr);

    TWSocket s(nullptr);
    int errors = 0;
    std::vector<std::uint16_t> done;
    s.OnError = [&](TObject*) { ++errors; };
    s.OnDnsLookupDone = [&](TObject*, std::uint16_t E) { done.push_back(E); };
    s.SetAddr(name);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(s.LastError(), 10022);
    s.SetPort("80");
    s.Connect();
    EXPECT_EQ(errors, 2) << "Connect went ahead without an address";
    EXPECT_EQ(s.State(), wsClosed);
    s.DnsLookup(name);
    s.ReverseDnsLookup(name);
    EXPECT_EQ(errors, 4);
    EXPECT_EQ(done, (std::vector<std::uint16_t>{10022, 10022}));
    EXPECT_EQ(s.DnsResult(), "");
  }
  TWSocket s(nullptr);
  EXPECT_THROW(s.SetPort(std::string("http\0junk", 9)), ESocketException);
  EXPECT_THROW(s.SetProto(std::string("tcp\0junk", 8)), ESocketException);
}

}  // namespace
