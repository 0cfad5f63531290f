#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "Host/Application.h"
#include "WSockbuf/Buffer.h"
#include "WSocket/ProbeSocket.h"
#include "WSocket/WSocket.h"
#include "support/Pump.h"

using testsupport::PumpUntil;
using wsocktest::Loopback;
using wsocktest::ProbeSocket;

namespace {

// A connected-looking socket whose network is a script: each send takes the scripted
// number of bytes (all when the script is empty), or fails with the scripted code.
class ScriptedSocket : public ProbeSocket {
 public:
  explicit ScriptedSocket(TComponent* AOwner) : ProbeSocket(AOwner) {
    FSocketHandle = plat::socket(AF_INET, SOCK_STREAM, 0);
    FState = wsConnected;
  }

  struct Step {
    int take = 0;
    int error = 0;
  };
  std::deque<Step> script;
  std::vector<int> offered;
  std::string wire;

 protected:
  std::int32_t RealSend(const void* Data, std::int32_t Len) override {
    offered.push_back(Len);
    Step step{Len, 0};
    if (!script.empty()) {
      step = script.front();
      script.pop_front();
    }
    if (step.error != 0) {
      plat::WSASetLastError(step.error);
      return -1;
    }
    const int n = std::min(step.take, Len);
    wire.append(static_cast<const char*>(Data), static_cast<std::size_t>(n));
    return n;
  }
  // A stream hands over every queued chunk at once: one scripted send of them all.
  std::int32_t RealSendGather(const iovec* Pieces, int Count) override {
    std::string joined;
    for (int i = 0; i < Count; ++i)
      joined.append(static_cast<const char*>(Pieces[i].iov_base), Pieces[i].iov_len);
    return RealSend(joined.data(), static_cast<std::int32_t>(joined.size()));
  }
};

std::string Pattern(std::size_t n, char seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i % 61);
  return s;
}

// Dispatches the one queued notification for the socket's window, if any.
bool DispatchOne(plat::HWND window) {
  plat::MSG msg{};
  if (!plat::PeekMessageA(&msg, window, 0, 0, plat::PM_REMOVE)) return false;
  plat::DispatchMessageA(&msg);
  return true;
}

TEST(DataTransferTest, SendQueuesChunksAndReportsSentLater) {
  ScriptedSocket s(nullptr);
  int sent = 0;
  s.OnDataSent = [&](TObject*, std::uint16_t e) {
    EXPECT_EQ(e, 0);
    ++sent;
  };
  const std::string data = Pattern(3000, 'a');
  EXPECT_EQ(s.SendStr(data), 3000);
  EXPECT_EQ(s.offered, std::vector<int>{3000});  // both chunks (1514 and 1486) in one write
  EXPECT_EQ(s.wire, data);
  EXPECT_TRUE(s.FAllSent);
  EXPECT_EQ(s.FSendQueue.ChunkCount(), 0u);  // drained: an idle queue holds no chunk
  EXPECT_EQ(sent, 0);                        // never from inside Send
  TCustomWSocket::ProcessMessages();
  EXPECT_EQ(sent, 1);
}

TEST(DataTransferTest, PartialSendWaitsForWriteNotificationAndKeepsOrder) {
  ScriptedSocket s(nullptr);
  int sent = 0;
  s.OnDataSent = [&](TObject*, std::uint16_t) { ++sent; };
  s.script = {{1000, 0}};
  const std::string first = Pattern(1514, 'a');
  EXPECT_EQ(s.SendStr(first), 1514);
  EXPECT_EQ(s.offered, std::vector<int>{1514});
  EXPECT_EQ(s.wire.size(), 1000u);
  EXPECT_FALSE(s.FAllSent);

  s.script = {{0, plat::WSAEWOULDBLOCK}};
  const std::string second = Pattern(100, 'A');
  EXPECT_EQ(s.SendStr(second), 100);
  // The rest of the first chunk goes first, with the second.
  EXPECT_EQ(s.offered, (std::vector<int>{1514, 614}));
  EXPECT_EQ(s.wire.size(), 1000u);
  TCustomWSocket::ProcessMessages();
  EXPECT_EQ(sent, 0);

  // The socket layer reports room again.
  plat::PostMessageA(s.FWindowHandle, WM_SOCKET_SELECT, s.FSocketHandle,
                     plat::MAKELONG(plat::FD_WRITE, 0));
  TCustomWSocket::ProcessMessages();
  EXPECT_EQ(s.wire, first + second);
  EXPECT_EQ(sent, 1);
  EXPECT_TRUE(s.FAllSent);
}

