#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Host/StringList.h"
#include "WSocket/ProbeSocket.h"
#include "WSocket/WSocket.h"
#include "support/Pump.h"
#include "support/ScopedResolver.h"

using testsupport::PumpUntil;
using wsocktest::ProbeSocket;

namespace {

// Records every OnDnsLookupDone of a socket.
struct Completions {
  std::vector<std::uint16_t> errors;
  void Attach(TCustomWSocket& s) {
    s.OnDnsLookupDone = [this](TObject*, std::uint16_t e) { errors.push_back(e); };
  }
};

TEST(DnsLookupTest, DottedAddressCompletesBeforeReturning) {
  ProbeSocket s(nullptr);
  Completions done;
  done.Attach(s);
  s.DnsLookup("10.0.0.1");
  ASSERT_EQ(done.errors, std::vector<std::uint16_t>{0});
  EXPECT_EQ(s.DnsResult(), "10.0.0.1");
  EXPECT_EQ(s.DnsResultList()->Count(), 0);
  // Any form the address parser accepts comes back in canonical dotted form.
  s.DnsLookup("0x7f.1");
  EXPECT_EQ(s.DnsResult(), "127.0.0.1");
  EXPECT_EQ(done.errors.size(), 2u);
  // IPv6 too, in its short form, brackets or not.
  s.DnsLookup("0:0:0:0:0:0:0:1");
  EXPECT_EQ(s.DnsResult(), "::1");
  s.DnsLookup("[2001:DB8:0::5]");
  EXPECT_EQ(s.DnsResult(), "2001:db8::5");
  EXPECT_EQ(done.errors.size(), 4u);
  EXPECT_EQ(s.HostEntryBuffer(), nullptr);
}

TEST(DnsLookupTest, NameCompletesThroughAMessage) {
  ProbeSocket s(nullptr);
  Completions done;
  done.Attach(s);
  s.DnsLookup("localhost");
  EXPECT_TRUE(done.errors.empty());
  EXPECT_NE(s.HostEntryBuffer(), nullptr);
  ASSERT_TRUE(PumpUntil([&] { return !done.errors.empty(); }));
  EXPECT_EQ(done.errors, std::vector<std::uint16_t>{0});
  EXPECT_EQ(s.DnsResult(), "127.0.0.1");
  ASSERT_GE(s.DnsResultList()->Count(), 1);
  EXPECT_EQ(s.DnsResultList()->Strings(0), "127.0.0.1");
  EXPECT_EQ(s.LookupHandle(), 0u);
  EXPECT_EQ(s.HostEntryBuffer(), nullptr);  // idle sockets carry no look-up buffer
}

TEST(DnsLookupTest, UnknownNameCompletesWithHostNotFound) {
  ProbeSocket s(nullptr);
  Completions done;
  done.Attach(s);
  s.DnsLookup("10.0.0.9");
  s.DnsLookup("no-such-host.invalid");
  EXPECT_EQ(s.DnsResult(), "");  // cleared when the look-up starts
  ASSERT_TRUE(PumpUntil([&] { return done.errors.size() == 2; }));
  EXPECT_EQ(done.errors[1], plat::WSAHOST_NOT_FOUND);
  EXPECT_EQ(s.DnsResult(), "");
  EXPECT_EQ(s.DnsResultList()->Count(), 0);
}

TEST(DnsLookupTest, SecondLookupReplacesThePendingOne) {
  ProbeSocket s(nullptr);
  Completions done;
  done.Attach(s);
  s.DnsLookup("no-such-host.invalid");
  s.DnsLookup("localhost");
  ASSERT_TRUE(PumpUntil([&] { return !done.errors.empty(); }));
  testsupport::PumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(done.errors, std::vector<std::uint16_t>{0});
  EXPECT_EQ(s.DnsResult(), "127.0.0.1");
}

TEST(DnsLookupTest, CancelFiresInterruptedAndNothingLater) {
  ProbeSocket s(nullptr);
  Completions done;
  done.Attach(s);
  s.CancelDnsLookup();  // nothing pending: nothing happens
  EXPECT_TRUE(done.errors.empty());
  s.DnsLookup("localhost");
  s.CancelDnsLookup();
  EXPECT_EQ(done.errors, std::vector<std::uint16_t>{plat::WSAEINTR});
  EXPECT_EQ(s.HostEntryBuffer(), nullptr);
  testsupport::PumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(done.errors.size(), 1u);
  EXPECT_EQ(s.DnsResult(), "");
}

TEST(DnsLookupTest, EmptyHostIsReportedThenCompletesWithInvalid) {
  ProbeSocket s(nullptr);
  Completions done;
  done.Attach(s);
  try {
    s.DnsLookup("");
    FAIL() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message(), "DNS lookup: invalid host name.");
  }
  EXPECT_TRUE(done.errors.empty());  // the exception left before the event

