#include "Platform/Messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Platform/MessageTestUtil.h"

namespace plat {
namespace {

using test::InFreshThread;
using testsupport::OnRecorded;
using testsupport::PumpUntil;
using testsupport::Recorded;

HWND NewWindow() {
  return testsupport::NewRecordingWindow();
}

// Seen messages other than WM_DESTROY, as wParam values.
std::vector<WPARAM> SeenParams(UINT message) {
  std::vector<WPARAM> out;
  for (const MSG& m : Recorded())
    if (m.message == message) out.push_back(m.wParam);
  return out;
}

TEST(WindowClasses, RegisterLookUpAndUnregister) {
  WNDCLASSA wc;
  wc.lpfnWndProc = DefWindowProcA;
  wc.cbWndExtra = 8;
  wc.lpszClassName = "MsgTestClassA";
  ASSERT_TRUE(RegisterClassA(&wc));
  EXPECT_FALSE(RegisterClassA(&wc)) << "a name is registered once";
  wc.lpszClassName = "msgtestclassa";
  EXPECT_FALSE(RegisterClassA(&wc)) << "names compare without case";

  WNDCLASSA info;
  ASSERT_TRUE(GetClassInfoA(nullptr, "MSGTESTCLASSA", &info));
  EXPECT_EQ(info.lpfnWndProc, &DefWindowProcA);
  EXPECT_EQ(info.cbWndExtra, 8);
  EXPECT_FALSE(GetClassInfoA(nullptr, "MsgTestNoSuchClass", &info));

  HWND w = CreateWindowExA(0, "MsgTestClassA", "", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
  ASSERT_NE(w, 0u);
  EXPECT_FALSE(UnregisterClassA("MsgTestClassA", nullptr)) << "a window of the class lives";
  EXPECT_TRUE(DestroyWindow(w));
  EXPECT_TRUE(UnregisterClassA("MsgTestClassA", nullptr));
  EXPECT_FALSE(GetClassInfoA(nullptr, "MsgTestClassA", &info));
  EXPECT_EQ(CreateWindowExA(0, "MsgTestClassA", "", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr),
            0u);

  WNDCLASSA bad;
  bad.lpszClassName = "MsgTestNoProc";
  EXPECT_FALSE(RegisterClassA(&bad));
  bad.lpfnWndProc = DefWindowProcA;
  bad.cbWndExtra = 1 << 30;
  EXPECT_FALSE(RegisterClassA(&bad)) << "extra memory is for a few values";
  bad.cbWndExtra = -8;
  EXPECT_FALSE(RegisterClassA(&bad));
  EXPECT_FALSE(RegisterClassA(nullptr));
}

TEST(Windows, HandlesAreNeverReusedAndExtraMemoryHoldsAPointer) {
  InFreshThread([] {
    HWND a = NewWindow();
    ASSERT_NE(a, 0u);
    EXPECT_TRUE(IsWindow(a));
    int object = 0;
    const auto ptr = reinterpret_cast<LONG_PTR>(&object);
    EXPECT_EQ(SetWindowLongA(a, 0, ptr), 0);
    EXPECT_EQ(GetWindowLongA(a, 0), ptr);
    EXPECT_EQ(SetWindowLongA(a, 8, 7), 0);
    EXPECT_EQ(SetWindowLongA(a, 8, 9), 7) << "returns the previous value";
    EXPECT_EQ(GetWindowLongA(a, 16), 0) << "beyond cbWndExtra";
    EXPECT_EQ(SetWindowLongA(a, 16, 1), 0);
    EXPECT_EQ(GetWindowLongA(a, 0), ptr) << "a failed write touches nothing";
    EXPECT_EQ(SetWindowLongA(a, GWLP_USERDATA, 5), 0);
    EXPECT_EQ(GetWindowLongA(a, GWLP_USERDATA), 5);

    // Another thread reads the same memory.
    LONG_PTR seen = 0;
    std::thread([&] { seen = GetWindowLongA(a, 0); }).join();
    EXPECT_EQ(seen, ptr);

    // Replacing the procedure: dispatch goes to the new one.
    const LONG_PTR old =
        SetWindowLongA(a, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
    EXPECT_EQ(old, reinterpret_cast<LONG_PTR>(&testsupport::detail::RecordingWindowProc));
    Recorded().clear();
    MSG m{a, WM_USER, 0, 0, 0};
    DispatchMessageA(&m);
    EXPECT_TRUE(Recorded().empty());
    SetWindowLongA(a, GWLP_WNDPROC, old);

    EXPECT_TRUE(DestroyWindow(a));
    EXPECT_FALSE(IsWindow(a));
    EXPECT_FALSE(DestroyWindow(a));
    EXPECT_EQ(GetWindowLongA(a, 0), 0);
    HWND b = NewWindow();
    EXPECT_NE(b, a);
    EXPECT_EQ(GetWindowLongA(b, 0), 0);
    DestroyWindow(b);
  });
}

TEST(Windows, DestroySendsDestroyOnceAndOnlyOnTheOwnerThread) {
  InFreshThread([] {
    Recorded().clear();
    HWND w = NewWindow();
    BOOL fromOther = 1;
    std::thread([&] { fromOther = DestroyWindow(w); }).join();
    EXPECT_FALSE(fromOther);
    EXPECT_TRUE(IsWindow(w));
    // A second destroy from inside WM_DESTROY does nothing.
    int nested = 0;
    OnRecorded() = [&](const MSG& m) {
      if (m.message == WM_DESTROY) nested += DestroyWindow(m.hwnd) ? 10 : 1;
    };
    EXPECT_TRUE(DestroyWindow(w));
    OnRecorded() = nullptr;
    EXPECT_EQ(nested, 1);
    ASSERT_EQ(Recorded().size(), 1u);
    EXPECT_EQ(Recorded()[0].message, WM_DESTROY);
  });
}

TEST(Queue, PostedMessagesComeInOrderAndQuitAfterThem) {
  InFreshThread([] {
    Recorded().clear();
    HWND w = NewWindow();
    for (WPARAM i = 0; i < 100; ++i) ASSERT_TRUE(PostMessageA(w, WM_USER, i, 0));
    PostQuitMessage(3);
    PostMessageA(w, WM_USER, 100, 0);  // after the quit: stays for the next loop
    MSG msg;
    int got = 0;
    while (got < 1000 && GetMessageA(&msg, 0, 0, 0) > 0) {
      DispatchMessageA(&msg);
      ++got;
    }
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 3u);
    std::vector<WPARAM> expected;
    for (WPARAM i = 0; i < 100; ++i) expected.push_back(i);
    EXPECT_EQ(SeenParams(WM_USER), expected);
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 100u);
    EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    DestroyWindow(w);
  });
}

TEST(Queue, QuitRequestedTwiceIsDeliveredOnceWithTheLastCode) {
  InFreshThread([] {
    PostQuitMessage(1);
    PostQuitMessage(2);
    MSG msg;
    EXPECT_EQ(GetMessageA(&msg, 0, 0, 0), 0);
    EXPECT_EQ(msg.wParam, 2u);
    EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
  });
}

TEST(Queue, PeekLeavesOrTakesTheMessage) {
  InFreshThread([] {
    HWND w = NewWindow();
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    PostMessageA(w, WM_USER + 1, 11, 22);
    PostMessageA(0, WM_USER + 2, 33, 0);  // a thread message
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.hwnd, w);
    EXPECT_EQ(msg.message, WM_USER + 1);
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 1);
    EXPECT_EQ(msg.lParam, 22);
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, 0u);
    EXPECT_EQ(msg.wParam, 33u);
    EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    DestroyWindow(w);
  });
}

