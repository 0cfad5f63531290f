// The timer component over the platform's window timers.
#include "Host/Timer.h"

#include <gtest/gtest.h>

#include <string>

#include "Host/VisualTestSupport.h"

namespace {

using vtest::PumpUntil;
using TimerTest = vtest::TVisualTest;

TEST_F(TimerTest, TicksThroughTheMessageLoopUntilDisabled) {
  TTimer Timer(nullptr);
  EXPECT_TRUE(Timer.Enabled());
  EXPECT_EQ(Timer.Interval(), 1000u);
  Timer.SetInterval(10);
  int Ticks = 0;
  Timer.OnTimer = [&](TObject* Sender) {
    EXPECT_EQ(Sender, &Timer);
    if (++Ticks == 3) Timer.SetEnabled(false);
  };
  EXPECT_TRUE(PumpUntil([&] { return Ticks >= 3; }));
  // Disabled: no more ticks, however long the loop runs.
  PumpUntil([] { return false; }, 60);
  EXPECT_EQ(Ticks, 3);
}

TEST_F(TimerTest, DisabledOrZeroIntervalNeverTicks) {
  TTimer Off(nullptr);
  Off.SetInterval(5);
  Off.SetEnabled(false);
  TTimer Zero(nullptr);
  Zero.SetInterval(0);
  int Ticks = 0;
  Off.OnTimer = Zero.OnTimer = [&](TObject*) { ++Ticks; };
  PumpUntil([] { return false; }, 50);
  EXPECT_EQ(Ticks, 0);
  // Giving the zero-interval timer an interval starts it.
  Zero.SetInterval(5);
  EXPECT_TRUE(PumpUntil([&] { return Ticks > 0; }));
}

TEST_F(TimerTest, FreedInsideItsOwnHandlerWhichThenUsesWhatItCaptured) {
  auto* Timer = new TTimer(nullptr);
  Timer->SetInterval(10);
  int Ticks = 0;
  std::string Log;
  // Captured by value: it lives in the handler, which the timer's OnTimer held.
  const std::string Note = "the handler outlived its timer";
  Timer->OnTimer = [&Ticks, &Log, Note](TObject* Sender) {
    ++Ticks;
    delete static_cast<TTimer*>(Sender);
    Log = Note;
  };
  EXPECT_TRUE(PumpUntil([&] { return Ticks > 0; }));
  EXPECT_EQ(Log, Note);
  // The freed timer's window went with it: no later tick reaches the handler.
  PumpUntil([] { return false; }, 50);
  EXPECT_EQ(Ticks, 1);
}

}  // namespace
