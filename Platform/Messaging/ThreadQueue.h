// One thread's message queue, its timers, its windows and its epoll poller (of its own,
// EpollPoller.h). The queue's members are in ThreadQueue.cpp, but for the timers
// (TimerSet.cpp).
//
// Created on the thread's first use of the message API and shut down when the thread
// exits. The owner thread does everything; other threads reach a queue only through a
// shared_ptr (from the registry, or a window's link) and may only push onto it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "Platform/Messages.h"
#include "Platform/Messaging/Clock.h"
#include "Platform/Messaging/DispatchException.h"
#include "Platform/Messaging/EpollPoller.h"
#include "Platform/Messaging/QueueLock.h"
#include "Platform/Messaging/Window.h"
#include "Platform/Reactor.h"

namespace plat::detail {

// Retrieval filter of GetMessageA/PeekMessageA.
struct MessageFilter {
  HWND hwnd = 0;
  UINT min = 0;
  UINT max = 0;

  bool Matches(const MSG& m) const;
};

class ThreadQueue : public std::enable_shared_from_this<ThreadQueue> {
 public:
  ThreadQueue();
  ~ThreadQueue();
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;

  // The calling thread's queue, created on first use; nullptr while the thread exits or
  // when the kernel refuses an epoll or eventfd descriptor.
  static ThreadQueue* Current() { return current_ ? current_ : CreateCurrent(); }
  // The calling thread's queue if it already has one.
  static ThreadQueue* CurrentIfAny() { return current_; }

  reactor::QueueId Id() const { return id_; }

  // Any thread. False once the owner thread has exited. *wake tells the caller to call
  // Wake() (outside any lock it holds) because the owner sleeps.
  bool Push(const MSG& msg, bool* wake) {
    return Push(msg.hwnd, msg.message, msg.wParam, msg.lParam, msg.time, wake);
  }
  // Fields one by one: they go straight into the queue's memory. Refuses the one handle
  // value that marks the quit request.
  bool Push(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, DWORD time, bool* wake);
  // The same, stamped here: a clock read per message would be a good part of its cost.
  // While the owner sleeps the clock is read; otherwise the stamp is the time the owner
  // last took in what was posted, published under the lock.
  bool PushStamped(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool* wake);
  // Owner thread: the tick count as of the latest retrieval. A post from the owner thread
  // happens while it handles what it retrieved last, so this is its time stamp.
  DWORD RecentTickCount() const { return static_cast<DWORD>(lastCoarse_ / 1'000'000); }
  bool PushTask(reactor::InternalTask task, bool* wake);
  // A message that calls the process's notice hook with the cookie when the owner reaches
  // it (reactor::PostNotice).
  bool PushNotice(const MSG& msg, std::uint32_t cookie, bool* wake);
  // Any thread: interrupts the owner's wait.
  void Wake() { poller_.Wake(); }

  // Owner thread only from here on.
  void PostQuit(int code);
  // Looks for a message matching the filter, waiting for one when asked to. False only
  // when not waiting and nothing matched.
  bool Retrieve(MSG* out, const MessageFilter& filter, bool remove, bool wait) {
    return RetrieveSlow(out, filter, remove, wait);
  }
  // The same without a filter: the common case, tried without a lock or the precise clock.
  bool Retrieve(MSG* out, bool remove, bool wait) {
    return TakeNext(out, remove) || RetrieveSlow(out, MessageFilter{}, remove, wait);
  }

  // Windows of this thread. The table is the only record of a window: other threads find
  // it here under the registry lock (Registry::WithWindow), so the owner changes it only
  // under that lock, through the registry, and reads it without.
  Window* FindWindow(HWND hwnd) const {
    return hwnd == lastHwnd_ && hwnd != 0 ? lastWindow_ : FindWindowSlow(hwnd);
  }
  // Registry lock held from here on.
  void AddWindowLocked(HWND hwnd, WNDPROC proc, int extraBytes, std::uint32_t classId);
  Window* FindWindowLocked(HWND hwnd);
  void EraseWindowLocked(HWND hwnd);
  template <class F>
  void ForEachWindowLocked(F&& f) {
    for (auto& [hwnd, window] : windows_) f(hwnd, window);
  }
  void ClearWindowsLocked();
  // The queue's number in the high bits of its windows' handles (Registry::NewWindow),
  // through which other threads find them; numbers of exited threads are given again.
  std::uint32_t handleSlot = 0;
  // Drops the window's queued messages and timers.
  void ForgetWindow(HWND hwnd);

  // Timers.
  std::uintptr_t SetTimer(HWND hwnd, std::uintptr_t id, UINT elapseMs, TIMERPROC proc);
  bool KillTimer(HWND hwnd, std::uintptr_t id);
  // The function of a live timer, when it is the one named by the message.
  TIMERPROC TimerProc(HWND hwnd, std::uintptr_t id, LPARAM lParam) const;

