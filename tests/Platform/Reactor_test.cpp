#include "Platform/Reactor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Platform/MessageTestUtil.h"

namespace plat {
namespace {

using test::InFreshThread;

// What the I/O handler saw on this thread.
thread_local std::vector<std::pair<std::uint64_t, std::uint32_t>> tIo;
// Set by a test: what the handler does with a key besides recording it.
thread_local std::function<void(std::uint64_t, std::uint32_t)> tOnIo;
// True while the calling thread is inside GetMessageA/PeekMessageA.
thread_local bool tInLoop = false;
thread_local bool tHandlerOutsideLoop = false;

void RecordIo(std::uint64_t key, std::uint32_t events) {
  if (!tInLoop) tHandlerOutsideLoop = true;
  tIo.emplace_back(key, events);
  if (tOnIo) tOnIo(key, events);
}

// A non-blocking pipe that closes itself.
struct Pipe {
  int r = -1, w = -1;
  Pipe() {
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
      r = fds[0];
      w = fds[1];
    }
  }
  ~Pipe() {
    if (r >= 0) close(r);
    if (w >= 0) close(w);
  }
  void Put(char c = 'x') const { ASSERT_EQ(write(w, &c, 1), 1); }
  int Take() const {
    char buf[64];
    return static_cast<int>(read(r, buf, sizeof buf));
  }
};

TEST(Reactor, ReadinessReachesTheHandlerFromInsideGetMessage) {
  InFreshThread([] {
    tIo.clear();
    reactor::SetIoHandler(RecordIo);
    Pipe p;
    ASSERT_TRUE(reactor::Add(p.r, EPOLLIN, 0xABCDEF0123ull));
    // The handler drains the pipe and posts a thread message, as the socket layer does.
    bool posted = false;
    tOnIo = [&](std::uint64_t, std::uint32_t) {
      p.Take();
      MSG m{0, WM_USER + 7, 1, 0, 0};
      posted = reactor::PostToQueue(reactor::CurrentQueue(), m);
    };
    std::thread writer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      p.Put();
    });
    MSG msg{};
    tInLoop = true;
    const BOOL r = GetMessageA(&msg, 0, 0, 0);
    tInLoop = false;
    writer.join();
    EXPECT_EQ(r, 1);
    EXPECT_EQ(msg.message, WM_USER + 7u);
    EXPECT_TRUE(posted);
    ASSERT_EQ(tIo.size(), 1u);
    EXPECT_EQ(tIo[0].first, 0xABCDEF0123ull);
    EXPECT_TRUE(tIo[0].second & EPOLLIN);
    EXPECT_FALSE(tHandlerOutsideLoop);
    EXPECT_TRUE(reactor::Remove(p.r));
    EXPECT_FALSE(reactor::Remove(p.r));
    EXPECT_EQ(errno, ENOENT);
    tOnIo = nullptr;
  });
}

TEST(Reactor, RegistrationErrorsAreReported) {
  InFreshThread([] {
    Pipe p;
    EXPECT_FALSE(reactor::Add(p.r, EPOLLIN, 1)) << "no handler yet";
    EXPECT_EQ(errno, EINVAL);
    reactor::SetIoHandler(RecordIo);
    EXPECT_FALSE(reactor::Add(-1, EPOLLIN, 1));
    EXPECT_EQ(errno, EBADF);
    EXPECT_FALSE(reactor::Modify(p.r, EPOLLIN, 1));
    EXPECT_EQ(errno, ENOENT);
    ASSERT_TRUE(reactor::Add(p.r, EPOLLIN, 1));
    EXPECT_FALSE(reactor::Add(p.r, EPOLLIN, 2));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_TRUE(reactor::Remove(p.r));
  });
}

TEST(Reactor, ModifyChangesKeyAndNarrowsEvents) {
  InFreshThread([] {
    tIo.clear();
    reactor::SetIoHandler(RecordIo);
    Pipe p;
    ASSERT_TRUE(reactor::Add(p.w, EPOLLOUT, 1));
    MSG msg;
    PeekMessageA(&msg, 0, 0, 0, PM_NOREMOVE);  // harvests: the pipe is writable
    ASSERT_EQ(tIo.size(), 1u);
    EXPECT_EQ(tIo[0].first, 1u);
    ASSERT_TRUE(reactor::Modify(p.w, EPOLLOUT, 2));
    PeekMessageA(&msg, 0, 0, 0, PM_NOREMOVE);
    ASSERT_EQ(tIo.size(), 2u);
    EXPECT_EQ(tIo[1].first, 2u);
    ASSERT_TRUE(reactor::Modify(p.w, 0, 2));
    PeekMessageA(&msg, 0, 0, 0, PM_NOREMOVE);
    EXPECT_EQ(tIo.size(), 2u) << "no interest, no call";
    reactor::Remove(p.w);
  });
}