TEST(DataTransferTest, EmptySendCountsAsDrained) {
  ScriptedSocket s(nullptr);
  int sent = 0;
  s.OnDataSent = [&](TObject*, std::uint16_t) { ++sent; };
  EXPECT_EQ(s.Send(nullptr, 0), 0);
  EXPECT_EQ(s.Send("x", -5), 0);
  EXPECT_TRUE(s.FSendQueue.Empty());
  TCustomWSocket::ProcessMessages();
  EXPECT_EQ(sent, 2);
  EXPECT_TRUE(s.offered.empty());
}

// A null address with a length used to append empty chunks without end.
TEST(DataTransferTest, NullDataIsRefusedNotQueued) {
  ScriptedSocket s(nullptr);
  int errors = 0;
  s.OnError = [&](TObject*) { ++errors; };
  EXPECT_EQ(s.Send(nullptr, 10), -1);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(s.LastError(), plat::WSAEFAULT);
  EXPECT_EQ(s.State(), wsConnected);
  s.PutDataInSendBuffer(nullptr, 10);
  EXPECT_TRUE(s.FSendQueue.Empty());
  EXPECT_TRUE(s.offered.empty());
}

TEST(DataTransferTest, LostConnectionWhileSendingClosesAndReportsItsCode) {
  for (int code : {plat::WSAECONNRESET, plat::WSAENOTSOCK, plat::WSAENOTCONN, plat::WSAEINVAL}) {
    ScriptedSocket s(nullptr);
    std::vector<std::uint16_t> closed;
    s.OnSessionClosed = [&](TObject*, std::uint16_t e) { closed.push_back(e); };
    s.script = {{0, code}};
    EXPECT_EQ(s.SendStr("abc"), 3);  // the count queued
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(closed, std::vector<std::uint16_t>{static_cast<std::uint16_t>(code)});
    TCustomWSocket::ProcessMessages();  // no data-sent for the ended session
    EXPECT_EQ(closed.size(), 1u);
  }
}

TEST(DataTransferTest, DestroyedInsideTheClosedEventOfALostSend) {
  auto* s = new ScriptedSocket(nullptr);
  int closed = 0;
  s->OnSessionClosed = [&](TObject* sender, std::uint16_t e) {
    ++closed;
    EXPECT_EQ(e, plat::WSAECONNRESET);
    delete static_cast<ScriptedSocket*>(sender);
  };
  s->script = {{0, plat::WSAECONNRESET}};
  EXPECT_EQ(s->SendStr("abc"), 3);
  EXPECT_EQ(closed, 1);
  TCustomWSocket::ProcessMessages();
}

TEST(DataTransferTest, OtherSendFailureIsReported) {
  ScriptedSocket s(nullptr);
  s.script = {{0, plat::WSAENOBUFS}};
  try {
    s.SendStr("abc");
    FAIL() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message().substr(0, 42), "Error 10055 in function TryToSend failed\r\n");
  }
  EXPECT_EQ(s.State(), wsConnected);
  EXPECT_EQ(s.FSendQueue.First()->WritePos(), 3);  // still queued
}

TEST(DataTransferTest, SendNeedsAConnection) {
  ProbeSocket s(nullptr);
  int errors = 0;
  s.OnError = [&](TObject*) { ++errors; };
  EXPECT_EQ(s.SendStr("x"), -1);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(s.LastError(), plat::WSAENOTCONN);

  // While connecting: reported, and the half-made connection is closed.
  Loopback server;
  ASSERT_TRUE(server.Start());
  server.Aim(s);
  s.Connect();
  ASSERT_EQ(s.State(), wsConnecting);
  EXPECT_EQ(s.SendStr("early"), -1);
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(s.FSocketHandle, plat::INVALID_SOCKET);
  EXPECT_EQ(errors, 2);
}

