#include "Platform/ThreadQueue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "Platform/Clock.h"
#include "Platform/Registry.h"

namespace plat::detail {

namespace {

// Readiness is collected at least this often while posted messages keep the queue busy.
constexpr std::int64_t kHarvestIntervalNs = 2'000'000;
constexpr int kBatch = 64;

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

// How far the coarse clock may lag behind the precise one, with a margin.
std::int64_t CoarseLagNs() {
  static const std::int64_t lag = [] {
    timespec res{};
    clock_getres(CLOCK_MONOTONIC_COARSE, &res);
    return static_cast<std::int64_t>(res.tv_sec) * 1'000'000'000 + res.tv_nsec + 1'000'000;
  }();
  return lag;
}

// epoll data: the registration serial above the descriptor, so that readiness of an old
// registration is recognised after the descriptor was removed and reused.
std::uint64_t Tag(int fd, std::uint32_t serial) {
  return (static_cast<std::uint64_t>(serial) << 32) | static_cast<std::uint32_t>(fd);
}

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
  epollFd_ = epoll_create1(EPOLL_CLOEXEC);
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (epollFd_ >= 0 && wakeFd_ >= 0) {
    epoll_event ev{};
    // Edge-triggered: every write is an edge, so the counter never needs reading.
    ev.events = EPOLLIN | EPOLLET;
    ev.data.u64 = Tag(wakeFd_, 0);
    if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &ev) != 0) {
      close(wakeFd_);
      wakeFd_ = -1;
    }
  }
  lastHarvest_ = lastCoarse_ = CoarseMonotonicNs();
}

ThreadQueue::~ThreadQueue() {
  if (wakeFd_ >= 0) close(wakeFd_);
  if (epollFd_ >= 0) close(epollFd_);
}

ThreadQueue* ThreadQueue::CreateCurrent() {
  if (tlsExiting) return nullptr;
  auto queue = std::make_shared<ThreadQueue>();
  if (queue->epollFd_ < 0 || queue->wakeFd_ < 0) return nullptr;
  queue->id_ = Registry::Get().AddQueue(queue);
  tlsOwner.queue = queue;
  current_ = queue.get();
  return current_;
}

void ThreadQueue::Shutdown() {
  current_ = nullptr;
  for (auto& [hwnd, window] : windows_) Registry::Get().RemoveWindow(*window);
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
  lastHwnd_ = 0;
  lastWindow_ = nullptr;
  windows_.clear();
  timers_.clear();
  due_.clear();
  for (auto& [fd, reg] : registrations_) epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
  registrations_.clear();
  ioHandler_ = nullptr;
}

// ---- posting (any thread) ----

bool ThreadQueue::PushEntry(Entry&& entry, bool* wake) {
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
  entry.task = std::make_unique<reactor::InternalTask>(std::move(task));
  return PushEntry(std::move(entry), wake);
}