TEST(Reactor, ADescriptorRemovedByAnEarlierHandlerInTheBatchIsNotReported) {
  InFreshThread([] {
    tIo.clear();
    reactor::SetIoHandler(RecordIo);
    Pipe a, b;
    a.Put();
    b.Put();
    ASSERT_TRUE(reactor::Add(a.r, EPOLLIN, 1));
    ASSERT_TRUE(reactor::Add(b.r, EPOLLIN, 2));
    // Whichever comes first removes both and registers an empty pipe under the other's
    // descriptor number with a new key: the readiness already collected for the old
    // descriptor must reach neither the old key nor the new one.
    Pipe fresh;
    bool handled = false;
    int reused = -1;
    tOnIo = [&](std::uint64_t key, std::uint32_t) {
      if (handled) return;
      handled = true;
      reused = key == 1 ? b.r : a.r;
      reactor::Remove(a.r);
      reactor::Remove(b.r);
      ASSERT_EQ(dup2(fresh.r, reused), reused);
      ASSERT_TRUE(reactor::Add(reused, EPOLLIN, 3));
    };
    MSG msg;
    PeekMessageA(&msg, 0, 0, 0, PM_NOREMOVE);
    EXPECT_EQ(tIo.size(), 1u);
    fresh.Put();
    PeekMessageA(&msg, 0, 0, 0, PM_NOREMOVE);
    ASSERT_EQ(tIo.size(), 2u) << "the new registration works";
    EXPECT_EQ(tIo[1].first, 3u);
    reactor::Remove(reused);
    tOnIo = nullptr;
  });
}

TEST(Reactor, InternalTasksRunInFifoOrderAndMayVanish) {
  InFreshThread([] {
    const reactor::QueueId self = reactor::CurrentQueue();
    ASSERT_NE(self, 0u);
    std::vector<int> order;
    PostMessageA(0, WM_USER, 1, 0);
    reactor::PostInternal(self, [&](MSG& m) {
      order.push_back(2);
      m = MSG{0, WM_USER, 2, 0, 0};
      return true;
    });
    reactor::PostInternal(self, [&](MSG&) {
      order.push_back(3);
      return false;  // vanishes
    });
    PostMessageA(0, WM_USER, 4, 0);
    std::vector<WPARAM> got;
    MSG msg;
    while (got.size() < 10 && PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) got.push_back(msg.wParam);
    EXPECT_EQ(got, (std::vector<WPARAM>{1, 2, 4}));
    EXPECT_EQ(order, (std::vector<int>{2, 3}));
  });
}

TEST(Reactor, ATaskPeekedWithoutRemovalRunsOnceAndKeepsItsPlace) {
  InFreshThread([] {
    const reactor::QueueId self = reactor::CurrentQueue();
    int runs = 0;
    reactor::PostInternal(self, [&](MSG& m) {
      ++runs;
      m = MSG{0, WM_USER, 5, 0, 0};
      return true;
    });
    PostMessageA(0, WM_USER, 6, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.wParam, 5u);
    ASSERT_TRUE(PeekMessageA(&msg, 0, WM_USER, WM_USER, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 5u);
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 6u);
    EXPECT_EQ(runs, 1);
  });
}

TEST(Reactor, TasksFromAnotherThreadWakeTheOwner) {
  InFreshThread([] {
    const reactor::QueueId self = reactor::CurrentQueue();
    std::atomic<std::thread::id> ranOn{};
    std::thread poster([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      reactor::PostInternal(self, [&](MSG& m) {
        ranOn = std::this_thread::get_id();
        m = MSG{0, WM_USER, 99, 0, 0};
        return true;
      });
    });
    const std::uintptr_t watchdog = SetTimer(0, 0, 5000, nullptr);
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, 0, 0, 0), 1);
    poster.join();
    KillTimer(0, watchdog);
    EXPECT_EQ(msg.wParam, 99u);
    EXPECT_EQ(ranOn.load(), std::this_thread::get_id());
  });
}

TEST(Reactor, PostingToTheQueueOfAnExitedThreadFails) {
  reactor::QueueId gone = 0;
  InFreshThread([&] { gone = reactor::CurrentQueue(); });
  ASSERT_NE(gone, 0u);
  bool ran = false;
  EXPECT_FALSE(reactor::PostInternal(gone, [&](MSG&) { return ran = true; }));
  EXPECT_FALSE(reactor::PostToQueue(gone, MSG{0, WM_USER, 0, 0, 0}));
  EXPECT_FALSE(ran);
  EXPECT_FALSE(reactor::PostToQueue(0, MSG{}));
}