TEST(DataTransferTest, SendFlags) {
  ScriptedSocket s(nullptr);
  EXPECT_EQ(s.SendFlags(), wsSendNormal);
  s.SetSendFlags(wsSendUrgent);
  EXPECT_EQ(s.FSendFlagsValue, MSG_OOB);
  EXPECT_EQ(s.SendFlags(), wsSendUrgent);
  EXPECT_THROW(s.SetSendFlags(static_cast<TSocketSendFlags>(7)), ESocketException);
  EXPECT_EQ(s.FSendFlagsValue, MSG_OOB);
  s.FSendFlagsValue = 5;
  try {
    s.SendFlags();
    FAIL() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message(), "Invalid internal SendFlags");
  }
  int errors = 0;
  s.OnError = [&](TObject*) { ++errors; };
  EXPECT_EQ(s.SendFlags(), wsSendNormal);
  EXPECT_EQ(errors, 1);
}

// A connected pair over loopback: Client and the served end Peer().
class ConnectedPair : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Start());
    client = server.NewClient();
    client->Connect();
    ASSERT_TRUE(
        PumpUntil([&] { return client->State() == wsConnected && server.Served.size() == 1; }));
    testsupport::PumpFor(std::chrono::milliseconds(5));  // first data-sent and the like
  }
  ProbeSocket& Peer() { return *server.Served[0]; }
  // Waits until the client's socket holds n bytes, notifications held back meanwhile.
  bool HoldUntilWaiting(int n) {
    client->Pause();
    return PumpUntil([&] { return client->RcvdCount() == n; });
  }

  Loopback server;
  std::unique_ptr<ProbeSocket> client;
};

TEST_F(ConnectedPair, PartialReaderIsCalledAgainWithinOneNotification) {
  int calls = 0;
  std::string got;
  client->OnDataAvailable = [&](TObject*, std::uint16_t) {
    ++calls;
    char buf[100];
    const int n = client->Receive(buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<std::size_t>(n));
  };
  const std::string data = Pattern(1000, 'k');
  Peer().SendStr(data);
  ASSERT_TRUE(HoldUntilWaiting(1000));
  client->Resume();  // posts one FD_READ for what is waiting
  ASSERT_TRUE(DispatchOne(client->FWindowHandle));
  EXPECT_EQ(got, data);
  EXPECT_EQ(calls, 10);
  EXPECT_EQ(client->ReadCount(), 1000);
}

TEST_F(ConnectedPair, ReaderThatTakesNothingIsNotCalledForever) {
  int calls = 0;
  client->OnDataAvailable = [&](TObject*, std::uint16_t) {
    if (++calls > 100) client->ReceiveStr();  // bounds the test should the guard fail
  };
  Peer().SendStr("unread");
  ASSERT_TRUE(PumpUntil([&] { return calls > 0; }));
  testsupport::PumpFor(std::chrono::milliseconds(20));
  EXPECT_LE(calls, 2);  // one pass to see that nothing was taken
  EXPECT_EQ(client->RcvdCount(), 6);
  // The next read re-arms the notifications.
  const int before = calls;
  char c;
  EXPECT_EQ(client->PeekData(&c, 1), 1);
  ASSERT_TRUE(PumpUntil([&] { return calls > before; }));
}

TEST_F(ConnectedPair, WithoutHandlerDataIsDiscarded) {
  Peer().SendStr(Pattern(3000, 'z'));
  ASSERT_TRUE(HoldUntilWaiting(3000));
  client->Resume();
  ASSERT_TRUE(PumpUntil([&] { return client->RcvdCount() == 0; }));
  EXPECT_EQ(client->ReadCount(), 0);
}

TEST_F(ConnectedPair, ErrorOfTheDataHandlerStaysInTheDispatcher) {
  int escaped = 0;
  Application->OnException = [&](TObject*, const Exception&) { ++escaped; };
  int calls = 0;
  std::string got;
  client->OnDataAvailable = [&](TObject*, std::uint16_t) {
    got += client->ReceiveStr();
    if (++calls == 1) throw Exception("handler failed");
  };
  Peer().SendStr("first");
  ASSERT_TRUE(PumpUntil([&] { return calls == 1; }));
  Peer().SendStr("second");
  ASSERT_TRUE(PumpUntil([&] { return got == "firstsecond"; }));
  EXPECT_EQ(escaped, 0);
  Application->OnException = nullptr;
}

