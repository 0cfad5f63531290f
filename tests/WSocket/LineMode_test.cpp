// Line mode on the user-interface thread: ReadLine with the wait control's modal wait,
// against a scripted Python peer that sends lines slowly, in one piece, too long, or
// closes and resets in the middle of one.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

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
  std::string Line = "stale";
  P.Sock->ReadLine(Long, Line);
  EXPECT_EQ(Line, "GET /index.html HTTP/1.0");
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
  std::string Line;
  P.Sock->ReadLine(Long, Line);
  EXPECT_EQ(Line, "abc");
  EXPECT_EQ(P.Sock->RcvdCount(), 15);

  P.Sock->ReadLine(Long, Line);
  EXPECT_EQ(Line, "def");
  P.Sock->ReadLine(Long, Line);
  EXPECT_EQ(Line, "last");
  EXPECT_EQ(P.Sock->RcvdCount(), 3);

  // A carriage return alone never ends a line: this one runs out of time.
  P.Sock->ReadLine(4, Line);
  EXPECT_EQ(Line, "xy");
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
  std::string Line;
  for (const char* Expected : {"first line", "second line", "third line"}) {
    P.Sock->ReadLine(Long, Line);
    EXPECT_EQ(Line, Expected);
    PumpUntil([] { return false; }, 100ms);
    TCustomWSocket::ProcessMessages();
  }
  EXPECT_EQ(Closed, 0) << "the close came before the lines were read";
  P.Sock->ReadLine(Long, Line);
  EXPECT_EQ(Line, "");
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
  std::string Line;
  P.Sock->ReadLine(0, Line);
  EXPECT_EQ(Line, "par");
  P.Sock->ReadLine(-1, Line);
  EXPECT_EQ(Line, "par");
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
  std::string Line;
  P.Sock->ReadLine(Long, Line);
  EXPECT_EQ(Line, std::string(254, 'x'));
  EXPECT_EQ(TooLong, 1);
  EXPECT_FALSE(P.Sock->LineMode());

  P.Sock->ReadLine(4, Line);
  EXPECT_EQ(Line, std::string(46, 'x'));
  EXPECT_TRUE(P.Sock->LineMode()) << "a time-out must not end line mode";
  EXPECT_EQ(TooLong, 1);

  P.Say("go");
  ASSERT_TRUE(PumpUntil([&] { return !P.Sock->LineMode(); }, 3s));
  ASSERT_TRUE(PumpUntil([&] { return Received == "after"; }, 3s));
  EXPECT_EQ(DataEvents, 1);

  P.Sock->ReadLine(Long, Line);
  EXPECT_EQ(Line, std::string(46, 'x') + "END");
  // ReceiveStr does not count.
  EXPECT_EQ(P.Sock->ReadCount(), 304);
}

// The peer closes (or resets) with half a line sent: ReadLine returns that half and the
// component has closed, telling OnSessionClosed once.
TEST_F(LineModeTest, PeerClosingOrResettingDuringReadLineGivesThePartialLine) {
  for (const char* End : {"close", "reset"}) {
    SCOPED_TRACE(End);
    Closed = 0;
    Connect({"bytes:half a li", "sleep:50", End});
    std::string Line;
    P.Sock->ReadLine(Long, Line);
    EXPECT_EQ(Line, "half a li");
    EXPECT_EQ(P.Sock->State(), wsClosed);
    EXPECT_FALSE(P.Sock->LineMode());
    EXPECT_EQ(Wait.ModalResult(), mrOk);
    PumpUntil([] { return false; }, 50ms);
    EXPECT_EQ(Closed, 1);

    // Nothing is left to read: the next ReadLine returns at once, empty.
    const auto Before = std::chrono::steady_clock::now();
    P.Sock->ReadLine(Long, Line);
    EXPECT_EQ(Line, "");
    EXPECT_LT(std::chrono::steady_clock::now() - Before, 1s);
  }
}

// Without a wait control the socket cannot wait on this thread: the error is reported
// and the line argument is left alone.
TEST_F(LineModeTest, ReadLineWithoutWaitControlIsReported) {
  Connect({"chunk:line\\n"});
  P.Sock->SetWaitCtrl(nullptr);
  std::string Line = "untouched";
  try {
    P.Sock->ReadLine(Long, Line);
    ADD_FAILURE() << "no exception";
  } catch (const ESocketException& E) {
    EXPECT_STREQ(E.what(), "No wait object assigned");
  }
  EXPECT_EQ(Line, "untouched");
  EXPECT_FALSE(P.Sock->LineMode());

  int Errors = 0;
  P.Sock->OnError = [&](TObject*) { ++Errors; };
  P.Sock->ReadLine(Long, Line);
  EXPECT_EQ(Errors, 1);
  EXPECT_EQ(Line, "untouched");
  EXPECT_FALSE(P.Sock->CheckFWait());
  EXPECT_EQ(Errors, 2);

  // With the control back, the line that waited all along is read.
  P.Sock->SetWaitCtrl(&Wait);
  P.Sock->ReadLine(Long, Line);
  EXPECT_EQ(Line, "line");
}

