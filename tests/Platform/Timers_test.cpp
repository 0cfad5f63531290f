#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "Platform/MessageTestUtil.h"
#include "Platform/Messages.h"

namespace plat {
namespace {

using test::InFreshThread;
using testsupport::DrainQueue;
using testsupport::NewRecordingWindow;
using testsupport::PumpUntil;
using testsupport::Recorded;

// Timer ids in the order they first fired.
std::vector<WPARAM> FirstFired() {
  std::vector<WPARAM> ids;
  for (const MSG& m : Recorded())
    if (std::find(ids.begin(), ids.end(), m.wParam) == ids.end()) ids.push_back(m.wParam);
  return ids;
}

TEST(Timers, FireInTheOrderOfTheirDeadlines) {
  InFreshThread([] {
    Recorded().clear();
    HWND w = NewRecordingWindow();
    ASSERT_EQ(SetTimer(w, 3, 90, nullptr), 3u);
    ASSERT_EQ(SetTimer(w, 1, 30, nullptr), 1u);
    ASSERT_EQ(SetTimer(w, 2, 60, nullptr), 2u);
    EXPECT_TRUE(PumpUntil([] { return FirstFired().size() == 3; }));
    EXPECT_EQ(FirstFired(), (std::vector<WPARAM>{1, 2, 3}));
    for (const MSG& m : Recorded()) EXPECT_EQ(m.hwnd, w);
    DestroyWindow(w);
  });
}

TEST(Timers, WaitingUntilTheDeadlineIsNotEarly) {
  InFreshThread([] {
    Recorded().clear();
    HWND w = NewRecordingWindow();
    const auto start = std::chrono::steady_clock::now();
    SetTimer(w, 1, 50, nullptr);
    EXPECT_TRUE(PumpUntil([] { return !Recorded().empty(); }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    DestroyWindow(w);
  });
}

TEST(Timers, DueTimersDoNotPileUp) {
  InFreshThread([] {
    HWND w = NewRecordingWindow();
    SetTimer(w, 7, 10, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(80));  // eight intervals
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_TIMER);
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) << "peeking left it in place";
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) << "no catch-up";
    DestroyWindow(w);
  });
}

TEST(Timers, PostedMessagesGoFirstUnlessATimerIsOverdueByAnInterval) {
  InFreshThread([] {
    HWND w = NewRecordingWindow();
    // An interval long enough that a busy machine cannot carry the timer from due to
    // overdue between the two looks below.
    constexpr UINT interval = 200;
    SetTimer(w, 1, 60'000, nullptr);
    SetTimer(w, 2, interval, nullptr);
    MSG msg;
    // Due, not yet overdue: seen the moment it is due (peeking leaves it in place).
    const auto start = std::chrono::steady_clock::now();
    while (!PeekMessageA(&msg, 0, 0, 0, PM_NOREMOVE) &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    PostMessageA(w, WM_USER, 0, 0);
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER);
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_TIMER);
    // Overdue by more than an interval: however long the sleep overshoots, it is no less.
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * interval));
    PostMessageA(w, WM_USER, 0, 0);
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_TIMER);
    EXPECT_EQ(msg.wParam, 2u);
    DrainQueue();
    DestroyWindow(w);
  });
}

TEST(Timers, AFloodOfPostedMessagesDoesNotStarveThem) {
  InFreshThread([] {
    Recorded().clear();
    HWND w = NewRecordingWindow();
    SetTimer(w, 1, 10, nullptr);
    // Every retrieval posts two more messages: the queue only grows.
    MSG msg;
    int retrieved = 0;
    const auto start = std::chrono::steady_clock::now();
    while (Recorded().size() < 3 && retrieved < 2'000'000 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
      PostMessageA(w, WM_USER, 0, 0);
      PostMessageA(w, WM_USER, 0, 0);
      ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
      DispatchMessageA(&msg);
      ++retrieved;
    }
    EXPECT_EQ(Recorded().size(), 3u);
    DestroyWindow(w);  // also drops the backlog
    EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
  });
}

TEST(Timers, SettingAgainRestartsAndKillStops) {
  InFreshThread([] {
    HWND w = NewRecordingWindow();
    MSG msg;
    SetTimer(w, 1, 200, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    SetTimer(w, 1, 200, nullptr);  // restarts: due 200 ms from now, not 50
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_TRUE(KillTimer(w, 1));
    EXPECT_FALSE(KillTimer(w, 1));

    SetTimer(w, 2, 10, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(KillTimer(w, 2));  // due, not yet retrieved
    EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));

    // 0 is a window timer's id like any other: the call still answers success, the
    // messages carry 0, and KillTimer with 0 stops it.
    EXPECT_NE(SetTimer(w, 0, 10, nullptr), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, w);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(msg.wParam, 0u);
    EXPECT_TRUE(KillTimer(w, 0));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    DestroyWindow(w);
  });
}