TEST(Queue, FiltersTakeMatchingMessagesAndLeaveTheRestInOrder) {
  InFreshThread([] {
    HWND a = NewWindow();
    HWND b = NewWindow();
    PostMessageA(a, WM_USER, 1, 0);
    PostMessageA(b, WM_USER, 2, 0);
    PostMessageA(0, WM_USER + 5, 3, 0);
    PostMessageA(a, WM_USER + 9, 4, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, b, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 2u);
    ASSERT_TRUE(PeekMessageA(&msg, HWND_THREAD_ONLY, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
    ASSERT_TRUE(PeekMessageA(&msg, 0, WM_USER + 8, WM_USER + 10, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 4u);
    EXPECT_FALSE(PeekMessageA(&msg, b, 0, 0, PM_REMOVE));
    PostQuitMessage(0);
    ASSERT_TRUE(PeekMessageA(&msg, b, WM_USER, WM_USER, PM_NOREMOVE)) << "quit passes filters";
    EXPECT_EQ(msg.message, WM_QUIT);
    ASSERT_TRUE(GetMessageA(&msg, 0, 0, 0));
    EXPECT_EQ(msg.wParam, 1u);
    EXPECT_EQ(GetMessageA(&msg, 0, 0, 0), 0);
    DestroyWindow(a);
    DestroyWindow(b);
  });
}

TEST(Queue, PostingFromAnotherThreadWakesAWaitingGet) {
  InFreshThread([] {
    HWND w = NewWindow();
    const std::uintptr_t watchdog = SetTimer(0, 0, 5000, nullptr);
    std::atomic<bool> waiting{false};
    std::thread poster([&] {
      while (!waiting) std::this_thread::yield();
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      PostMessageA(w, WM_USER, 77, 0);
    });
    waiting = true;
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, 0, 0, 0), 1);
    poster.join();
    EXPECT_EQ(msg.message, WM_USER) << "woken by the watchdog instead";
    EXPECT_EQ(msg.wParam, 77u);
    KillTimer(0, watchdog);
    DestroyWindow(w);
  });
}

TEST(Queue, WaitMessageReturnsOnAPostAndLeavesItQueued) {
  InFreshThread([] {
    HWND w = NewWindow();
    const std::uintptr_t watchdog = SetTimer(0, 0, 5000, nullptr);
    std::thread poster([w] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      PostMessageA(w, WM_USER, 5, 0);
    });
    EXPECT_TRUE(WaitMessage());
    poster.join();
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER) << "woken by the watchdog instead";
    KillTimer(0, watchdog);
    DestroyWindow(w);
  });
}

