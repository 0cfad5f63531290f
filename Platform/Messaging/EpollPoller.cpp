// The thread queue's epoll poller: readiness harvesting and descriptor registration.
#include "Platform/Messaging/ThreadQueue.h"

#include <cerrno>

namespace plat::detail {

namespace {

constexpr int kBatch = 64;
// The key of a registration whose handler is in watchers_. No socket handle has it: the
// socket layer's slot numbers stay below 0xFFFFFFFF.
constexpr std::uint64_t kWatched = ~std::uint64_t{0};

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
    Registration* reg = Registered(fd);
    if (reg == nullptr || reg->serial != serial) continue;
    std::shared_ptr<const reactor::FdHandler> handler;  // held: it may remove itself
    if (reg->key == kWatched) {
      if (auto w = watchers_.find(fd); w != watchers_.end()) handler = w->second;
    }
    if (!handler && ioHandler_ == nullptr) {
      // Nobody to tell: left registered, level-triggered readiness would end every wait at
      // once.
      epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
      Unregister(fd);
      continue;
    }
    const std::uint32_t bits = events[i].events & (reg->events | EPOLLERR | EPOLLHUP);
    if (bits == 0) continue;
    try {
      if (handler) {
        (*handler)(bits);
      } else {
        ioHandler_(reg->key, bits);
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
  const auto i = static_cast<std::size_t>(fd);
  if (i >= registrations_.size()) registrations_.resize(i + 1);
  registrations_[i] = Registration{serial, events, watcher ? kWatched : key};
  if (watcher) {
    watchers_[fd] = std::move(watcher);
  } else {
    watchers_.erase(fd);
  }
  return true;
}

void ThreadQueue::Unregister(int fd) {
  registrations_[static_cast<std::size_t>(fd)] = Registration{};
  watchers_.erase(fd);
}

bool ThreadQueue::ModifyFd(int fd, std::uint32_t events, std::uint64_t key) {
  Registration* reg = Registered(fd);
  if (reg == nullptr) {
    errno = ENOENT;
    return false;
  }
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = EpollTag(fd, reg->serial);
  if (epoll_ctl(epollFd_, EPOLL_CTL_MOD, fd, &ev) != 0) return false;
  reg->events = events;
  if (reg->key != kWatched) reg->key = key;
  return true;
}

bool ThreadQueue::RemoveFd(int fd) {
  if (Registered(fd) == nullptr) {
    errno = ENOENT;
    return false;
  }
  Unregister(fd);
  return epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr) == 0;
}

}  // namespace plat::detail