TEST_F(ConnectedPair, PeerCloseDeliversTheRestFirst) {
  std::vector<std::string> events;
  client->OnDataAvailable = [&](TObject*, std::uint16_t) {
    const std::string s = client->ReceiveStr();
    if (!s.empty()) events.push_back("data " + std::to_string(s.size()));
  };
  client->OnSessionClosed = [&](TObject*, std::uint16_t e) {
    events.push_back("closed " + std::to_string(e));
  };
  Peer().SetLingerOnOff(wsLingerOff);
  Peer().SetLingerOption();
  Peer().SendStr(Pattern(500, 'q'));
  Peer().Close();
  ASSERT_TRUE(PumpUntil([&] { return client->State() == wsClosed; }));
  testsupport::PumpFor(std::chrono::milliseconds(10));
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), "closed 0");
  EXPECT_EQ(std::count(events.begin(), events.end(), "closed 0"), 1);
  int total = 0;
  for (const auto& e : events)
    if (e.rfind("data ", 0) == 0) total += std::stoi(e.substr(5));
  EXPECT_EQ(total, 500);
}

TEST_F(ConnectedPair, ForeignOrEarlyNotificationsAreIgnored) {
  int calls = 0;
  client->OnDataAvailable = [&](TObject*, std::uint16_t) { ++calls; };
  client->OnSessionClosed = [&](TObject*, std::uint16_t) { ++calls; };
  plat::PostMessageA(client->FWindowHandle, WM_SOCKET_SELECT, 12345,
                     plat::MAKELONG(plat::FD_READ | plat::FD_CLOSE, 0));
  plat::PostMessageA(client->FWindowHandle, WM_SOCKET_SELECT, plat::INVALID_SOCKET,
                     plat::MAKELONG(plat::FD_CLOSE, 0));
  TCustomWSocket::ProcessMessages();
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(client->State(), wsConnected);

  // A close notification while the connection is still being made is ignored.
  auto late = server.NewClient();
  int closed = 0;
  late->OnSessionClosed = [&](TObject*, std::uint16_t) { ++closed; };
  late->Connect();
  ASSERT_EQ(late->State(), wsConnecting);
  plat::PostMessageA(late->FWindowHandle, WM_SOCKET_SELECT, late->FSocketHandle,
                     plat::MAKELONG(plat::FD_CLOSE, 0));
  ASSERT_TRUE(PumpUntil([&] { return late->State() == wsConnected; }));
  EXPECT_EQ(closed, 0);
}

TEST_F(ConnectedPair, ReceiveVariants) {
  client->FLastError = 1234;
  EXPECT_EQ(client->ReceiveStr(), "");  // nothing waiting: no read at all
  EXPECT_EQ(client->LastError(), 1234);
  char buf[16];
  EXPECT_EQ(client->Receive(buf, sizeof buf), -1);
  EXPECT_EQ(client->LastError(), plat::WSAEWOULDBLOCK);

  Peer().SendStr("0123456789");
  ASSERT_TRUE(HoldUntilWaiting(10));
  EXPECT_EQ(client->PeekData(buf, 4), 4);
  EXPECT_EQ(client->ReadCount(), 0);
  EXPECT_EQ(client->Receive(buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "0123");
  EXPECT_EQ(client->ReadCount(), 4);
  EXPECT_EQ(client->ReceiveStr(), "456789");
  EXPECT_EQ(client->ReadCount(), 4);
}

TEST(DataTransferTest, ReceivedCountWithoutASocketIsReported) {
  ProbeSocket s(nullptr);
  try {
    s.RcvdCount();
    FAIL() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_NE(e.Message().find("in function ioctlSocket"), std::string::npos);
  }
  s.OnError = [](TObject*) {};
  EXPECT_EQ(s.RcvdCount(), -1);
}

}  // namespace
