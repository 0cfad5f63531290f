// The thread queue's epoll poller: readiness harvesting and descriptor registration.
#include "Platform/Messaging/ThreadQueue.h"

#include <cerrno>

namespace plat::detail {

namespace {

constexpr int kBatch = 64;

}  // namespace

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
    const bool watcher = static_cast<bool>(it->second.watcher);
    if (!watcher && ioHandler_ == nullptr) {
      // Nobody to tell: left registered, level-triggered readiness would end every wait at
      // once.
      epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
      registrations_.erase(it);
      continue;
    }
    const std::uint32_t bits = events[i].events & (it->second.events | EPOLLERR | EPOLLHUP);
    if (bits == 0) continue;
    try {
      if (watcher) {
        // Held here: the handler may remove its own registration.
        const std::shared_ptr<const reactor::FdHandler> handler = it->second.watcher;
        (*handler)(bits);
      } else {
        ioHandler_(it->second.key, bits);
      }
    } catch (...) {
      ReportDispatchException(std::current_exception());
    }
  }
}

// ---- reactor ----

std::uint32_t ThreadQueue::NextSerial() {
  if (++registrationSerial_ == 0) ++registrationSerial_;  // 0 marks the wake-up eventfd
  return registrationSerial_;
}

bool ThreadQueue::AddFd(int fd, std::uint32_t events, std::uint64_t key) {
  if (fd >= 0 && ioHandler_ == nullptr) {
    errno = EINVAL;  // readiness would have nowhere to go
    return false;
  }
  return Register(fd, events, key, {});
}

bool ThreadQueue::WatchFd(int fd, std::uint32_t events, reactor::FdHandler handler) {
  if (fd >= 0 && !handler) {
    errno = EINVAL;
    return false;
  }
  return Register(fd, events, 0, std::make_shared<const reactor::FdHandler>(std::move(handler)));
}

bool ThreadQueue::Register(int fd, std::uint32_t events, std::uint64_t key,
                           std::shared_ptr<const reactor::FdHandler> watcher) {
  if (fd < 0) {
    errno = EBADF;
    return false;
  }
  const std::uint32_t serial = NextSerial();
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = EpollTag(fd, serial);
  // A registration of ours for this number that the kernel no longer has belongs to a
  // descriptor closed without Remove; the kernel's EEXIST tells the two cases apart.
  if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0) return false;
  registrations_[fd] = Registration{serial, events, key, std::move(watcher)};
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
  ev.data.u64 = EpollTag(fd, it->second.serial);
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