  std::vector<std::string> order;
  s.OnError = [&](TObject*) { order.push_back("error"); };
  s.OnDnsLookupDone = [&](TObject*, std::uint16_t e) { order.push_back(std::to_string(e)); };
  s.ReverseDnsLookup("");
  EXPECT_EQ(order, (std::vector<std::string>{"error", "10022"}));
}

TEST(DnsLookupTest, ReverseLookupGivesTheName) {
  ProbeSocket s(nullptr);
  Completions done;
  done.Attach(s);
  const testsupport::ScopedReverse names{{{"127.0.0.1", "loopback.example.test"}}};
  s.ReverseDnsLookup("127.0.0.1");
  ASSERT_TRUE(PumpUntil([&] { return !done.errors.empty(); }));
  EXPECT_EQ(done.errors[0], 0);
  EXPECT_EQ(s.DnsResult(), "loopback.example.test");
  ASSERT_EQ(s.DnsResultList()->Count(), 1);
  EXPECT_EQ(s.DnsResultList()->Strings(0), "loopback.example.test");
}

TEST(DnsLookupTest, OverlongReverseTextIsRefused) {
  ProbeSocket s(nullptr);
  Completions done;
  done.Attach(s);
  int errors = 0;
  s.OnError = [&](TObject*) { ++errors; };
  s.ReverseDnsLookup(std::string(256, '1'));
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(s.LastError(), plat::WSAENAMETOOLONG);
  EXPECT_EQ(done.errors, std::vector<std::uint16_t>{plat::WSAEINVAL});
  EXPECT_EQ(s.LookupHandle(), 0u);
}

TEST(DnsLookupTest, DestroyedWhileALookupIsPending) {
  for (int i = 0; i < 20; ++i) {
    auto s = std::make_unique<ProbeSocket>(nullptr);
    int fired = 0;
    s->OnDnsLookupDone = [&](TObject*, std::uint16_t) { ++fired; };
    s->DnsLookup(i % 2 ? "localhost" : "no-such-host.invalid");
    s.reset();
    EXPECT_EQ(fired, 0);  // no interrupted-event while being destroyed
  }
  testsupport::PumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(SocketCount(), 0);
}

TEST(DnsLookupTest, DestroyedInsideItsOwnLookupHandler) {
  // Completion through a message, completion inside DnsLookup, and cancellation.
  for (int way = 0; way < 3; ++way) {
    auto* s = new ProbeSocket(nullptr);
    int fired = 0;
    s->OnDnsLookupDone = [&fired](TObject* sender, std::uint16_t) {
      ++fired;
      delete static_cast<ProbeSocket*>(sender);
    };
    if (way == 0) {
      s->DnsLookup("localhost");
      ASSERT_TRUE(PumpUntil([&] { return fired > 0; }));
    } else if (way == 1) {
      s->DnsLookup("127.0.0.1");
    } else {
      s->DnsLookup("localhost");
      s->CancelDnsLookup();
    }
    EXPECT_EQ(fired, 1) << way;
    EXPECT_EQ(SocketCount(), 0);
  }
}

TEST(DnsLookupTest, HandlerMayStartTheNextLookup) {
  ProbeSocket s(nullptr);
  std::vector<std::string> results;
  s.OnDnsLookupDone = [&](TObject*, std::uint16_t e) {
    results.push_back(std::to_string(e) + ":" + s.DnsResult());
    if (results.size() == 1) s.ReverseDnsLookup(s.DnsResult());
  };
  const testsupport::ScopedReverse names{{{"127.0.0.1", "loopback.example.test"}}};
  s.DnsLookup("localhost");
  ASSERT_TRUE(PumpUntil([&] { return results.size() == 2; }));
  EXPECT_EQ(results, (std::vector<std::string>{"0:127.0.0.1", "0:loopback.example.test"}));
}

}  // namespace
