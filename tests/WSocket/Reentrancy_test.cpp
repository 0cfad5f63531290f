// Handlers that close, destroy or restart the component that called them. Run under the
// address sanitizer these also prove that nothing of a destroyed component is touched.
#include <gtest/gtest.h>

#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "WSocket/ProbeSocket.h"
#include "WSocket/WSocket.h"
#include "support/FreePort.h"
#include "support/Pump.h"

using testsupport::PumpUntil;
using wsocktest::Loopback;
using wsocktest::ProbeSocket;

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
    return PumpUntil([&] { return client->State() == wsConnected && server.Served.size() == 1; });
  }
  ProbeSocket& Peer() { return *server.Served[0]; }
};

// Every event kind of the socket, each with a handler that deletes its socket and then
// uses what its lambda captured by reference (the captures live in the event member the
// deletion destroys): the handler is called through a copy, so under the address
// sanitizer no freed memory is read, and the component touches nothing of itself after.
TEST(ReentrancyTest, EveryEventSurvivesItsHandlerDeletingTheSocket) {
  Loopback server;
  ASSERT_TRUE(server.Start());
  int calls = 0;
  auto deleting = [&calls](TObject* sender, auto...) {
    Destroy(sender);
    ++calls;
  };
  auto deletingNotify = [&calls](TObject* sender) {
    Destroy(sender);
    ++calls;
  };

  // OnChangeState, at the first change inside Connect.
  auto* c = server.NewClient().release();
  c->OnChangeState = deleting;
  c->Connect();
  EXPECT_EQ(calls, 1);

  // OnSessionConnected.
  c = server.NewClient().release();
  c->OnSessionConnected = deleting;
  c->Connect();
  ASSERT_TRUE(PumpUntil([&] { return calls == 2; }));

  // OnDataAvailable, OnDataSent and OnSessionClosed of connected clients.
  ProbeSocket* reader = server.NewClient().release();
  ProbeSocket* sender = server.NewClient().release();
  ProbeSocket* closer = server.NewClient().release();
  for (ProbeSocket* client : {reader, sender, closer}) ASSERT_TRUE(server.ConnectClient(*client));
  reader->OnDataAvailable = deleting;
  server.Served[server.Served.size() - 3]->SendStr("data for the reader");
  ASSERT_TRUE(PumpUntil([&] { return calls == 3; }));
  sender->OnDataSent = deleting;
  sender->SendStr("x");
  ASSERT_TRUE(PumpUntil([&] { return calls == 4; }));
  closer->OnSessionClosed = deleting;
  server.Served.back()->Close();
  ASSERT_TRUE(PumpUntil([&] { return calls == 5; }));

  // OnSessionAvailable of a listener.
  auto* listener = new ProbeSocket(nullptr);
  listener->SetAddr("127.0.0.1");
  listener->SetPort("0");
  listener->OnSessionAvailable = deleting;
  ASSERT_EQ(listener->Listen(), 0);
  auto dialer = std::make_unique<ProbeSocket>(nullptr);
  dialer->SetAddr("127.0.0.1");
  dialer->SetPort(listener->GetXPort());
  dialer->Connect();
  ASSERT_TRUE(PumpUntil([&] { return calls == 6; }));

  // OnLineTooLong, in the middle of a ReadLine.
  auto* lineReader = server.NewClient().release();
  ASSERT_TRUE(server.ConnectClient(*lineReader));
  lineReader->SetMultiThreaded(true);
  lineReader->OnLineTooLong = deletingNotify;
  server.Served.back()->SendStr(std::string(300, 'y') + "\n");
  ASSERT_TRUE(PumpUntil([&] { return lineReader->RcvdCount() == 301; }));
  std::string line = "untouched";
  lineReader->ReadLine(5, line);
  EXPECT_EQ(calls, 7);
  EXPECT_EQ(line, "untouched");

  // OnDnsLookupDone, at once (a dotted address) and from the look-up's message.
  auto* lookup = new ProbeSocket(nullptr);
  lookup->OnDnsLookupDone = deleting;
  lookup->DnsLookup("127.0.0.1");
  EXPECT_EQ(calls, 8);
  lookup = new ProbeSocket(nullptr);
  lookup->OnDnsLookupDone = deleting;
  lookup->ReverseDnsLookup("127.0.0.1");
  ASSERT_TRUE(PumpUntil([&] { return calls == 9; }));

  // OnError.
  auto* failing = new ProbeSocket(nullptr);
  failing->OnError = deletingNotify;
  failing->SetPort("no-such-service-here");
  EXPECT_EQ(calls, 10);
  testsupport::PumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(calls, 10);
}

