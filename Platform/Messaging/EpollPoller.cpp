// The epoll poller: readiness handed to its handlers, and descriptor registration.
#include "Platform/Messaging/EpollPoller.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#include "Platform/Messaging/DispatchException.h"

namespace plat::detail {

namespace {

// The key of a registration whose handler is in watchers_. No socket handle has it: the
// socket layer's slot numbers stay below 0xFFFFFFFF.
constexpr std::uint64_t kWatched = ~std::uint64_t{0};

// epoll data: the registration serial above the descriptor, so that readiness of an old
// registration is recognised after the descriptor was removed and reused.
std::uint64_t EpollTag(int fd, std::uint32_t serial) {
  return (static_cast<std::uint64_t>(serial) << 32) | static_cast<std::uint32_t>(fd);
}

}  // namespace

EpollPoller::EpollPoller() {
  epollFd_ = epoll_create1(EPOLL_CLOEXEC);
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (epollFd_ >= 0 && wakeFd_ >= 0) {
    epoll_event ev{};
    // Edge-triggered: every write is an edge, so the counter never needs reading.
    ev.events = EPOLLIN | EPOLLET;
    ev.data.u64 = EpollTag(wakeFd_, 0);
    if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &ev) != 0) {
      close(wakeFd_);
      wakeFd_ = -1;
    }
  }
}

EpollPoller::~EpollPoller() {
  if (wakeFd_ >= 0) close(wakeFd_);
  if (epollFd_ >= 0) close(epollFd_);
}

void EpollPoller::Wake() {
  const std::uint64_t one = 1;
  // The counter is never read: it would take 2^64 wake-ups to saturate it.
  [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
}

void EpollPoller::Clear() {
  for (std::size_t fd = 0; fd < registrations_.size(); ++fd)
    if (registrations_[fd].serial != 0)
      epoll_ctl(epollFd_, EPOLL_CTL_DEL, static_cast<int>(fd), nullptr);
  registrations_.clear();
  watchers_.clear();
  ioHandler_ = nullptr;
}

void EpollPoller::Dispatch(const epoll_event* events, int n) {
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

std::uint32_t EpollPoller::NextSerial() {
  if (++registrationSerial_ == 0) ++registrationSerial_;  // 0 marks the wake-up eventfd
  return registrationSerial_;
}

bool EpollPoller::AddFd(int fd, std::uint32_t events, std::uint64_t key) {
  if (fd >= 0 && ioHandler_ == nullptr) {
    errno = EINVAL;  // readiness would have nowhere to go
    return false;
  }
  return Register(fd, events, key, {});
}

bool EpollPoller::WatchFd(int fd, std::uint32_t events, reactor::FdHandler handler) {
  if (fd >= 0 && !handler) {
    errno = EINVAL;
    return false;
  }
  return Register(fd, events, 0, std::make_shared<const reactor::FdHandler>(std::move(handler)));
}

bool EpollPoller::Register(int fd, std::uint32_t events, std::uint64_t key,
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

void EpollPoller::Unregister(int fd) {
  registrations_[static_cast<std::size_t>(fd)] = Registration{};
  watchers_.erase(fd);
}

bool EpollPoller::ModifyFd(int fd, std::uint32_t events, std::uint64_t key) {
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

bool EpollPoller::RemoveFd(int fd) {
  if (Registered(fd) == nullptr) {
    errno = ENOENT;
    return false;
  }
  Unregister(fd);
  return epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr) == 0;
}

}  // namespace plat::detail
