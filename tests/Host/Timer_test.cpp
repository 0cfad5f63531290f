// The timer component over the platform's window timers.
#include "Host/Timer.h"

#include <gtest/gtest.h>

#include <string>

#include "Host/VisualTestSupport.h"

namespace {

using vtest::PumpUntil;
using TimerTest = vtest::TVisualTest;

TEST_F(TimerTest, TicksThroughTheMessageLoopUntilDisabled) {
  TTimer timer(nullptr);
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 1000u);
  timer.SetInterval(10);
  int ticks = 0;
  timer.OnTimer = [&](TObject* Sender) {
    EXPECT_EQ(Sender, &timer);
    if (++ticks == 3) timer.SetEnabled(false);
  };
  EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }));
  // Disabled: no more ticks, however long the loop runs.
  PumpUntil([] { return false; }, 60);
  EXPECT_EQ(ticks, 3);
}

TEST_F(TimerTest, DisabledOrZeroIntervalNeverTicks) {
  TTimer off(nullptr);
  off.SetInterval(5);
  off.SetEnabled(false);
  TTimer zero(nullptr);
  zero.SetInterval(0);
  int ticks = 0;
  off.OnTimer = zero.OnTimer = [&](TObject*) { ++ticks; };
  PumpUntil([] { return false; }, 50);
  EXPECT_EQ(ticks, 0);
  // Giving the zero-interval timer an interval starts it.
  zero.SetInterval(5);
  EXPECT_TRUE(PumpUntil([&] { return ticks > 0; }));
}

TEST_F(TimerTest, FreedInsideItsOwnHandlerWhichThenUsesWhatItCaptured) {
  auto* timer = new TTimer(nullptr);
  timer->SetInterval(10);
  int ticks = 0;
  std::string log;
  // Captured by value: it lives in the handler, which the timer's OnTimer held.
  const std::string note = "the handler outlived its timer";
  timer->OnTimer = [&ticks, &log, note](TObject* Sender) {
    ++ticks;
    delete static_cast<TTimer*>(Sender);
    log = note;
  };
  EXPECT_TRUE(PumpUntil([&] { return ticks > 0; }));
  EXPECT_EQ(log, note);
  // The freed timer's window went with it: no later tick reaches the handler.
  PumpUntil([] { return false; }, 50);
  EXPECT_EQ(ticks, 1);
}

}  // namespace
