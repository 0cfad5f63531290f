// The nested message pump: waiting with a deadline without spinning, waking for a message
// from another thread, handing a quit on, and going through the application's hook.
#include "Host/MessagePump.h"

#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "Host/Application.h"
#include "Host/VisualTestSupport.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using vtest::TApplicationSwap;
using vtest::TRecordingWindow;
using MessagePumpTest = vtest::TVisualTest;

milliseconds ThreadCpu() {
  timespec Ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &Ts);
  return milliseconds(Ts.tv_sec * 1000 + Ts.tv_nsec / 1'000'000);
}

// A socket of a worker thread pumps that thread's queue alone.
TEST(MessagePump, ThreadOnlyPumpInAWorkerThreadSleepsWakesAndHandsTheQuitOn) {
  std::atomic<plat::HWND> Window{0};
  std::atomic<bool> Flag{false};
  std::thread Worker([&] {
    TRecordingWindow Target;
    Window = Target.Handle();
    TMessagePump Pump;
    EXPECT_EQ(Pump.PumpOne(false), TPumped::Nothing);

    // Nothing comes: the deadline ends the wait, which slept meanwhile.
    auto Start = steady_clock::now();
    const auto CpuStart = ThreadCpu();
    EXPECT_FALSE(Pump.PumpUntil([] { return false; }, TDeadline::InMs(100)));
    const auto Wall = steady_clock::now() - Start;
    EXPECT_GE(Wall, milliseconds(100));
    EXPECT_LT(ThreadCpu() - CpuStart, milliseconds(25)) << "the wait spun";

    // A message from the main thread ends it long before the deadline.
    Start = steady_clock::now();
    EXPECT_TRUE(Pump.PumpUntil([&] { return !Target.Received.empty(); }, TDeadline::InMs(10'000)));
    EXPECT_EQ(Target.Received, std::vector<plat::UINT>({plat::WM_USER}));
    EXPECT_LT(steady_clock::now() - Start, std::chrono::seconds(5));

    // A condition that changes without a message is checked every RecheckMs.
    EXPECT_TRUE(Pump.PumpUntil([&] { return Flag.load(); }, TDeadline::InMs(10'000), 10));

    // A quit ends the wait and stays queued for the thread's own loop, which takes it.
    plat::PostQuitMessage(3);
    EXPECT_FALSE(Pump.PumpUntil([] { return false; }, TDeadline::Never()));
    EXPECT_TRUE(Pump.QuitSeen());
    EXPECT_EQ(Pump.QuitCode(), 3);
    EXPECT_EQ(Pump.PumpOne(true), TPumped::Ended);  // it pumps no more
    TMessagePump Loop({.Outermost = true});
    EXPECT_EQ(Loop.PumpOne(true), TPumped::Ended);
    EXPECT_EQ(Loop.QuitCode(), 3);
    plat::MSG Msg;
    EXPECT_FALSE(plat::PeekMessageA(&Msg, 0, 0, 0, plat::PM_REMOVE)) << "consumed";
  });
  const auto Limit = steady_clock::now() + std::chrono::seconds(5);
  while (Window == 0 && steady_clock::now() < Limit) std::this_thread::sleep_for(milliseconds(1));
  std::this_thread::sleep_for(milliseconds(150));
  plat::PostMessageA(Window, plat::WM_USER, 0, 0);
  std::this_thread::sleep_for(milliseconds(30));
  Flag = true;
  Worker.join();
}

TEST_F(MessagePumpTest, ThroughTheApplicationHookErrorsAndQuit) {
  TApplicationSwap Swap;
  TApplication& App = Swap.App();
  TRecordingWindow Target;
  App.OnMessage = [](plat::MSG& Msg, bool& Handled) {
    if (Msg.wParam == 1) throw std::runtime_error("hook failed");
    Handled = Msg.wParam == 2;
  };
  std::vector<std::string> Errors;
  App.OnException = [&](TObject*, const Exception& E) { Errors.push_back(E.Message()); };

  // Nested: the hook's error goes to the caller; that message is not dispatched.
  Target.Post(plat::WM_USER, 1);
  Target.Post(plat::WM_USER + 1, 2);
  Target.Post(plat::WM_USER + 2, 0);
  TMessagePump Nested(App);
  EXPECT_THROW(Nested.PumpPending(), std::runtime_error);
  EXPECT_EQ(Nested.PumpPending(), TPumped::Dispatched);
  EXPECT_EQ(Target.Received, std::vector<plat::UINT>({plat::WM_USER + 2}));

  // With HandleErrors the error goes to the application and pumping goes on.
  Target.Received.clear();
  Target.Post(plat::WM_USER, 1);
  Target.Post(plat::WM_USER + 3, 0);
  TMessagePump Handling(App, {.HandleErrors = true});
  EXPECT_EQ(Handling.PumpPending(), TPumped::Dispatched);
  EXPECT_EQ(Errors, std::vector<std::string>({"hook failed"}));
  EXPECT_EQ(Target.Received, std::vector<plat::UINT>({plat::WM_USER + 3}));

  // A quit marks the application terminated and is posted again for the loops outside.
  App.OnMessage = nullptr;
  App.Terminate();
  EXPECT_EQ(Nested.PumpPending(), TPumped::Ended);
  EXPECT_TRUE(App.Terminated());
  plat::MSG Msg;
  ASSERT_TRUE(plat::PeekMessageA(&Msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(Msg.message, plat::WM_QUIT);
}

}  // namespace