void ThreadQueue::Wake() {
  const std::uint64_t one = 1;
  // The counter is never read: it would take 2^64 wake-ups to saturate it.
  [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
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
  if ((!pending && harvestWhenEmpty) || coarse - lastHarvest_ >= kHarvestIntervalNs)
    Harvest(0, false);
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
  auto task = std::move(entry.task);
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
  epoll_event events[kBatch];
  const int n = epoll_wait(epollFd_, events, kBatch, timeoutMs);
  lastHarvest_ = lastCoarse_ = CoarseMonotonicNs();
  if (sleeping) {
    std::lock_guard lock(mutex_);
    sleeping_ = false;
    ownerTick_ = RecentTickCount();
  }
  for (int i = 0; i < n; ++i) {
    const std::uint64_t tag = events[i].data.u64;
    const int fd = static_cast<int>(static_cast<std::uint32_t>(tag));
    const auto serial = static_cast<std::uint32_t>(tag >> 32);
    if (serial == 0) continue;  // the wake-up eventfd
    // Looked up afresh for every event: an earlier handler call may have removed or
    // changed this registration.
    auto it = registrations_.find(fd);
    if (it == registrations_.end() || it->second.serial != serial) continue;
    if (it->second.watcher) {
      const std::uint32_t watched = events[i].events & (it->second.events | EPOLLERR | EPOLLHUP);
      if (watched == 0) continue;
      // A copy: the handler may remove its own registration.
      const reactor::FdHandler handler = it->second.watcher;
      try {
        handler(watched);
      } catch (...) {
        ReportDispatchException(std::current_exception());
      }
      continue;
    }
    if (ioHandler_ == nullptr) {
      // Nobody to tell: left registered, level-triggered readiness would end every wait at
      // once.
      epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
      registrations_.erase(it);
      continue;
    }
    const std::uint32_t bits = events[i].events & (it->second.events | EPOLLERR | EPOLLHUP);
    if (bits == 0) continue;
    try {
      ioHandler_(it->second.key, bits);
    } catch (...) {
      ReportDispatchException(std::current_exception());
    }
  }
}

// ---- timers ----

bool ThreadQueue::TakeTimer(MSG* out, const MessageFilter& filter, bool remove, std::int64_t now,
                            bool starvedOnly) {
  for (auto it = due_.begin(); it != due_.end() && std::get<0>(*it) <= now; ++it) {
    const auto [deadline, seq, hwnd, id] = *it;
    auto t = timers_.find(TimerKey{hwnd, id});
    Timer& timer = t->second;
    if (starvedOnly && now - deadline < static_cast<std::int64_t>(timer.intervalMs) * 1'000'000)
      continue;
    MSG m{hwnd, WM_TIMER, id, reinterpret_cast<LPARAM>(timer.proc), CoarseTickCount()};
    if (!filter.Matches(m)) continue;
    *out = m;
    // The next one is due an interval from now: a late timer does not catch up.
    if (remove)
      ScheduleTimer(t->first, timer, now + static_cast<std::int64_t>(timer.intervalMs) * 1'000'000);
    return true;
  }
  return false;
}

void ThreadQueue::ScheduleTimer(const TimerKey& key, Timer& timer, std::int64_t deadline) {
  if (timer.seq != 0) due_.erase(DueEntry{timer.deadline, timer.seq, key.first, key.second});
  timer.deadline = deadline;
  timer.seq = ++timerSeq_;
  due_.insert(DueEntry{timer.deadline, timer.seq, key.first, key.second});
  nextCheck_ = std::min(nextCheck_, deadline - CoarseLagNs());
}

std::uintptr_t ThreadQueue::SetTimer(HWND hwnd, std::uintptr_t id, UINT elapseMs, TIMERPROC proc) {
  if (hwnd != 0 && !FindWindow(hwnd)) return 0;
  if (hwnd == 0 && (id == 0 || !timers_.contains(TimerKey{0, id}))) {
    while (nextThreadTimerId_ == 0 || timers_.contains(TimerKey{0, nextThreadTimerId_}))
      ++nextThreadTimerId_;
    id = nextThreadTimerId_++;
  }
  const UINT interval = std::clamp(elapseMs, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
  const TimerKey key{hwnd, id};
  Timer& timer = timers_[key];
  timer.intervalMs = interval;
  timer.proc = proc;
  ScheduleTimer(key, timer, MonotonicNs() + static_cast<std::int64_t>(interval) * 1'000'000);
  if (hwnd == 0) return id;
  return id != 0 ? id : 1;
}

bool ThreadQueue::KillTimer(HWND hwnd, std::uintptr_t id) {
  auto it = timers_.find(TimerKey{hwnd, id});
  if (it == timers_.end()) return false;
  due_.erase(DueEntry{it->second.deadline, it->second.seq, hwnd, id});
  timers_.erase(it);
  return true;
}

TIMERPROC ThreadQueue::TimerProc(HWND hwnd, std::uintptr_t id, LPARAM lParam) const {
  auto it = timers_.find(TimerKey{hwnd, id});
  if (it == timers_.end() || it->second.proc == nullptr) return nullptr;
  // Only the function the timer was set with: a posted WM_TIMER cannot name any address.
  return reinterpret_cast<LPARAM>(it->second.proc) == lParam ? it->second.proc : nullptr;
}

// ---- windows ----

void ThreadQueue::AdoptWindow(std::unique_ptr<Window> window) {
  const HWND hwnd = window->handle;
  windows_[hwnd] = std::move(window);
}

Window* ThreadQueue::FindWindowSlow(HWND hwnd) const {
  auto it = windows_.find(hwnd);
  if (it == windows_.end()) return nullptr;
  lastHwnd_ = hwnd;
  lastWindow_ = it->second.get();
  return lastWindow_;
}

std::unique_ptr<Window> ThreadQueue::ReleaseWindow(HWND hwnd) {
  auto node = windows_.extract(hwnd);
  if (hwnd == lastHwnd_) {
    lastHwnd_ = 0;
    lastWindow_ = nullptr;
  }
  return node.empty() ? nullptr : std::move(node.mapped());
}

void ThreadQueue::ForgetWindow(HWND hwnd) {
  auto forWindow = [hwnd](const Entry& e) { return !e.IsTask() && e.hwnd == hwnd; };
  // Entries before head_ stay where they are: a task being run may put its message back.
  local_.erase(
      std::remove_if(local_.begin() + static_cast<std::ptrdiff_t>(head_), local_.end(), forWindow),
      local_.end());
  {
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

// ---- reactor ----

std::uint32_t ThreadQueue::NextSerial() {
  if (++registrationSerial_ == 0) ++registrationSerial_;  // 0 marks the wake-up eventfd
  return registrationSerial_;
}

bool ThreadQueue::AddFd(int fd, std::uint32_t events, std::uint64_t key) {
  if (fd < 0) {
    errno = EBADF;
    return false;
  }
  if (ioHandler_ == nullptr) {
    errno = EINVAL;  // readiness would have nowhere to go
    return false;
  }
  const std::uint32_t serial = NextSerial();
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = Tag(fd, serial);
  // A registration of ours for this number that the kernel no longer has belongs to a
  // descriptor closed without Remove; the kernel's EEXIST tells the two cases apart.
  if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0) return false;
  registrations_[fd] = Registration{serial, events, key, {}};
  return true;
}

bool ThreadQueue::WatchFd(int fd, std::uint32_t events, reactor::FdHandler handler) {
  if (fd < 0 || !handler) {
    errno = fd < 0 ? EBADF : EINVAL;
    return false;
  }
  const std::uint32_t serial = NextSerial();
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = Tag(fd, serial);
  if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0) return false;
  registrations_[fd] = Registration{serial, events, 0, std::move(handler)};
  return true;
}

bool ThreadQueue::ModifyFd(int fd, std::uint32_t events, std::uint64_t key) {
  auto it = registrations_.find(fd);
  if (it == registrations_.end()) {
    errno = ENOENT;
    return false;
  }
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = Tag(fd, it->second.serial);
  if (epoll_ctl(epollFd_, EPOLL_CTL_MOD, fd, &ev) != 0) return false;
  it->second.events = events;
  it->second.key = key;
  return true;
}

bool ThreadQueue::RemoveFd(int fd) {
  auto it = registrations_.find(fd);
  if (it == registrations_.end()) {
    errno = ENOENT;
    return false;
  }
  registrations_.erase(it);
  return epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr) == 0;
}

}  // namespace plat::detail