TEST(Queue, MessagesFromSeveralThreadsKeepEachSendersOrder) {
  InFreshThread([] {
    Recorded().clear();
    HWND w = NewWindow();
    constexpr int kPerThread = 20000;
    std::vector<std::thread> posters;
    for (WPARAM sender = 0; sender < 3; ++sender)
      posters.emplace_back([w, sender] {
        for (int i = 0; i < kPerThread; ++i) PostMessageA(w, WM_USER, sender, i);
      });
    EXPECT_TRUE(PumpUntil([] { return Recorded().size() == 3 * kPerThread; }, 20000));
    for (auto& t : posters) t.join();
    std::vector<LPARAM> next(3, 0);
    for (const MSG& m : Recorded()) {
      ASSERT_LT(m.wParam, 3u);
      ASSERT_EQ(m.lParam, next[m.wParam]) << "sender " << m.wParam;
      ++next[m.wParam];
    }
    DestroyWindow(w);
  });
}

// The owner keeps two of its own messages in flight (each one handled posts the next), so
// its queue is never empty; another thread posts meanwhile. Its message still comes, and
// before the message the owner posted once it saw that post made.
TEST(Queue, OwnPostsNeverRunAheadOfWhatAnotherThreadPostedEarlier) {
  InFreshThread([] {
    Recorded().clear();
    HWND w = NewWindow();
    constexpr WPARAM kChain = 1, kOther = 2, kAfter = 3;
    constexpr int kMaxChain = 1'000'000;
    std::atomic<bool> otherPosted{false};
    std::atomic<bool> start{false};
    bool afterPosted = false, afterSeen = false;
    int chained = 0;
    OnRecorded() = [&](const MSG& m) {
      if (m.wParam == kAfter) afterSeen = true;
      if (m.wParam != kChain || afterSeen || chained >= kMaxChain) return;
      if (++chained == 1000) start = true;
      if (!afterPosted && otherPosted.load()) {
        afterPosted = true;
        PostMessageA(w, WM_USER, kAfter, 0);
      }
      PostMessageA(w, WM_USER, kChain, 0);
    };
    std::thread other([&] {
      for (int i = 0; i < 20000 && !start.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      PostMessageA(w, WM_USER, kOther, 0);
      otherPosted = true;
    });
    PostMessageA(w, WM_USER, kChain, 0);
    PostMessageA(w, WM_USER, kChain, 0);
    EXPECT_TRUE(PumpUntil([&] { return afterSeen || chained >= kMaxChain; }, 20000));
    other.join();
    OnRecorded() = nullptr;
    const std::vector<WPARAM> seen = SeenParams(WM_USER);
    const auto otherAt = std::find(seen.begin(), seen.end(), kOther);
    const auto afterAt = std::find(seen.begin(), seen.end(), kAfter);
    ASSERT_NE(otherAt, seen.end()) << "the other thread's message never came";
    ASSERT_NE(afterAt, seen.end());
    EXPECT_LT(otherAt - seen.begin(), afterAt - seen.begin());
    DestroyWindow(w);
  });
}

TEST(Queue, MessagesForADestroyedWindowAreDroppedUntouched) {
  InFreshThread([] {
    Recorded().clear();
    HWND doomed = NewWindow();
    HWND other = NewWindow();
    PostMessageA(doomed, WM_USER, 1, 0);
    PostMessageA(other, WM_USER, 2, 0);
    PostMessageA(doomed, WM_USER, 3, 0);
    MSG held;
    ASSERT_TRUE(PeekMessageA(&held, 0, 0, 0, PM_REMOVE));  // retrieved before the destroy
    ASSERT_TRUE(DestroyWindow(doomed));
    Recorded().clear();
    EXPECT_FALSE(PostMessageA(doomed, WM_USER, 4, 0));
    DispatchMessageA(&held);
    EXPECT_TRUE(Recorded().empty()) << "dispatch to a window that is gone";
    MSG msg;
    int got = 0;
    while (got < 10 && PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
      DispatchMessageA(&msg);
      ++got;
    }
    EXPECT_EQ(got, 1);
    ASSERT_EQ(Recorded().size(), 1u);
    EXPECT_EQ(Recorded()[0].hwnd, other);
    EXPECT_EQ(Recorded()[0].wParam, 2u);
    DestroyWindow(other);
  });
}

TEST(Queue, WindowsOfAnExitedThreadAreGone) {
  HWND orphan = 0;
  InFreshThread([&] {
    orphan = NewWindow();
    PostMessageA(orphan, WM_USER, 1, 0);
  });
  ASSERT_NE(orphan, 0u);
  EXPECT_FALSE(IsWindow(orphan));
  EXPECT_FALSE(PostMessageA(orphan, WM_USER, 2, 0));
}

TEST(Queue, ExceptionFromAWindowProcedureReachesTheHandlerAndTheLoopGoesOn) {
  InFreshThread([] {
    std::vector<std::string> caught;
    SetDispatchExceptionHandler([&](std::exception_ptr e) {
      try {
        std::rethrow_exception(e);
      } catch (const std::exception& ex) {
        caught.push_back(ex.what());
      } catch (int n) {
        caught.push_back("int " + std::to_string(n));
      }
    });
    Recorded().clear();
    OnRecorded() = [](const MSG& m) {
      if (m.wParam == 1) throw std::runtime_error("boom");
      if (m.wParam == 2) throw 42;
    };
    HWND w = NewWindow();
    for (WPARAM i = 1; i <= 3; ++i) PostMessageA(w, WM_USER, i, 0);
    EXPECT_TRUE(PumpUntil([] { return Recorded().size() == 3; }));
    OnRecorded() = nullptr;
    SetDispatchExceptionHandler(nullptr);
    EXPECT_EQ(caught, (std::vector<std::string>{"boom", "int 42"}));
    DestroyWindow(w);
  });
}

TEST(Queue, AHandlerThatThrowsDoesNotEscapeDispatch) {
  InFreshThread([] {
    SetDispatchExceptionHandler([](std::exception_ptr) { throw std::logic_error("handler"); });
    OnRecorded() = [](const MSG&) { throw std::runtime_error("proc"); };
    HWND w = NewWindow();
    MSG msg{w, WM_USER, 0, 0, 0};
    EXPECT_NO_THROW(DispatchMessageA(&msg));
    OnRecorded() = nullptr;
    SetDispatchExceptionHandler(nullptr);
    DestroyWindow(w);
  });
}

TEST(Queue, NestedLoopEndsOnQuitAndTheOuterLoopSeesItToo) {
  InFreshThread([] {
    HWND w = NewWindow();
    int nestedRuns = 0;
    bool outerSawQuit = false;
    OnRecorded() = [&](const MSG& m) {
      if (m.message != WM_USER || m.wParam != 1) return;
      ++nestedRuns;
      MSG inner;
      int guard = 0;
      BOOL r = 1;
      while (guard++ < 100 && (r = GetMessageA(&inner, 0, 0, 0)) > 0) DispatchMessageA(&inner);
      if (r == 0) PostQuitMessage(static_cast<int>(inner.wParam));  // hand it on
    };
    PostMessageA(w, WM_USER, 1, 0);
    PostMessageA(w, WM_USER, 2, 0);
    PostQuitMessage(9);
    MSG msg;
    int guard = 0;
    BOOL r = 1;
    while (guard++ < 100 && (r = GetMessageA(&msg, 0, 0, 0)) > 0) DispatchMessageA(&msg);
    outerSawQuit = r == 0 && msg.wParam == 9;
    OnRecorded() = nullptr;
    EXPECT_EQ(nestedRuns, 1);
    EXPECT_TRUE(outerSawQuit);
    DestroyWindow(w);
  });
}

TEST(Queue, SendCallsTheProcedureAtOnce) {
  InFreshThread([] {
    Recorded().clear();
    HWND w = NewWindow();
    EXPECT_EQ(SendMessageA(w, WM_USER, 5, 6), 0);
    ASSERT_EQ(Recorded().size(), 1u);
    EXPECT_EQ(Recorded()[0].wParam, 5u);
    DestroyWindow(w);
    EXPECT_EQ(SendMessageA(w, WM_USER, 5, 6), 0);
    EXPECT_EQ(Recorded().size(), 2u) << "WM_DESTROY only";
  });
}

}  // namespace
}  // namespace plat
