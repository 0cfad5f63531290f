// Line mode on the user-interface thread: ReadLine with the wait control's modal wait,
// against a scripted Python peer that sends lines slowly, in one piece, too long, or
// closes and resets in the middle of one.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Host/Application.h"
#include "Host/Timer.h"
#include "WSocket/LineTestSupport.h"
#include "WSocket/WSocket.h"
#include "Wait/Wait.h"
#include "support/Pump.h"

using namespace std::chrono_literals;
using linetest::LineSocket;
using linetest::ScriptedPeer;
using testsupport::PumpUntil;

namespace {

// Every wait of these tests counts ticks of 50 ms: a time-out of 40 is 2 s.
constexpr std::int32_t Long = 40;

class LineModeTest : public ::testing::Test {
 protected:
  void SetUp() override { Wait.SetInterval(50); }

  // Starts the peer and connects to it through a modal Wait.
  void Connect(const std::vector<std::string>& Steps, int PauseMs = 5) {
    ASSERT_TRUE(P.Start(Steps, PauseMs));
    P.Sock->SetWaitCtrl(&Wait);
    P.Sock->OnDataAvailable = [this](TObject*, std::uint16_t) {
      ++DataEvents;
      Received += P.Sock->ReceiveStr();
    };
    P.Sock->OnLineTooLong = [this](TObject*) {
      ++TooLong;
      // Called with the line still being collected, its last character stored.
      EXPECT_TRUE(P.Sock->LineMode());
      EXPECT_EQ(P.Sock->LineLength(), 254);
    };
    P.Sock->OnSessionClosed = [this](TObject*, std::uint16_t Error) {
      ++Closed;
      ClosedError = Error;
    };
    P.Sock->Connect();
    ASSERT_TRUE(P.Sock->Wait(Long, wsConnected));
    ASSERT_EQ(P.Sock->State(), wsConnected);
  }

