// The thread queue's timer set: WM_TIMER deadlines, set, killed and taken in due order.
#include "Platform/Messaging/ThreadQueue.h"

#include <algorithm>

namespace plat::detail {

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

}  // namespace plat::detail
