#include "Platform/Messaging/ThreadQueue.h"

#include <algorithm>
#include <climits>

#include "Platform/Messaging/Clock.h"
#include "Platform/Messaging/Registry.h"

namespace plat::detail {

namespace {

// Readiness is collected at least this often while posted messages keep the queue busy.
constexpr std::int64_t kHarvestIntervalNs = 2'000'000;

thread_local bool tlsExiting = false;

// Ends the thread's queue when the thread exits.
struct QueueOwner {
  std::shared_ptr<ThreadQueue> queue;
  ~QueueOwner() {
    tlsExiting = true;
    if (queue) queue->Shutdown();
  }
};
thread_local QueueOwner tlsOwner;

}  // namespace

bool MessageFilter::Matches(const MSG& m) const {
  if (hwnd == HWND_THREAD_ONLY) {
    if (m.hwnd != 0) return false;
  } else if (hwnd != 0 && m.hwnd != hwnd) {
    return false;
  }
  if (min == 0 && max == 0) return true;
  return m.message >= min && m.message <= max;
}

ThreadQueue::ThreadQueue() {
  lastHarvest_ = lastCoarse_ = CoarseMonotonicNs();
}

ThreadQueue::~ThreadQueue() = default;

ThreadQueue* ThreadQueue::CreateCurrent() {
  if (tlsExiting) return nullptr;
  auto queue = std::make_shared<ThreadQueue>();
  if (!queue->poller_.Valid()) return nullptr;
  queue->id_ = Registry::Get().AddQueue(queue);
  tlsOwner.queue = queue;
  current_ = queue.get();
  return current_;
}

void ThreadQueue::Shutdown() {
  current_ = nullptr;
  Registry::Get().RemoveWindows(*this);
  Registry::Get().RemoveQueue(id_);
  std::vector<Entry> dropped;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    dropped.swap(incoming_);
    hasIncoming_.store(false, std::memory_order_relaxed);
  }
  dropped.clear();
  local_.clear();
  head_ = 0;
  timers_.clear();
  due_.clear();
  poller_.Clear();
}

// ---- posting (any thread) ----