  TWait Wait{nullptr};
  ScriptedPeer P;
  int DataEvents = 0;
  std::string Received;
  int TooLong = 0;
  int Closed = 0;
  std::uint16_t ClosedError = 0xFFFF;
};

// The line trickles in one byte at a time: ReadLine returns it whole, without the
// carriage return and line feed, and what comes after it reaches OnDataAvailable.
TEST_F(LineModeTest, LineSentByteByByteArrivesWhole) {
  Connect({"bytes:GET /index.html HTTP/1.0\\r\\n", "sleep:50", "chunk:TAIL"});
  std::string line = "stale";
  P.Sock->ReadLine(Long, line);
  EXPECT_EQ(line, "GET /index.html HTTP/1.0");
  EXPECT_FALSE(P.Sock->LineMode());
  EXPECT_EQ(P.Sock->ReadCount(), 26);
  EXPECT_EQ(DataEvents, 0) << "line bytes went to OnDataAvailable";
  EXPECT_EQ(Wait.ModalResult(), mrOk) << "the wait ran out instead of being stopped";
  EXPECT_FALSE(Wait.Visible());

  ASSERT_TRUE(PumpUntil([&] { return Received.size() >= 4; }, 3s));
  EXPECT_EQ(Received, "TAIL");
}

// Several lines and more arrive in one piece while the first ReadLine waits. Each
// ReadLine takes exactly one line; the rest stays in the socket, also without an
// OnDataAvailable handler. Carriage returns are dropped wherever they are and never end
// a line.
TEST_F(LineModeTest, BytesAfterTheLineFeedStayInTheSocket) {
  Connect({"sleep:100", "chunk:abc\\r\\nd\\re\\rf\\r\\nlast\\nx\\ry"});
  P.Sock->OnDataAvailable = nullptr;
  std::string line;
  P.Sock->ReadLine(Long, line);
  EXPECT_EQ(line, "abc");
  EXPECT_EQ(P.Sock->RcvdCount(), 15);

  P.Sock->ReadLine(Long, line);
  EXPECT_EQ(line, "def");
  P.Sock->ReadLine(Long, line);
  EXPECT_EQ(line, "last");
  EXPECT_EQ(P.Sock->RcvdCount(), 3);

  // A carriage return alone never ends a line: this one runs out of time.
  P.Sock->ReadLine(4, line);
  EXPECT_EQ(line, "xy");
  EXPECT_TRUE(P.Sock->LineMode());
  EXPECT_EQ(Wait.ModalResult(), mrCancel);
  EXPECT_EQ(P.Sock->ReadCount(), 20);
}

// A line reader has no OnDataAvailable. The message loop runs between its ReadLines, as in
// any program: the read notification still queued used to find no handler and throw away
// up to 1024 bytes, the next lines with them. The lines stay in the socket, also past
// the peer's close, which ends the session only once the last line has been read.
TEST_F(LineModeTest, LinesSurviveTheMessageLoopBetweenReadLines) {
  Connect({"chunk:first line\\r\\nsecond line\\r\\nthird line\\r\\n", "close"});
  P.Sock->OnDataAvailable = nullptr;
  std::string line;
  for (const char* expected : {"first line", "second line", "third line"}) {
    P.Sock->ReadLine(Long, line);
    EXPECT_EQ(line, expected);
    PumpUntil([] { return false; }, 100ms);
    TCustomWSocket::ProcessMessages();
  }
  EXPECT_EQ(Closed, 0) << "the close came before the lines were read";
  P.Sock->ReadLine(Long, line);
  EXPECT_EQ(line, "");
  EXPECT_EQ(P.Sock->State(), wsClosed);
  EXPECT_EQ(Closed, 1);
  EXPECT_EQ(ClosedError, 0);
}

// A time-out of 0 or less takes what has arrived and returns at once: the wait control
// is not run (a caption of 0 used to make it count down its default instead).
TEST_F(LineModeTest, ZeroOrNegativeTimeOutDoesNotWait) {
  Connect({"go", "chunk:par"});
  P.Sock->OnDataAvailable = [](TObject*, std::uint16_t) {};  // leaves the bytes waiting
  P.Say("go");
  ASSERT_TRUE(PumpUntil([&] { return P.Sock->RcvdCount() == 3; }, 3s));
  ASSERT_EQ(Wait.ModalResult(), mrOk);
  std::string line;
  P.Sock->ReadLine(0, line);
  EXPECT_EQ(line, "par");
  P.Sock->ReadLine(-1, line);
  EXPECT_EQ(line, "par");
  EXPECT_TRUE(P.Sock->LineMode());
  EXPECT_FALSE(P.Sock->Wait(0, wsClosed));
  EXPECT_FALSE(P.Sock->Wait(-5, wsClosed));
  EXPECT_EQ(Wait.ModalResult(), mrOk) << "a wait ran";
  EXPECT_FALSE(Wait.Running());
}

// 300 characters without a line feed: the first ReadLine gets 254 of them after
// OnLineTooLong. The next runs out of time with the 46 others; the line's end arrives
// while no ReadLine runs, goes to the line and not to OnDataAvailable, and the ReadLine
// after that returns the whole rest of the line.
TEST_F(LineModeTest, OverlongLineThenTimeOutThenLineCompletedInTheBackground) {
  Connect({"chunk:x*300", "go", "chunk:END\\nafter"});
  std::string line;
  P.Sock->ReadLine(Long, line);
  EXPECT_EQ(line, std::string(254, 'x'));
  EXPECT_EQ(TooLong, 1);
  EXPECT_FALSE(P.Sock->LineMode());

  P.Sock->ReadLine(4, line);
  EXPECT_EQ(line, std::string(46, 'x'));
  EXPECT_TRUE(P.Sock->LineMode()) << "a time-out must not end line mode";
  EXPECT_EQ(TooLong, 1);

  P.Say("go");
  ASSERT_TRUE(PumpUntil([&] { return !P.Sock->LineMode(); }, 3s));
  ASSERT_TRUE(PumpUntil([&] { return Received == "after"; }, 3s));
  EXPECT_EQ(DataEvents, 1);

  P.Sock->ReadLine(Long, line);
  EXPECT_EQ(line, std::string(46, 'x') + "END");
  // ReceiveStr does not count.
  EXPECT_EQ(P.Sock->ReadCount(), 304);
}

// The peer closes (or resets) with half a line sent: ReadLine returns that half and the
// component has closed, telling OnSessionClosed once.
TEST_F(LineModeTest, PeerClosingOrResettingDuringReadLineGivesThePartialLine) {
  for (const char* end : {"close", "reset"}) {
    SCOPED_TRACE(end);
    Closed = 0;
    Connect({"bytes:half a li", "sleep:50", end});
    std::string line;
    P.Sock->ReadLine(Long, line);
    EXPECT_EQ(line, "half a li");
    EXPECT_EQ(P.Sock->State(), wsClosed);
    EXPECT_FALSE(P.Sock->LineMode());
    EXPECT_EQ(Wait.ModalResult(), mrOk);
    PumpUntil([] { return false; }, 50ms);
    EXPECT_EQ(Closed, 1);

    // Nothing is left to read: the next ReadLine returns at once, empty.
    const auto before = std::chrono::steady_clock::now();
    P.Sock->ReadLine(Long, line);
    EXPECT_EQ(line, "");
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
  }
}

// A last line ended by the peer's close, not by a line feed. Whichever call finds the close
// (the ReadLine itself, or the dispatcher while that ReadLine waits), OnSessionClosed runs
// inside it, and a ReadLine there gets the line: the outer ReadLine then has nothing left.
// It used to return the same line a second time.
TEST_F(LineModeTest, LastLineEndedByThePeersCloseIsReturnedOnce) {
  const std::string last(132, 'z');
  for (const bool whileWaiting : {false, true}) {
    SCOPED_TRACE(whileWaiting ? "the dispatcher finds the close" : "ReadLine finds the close");
    Closed = 0;
    if (whileWaiting)
      Connect({"sleep:150", "chunk:z*132", "close"});
    else
      Connect({"chunk:z*132", "close"});
    P.Sock->OnDataAvailable = nullptr;
    std::vector<std::string> inner;
    P.Sock->OnSessionClosed = [&](TObject*, std::uint16_t) {
      ++Closed;
      std::string line = "untouched";
      P.Sock->ReadLine(Long, line);
      inner.push_back(line);
    };
    // The line and the close are both there before ReadLine looks (nothing is dispatched
    // meanwhile).
    if (!whileWaiting) {
      ASSERT_EQ(P.Peer.LineStartingWith("done"), "done");
    }
    std::string outer = "untouched";
    P.Sock->ReadLine(Long, outer);
    EXPECT_EQ(inner, std::vector<std::string>{last});
    EXPECT_EQ(outer, "");
    EXPECT_EQ(Closed, 1);
    EXPECT_EQ(P.Sock->State(), wsClosed);
  }
}

// The end of a line, more bytes and the peer's close meet a line left open by a ReadLine
// that ran out of time, with an OnDataAvailable handler assigned, and the close
// notification comes first (a message hook keeps the read notifications from dispatch).
// The close completes the line for the next ReadLine and hands the bytes after it to
// OnDataAvailable before the session ends.
TEST_F(LineModeTest, PeersCloseCompletesAnOpenLineAndDeliversWhatFollows) {
  Connect({"chunk:li", "go", "chunk:ne\\nafter", "close"});
  std::string line;
  P.Sock->ReadLine(4, line);
  ASSERT_EQ(line, "li");
  ASSERT_TRUE(P.Sock->LineMode());
  int readsKept = 0;
  Application->OnMessage = [&](plat::MSG& Msg, bool& Handled) {
    if (Msg.message == WM_SOCKET_SELECT && (plat::LOWORD(Msg.lParam) & plat::FD_READ) != 0) {
      ++readsKept;
      Handled = true;
    }
  };
  P.Say("go");
  ASSERT_EQ(P.Peer.LineStartingWith("done"), "done");
  for (int i = 0; i < 200 && Closed == 0; ++i) {
    Application->ProcessMessages();
    std::this_thread::sleep_for(10ms);
  }
  Application->OnMessage = nullptr;
  EXPECT_GT(readsKept, 0);
  EXPECT_EQ(Closed, 1);
  EXPECT_EQ(Received, "after") << "the bytes after the line were lost at the close";
  EXPECT_EQ(DataEvents, 1);
  EXPECT_FALSE(P.Sock->LineMode());
  P.Sock->ReadLine(Long, line);
  EXPECT_EQ(line, "line");
}

// Without a wait control the socket cannot wait on this thread: the error is reported
// and the line argument is left alone.
TEST_F(LineModeTest, ReadLineWithoutWaitControlIsReported) {
  Connect({"chunk:line\\n"});
  P.Sock->SetWaitCtrl(nullptr);
  std::string line = "untouched";
  try {
    P.Sock->ReadLine(Long, line);
    ADD_FAILURE() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "No wait object assigned");
  }
  EXPECT_EQ(line, "untouched");
  EXPECT_FALSE(P.Sock->LineMode());

