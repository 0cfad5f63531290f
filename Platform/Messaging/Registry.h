// Process-wide tables: window classes and live thread queues, whose tables hold the
// windows (a window's handle names its queue).
//
// One mutex guards them all; the hot paths (posting to a window of the calling thread,
// dispatch, retrieval) never take it.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Platform/Messages.h"
#include "Platform/Reactor.h"

namespace plat::detail {

class ThreadQueue;
struct Window;

// What a posting thread needs to reach a window's queue. Threads that post keep the last
// one they used, so that a stream of posts to one window skips the registry.
struct WindowLink {
  HWND hwnd = 0;
  std::shared_ptr<ThreadQueue> queue;
  std::atomic<bool> alive{true};  // cleared when the window is destroyed
};

class Registry {
 public:
  static Registry& Get();

  // Class names compare without regard to case: this is the key they are stored under.
  static std::string ClassKey(const char* name);
  // Orders class names as their keys would order, without making the keys: every window
  // creation looks its class up.
  struct ClassNameLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept;
  };

  bool RegisterClass(const WNDCLASSA& wc);
  bool UnregisterClass(const char* name);
  bool ClassInfo(const char* name, WNDCLASSA* out);

  // Makes a window of the class in the queue of the calling thread; 0 when the class is
  // unknown.
  HWND NewWindow(ThreadQueue& queue, const char* className);
  // The window is gone for every thread once this returns.
  void RemoveWindow(ThreadQueue& queue, HWND hwnd);
  // All the queue's windows, as the thread exits.
  void RemoveWindows(ThreadQueue& queue);

  reactor::QueueId AddQueue(const std::shared_ptr<ThreadQueue>& queue);
  void RemoveQueue(reactor::QueueId id);
  std::shared_ptr<ThreadQueue> FindQueue(reactor::QueueId id);

  // Pushes onto the queue of the window's thread; false for an unknown window.
  static bool PostToWindow(const MSG& msg);
  // Made on the first post from another thread: most windows only ever hear from their
  // own.
  std::shared_ptr<WindowLink> LinkOf(HWND hwnd);
  std::shared_ptr<ThreadQueue> QueueOfWindow(HWND hwnd);

  // Runs f(window) under the lock, for a window of any thread; false when unknown.
  template <class F>
  bool WithWindow(HWND hwnd, F&& f) {
    std::lock_guard lock(mutex_);
    Window* window = FindLocked(hwnd);
    if (window == nullptr) return false;
    f(*window);
    return true;
  }
  // Runs f(slot) on the window's GWLP_USERDATA under the lock; false when unknown.
  template <class F>
  bool WithUserData(HWND hwnd, F&& f) {
    std::lock_guard lock(mutex_);
    if (FindLocked(hwnd) == nullptr) return false;
    f(userData_[hwnd]);
    return true;
  }

 private:
  struct ClassEntry {
    WNDCLASSA wc;
    int windows = 0;
    std::uint32_t id = 0;  // its place in classById_, which windows keep
  };

  std::mutex mutex_;
  std::map<std::string, ClassEntry, ClassNameLess> classes_;
  std::vector<ClassEntry*> classById_;  // null where a class was unregistered
  // The class of the latest window made, and its key: a server makes its windows, one per
  // connection, all of one class.
  ClassEntry* lastClass_ = nullptr;
  std::string_view lastClassKey_;

  // Windows live in their queue's table (ThreadQueue::FindWindowLocked). The queue of the
  // window's thread, null when the window is unknown.
  ThreadQueue* QueueOfWindowLocked(HWND hwnd);
  Window* FindLocked(HWND hwnd);
  // The window goes: its class counts one less (a class with windows cannot be
  // unregistered, so its entry stays put meanwhile), its link and user data go.
  void ForgetLocked(HWND hwnd, const Window& window);

  // Made on the first post from another thread: most windows only ever hear from their
  // own.
  std::unordered_map<HWND, std::shared_ptr<WindowLink>> links_;
  // GWLP_USERDATA of the windows that were given any: a window record has no word for it.
  std::unordered_map<HWND, std::atomic<LONG_PTR>> userData_;
  std::unordered_map<reactor::QueueId, std::shared_ptr<ThreadQueue>> queues_;
  reactor::QueueId nextQueue_ = 1;
  // Live queues by their handle slot (ThreadQueue::handleSlot); null where free.
  std::vector<ThreadQueue*> queueBySlot_;
  std::vector<std::uint32_t> freeSlots_;
  // A window handle: the queue's slot in the bits from kSlotShift up, below them a count
  // of all windows ever made, so that no handle is ever given twice (a message that
  // outlives its window finds no other), even when a slot is.
  static constexpr int kSlotShift = 44;
  // The last slot stays unused: no handle may equal the queue's quit mark (~0 - 1).
  static constexpr std::size_t kMaxSlots = (std::size_t{1} << (64 - kSlotShift)) - 1;
  static constexpr std::uint32_t kNoSlot = ~std::uint32_t{0};
  HWND windowCount_ = 0;
};

}  // namespace plat::detail