// A modal wait inside an event handler: OnDataAvailable sees the start of a line and
// reads the rest with ReadLine, which waits for it there.
TEST_F(LineModeTest, ReadLineInsideOnDataAvailable) {
  Connect({"sleep:50", "chunk:HELLO", "sleep:150", "chunk: WORLD\\n"});
  std::vector<std::string> Lines;
  P.Sock->OnDataAvailable = [&](TObject*, std::uint16_t) {
    ++DataEvents;
    std::string Line;
    P.Sock->ReadLine(Long, Line);
    Lines.push_back(Line);
  };
  ASSERT_TRUE(PumpUntil([&] { return !Lines.empty(); }, 3s));
  EXPECT_EQ(Lines, std::vector<std::string>{"HELLO WORLD"});
  EXPECT_EQ(DataEvents, 1);
}

// A handler may destroy the component in the middle of a line, while its ReadLine waits.
TEST_F(LineModeTest, ComponentDestroyedByOnLineTooLong) {
  Connect({"sleep:100", "chunk:y*260", "chunk:\\n"});
  P.Sock->OnLineTooLong = [this](TObject*) {
    ++TooLong;
    P.Sock.reset();
  };
  std::string Line = "untouched";
  P.Sock->ReadLine(Long, Line);
  EXPECT_EQ(TooLong, 1);
  EXPECT_EQ(P.Sock, nullptr);
  EXPECT_EQ(Line, "untouched");
  EXPECT_EQ(Wait.ModalResult(), mrOk) << "the wait outlived its component";
  PumpUntil([] { return false; }, 50ms);
}

// The application closes the socket while a ReadLine waits (here from a timer): the
// ReadLine returns at once with the part of the line that came, not at its time-out.
TEST_F(LineModeTest, LocalCloseEndsAWaitingReadLine) {
  Connect({"chunk:no end"});
  TTimer Closer(nullptr);
  Closer.SetInterval(100);
  Closer.OnTimer = [&](TObject*) {
    Closer.SetEnabled(false);
    P.Sock->Close();
  };
  std::string Line;
  P.Sock->ReadLine(Long, Line);
  EXPECT_EQ(Line, "no end");
  EXPECT_EQ(Wait.ModalResult(), mrOk) << "the wait ran to its time-out";
  EXPECT_EQ(P.Sock->State(), wsClosed);
  EXPECT_EQ(Closed, 1);
}

// A socket in its own thread mode reads 1 MB of 100-byte lines with the message loop
// running between the ReadLines: every line intact. Reading used to post one read
// notification per byte; at most one waits now, so the loop finds nothing left to do.
TEST(LineModeCoreTest, MegabyteOfLinesWithTheLoopRunning) {
  constexpr int Lines = 10000;
  ScriptedPeer P;
  const std::string Body = std::string(98, 'l') + "\\r\\n";
  ASSERT_TRUE(P.Start({"chunk:" + Body + "*" + std::to_string(Lines), "close"}));
  P.Sock->SetMultiThreaded(true);
  P.Sock->Connect();
  ASSERT_TRUE(P.Sock->Wait(5, wsConnected));
  std::string Line;
  int Intact = 0;
  for (int I = 0; I < Lines; ++I) {
    P.Sock->ReadLine(5, Line);
    if (Line == std::string(98, 'l')) ++Intact;
    if (I % 100 == 0) TCustomWSocket::ProcessMessages();
  }
  EXPECT_EQ(Intact, Lines);
  EXPECT_EQ(P.Sock->ReadCount(), Lines * 100);
  int Notified = 0;
  P.Sock->OnDataAvailable = [&](TObject*, std::uint16_t) { ++Notified; };
  TCustomWSocket::ProcessMessages();
  EXPECT_LE(Notified, 1);
}

TEST(LineModeCoreTest, ReadLineOnAClosedComponentReturnsEmptyAtOnce) {
  TWait Wait(nullptr);
  LineSocket Sock(nullptr);
  Sock.SetWaitCtrl(&Wait);
  std::string Line = "x";
  Sock.ReadLine(60, Line);
  EXPECT_EQ(Line, "");
  EXPECT_FALSE(Sock.LineMode());
  EXPECT_FALSE(Wait.Running());
}

TEST(LineModeCoreTest, TimeValHelpers) {
  TWSocket Sock(nullptr);
  TTimeVal A{5, 7};
  TTimeVal B{5, 7};
  EXPECT_TRUE(Sock.TimerCmp(A, B, true));
  EXPECT_FALSE(Sock.TimerCmp(A, B, false));
  B.tv_usec = 8;
  EXPECT_FALSE(Sock.TimerCmp(A, B, true));
  EXPECT_TRUE(Sock.TimerCmp(A, B, false));
  B = {6, 7};
  EXPECT_TRUE(Sock.TimerCmp(A, B, false));

  EXPECT_TRUE(Sock.TimerIsSet(A));
  EXPECT_TRUE(Sock.TimerIsSet(TTimeVal{0, 1}));
  EXPECT_TRUE(Sock.TimerIsSet(TTimeVal{-1, 0}));
  Sock.TimerClear(A);
  EXPECT_FALSE(Sock.TimerIsSet(A));
  EXPECT_EQ(A.tv_sec, 0);
  EXPECT_EQ(A.tv_usec, 0);
}

}  // namespace