TEST(Timers, DestroyingTheWindowKillsItsTimers) {
  InFreshThread([] {
    HWND w = NewRecordingWindow();
    HWND keep = NewRecordingWindow();
    SetTimer(w, 1, 10, nullptr);
    SetTimer(keep, 1, 10, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    DestroyWindow(w);
    EXPECT_FALSE(KillTimer(w, 1));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, keep);
    EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(SetTimer(w, 1, 10, nullptr), 0u) << "no timer for a window that is gone";
    DestroyWindow(keep);
  });
}

TEST(Timers, OnlyTheOwnerThreadSetsTimersOnAWindow) {
  InFreshThread([] {
    HWND w = NewRecordingWindow();
    std::uintptr_t fromOther = 1;
    std::thread([&] { fromOther = SetTimer(w, 1, 10, nullptr); }).join();
    EXPECT_EQ(fromOther, 0u);
    DestroyWindow(w);
  });
}

thread_local std::vector<std::uintptr_t> tProcCalls;
void RecordTimerProc(HWND, UINT message, std::uintptr_t id, DWORD) {
  if (message == WM_TIMER) tProcCalls.push_back(id);
}

TEST(Timers, ThreadTimersGetTheirOwnIdsAndCallTheirFunction) {
  InFreshThread([] {
    tProcCalls.clear();
    const std::uintptr_t a = SetTimer(0, 0, 10, reinterpret_cast<void*>(&RecordTimerProc));
    const std::uintptr_t b = SetTimer(0, 0, 10, nullptr);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(SetTimer(0, a, 20, reinterpret_cast<void*>(&RecordTimerProc)), a)
        << "an existing thread timer is replaced";
    EXPECT_TRUE(PumpUntil([] { return !tProcCalls.empty(); }));
    EXPECT_EQ(tProcCalls, std::vector<std::uintptr_t>{a});
    // A posted WM_TIMER cannot make dispatch call an arbitrary address.
    MSG forged{0, WM_TIMER, a, 0x1234, 0};
    EXPECT_EQ(DispatchMessageA(&forged), 0);
    EXPECT_EQ(tProcCalls.size(), 1u);
    KillTimer(0, a);
    KillTimer(0, b);
  });
}

// CPU time of the calling thread.
std::chrono::nanoseconds ThreadCpu() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

TEST(Timers, WaitingSleepsEvenWhileATimerTheFilterExcludesIsDue) {
  InFreshThread([] {
    HWND w = NewRecordingWindow();
    SetTimer(0, 0, 10, nullptr);  // keeps being due, but the loop below only wants w
    std::thread poster([w] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      PostMessageA(w, WM_USER, 1, 0);
    });
    const auto cpuBefore = ThreadCpu();
    const auto start = std::chrono::steady_clock::now();
    MSG msg;
    int rounds = 0;
    while (rounds++ < 100 && GetMessageA(&msg, w, 0, 0) > 0 && msg.message == WM_TIMER) {
    }
    const auto wall = std::chrono::steady_clock::now() - start;
    const auto cpu = ThreadCpu() - cpuBefore;
    poster.join();
    EXPECT_EQ(msg.message, WM_USER);
    EXPECT_LT(cpu, wall / 4) << "the wait spun";
    DrainQueue();
    DestroyWindow(w);
  });
}

TEST(Timers, WaitingForATimerSleepsUntilItIsDue) {
  InFreshThread([] {
    const std::uintptr_t id = SetTimer(0, 0, 150, nullptr);
    const auto cpuBefore = ThreadCpu();
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, 0, 0, 0), 1);
    EXPECT_EQ(msg.wParam, id);
    EXPECT_LT(ThreadCpu() - cpuBefore, std::chrono::milliseconds(40)) << "the wait spun";
    KillTimer(0, id);
  });
}

TEST(Timers, TickCountAdvancesWithTime) {
  const DWORD before = GetTickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const DWORD elapsed = GetTickCount() - before;
  EXPECT_GE(elapsed, 20u);
  EXPECT_LT(elapsed, 5000u);
}

}  // namespace
}  // namespace plat