  // Reactor: the descriptors watched with the queue's messages.
  EpollPoller& Poller() { return poller_; }

  // Thread exit: unregisters the queue and its windows; pushes fail from now on.
  void Shutdown();

 private:
  // What an entry carries besides its message, in one word: nothing, an owned task, or the
  // cookie of a notice (the low bit set; a task's address is even). A notice is the
  // socket layer's read notification, one per received burst: it must not cost an
  // allocation.
  class TaskSlot {
   public:
    TaskSlot() = default;
    explicit TaskSlot(reactor::InternalTask* task)
        : bits_(reinterpret_cast<std::uintptr_t>(task)) {}
    static TaskSlot Notice(std::uint32_t cookie) {
      TaskSlot slot;
      slot.bits_ = (std::uintptr_t{cookie} << 1) | 1;
      return slot;
    }
    TaskSlot(TaskSlot&& other) noexcept : bits_(other.bits_) { other.bits_ = 0; }
    TaskSlot& operator=(TaskSlot&& other) noexcept {
      if (this != &other) {
        Reset();
        bits_ = other.bits_;
        other.bits_ = 0;
      }
      return *this;
    }
    ~TaskSlot() { Reset(); }
    explicit operator bool() const { return bits_ != 0; }
    bool IsNotice() const { return (bits_ & 1) != 0; }
    std::uint32_t Cookie() const { return static_cast<std::uint32_t>(bits_ >> 1); }
    // The task, now the caller's; null for a notice.
    std::unique_ptr<reactor::InternalTask> ReleaseTask() {
      if (IsNotice()) return nullptr;
      auto* task = reinterpret_cast<reactor::InternalTask*>(bits_);
      bits_ = 0;
      return std::unique_ptr<reactor::InternalTask>(task);
    }
    void Reset() {
      if (bits_ != 0 && !IsNotice()) delete reinterpret_cast<reactor::InternalTask*>(bits_);
      bits_ = 0;
    }

   private:
    std::uintptr_t bits_ = 0;
  };

  // A posted message, an internal task or the quit request: 40 bytes, as every byte of it
  // travels from the posting thread's cache to the owner's.
  struct Entry {
    // The quit request is queued under this handle, which no window ever gets.
    static constexpr HWND kQuitMark = ~HWND{0} - 1;

    Entry() = default;
    Entry(HWND h, UINT m, WPARAM w, LPARAM l, DWORD t)
        : hwnd(h), wParam(w), lParam(l), message(m), time(t) {}
    // A notice counts as a task: it is reached in order, whatever became of its window.
    bool IsTask() const { return static_cast<bool>(task); }
    bool IsQuit() const { return hwnd == kQuitMark; }
    MSG Msg() const { return MSG{IsQuit() ? 0 : hwnd, message, wParam, lParam, time}; }

    HWND hwnd = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    UINT message = 0;
    DWORD time = 0;
    TaskSlot task;
  };
  static_assert(sizeof(Entry) == 40);
  struct Timer {
    UINT intervalMs = 0;
    std::int64_t deadline = 0;  // CLOCK_MONOTONIC, ns
    std::uint64_t seq = 0;
    TIMERPROC proc = nullptr;
  };
  using TimerKey = std::pair<HWND, std::uintptr_t>;
  // Ordered by deadline, then by the order in which timers were (re)started.
  using DueEntry = std::tuple<std::int64_t, std::uint64_t, HWND, std::uintptr_t>;

  static ThreadQueue* CreateCurrent();
  // A post of the owner thread goes straight to local_: without the lock, unless posts of
  // other threads wait in incoming_, which are taken in first (they came first). Not
  // while a task runs, whose entry goes back to its place. Makes room there (the taken
  // entries go once they are many, or all) and answers whether the post may go there.
  bool OwnPostReady();
  bool PrepareOwnPost();
  static constexpr std::size_t kCompactAt = 64;
  Window* FindWindowSlow(HWND hwnd) const;
  bool PushEntry(Entry&& entry, bool* wake);
  // The next posted message, when nothing else (readiness, a timer) may be due.
  bool TakeNext(MSG* out, bool remove);
  bool RetrieveSlow(MSG* out, const MessageFilter& filter, bool remove, bool wait);
  // Until when TakeNext may skip readiness and timers.
  void UpdateNextCheck();
  bool TryRetrieve(MSG* out, const MessageFilter& filter, bool remove, bool harvestWhenEmpty);
  bool TakePosted(MSG* out, const MessageFilter& filter, bool remove);
  bool TakePostedFiltered(MSG* out, const MessageFilter& filter, bool remove);
  // Runs a task entry; true when it turned into a message (left in the entry).
  bool RunTask(Entry& entry);
  bool Deliverable(const Entry& entry) const;
  // Once the owner's part is used up: swaps in, under one lock, all that was pushed since.
  // False when nothing was.
  bool Refill();
  // Appends all that was pushed to the owner's part: a filter must see every message.
  void MergeIncoming();
  bool TakeTimer(MSG* out, const MessageFilter& filter, bool remove, std::int64_t now,
                 bool starvedOnly);
  void ScheduleTimer(const TimerKey& key, Timer& timer, std::int64_t deadline);
  // Waits in epoll until the next matching timer is due or something arrives.
  void Block(const MessageFilter& filter);
  // Collects readiness (waiting up to timeoutMs) and hands it to the I/O handler.
  void Harvest(int timeoutMs, bool sleeping);

