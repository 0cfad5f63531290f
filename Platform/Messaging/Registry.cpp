#include "Platform/Messaging/Registry.h"

#include <algorithm>

#include "Platform/KeptObjects.h"
#include "Platform/Messaging/ThreadQueue.h"
#include "Platform/Messaging/Window.h"

namespace plat::detail {

namespace {
// Extra memory is for a pointer or a few values, not for buffers.
constexpr int kMaxWndExtra = 4096;
}  // namespace

Registry& Registry::Get() {
  // Never destroyed: thread queues unregister from it during process exit.
  static Registry* registry = KeepForProcess(new Registry);
  return *registry;
}

namespace {
// Class names are ASCII identifiers: the C locale's lower case.
unsigned char LowerAscii(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}
}  // namespace

std::string Registry::ClassKey(const char* name) {
  std::string key = name ? name : "";
  for (char& c : key) c = static_cast<char>(LowerAscii(c));
  return key;
}

// Any consistent order serves the look-ups: by length first, so that most names differ
// at once, then by the lower-case bytes, lowered only where the bytes differ.
bool Registry::ClassNameLess::operator()(std::string_view a, std::string_view b) const noexcept {
  if (a.size() != b.size()) return a.size() < b.size();
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    const unsigned char x = LowerAscii(a[i]), y = LowerAscii(b[i]);
    if (x != y) return x < y;
  }
  return false;
}

namespace {
bool SameClassName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}
}  // namespace

bool Registry::RegisterClass(const WNDCLASSA& wc) {
  if (wc.lpszClassName == nullptr || *wc.lpszClassName == '\0' || wc.lpfnWndProc == nullptr ||
      wc.cbWndExtra < 0 || wc.cbWndExtra > kMaxWndExtra || wc.cbClsExtra < 0)
    return false;
  std::lock_guard lock(mutex_);
  auto [it, inserted] = classes_.try_emplace(ClassKey(wc.lpszClassName));
  if (!inserted) return false;
  it->second.wc = wc;
  it->second.wc.lpszClassName = nullptr;  // the caller's text may not outlive the call
  auto free = std::find(classById_.begin(), classById_.end(), nullptr);
  if (free == classById_.end()) free = classById_.insert(free, nullptr);
  *free = &it->second;
  it->second.id = static_cast<std::uint32_t>(free - classById_.begin());
  return true;
}

bool Registry::UnregisterClass(const char* name) {
  std::lock_guard lock(mutex_);
  auto it = classes_.find(std::string_view(name ? name : ""));
  if (it == classes_.end() || it->second.windows > 0) return false;
  if (lastClass_ == &it->second) {
    lastClass_ = nullptr;
    lastClassKey_ = {};
  }
  classById_[it->second.id] = nullptr;
  classes_.erase(it);
  return true;
}

bool Registry::ClassInfo(const char* name, WNDCLASSA* out) {
  std::lock_guard lock(mutex_);
  auto it = classes_.find(std::string_view(name ? name : ""));
  if (it == classes_.end()) return false;
  if (out) {
    *out = it->second.wc;
    out->lpszClassName = name;
  }
  return true;
}

HWND Registry::NewWindow(ThreadQueue& queue, const char* className) {
  const std::string_view name(className ? className : "");
  std::lock_guard lock(mutex_);
  if (lastClass_ == nullptr || !SameClassName(lastClassKey_, name)) {
    auto it = classes_.find(name);
    if (it == classes_.end()) return 0;
    lastClass_ = &it->second;
    lastClassKey_ = it->first;
  }
  if (queue.handleSlot == kNoSlot || windowCount_ + 1 >= (HWND{1} << kSlotShift)) return 0;
  const HWND hwnd = (HWND{queue.handleSlot} << kSlotShift) | ++windowCount_;
  ClassEntry& cls = *lastClass_;
  queue.AddWindowLocked(hwnd, cls.wc.lpfnWndProc, cls.wc.cbWndExtra, cls.id);
  ++cls.windows;
  return hwnd;
}

ThreadQueue* Registry::QueueOfWindowLocked(HWND hwnd) {
  const auto slot = static_cast<std::size_t>(hwnd >> kSlotShift);
  ThreadQueue* q = slot < queueBySlot_.size() ? queueBySlot_[slot] : nullptr;
  return q != nullptr && q->FindWindowLocked(hwnd) != nullptr ? q : nullptr;
}

Window* Registry::FindLocked(HWND hwnd) {
  ThreadQueue* q = QueueOfWindowLocked(hwnd);
  return q == nullptr ? nullptr : q->FindWindowLocked(hwnd);
}

void Registry::ForgetLocked(HWND hwnd, const Window& window) {
  --classById_[window.classId]->windows;
  userData_.erase(hwnd);
  if (auto link = links_.find(hwnd); link != links_.end()) {
    link->second->alive.store(false, std::memory_order_release);
    links_.erase(link);
  }
}

