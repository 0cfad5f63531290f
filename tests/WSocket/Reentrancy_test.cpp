// Handlers that close, destroy or restart the component that called them. Run under the
// address sanitizer these also prove that nothing of a destroyed component is touched.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "WSocket/ProbeSocket.h"
#include "WSocket/WSocket.h"
#include "support/FreePort.h"

using wsocktest::Loopback;
using wsocktest::ProbeSocket;
using wsocktest::Pump;

namespace {

void Destroy(TObject* Sender) {
  delete static_cast<ProbeSocket*>(Sender);
}

// A client connected to a served peer; the client is owned by the test through a raw
// pointer, since handlers may delete it.
struct Pair {
  Loopback server;
  ProbeSocket* client = nullptr;
  bool Open() {
    if (!server.Start()) return false;
    client = server.NewClient().release();
    return true;
  }
  bool Connect() {
    client->Connect();
    return Pump([&] { return client->State() == wsConnected && server.Served.size() == 1; });
  }
  ProbeSocket& Peer() { return *server.Served[0]; }
};

TEST(ReentrancyTest, DestroyedInsideOnDataAvailable) {
  Pair p;
  ASSERT_TRUE(p.Open());
  ASSERT_TRUE(p.Connect());
  int calls = 0;
  p.client->OnDataAvailable = [&](TObject* sender, std::uint16_t) {
    ++calls;
    Destroy(sender);
  };
  p.Peer().SendStr("some data, then more");
  ASSERT_TRUE(Pump([&] { return calls > 0; }));
  testsupport::PumpFor(std::chrono::milliseconds(20));
  EXPECT_EQ(calls, 1);
}

TEST(ReentrancyTest, DestroyedInsideOnSessionClosedFromThePeer) {
  Pair p;
  ASSERT_TRUE(p.Open());
  ASSERT_TRUE(p.Connect());
  int calls = 0;
  p.client->OnDataAvailable = [&](TObject*, std::uint16_t) { p.client->ReceiveStr(); };
  p.client->OnSessionClosed = [&](TObject* sender, std::uint16_t) {
    ++calls;
    Destroy(sender);
  };
  p.Peer().SendStr("bye");
  p.Peer().Close();
  ASSERT_TRUE(Pump([&] { return calls > 0; }));
  testsupport::PumpFor(std::chrono::milliseconds(20));
  EXPECT_EQ(calls, 1);
}

TEST(ReentrancyTest, DestroyedInsideOnSessionClosedFromClose) {
  Pair p;
  ASSERT_TRUE(p.Open());
  ASSERT_TRUE(p.Connect());
  int calls = 0;
  p.client->OnSessionClosed = [&](TObject* sender, std::uint16_t) {
    ++calls;
    Destroy(sender);
  };
  p.client->Close();
  EXPECT_EQ(calls, 1);
}

TEST(ReentrancyTest, DestroyedInsideOnSessionConnected) {
  for (bool refused : {false, true}) {
    Pair p;
    ASSERT_TRUE(p.Open());
    testsupport::ReservedPort nobody;
    if (refused) p.client->SetPort(std::to_string(nobody.Port()));
    int calls = 0;
    std::uint16_t error = 0;
    p.client->OnSessionConnected = [&](TObject* sender, std::uint16_t e) {
      ++calls;
      error = e;
      Destroy(sender);
    };
    p.client->Connect();
    ASSERT_TRUE(Pump([&] { return calls > 0; }));
    testsupport::PumpFor(std::chrono::milliseconds(20));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(error, refused ? plat::WSAECONNREFUSED : 0);
  }
}

TEST(ReentrancyTest, DestroyedInsideOnDataSentAndOnChangeState) {
  Pair p;
  ASSERT_TRUE(p.Open());
  int sent = 0;
  p.client->OnDataSent = [&](TObject* sender, std::uint16_t) {
    ++sent;
    Destroy(sender);
  };
  p.client->Connect();
  ASSERT_TRUE(Pump([&] { return sent > 0; }));

  auto* s = p.server.NewClient().release();
  int changes = 0;
  s->OnChangeState = [&](TObject* sender, TSocketState, TSocketState n) {
    ++changes;
    if (n == wsOpened) Destroy(sender);
  };
  s->Connect();
  EXPECT_EQ(changes, 1);
  testsupport::PumpFor(std::chrono::milliseconds(20));
}

TEST(ReentrancyTest, ListenerDestroyedInsideOnSessionAvailable) {
  auto* listener = new ProbeSocket(nullptr);
  listener->SetAddr("127.0.0.1");
  listener->SetPort("0");
  int calls = 0;
  listener->OnSessionAvailable = [&](TObject* sender, std::uint16_t) {
    ++calls;
    Destroy(sender);
  };
  ASSERT_EQ(listener->Listen(), 0);
  ProbeSocket client(nullptr);
  client.SetAddr("127.0.0.1");
  client.SetPort(listener->GetXPort());
  client.Connect();
  ASSERT_TRUE(Pump([&] { return calls > 0; }));
  testsupport::PumpFor(std::chrono::milliseconds(20));
  EXPECT_EQ(calls, 1);
}

TEST(ReentrancyTest, CloseInsideOnDataAvailableEndsTheDelivery) {
  Pair p;
  ASSERT_TRUE(p.Open());
  ASSERT_TRUE(p.Connect());
  int data = 0, closed = 0;
  p.client->OnDataAvailable = [&](TObject*, std::uint16_t) {
    ++data;
    p.client->Close();
  };
  p.client->OnSessionClosed = [&](TObject*, std::uint16_t) { ++closed; };
  p.Peer().SendStr(std::string(5000, 'd'));
  ASSERT_TRUE(Pump([&] { return closed > 0; }));
  testsupport::PumpFor(std::chrono::milliseconds(20));
  EXPECT_EQ(data, 1);
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(p.client->State(), wsClosed);
  delete p.client;
}

TEST(ReentrancyTest, NewSessionStartedWhenThePeerClosedSurvives) {
  Pair p;
  ASSERT_TRUE(p.Open());
  ASSERT_TRUE(p.Connect());
  int closed = 0, connected = 0;
  p.client->OnSessionClosed = [&](TObject*, std::uint16_t) {
    if (++closed > 1) return;
    // Still inside the old session's close notification: reconnect at once.
    p.client->Close();
    p.server.Aim(*p.client);
    p.client->Connect();
  };
  p.client->OnSessionConnected = [&](TObject*, std::uint16_t e) {
    if (e == 0) ++connected;
  };
  p.Peer().Close();
  ASSERT_TRUE(Pump([&] { return connected == 1 && p.server.Served.size() == 2; }));
  testsupport::PumpFor(std::chrono::milliseconds(20));
  EXPECT_EQ(p.client->State(), wsConnected);
  EXPECT_EQ(closed, 1);
  // The new session works.
  std::string got;
  p.server.Served[1]->OnDataAvailable = [&](TObject*, std::uint16_t) {
    got += p.server.Served[1]->ReceiveStr();
  };
  p.client->SendStr("second session");
  ASSERT_TRUE(Pump([&] { return got == "second session"; }));
  delete p.client;
}

TEST(ReentrancyTest, RetryAfterARefusedConnectIsNotClosedByTheOldNotification) {
  Pair p;
  ASSERT_TRUE(p.Open());
  testsupport::ReservedPort nobody;
  p.client->SetPort(std::to_string(nobody.Port()));
  std::vector<std::uint16_t> results;
  p.client->OnSessionConnected = [&](TObject*, std::uint16_t e) {
    results.push_back(e);
    if (e != 0 && results.size() == 1) {
      p.client->Close();
      p.server.Aim(*p.client);
      p.client->Connect();
    }
  };
  p.client->Connect();
  ASSERT_TRUE(Pump([&] { return results.size() == 2; }));
  testsupport::PumpFor(std::chrono::milliseconds(20));
  EXPECT_EQ(results, (std::vector<std::uint16_t>{plat::WSAECONNREFUSED, 0}));
  EXPECT_EQ(p.client->State(), wsConnected);
  delete p.client;
}

}  // namespace
