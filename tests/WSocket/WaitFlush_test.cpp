// Waiting for a state and for the send queue to drain, with the wait control on the
// user-interface thread and with the thread's own queue (MultiThreaded).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "Host/Timer.h"
#include "WSocket/LineTestSupport.h"
#include "WSocket/WSocket.h"
#include "Wait/Wait.h"
#include "support/Bytes.h"
#include "support/FreePort.h"
#include "support/Pump.h"

using namespace std::chrono_literals;
using linetest::LineSocket;
using linetest::ScriptedPeer;

namespace {

constexpr std::size_t TenMegabytes = 10u << 20;

// "got <n> <crc> <how>" of the reading peers.
struct Got {
  long long Count = -1;
  std::string Crc;
  std::string How;
};

Got ParseGot(const std::string& Line) {
  Got g;
  std::istringstream in(Line);
  std::string word;
  in >> word >> g.Count >> g.Crc >> g.How;
  return g;
}

class WaitFlushTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Wait.SetInterval(50);
    // Whatever goes wrong, no wait of these tests outlives this.
    Watchdog.SetInterval(15000);
    Watchdog.OnTimer = [this](TObject*) {
      WatchdogFired = true;
      Wait.Stop();
      if (Sock) Sock->Abort();
    };
  }
  void TearDown() override { EXPECT_FALSE(WatchdogFired); }

  TWait Wait{nullptr};
  TTimer Watchdog{nullptr};
  bool WatchdogFired = false;
  std::unique_ptr<LineSocket> Sock;
};

// Connecting: Wait returns true once the connection is made, and false at once when the
// state already holds, without running the wait control.
TEST_F(WaitFlushTest, WaitForConnectionWithTheWaitControl) {
  ScriptedPeer p;
  ASSERT_TRUE(p.Start({}));
  Sock = std::move(p.Sock);
  Sock->SetWaitCtrl(&Wait);
  int starts = 0;
  Wait.OnWaitStart = [&](TObject*) {
    ++starts;
    EXPECT_EQ(Sock->FAwaitedState, wsConnected);
  };
  Sock->Connect();
  EXPECT_TRUE(Sock->Wait(40, wsConnected));
  EXPECT_EQ(Sock->State(), wsConnected);
  EXPECT_EQ(Sock->FAwaitedState, wsInvalidState);
  EXPECT_EQ(starts, 1);
  EXPECT_FALSE(Wait.Visible());

  EXPECT_FALSE(Sock->Wait(40, wsConnected));
  EXPECT_EQ(starts, 1);
}

// A refused connection passes through wsConnected to wsClosed: the wait ends at once and
// answers false.
TEST_F(WaitFlushTest, WaitForARefusedConnectionAnswersFalseAtOnce) {
  testsupport::ReservedPort refused;
  ASSERT_NE(refused.Port(), 0);
  Sock = testsupport::NewLoopbackClient<linetest::LineSocket>(refused.Port());
  Sock->SetWaitCtrl(&Wait);
  Sock->Connect();
  EXPECT_FALSE(Sock->Wait(40, wsConnected));
  EXPECT_EQ(Sock->State(), wsClosed);
  EXPECT_EQ(Wait.ModalResult(), mrOk) << "stopped by the state change, not by its time";
}

// A state that never comes: false when the count-down runs out. Without a wait control
// the call is refused with code 11004 and nothing stays awaited.
TEST_F(WaitFlushTest, WaitRunsOutOrHasNoWaitControl) {
  ScriptedPeer p;
  ASSERT_TRUE(p.Start({}));
  Sock = std::move(p.Sock);
  Sock->SetWaitCtrl(&Wait);
  Sock->Connect();
  ASSERT_TRUE(Sock->Wait(40, wsConnected));
  EXPECT_FALSE(Sock->Wait(3, wsListening));
  EXPECT_EQ(Wait.ModalResult(), mrCancel);
  EXPECT_EQ(Sock->FAwaitedState, wsInvalidState);

  Sock->SetWaitCtrl(nullptr);
  try {
    Sock->Wait(3, wsClosed);
    ADD_FAILURE() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Error 11004 in function TWSocket.Wait\r\n", 0), 0u)
        << e.what();
  }
  EXPECT_EQ(Sock->LastError(), 11004);
  EXPECT_EQ(Sock->FAwaitedState, wsInvalidState);
  EXPECT_EQ(Sock->State(), wsConnected);
}