TEST(Reactor, QueueOfWindowNamesTheCreatingThread) {
  WNDCLASSA wc;
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "ReactorTestWindow";
  ASSERT_TRUE(RegisterClassA(&wc));
  InFreshThread([] {
    HWND w =
        CreateWindowExA(0, "ReactorTestWindow", "", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
    const reactor::QueueId mine = reactor::CurrentQueue();
    EXPECT_EQ(reactor::QueueOfWindow(w), mine);
    reactor::QueueId seen = 0;
    std::thread([&] { seen = reactor::QueueOfWindow(w); }).join();
    EXPECT_EQ(seen, mine);
    DestroyWindow(w);
    EXPECT_EQ(reactor::QueueOfWindow(w), 0u);
  });
  UnregisterClassA("ReactorTestWindow", nullptr);
}

TEST(Reactor, AFloodOfPostedMessagesDoesNotStarveReadiness) {
  InFreshThread([] {
    tIo.clear();
    reactor::SetIoHandler(RecordIo);
    int efd = eventfd(1, EFD_NONBLOCK | EFD_CLOEXEC);  // readable from the start
    ASSERT_GE(efd, 0);
    // Every message posts the next one, so the queue is never empty.
    int dispatched = 0;
    PostMessageA(0, WM_USER, 0, 0);
    tOnIo = [&](std::uint64_t, std::uint32_t) {
      std::uint64_t v;
      [[maybe_unused]] ssize_t n = read(efd, &v, sizeof v);
    };
    ASSERT_TRUE(reactor::Add(efd, EPOLLIN, 42));
    MSG msg;
    const auto start = std::chrono::steady_clock::now();
    while (tIo.empty() && dispatched < 5'000'000 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
      ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
      ++dispatched;
      PostMessageA(0, WM_USER, 0, 0);
    }
    EXPECT_EQ(tIo.size(), 1u);
    reactor::Remove(efd);
    close(efd);
    tOnIo = nullptr;
  });
}

TEST(Reactor, AnExceptionFromTheIoHandlerGoesToTheDispatchHandler) {
  InFreshThread([] {
    int reports = 0;
    SetDispatchExceptionHandler([&](std::exception_ptr) { ++reports; });
    reactor::SetIoHandler([](std::uint64_t, std::uint32_t) { throw std::runtime_error("io"); });
    Pipe p;
    p.Put();
    ASSERT_TRUE(reactor::Add(p.r, EPOLLIN, 1));
    MSG msg;
    EXPECT_NO_THROW(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(reports, 1);
    reactor::Remove(p.r);
    SetDispatchExceptionHandler(nullptr);
  });
}

// A watched descriptor (a display connection) beside the sockets: its own handler gets its
// readiness, the thread's I/O handler never sees it, and Remove ends the watch.
TEST(Reactor, AWatchedDescriptorHasAHandlerOfItsOwn) {
  InFreshThread([] {
    tIo.clear();
    reactor::SetIoHandler(RecordIo);
    Pipe sock, display;
    ASSERT_TRUE(reactor::Add(sock.r, EPOLLIN, 5));
    int calls = 0;
    ASSERT_TRUE(reactor::Watch(display.r, EPOLLIN, [&](std::uint32_t events) {
      ++calls;
      EXPECT_TRUE(events & EPOLLIN);
      display.Take();
      // May end its own watch from inside.
      if (calls == 2) {
        EXPECT_TRUE(reactor::Remove(display.r));
      }
      reactor::PostToQueue(reactor::CurrentQueue(), MSG{0, WM_USER + 8, 0, 0, 0});
    }));
    EXPECT_FALSE(reactor::Watch(-1, EPOLLIN, [](std::uint32_t) {}));
    EXPECT_FALSE(reactor::Watch(sock.w, EPOLLOUT, nullptr));
    MSG msg{};
    for (int round = 1; round <= 3; ++round) {
      display.Put();
      sock.Put();
      // Bounded: the socket's readiness alone posts nothing, so peek a few times.
      for (int i = 0; i < 50 && !PeekMessageA(&msg, 0, 0, 0, PM_REMOVE); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      sock.Take();
    }
    EXPECT_EQ(calls, 2);  // the third write came after the watch ended
    for (const auto& [key, events] : tIo) EXPECT_EQ(key, 5u);
    EXPECT_FALSE(tIo.empty());
    EXPECT_TRUE(reactor::Remove(sock.r));
  });
}

}  // namespace
}  // namespace plat
