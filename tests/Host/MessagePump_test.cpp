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
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return milliseconds(ts.tv_sec * 1000 + ts.tv_nsec / 1'000'000);
}

// A socket of a worker thread pumps that thread's queue alone.
TEST(MessagePump, ThreadOnlyPumpInAWorkerThreadSleepsWakesAndHandsTheQuitOn) {
  std::atomic<plat::HWND> window{0};
  std::atomic<bool> flag{false};
  std::thread worker([&] {
    TRecordingWindow target;
    window = target.Handle();
    TMessagePump pump;
    EXPECT_EQ(pump.PumpOne(false), TPumped::Nothing);

    // Nothing comes: the deadline ends the wait, which slept meanwhile.
    auto start = steady_clock::now();
    const auto cpuStart = ThreadCpu();
    EXPECT_FALSE(pump.PumpUntil([] { return false; }, TDeadline::InMs(100)));
    const auto wall = steady_clock::now() - start;
    // The deadline counts whole milliseconds of the tick counter: one less may pass.
    EXPECT_GE(wall, milliseconds(99));
    EXPECT_LT(ThreadCpu() - cpuStart, milliseconds(25)) << "the wait spun";

    // A message from the main thread ends it long before the deadline.
    start = steady_clock::now();
    EXPECT_TRUE(pump.PumpUntil([&] { return !target.Received.empty(); }, TDeadline::InMs(10'000)));
    EXPECT_EQ(target.Received, std::vector<plat::UINT>({plat::WM_USER}));
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(5));

    // A condition that changes without a message is checked every RecheckMs.
    EXPECT_TRUE(pump.PumpUntil([&] { return flag.load(); }, TDeadline::InMs(10'000), 10));

    // A quit ends the wait and stays queued for the thread's own loop, which takes it.
    plat::PostQuitMessage(3);
    EXPECT_FALSE(pump.PumpUntil([] { return false; }, TDeadline::Never()));
    EXPECT_TRUE(pump.QuitSeen());
    EXPECT_EQ(pump.QuitCode(), 3);
    EXPECT_EQ(pump.PumpOne(true), TPumped::Ended);  // it pumps no more
    TMessagePump loop({.Outermost = true});
    EXPECT_EQ(loop.PumpOne(true), TPumped::Ended);
    EXPECT_EQ(loop.QuitCode(), 3);
    plat::MSG msg;
    EXPECT_FALSE(plat::PeekMessageA(&msg, 0, 0, 0, plat::PM_REMOVE)) << "consumed";
  });
  const auto limit = steady_clock::now() + std::chrono::seconds(5);
  while (window == 0 && steady_clock::now() < limit) std::this_thread::sleep_for(milliseconds(1));
  std::this_thread::sleep_for(milliseconds(150));
  plat::PostMessageA(window, plat::WM_USER, 0, 0);
  std::this_thread::sleep_for(milliseconds(30));
  flag = true;
  worker.join();
}

TEST_F(MessagePumpTest, ThroughTheApplicationHookErrorsAndQuit) {
  TApplicationSwap swap;
  TApplication& app = swap.App();
  TRecordingWindow target;
  app.OnMessage = [](plat::MSG& Msg, bool& Handled) {
    if (Msg.wParam == 1) throw std::runtime_error("hook failed");
    Handled = Msg.wParam == 2;
  };
  std::vector<std::string> errors;
  app.OnException = [&](TObject*, const Exception& E) { errors.push_back(E.Message()); };

  // Nested: the hook's error goes to the caller; that message is not dispatched.
  target.Post(plat::WM_USER, 1);
  target.Post(plat::WM_USER + 1, 2);
  target.Post(plat::WM_USER + 2, 0);
  TMessagePump nested(app);
  EXPECT_THROW(nested.PumpPending(), std::runtime_error);
  EXPECT_EQ(nested.PumpPending(), TPumped::Dispatched);
  EXPECT_EQ(target.Received, std::vector<plat::UINT>({plat::WM_USER + 2}));

  // With HandleErrors the error goes to the application and pumping goes on.
  target.Received.clear();
  target.Post(plat::WM_USER, 1);
  target.Post(plat::WM_USER + 3, 0);
  TMessagePump handling(app, {.HandleErrors = true});
  EXPECT_EQ(handling.PumpPending(), TPumped::Dispatched);
  EXPECT_EQ(errors, std::vector<std::string>({"hook failed"}));
  EXPECT_EQ(target.Received, std::vector<plat::UINT>({plat::WM_USER + 3}));

  // A quit marks the application terminated and is posted again for the loops outside.
  app.OnMessage = nullptr;
  app.Terminate();
  EXPECT_EQ(nested.PumpPending(), TPumped::Ended);
  EXPECT_TRUE(app.Terminated());
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessageA(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.message, plat::WM_QUIT);
}

}  // namespace