  reactor::QueueId id_ = 0;
  EpollPoller poller_;

  // Shared with posting threads: a cache line of its own, away from the owner's state,
  // which changes with every message.
  alignas(64) QueueLock mutex_;
  std::vector<Entry> incoming_;
  bool sleeping_ = false;
  bool closed_ = false;
  DWORD ownerTick_ = 0;  // the owner's tick count when it last took in posts or woke
  // incoming_ is not empty. Written under the lock, read without it by the owner, which
  // so leaves the lock to the posters while it has nothing to take in; a stale false is
  // caught by the check under the lock before the owner sleeps.
  std::atomic<bool> hasIncoming_{false};

  // Owner thread only: entries before head_ have been taken.
  alignas(64) std::vector<Entry> local_;
  std::size_t head_ = 0;
  bool quitQueued_ = false;
  // Tasks being run: a task's entry goes back to its place in local_ (RunTask), so the
  // taken entries stay put meanwhile.
  int tasksRunning_ = 0;
  std::int64_t lastHarvest_ = 0;  // coarse clock
  std::int64_t lastCoarse_ = 0;   // the owner's latest reading of the coarse clock
  std::int64_t nextCheck_ = 0;    // coarse clock
  // Block returned for a due timer: the next retrieval must not trust the coarse clock,
  // which may lag behind the precise one that Block read.
  bool timerWoke_ = false;

  std::map<TimerKey, Timer> timers_;
  std::set<DueEntry> due_;
  std::uint64_t timerSeq_ = 0;
  std::uintptr_t nextThreadTimerId_ = 1;

  std::unordered_map<HWND, Window> windows_;
  // Dispatch asks for the same window again and again.
  mutable HWND lastHwnd_ = 0;
  mutable Window* lastWindow_ = nullptr;

  static inline thread_local ThreadQueue* current_ = nullptr;
};

inline bool ThreadQueue::OwnPostReady() {
  // Other threads only pay for the thread-local look.
  return current_ == this && PrepareOwnPost();
}

inline bool ThreadQueue::Push(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, DWORD time,
                              bool* wake) {
  if (hwnd == Entry::kQuitMark) return false;
  if (OwnPostReady()) {
    local_.emplace_back(hwnd, message, wParam, lParam, time);
    *wake = false;
    return true;
  }
  std::lock_guard lock(mutex_);
  if (closed_) return false;
  incoming_.emplace_back(hwnd, message, wParam, lParam, time);
  if (!hasIncoming_.load(std::memory_order_relaxed))
    hasIncoming_.store(true, std::memory_order_relaxed);
  // Only the first poster after the owner went to sleep writes the eventfd.
  *wake = sleeping_;
  sleeping_ = false;
  return true;
}

inline bool ThreadQueue::PushStamped(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                     bool* wake) {
  // Posts of other threads, mostly (the owner's own posts go through Push): kept lean.
  if (hwnd == Entry::kQuitMark) return false;
  std::lock_guard lock(mutex_);
  if (closed_) return false;
  incoming_.emplace_back(hwnd, message, wParam, lParam, sleeping_ ? CoarseTickCount() : ownerTick_);
  if (!hasIncoming_.load(std::memory_order_relaxed))
    hasIncoming_.store(true, std::memory_order_relaxed);
  *wake = sleeping_;
  sleeping_ = false;
  return true;
}

inline bool ThreadQueue::TakeNext(MSG* out, bool remove) {
  if (head_ >= local_.size()) return false;
  const Entry& e = local_[head_];
  if (e.IsTask() || e.IsQuit() || (e.hwnd != 0 && FindWindow(e.hwnd) == nullptr)) return false;
  lastCoarse_ = CoarseMonotonicNs();
  if (lastCoarse_ >= nextCheck_) return false;
  *out = MSG{e.hwnd, e.message, e.wParam, e.lParam, e.time};
  if (remove) ++head_;
  return true;
}

}  // namespace plat::detail