  int errors = 0;
  P.Sock->OnError = [&](TObject*) { ++errors; };
  P.Sock->ReadLine(Long, line);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(line, "untouched");
  EXPECT_FALSE(P.Sock->CheckFWait());
  EXPECT_EQ(errors, 2);

  // With the control back, the line that waited all along is read.
  P.Sock->SetWaitCtrl(&Wait);
  P.Sock->ReadLine(Long, line);
  EXPECT_EQ(line, "line");
}

// A modal wait inside an event handler: OnDataAvailable sees the start of a line and
// reads the rest with ReadLine, which waits for it there.
TEST_F(LineModeTest, ReadLineInsideOnDataAvailable) {
  Connect({"sleep:50", "chunk:HELLO", "sleep:150", "chunk: WORLD\\n"});
  std::vector<std::string> lines;
  P.Sock->OnDataAvailable = [&](TObject*, std::uint16_t) {
    ++DataEvents;
    std::string line;
    P.Sock->ReadLine(Long, line);
    lines.push_back(line);
  };
  ASSERT_TRUE(PumpUntil([&] { return !lines.empty(); }, 3s));
  EXPECT_EQ(lines, std::vector<std::string>{"HELLO WORLD"});
  EXPECT_EQ(DataEvents, 1);
}

// A handler may destroy the component in the middle of a line, while its ReadLine waits.
TEST_F(LineModeTest, ComponentDestroyedByOnLineTooLong) {
  Connect({"sleep:100", "chunk:y*260", "chunk:\\n"});
  P.Sock->OnLineTooLong = [this](TObject*) {
    ++TooLong;
    P.Sock.reset();
  };
  std::string line = "untouched";
  P.Sock->ReadLine(Long, line);
  EXPECT_EQ(TooLong, 1);
  EXPECT_EQ(P.Sock, nullptr);
  EXPECT_EQ(line, "untouched");
  EXPECT_EQ(Wait.ModalResult(), mrOk) << "the wait outlived its component";
  PumpUntil([] { return false; }, 50ms);
}