void Registry::RemoveWindow(ThreadQueue& queue, HWND hwnd) {
  std::lock_guard lock(mutex_);
  Window* window = queue.FindWindowLocked(hwnd);
  if (window == nullptr) return;
  ForgetLocked(hwnd, *window);
  queue.EraseWindowLocked(hwnd);
}

void Registry::RemoveWindows(ThreadQueue& queue) {
  std::lock_guard lock(mutex_);
  queue.ForEachWindowLocked(
      [this](HWND hwnd, const Window& window) { ForgetLocked(hwnd, window); });
  queue.ClearWindowsLocked();
}

reactor::QueueId Registry::AddQueue(const std::shared_ptr<ThreadQueue>& queue) {
  std::lock_guard lock(mutex_);
  reactor::QueueId id = nextQueue_++;
  queues_[id] = queue;
  if (!freeSlots_.empty()) {
    queue->handleSlot = freeSlots_.back();
    freeSlots_.pop_back();
    queueBySlot_[queue->handleSlot] = queue.get();
  } else if (queueBySlot_.size() < kMaxSlots) {
    queue->handleSlot = static_cast<std::uint32_t>(queueBySlot_.size());
    queueBySlot_.push_back(queue.get());
  } else {
    queue->handleSlot = kNoSlot;  // a million threads at once: no windows for this one
  }
  return id;
}

void Registry::RemoveQueue(reactor::QueueId id) {
  std::shared_ptr<ThreadQueue> last;  // released outside the lock
  std::lock_guard lock(mutex_);
  auto it = queues_.find(id);
  if (it == queues_.end()) return;
  last = std::move(it->second);
  queues_.erase(it);
  if (last->handleSlot != kNoSlot) {
    queueBySlot_[last->handleSlot] = nullptr;
    freeSlots_.push_back(last->handleSlot);
  }
}

std::shared_ptr<ThreadQueue> Registry::FindQueue(reactor::QueueId id) {
  std::lock_guard lock(mutex_);
  auto it = queues_.find(id);
  return it == queues_.end() ? nullptr : it->second;
}

namespace {
// The posting thread's last link. Threads post during their own exit too (from the
// destructors of other thread-locals), so the cache says when it is gone.
thread_local bool tLinkCacheGone = false;
struct LinkCache {
  std::shared_ptr<WindowLink> link;
  ~LinkCache() { tLinkCacheGone = true; }
};
thread_local LinkCache tLinkCache;

bool PostThroughLink(const WindowLink& link, const MSG& msg) {
  // A destroy that races with this post may let the message in after the window's
  // messages were removed; retrieval drops it, as handles are never reused.
  if (!link.alive.load(std::memory_order_acquire)) return false;
  bool wake = false;
  if (!link.queue->PushStamped(msg.hwnd, msg.message, msg.wParam, msg.lParam, &wake)) return false;
  if (wake) link.queue->Wake();
  return true;
}
}  // namespace

bool Registry::PostToWindow(const MSG& msg) {
  // A window of the posting thread: its queue is at hand.
  if (ThreadQueue* own = ThreadQueue::CurrentIfAny(); own != nullptr && msg.hwnd != 0) {
    if (own->FindWindow(msg.hwnd) != nullptr) {
      bool wake = false;  // the owner is running: nobody to wake
      return own->PushStamped(msg.hwnd, msg.message, msg.wParam, msg.lParam, &wake);
    }
  }
  if (tLinkCacheGone) {
    auto link = Get().LinkOf(msg.hwnd);
    return link && PostThroughLink(*link, msg);
  }
  auto& cached = tLinkCache.link;
  if (!cached || cached->hwnd != msg.hwnd) {
    cached = Get().LinkOf(msg.hwnd);
    if (!cached) return false;
  }
  if (PostThroughLink(*cached, msg)) return true;
  cached.reset();
  return false;
}

std::shared_ptr<WindowLink> Registry::LinkOf(HWND hwnd) {
  std::lock_guard lock(mutex_);
  ThreadQueue* queue = QueueOfWindowLocked(hwnd);
  if (queue == nullptr) return nullptr;
  std::shared_ptr<WindowLink>& link = links_[hwnd];
  if (!link) {
    link = std::make_shared<WindowLink>();
    link->hwnd = hwnd;
    link->queue = queue->shared_from_this();
  }
  return link;
}

std::shared_ptr<ThreadQueue> Registry::QueueOfWindow(HWND hwnd) {
  std::lock_guard lock(mutex_);
  ThreadQueue* queue = QueueOfWindowLocked(hwnd);
  // A registered window's queue lives on at least until the window is removed.
  return queue == nullptr ? nullptr : queue->shared_from_this();
}

}  // namespace plat::detail