// A handler that raises where the dispatcher ends the session (the peer's close, a
// refused connection): the error still reaches the application's exception handler, and
// the session ends all the same, so that the component can connect again.
TEST(ReentrancyTest, HandlerErrorsStillEndTheSession) {
  Loopback server;
  ASSERT_TRUE(server.Start());
  std::vector<std::string> reported;
  plat::SetDispatchExceptionHandler([&](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& x) {
      reported.push_back(x.what());
    }
  });
  auto client = server.NewClient();
  ASSERT_TRUE(server.ConnectClient(*client));
  client->OnSessionClosed = [](TObject*, std::uint16_t) {
    throw std::runtime_error("from OnSessionClosed");
  };
  server.Served.back()->Close();
  ASSERT_TRUE(PumpUntil([&] { return !reported.empty(); }));
  EXPECT_EQ(reported[0], "from OnSessionClosed");
  EXPECT_EQ(client->State(), wsClosed);
  EXPECT_EQ(client->FSocketHandle, plat::INVALID_SOCKET);
  client->OnSessionClosed = nullptr;
  server.Aim(*client);
  EXPECT_TRUE(server.ConnectClient(*client)) << "the dead session kept the component";

  // A refused connection whose OnSessionConnected raises.
  const std::uint16_t port = testsupport::FreePort();
  auto refused = std::make_unique<ProbeSocket>(nullptr);
  refused->SetAddr("127.0.0.1");
  refused->SetPort(std::to_string(port));
  refused->OnSessionConnected = [](TObject*, std::uint16_t) {
    throw std::runtime_error("from OnSessionConnected");
  };
  refused->Connect();
  ASSERT_TRUE(PumpUntil([&] { return reported.size() == 2; }));
  EXPECT_EQ(reported[1], "from OnSessionConnected");
  EXPECT_EQ(refused->State(), wsClosed);
  EXPECT_EQ(refused->FSocketHandle, plat::INVALID_SOCKET);
  plat::SetDispatchExceptionHandler(nullptr);
}

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
  ASSERT_TRUE(PumpUntil([&] { return calls > 0; }));
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
  ASSERT_TRUE(PumpUntil([&] { return calls > 0; }));
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
    ASSERT_TRUE(PumpUntil([&] { return calls > 0; }));
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
  ASSERT_TRUE(PumpUntil([&] { return sent > 0; }));

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
  ASSERT_TRUE(PumpUntil([&] { return calls > 0; }));
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
  ASSERT_TRUE(PumpUntil([&] { return closed > 0; }));
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
  ASSERT_TRUE(PumpUntil([&] { return connected == 1 && p.server.Served.size() == 2; }));
  testsupport::PumpFor(std::chrono::milliseconds(20));
  EXPECT_EQ(p.client->State(), wsConnected);
  EXPECT_EQ(closed, 1);
  // The new session works.
  std::string got;
  p.server.Served[1]->OnDataAvailable = [&](TObject*, std::uint16_t) {
    got += p.server.Served[1]->ReceiveStr();
  };
  p.client->SendStr("second session");
  ASSERT_TRUE(PumpUntil([&] { return got == "second session"; }));
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
  ASSERT_TRUE(PumpUntil([&] { return results.size() == 2; }));
  testsupport::PumpFor(std::chrono::milliseconds(20));
  EXPECT_EQ(results, (std::vector<std::uint16_t>{plat::WSAECONNREFUSED, 0}));
  EXPECT_EQ(p.client->State(), wsConnected);
  delete p.client;
}

}  // namespace