// 10 MB to a peer that reads slowly, through the wait control's count-down: Flush returns
// once the queue has drained, and every byte arrives in order.
TEST_F(WaitFlushTest, FlushTenMegabytesToASlowReaderWithTheWaitControl) {
  ScriptedPeer p;
  ASSERT_TRUE(p.StartScript("slow_reader.py", {"--chunk", "32768", "--period", "2"}));
  Sock = std::move(p.Sock);
  Sock->SetWaitCtrl(&Wait);
  Sock->SetLingerOnOff(wsLingerOff);  // a graceful close after the flush
  Sock->Connect();
  ASSERT_TRUE(Sock->Wait(40, wsConnected));

  const std::string data = testsupport::PatternString(7, 0, TenMegabytes);
  ASSERT_EQ(Sock->SendStr(data), static_cast<std::int32_t>(data.size()));
  EXPECT_FALSE(Sock->FAllSent) << "the network took 10 MB at once";
  Wait.SetInterval(100);
  Sock->SetFlushTimeout(150);
  Sock->Flush();
  EXPECT_TRUE(Sock->FAllSent);
  EXPECT_FALSE(Wait.Running());
  EXPECT_FALSE(Wait.Visible());
  EXPECT_EQ(Wait.Caption(), "150");

  Sock->Close();
  const Got g = ParseGot(p.Peer.LineStartingWith("got ", 10s));
  EXPECT_EQ(g.Count, static_cast<long long>(TenMegabytes));
  EXPECT_EQ(g.Crc, testsupport::Crc32::HexOf(data));
  EXPECT_EQ(g.How, "eof");
}

// A peer that never reads: the count-down of FlushTimeout ends the flush with data
// still queued. Without a wait control nothing is tried at all.
TEST_F(WaitFlushTest, FlushRunsOutWithDataQueuedOrHasNoWaitControl) {
  ScriptedPeer p;
  ASSERT_TRUE(p.StartScript("stall.py", {"--rcvbuf", "4096"}));
  Sock = std::move(p.Sock);
  Sock->SetWaitCtrl(&Wait);
  Sock->Connect();
  ASSERT_TRUE(Sock->Wait(40, wsConnected));
  const std::string data(4u << 20, 'z');
  Sock->SendStr(data);
  Sock->SetFlushTimeout(4);
  const auto start = std::chrono::steady_clock::now();
  Sock->Flush();
  EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
  EXPECT_FALSE(Sock->FAllSent);
  EXPECT_EQ(Sock->State(), wsConnected);
  EXPECT_FALSE(Wait.Running());
  EXPECT_FALSE(Wait.Visible());

  Sock->SetWaitCtrl(nullptr);
  try {
    Sock->Flush();
    ADD_FAILURE() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "No wait object assigned");
  }
}

// In a socket's own thread mode Flush pumps the thread's queue until the queue drains.
TEST_F(WaitFlushTest, FlushTenMegabytesToASlowReaderMultiThreaded) {
  ScriptedPeer p;
  ASSERT_TRUE(p.StartScript("slow_reader.py", {"--chunk", "32768", "--period", "2"}));
  Sock = std::move(p.Sock);
  Sock->SetMultiThreaded(true);
  Sock->SetLingerOnOff(wsLingerOff);
  Sock->Connect();
  ASSERT_TRUE(Sock->Wait(2, wsConnected));

  const std::string data = testsupport::PatternString(8, 0, TenMegabytes);
  Sock->SendStr(data);
  Sock->Flush();
  EXPECT_TRUE(Sock->FAllSent);
  Sock->Close();
  const Got g = ParseGot(p.Peer.LineStartingWith("got ", 10s));
  EXPECT_EQ(g.Count, static_cast<long long>(TenMegabytes));
  EXPECT_EQ(g.Crc, testsupport::Crc32::HexOf(data));
}