bool ThreadQueue::PrepareOwnPost() {
  if (closed_ || tasksRunning_ != 0) return false;
  if (hasIncoming_.load(std::memory_order_relaxed)) {
    MergeIncoming();  // they came first
  } else if (head_ == local_.size()) {
    local_.clear();
    head_ = 0;
  } else if (head_ >= kCompactAt && head_ * 2 >= local_.size()) {
    local_.erase(local_.begin(), local_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
  return true;
}

bool ThreadQueue::PushEntry(Entry&& entry, bool* wake) {
  if (OwnPostReady()) {
    local_.push_back(std::move(entry));
    *wake = false;
    return true;
  }
  std::lock_guard lock(mutex_);
  if (closed_) return false;
  incoming_.push_back(std::move(entry));
  hasIncoming_.store(true, std::memory_order_relaxed);
  // Only the first poster after the owner went to sleep writes the eventfd.
  *wake = sleeping_;
  sleeping_ = false;
  return true;
}

bool ThreadQueue::PushTask(reactor::InternalTask task, bool* wake) {
  Entry entry;
  entry.task = TaskSlot(new reactor::InternalTask(std::move(task)));
  return PushEntry(std::move(entry), wake);
}

bool ThreadQueue::PushNotice(const MSG& msg, std::uint32_t cookie, bool* wake) {
  if (msg.hwnd == Entry::kQuitMark) return false;
  // Stamped when it turns into the message, as a task's message is.
  Entry entry(msg.hwnd, msg.message, msg.wParam, msg.lParam, 0);
  entry.task = TaskSlot::Notice(cookie);
  return PushEntry(std::move(entry), wake);
}

void ThreadQueue::PostQuit(int code) {
  const auto wParam = static_cast<WPARAM>(static_cast<std::int64_t>(code));
  if (quitQueued_) {
    // One quit at a time; a later request only changes the code.
    for (std::size_t i = head_; i < local_.size(); ++i)
      if (local_[i].IsQuit()) local_[i].wParam = wParam;
    std::lock_guard lock(mutex_);
    for (auto& e : incoming_)
      if (e.IsQuit()) e.wParam = wParam;
    return;
  }
  Entry entry(Entry::kQuitMark, WM_QUIT, wParam, 0, CoarseTickCount());
  bool wake = false;
  if (PushEntry(std::move(entry), &wake)) quitQueued_ = true;
}

// ---- retrieval (owner thread) ----

bool ThreadQueue::RetrieveSlow(MSG* out, const MessageFilter& filter, bool remove, bool wait) {
  for (;;) {
    // A waiting caller collects readiness in Block; only a peek must look for it here.
    if (TryRetrieve(out, filter, remove, !wait)) return true;
    if (!wait) return false;
    Block(filter);
  }
}

bool ThreadQueue::TryRetrieve(MSG* out, const MessageFilter& filter, bool remove,
                              bool harvestWhenEmpty) {
  const bool pending = head_ < local_.size() || Refill();
  const std::int64_t coarse = lastCoarse_ = CoarseMonotonicNs();
  const bool busy = coarse - lastHarvest_ >= kHarvestIntervalNs;
  if ((!pending && harvestWhenEmpty) || busy) Harvest(0, false);
  if (busy && ownerTick_ != RecentTickCount()) {
    // The owner's own posts skip the lock, so a busy owner may take nothing in for long:
    // the stamp of other threads' posts is kept as fresh as readiness.
    std::lock_guard lock(mutex_);
    ownerTick_ = RecentTickCount();
  }
  bool found = false;
  // The precise clock is read only when the coarse one says a timer may be due.
  std::int64_t now = 0;
  if (!due_.empty() && (timerWoke_ || coarse + CoarseLagNs() >= std::get<0>(*due_.begin()))) {
    timerWoke_ = false;
    now = MonotonicNs();
    found = TakeTimer(out, filter, remove, now, true);
  }
  if (!found) found = TakePosted(out, filter, remove);
  if (!found && now != 0) found = TakeTimer(out, filter, remove, now, false);
  UpdateNextCheck();
  return found;
}

void ThreadQueue::UpdateNextCheck() {
  nextCheck_ = lastHarvest_ + kHarvestIntervalNs;
  if (!due_.empty()) nextCheck_ = std::min(nextCheck_, std::get<0>(*due_.begin()) - CoarseLagNs());
}

bool ThreadQueue::Refill() {
  local_.clear();
  head_ = 0;
  if (!hasIncoming_.load(std::memory_order_relaxed)) return false;
  {
    std::lock_guard lock(mutex_);
    ownerTick_ = RecentTickCount();
    local_.swap(incoming_);
    hasIncoming_.store(false, std::memory_order_relaxed);
  }
  return !local_.empty();
}

void ThreadQueue::MergeIncoming() {
  if (head_ == local_.size()) {
    Refill();
    return;
  }
  std::lock_guard lock(mutex_);
  ownerTick_ = RecentTickCount();
  for (auto& e : incoming_) local_.push_back(std::move(e));
  incoming_.clear();
  hasIncoming_.store(false, std::memory_order_relaxed);
}

bool ThreadQueue::Deliverable(const Entry& entry) const {
  return entry.IsQuit() || entry.hwnd == 0 || FindWindow(entry.hwnd);
}

bool ThreadQueue::RunTask(Entry& entry) {
  struct Running {
    int& count;
    explicit Running(int& c) : count(c) { ++count; }
    ~Running() { --count; }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;
  } running(tasksRunning_);
  if (entry.task.IsNotice()) {
    const std::uint32_t cookie = entry.task.Cookie();
    entry.task.Reset();
    try {
      if (const reactor::NoticeHook hook = reactor::CurrentNoticeHook()) hook(entry.Msg(), cookie);
    } catch (...) {
      ReportDispatchException(std::current_exception());
    }
    entry.time = CoarseTickCount();
    return true;
  }
  auto task = entry.task.ReleaseTask();
  MSG msg{};
  bool keep = false;
  try {
    keep = (*task)(msg);
  } catch (...) {
    ReportDispatchException(std::current_exception());
    keep = false;
  }
  // A task cannot forge the quit request.
  if (!keep || msg.hwnd == Entry::kQuitMark) return false;
  entry = Entry(msg.hwnd, msg.message, msg.wParam, msg.lParam,
                msg.time != 0 ? msg.time : CoarseTickCount());
  return true;
}

bool ThreadQueue::TakePosted(MSG* out, const MessageFilter& filter, bool remove) {
  if (filter.hwnd != 0 || filter.min != 0 || filter.max != 0)
    return TakePostedFiltered(out, filter, remove);
  for (;;) {
    if (head_ == local_.size() && !Refill()) return false;
    if (local_[head_].IsTask()) {
      // Taken out before it runs: the task must not see its own entry if it posts.
      Entry taken = std::move(local_[head_]);
      ++head_;
      if (RunTask(taken)) local_[--head_] = std::move(taken);
      continue;
    }
    const Entry& e = local_[head_];
    if (!Deliverable(e)) {
      ++head_;
      continue;
    }
    *out = e.Msg();
    if (remove) {
      if (e.IsQuit()) quitQueued_ = false;
      ++head_;
    }
    return true;
  }
}

bool ThreadQueue::TakePostedFiltered(MSG* out, const MessageFilter& filter, bool remove) {
  MergeIncoming();
  for (std::size_t i = head_; i < local_.size();) {
    if (local_[i].IsTask()) {
      Entry taken = std::move(local_[i]);
      local_.erase(local_.begin() + static_cast<std::ptrdiff_t>(i));
      if (RunTask(taken))
        local_.insert(local_.begin() + static_cast<std::ptrdiff_t>(i), std::move(taken));
      continue;
    }
    const Entry& e = local_[i];
    if (!Deliverable(e)) {
      local_.erase(local_.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    if (e.IsQuit() || filter.Matches(e.Msg())) {
      *out = e.Msg();
      if (remove) {
        if (e.IsQuit()) quitQueued_ = false;
        local_.erase(local_.begin() + static_cast<std::ptrdiff_t>(i));
      }
      return true;
    }
    ++i;
  }
  return false;
}

void ThreadQueue::Block(const MessageFilter& filter) {
  int timeoutMs = -1;
  if (!due_.empty()) {
    const std::int64_t now = MonotonicNs();
    for (const auto& [deadline, seq, hwnd, id] : due_) {
      if (!filter.Matches(MSG{hwnd, WM_TIMER, id, 0, 0})) continue;
      if (deadline <= now) {
        timerWoke_ = true;
        return;
      }
      // Rounded up: waking a little early would find nothing due and wait again for 0 ms.
      const std::int64_t ms = (deadline - now + 999'999) / 1'000'000;
      timeoutMs = static_cast<int>(std::min<std::int64_t>(ms, INT_MAX));
      break;
    }
  }
  {
    std::lock_guard lock(mutex_);
    if (!incoming_.empty()) return;
    sleeping_ = true;
  }
  Harvest(timeoutMs, true);
  timerWoke_ = timeoutMs >= 0;
}

void ThreadQueue::Harvest(int timeoutMs, bool sleeping) {
  poller_.Poll(timeoutMs, [&] {
    lastHarvest_ = lastCoarse_ = CoarseMonotonicNs();
    if (sleeping) {
      std::lock_guard lock(mutex_);
      sleeping_ = false;
      ownerTick_ = RecentTickCount();
    }
  });
}

// ---- windows ----

void ThreadQueue::AddWindowLocked(HWND hwnd, WNDPROC proc, int extraBytes, std::uint32_t classId) {
  windows_.try_emplace(hwnd, proc, extraBytes, classId);
}

Window* ThreadQueue::FindWindowLocked(HWND hwnd) {
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? nullptr : &it->second;
}

Window* ThreadQueue::FindWindowSlow(HWND hwnd) const {
  auto it = windows_.find(hwnd);
  if (it == windows_.end()) return nullptr;
  lastHwnd_ = hwnd;
  lastWindow_ = const_cast<Window*>(&it->second);  // the queue owns its windows
  return lastWindow_;
}

void ThreadQueue::EraseWindowLocked(HWND hwnd) {
  if (hwnd == lastHwnd_) {
    lastHwnd_ = 0;
    lastWindow_ = nullptr;
  }
  windows_.erase(hwnd);
}

void ThreadQueue::ClearWindowsLocked() {
  lastHwnd_ = 0;
  lastWindow_ = nullptr;
  windows_.clear();
}

void ThreadQueue::ForgetWindow(HWND hwnd) {
  auto forWindow = [hwnd](const Entry& e) { return !e.IsTask() && e.hwnd == hwnd; };
  // Entries before head_ stay where they are: a task being run may put its message back.
  local_.erase(
      std::remove_if(local_.begin() + static_cast<std::ptrdiff_t>(head_), local_.end(), forWindow),
      local_.end());
  // Nothing posted since the last take-in is the usual case: no lock then. A post that
  // slips in meanwhile is dropped when retrieved, as the window's handle is never given
  // again.
  if (hasIncoming_.load(std::memory_order_relaxed)) {
    std::lock_guard lock(mutex_);
    std::erase_if(incoming_, forWindow);
    hasIncoming_.store(!incoming_.empty(), std::memory_order_relaxed);
  }
  for (auto it = timers_.lower_bound(TimerKey{hwnd, 0});
       it != timers_.end() && it->first.first == hwnd;) {
    due_.erase(DueEntry{it->second.deadline, it->second.seq, hwnd, it->first.second});
    it = timers_.erase(it);
  }
}

}  // namespace plat::detail
