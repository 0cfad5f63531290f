// A thread's epoll poller: the descriptors registered with it, the eventfd through which
// other threads wake its owner, and the readiness it hands to their handlers. Owned by the
// thread's queue (ThreadQueue); owner thread only, but for Wake.
#pragma once

#include <sys/epoll.h>

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "Platform/Reactor.h"

namespace plat::detail {

class EpollPoller {
 public:
  EpollPoller();
  ~EpollPoller();
  EpollPoller(const EpollPoller&) = delete;
  EpollPoller& operator=(const EpollPoller&) = delete;

  // False when the kernel refused the epoll or the eventfd descriptor.
  bool Valid() const { return epollFd_ >= 0 && wakeFd_ >= 0; }

  // Waits up to timeoutMs (0: not at all, -1: without a bound) for readiness or a Wake,
  // calls afterWait, then hands what came to the handlers. The batch lives on the stack:
  // a handler may run a nested loop that polls again.
  template <class AfterWait>
  void Poll(int timeoutMs, AfterWait&& afterWait) {
    epoll_event events[kBatch];
    const int n = epoll_wait(epollFd_, events, kBatch, timeoutMs);
    afterWait();
    Dispatch(events, n);
  }
  // Any thread: interrupts the owner's Poll.
  void Wake();

  void SetIoHandler(reactor::IoHandler handler) { ioHandler_ = handler; }
  bool AddFd(int fd, std::uint32_t events, std::uint64_t key);
  bool WatchFd(int fd, std::uint32_t events, reactor::FdHandler handler);
  bool ModifyFd(int fd, std::uint32_t events, std::uint64_t key);
  bool RemoveFd(int fd);
  // The thread exits: every descriptor and the I/O handler go.
  void Clear();

 private:
  static constexpr int kBatch = 64;
  // Indexed by descriptor: a server registers one per connection, and descriptor numbers
  // are dense.
  struct Registration {
    std::uint32_t serial = 0;  // 0: the descriptor is not registered
    std::uint32_t events = 0;
    // For a descriptor watched on its own (Watch), kWatched: its handler is in watchers_
    // and called instead of the I/O handler.
    std::uint64_t key = 0;
  };
  static_assert(sizeof(Registration) == 16);

  void Dispatch(const epoll_event* events, int n);
  std::uint32_t NextSerial();
  // Adds fd to the poller under a fresh serial; watcher set means a descriptor of its own.
  bool Register(int fd, std::uint32_t events, std::uint64_t key,
                std::shared_ptr<const reactor::FdHandler> watcher);
  // The live registration of fd, or nullptr.
  Registration* Registered(int fd) {
    const auto i = static_cast<std::size_t>(fd);
    return fd >= 0 && i < registrations_.size() && registrations_[i].serial != 0
               ? &registrations_[i]
               : nullptr;
  }
  void Unregister(int fd);

  int epollFd_ = -1;
  int wakeFd_ = -1;
  reactor::IoHandler ioHandler_ = nullptr;
  std::vector<Registration> registrations_;
  std::unordered_map<int, std::shared_ptr<const reactor::FdHandler>> watchers_;
  std::uint32_t registrationSerial_ = 0;
};

}  // namespace plat::detail