// With the default linger (on, no time) Close used to reset the connection after Flush
// had returned, and the system dropped the megabytes it had not sent yet. Now the close
// is graceful while bytes are on their way: all 8 MB arrive, then the end of the stream.
TEST_F(WaitFlushTest, CloseAfterFlushWithTheDefaultLingerLosesNothing) {
  constexpr std::size_t eightMegabytes = 8u << 20;
  ScriptedPeer p;
  ASSERT_TRUE(p.StartScript("slow_reader.py", {"--chunk", "32768", "--period", "2"}));
  Sock = std::move(p.Sock);
  Sock->SetMultiThreaded(true);
  ASSERT_EQ(Sock->LingerOnOff(), wsLingerOn);
  ASSERT_EQ(Sock->LingerTimeout(), 0);
  Sock->Connect();
  ASSERT_TRUE(Sock->Wait(2, wsConnected));

  const std::string data = testsupport::PatternString(9, 0, eightMegabytes);
  Sock->SendStr(data);
  Sock->Flush();
  EXPECT_TRUE(Sock->FAllSent);
  Sock->Close();
  EXPECT_EQ(Sock->State(), wsClosed);
  const Got g = ParseGot(p.Peer.LineStartingWith("got ", 20s));
  EXPECT_EQ(g.Count, static_cast<long long>(eightMegabytes));
  EXPECT_EQ(g.Crc, testsupport::Crc32::HexOf(data));
  EXPECT_EQ(g.How, "eof");
}

// Close without Flush, the queue still holding most of what was sent (the peer reads
// slowly): the queue goes to the system, which finishes sending in the background.
TEST_F(WaitFlushTest, CloseHandsTheQueueOverBeforeClosing) {
  constexpr std::size_t bytes = 300000;
  ScriptedPeer p;
  ASSERT_TRUE(p.StartScript("slow_reader.py", {"--chunk", "16384", "--period", "5"}));
  Sock = std::move(p.Sock);
  Sock->SetMultiThreaded(true);
  Sock->Connect();
  ASSERT_TRUE(Sock->Wait(2, wsConnected));
  const std::string data = testsupport::PatternString(10, 0, bytes);
  Sock->SendStr(data);
  Sock->Close();
  EXPECT_EQ(Sock->State(), wsClosed);
  const Got g = ParseGot(p.Peer.LineStartingWith("got ", 20s));
  EXPECT_EQ(g.Count, static_cast<long long>(bytes));
  EXPECT_EQ(g.Crc, testsupport::Crc32::HexOf(data));
  EXPECT_EQ(g.How, "eof");
}

// No time limit in that mode: with a peer that never reads, Flush returns only when the
// socket goes (here: the peer process ends, which resets the connection).
TEST_F(WaitFlushTest, FlushMultiThreadedEndsWhenTheSocketGoes) {
  ScriptedPeer p;
  ASSERT_TRUE(p.StartScript("stall.py", {"--rcvbuf", "4096"}, 1));
  Sock = std::move(p.Sock);
  Sock->SetMultiThreaded(true);
  int closed = 0;
  Sock->OnSessionClosed = [&](TObject*, std::uint16_t) { ++closed; };
  Sock->Connect();
  ASSERT_TRUE(Sock->Wait(2, wsConnected));
  Sock->SendStr(std::string(8u << 20, 'q'));
  Sock->Flush();
  EXPECT_EQ(Sock->State(), wsClosed);
  EXPECT_EQ(closed, 1);
}

// The deadline loop in the socket's own thread mode: a state that is never reached makes
// Wait answer false when the time is up, not before.
TEST_F(WaitFlushTest, MultiThreadedWaitRunsToItsDeadline) {
  ScriptedPeer p;
  ASSERT_TRUE(p.Start({}));
  Sock = std::move(p.Sock);
  Sock->SetMultiThreaded(true);
  Sock->Connect();
  ASSERT_TRUE(Sock->Wait(2, wsConnected));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Sock->Wait(1, wsListening));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 950ms);
  EXPECT_LT(took, 5s);
  EXPECT_EQ(Sock->FAwaitedState, wsInvalidState);
}

}  // namespace