// The application closes the socket while a ReadLine waits (here from a timer): the
// ReadLine returns at once with the part of the line that came, not at its time-out.
TEST_F(LineModeTest, LocalCloseEndsAWaitingReadLine) {
  Connect({"chunk:no end"});
  TTimer closer(nullptr);
  closer.SetInterval(100);
  closer.OnTimer = [&](TObject*) {
    closer.SetEnabled(false);
    P.Sock->Close();
  };
  std::string line;
  P.Sock->ReadLine(Long, line);
  EXPECT_EQ(line, "no end");
  EXPECT_EQ(Wait.ModalResult(), mrOk) << "the wait ran to its time-out";
  EXPECT_EQ(P.Sock->State(), wsClosed);
  EXPECT_EQ(Closed, 1);
}

// A socket in its own thread mode reads 1 MB of 100-byte lines with the message loop
// running between the ReadLines: every line intact. Reading used to post one read
// notification per byte; at most one waits now, so the loop finds nothing left to do.
TEST(LineModeCoreTest, MegabyteOfLinesWithTheLoopRunning) {
  constexpr int lines = 10000;
  ScriptedPeer p;
  const std::string body = std::string(98, 'l') + "\\r\\n";
  ASSERT_TRUE(p.Start({"chunk:" + body + "*" + std::to_string(lines), "close"}));
  p.Sock->SetMultiThreaded(true);
  p.Sock->Connect();
  ASSERT_TRUE(p.Sock->Wait(5, wsConnected));
  std::string line;
  int intact = 0;
  for (int i = 0; i < lines; ++i) {
    p.Sock->ReadLine(5, line);
    if (line == std::string(98, 'l')) ++intact;
    if (i % 100 == 0) TCustomWSocket::ProcessMessages();
  }
  EXPECT_EQ(intact, lines);
  EXPECT_EQ(p.Sock->ReadCount(), lines * 100);
  int notified = 0;
  p.Sock->OnDataAvailable = [&](TObject*, std::uint16_t) { ++notified; };
  TCustomWSocket::ProcessMessages();
  EXPECT_LE(notified, 1);
}

TEST(LineModeCoreTest, ReadLineOnAClosedComponentReturnsEmptyAtOnce) {
  TWait wait(nullptr);
  LineSocket sock(nullptr);
  sock.SetWaitCtrl(&wait);
  std::string line = "x";
  sock.ReadLine(60, line);
  EXPECT_EQ(line, "");
  EXPECT_FALSE(sock.LineMode());
  EXPECT_FALSE(wait.Running());
}

TEST(LineModeCoreTest, TimeValHelpers) {
  TWSocket sock(nullptr);
  TTimeVal a{5, 7};
  TTimeVal b{5, 7};
  EXPECT_TRUE(sock.TimerCmp(a, b, true));
  EXPECT_FALSE(sock.TimerCmp(a, b, false));
  b.tv_usec = 8;
  EXPECT_FALSE(sock.TimerCmp(a, b, true));
  EXPECT_TRUE(sock.TimerCmp(a, b, false));
  b = {6, 7};
  EXPECT_TRUE(sock.TimerCmp(a, b, false));

  EXPECT_TRUE(sock.TimerIsSet(a));
  EXPECT_TRUE(sock.TimerIsSet(TTimeVal{0, 1}));
  EXPECT_TRUE(sock.TimerIsSet(TTimeVal{-1, 0}));
  sock.TimerClear(a);
  EXPECT_FALSE(sock.TimerIsSet(a));
  EXPECT_EQ(a.tv_sec, 0);
  EXPECT_EQ(a.tv_usec, 0);
}

}  // namespace
