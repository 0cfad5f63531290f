#include "Platform/Resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "Platform/KeptObjects.h"
#include "Platform/Sockets/WinsockErrors.h"
#include "Platform/Winsock.h"

namespace plat::resolver {

namespace {

struct Functions {
  std::mutex mu;
  ForwardFn forward;
  ReverseFn reverse;
};

Functions& Fns() {
  static Functions* f = new Functions;  // outlives every worker
  return *f;
}

bool InInvalidDomain(std::string name) {
  while (!name.empty() && name.back() == '.') name.pop_back();
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  constexpr std::string_view kTld = "invalid";
  if (name == kTld) return true;
  return name.size() > kTld.size() && name.ends_with(kTld) &&
         name[name.size() - kTld.size() - 1] == '.';
}

template <class Addr>
void AddOnce(std::vector<Addr>& list, const Addr& a) {
  if (std::find(list.begin(), list.end(), a) == list.end()) list.push_back(a);
}

// A copy of one of the functions, so that it runs outside the lock.
template <class Fn>
Fn CopyUnderLock(const Fn& fn) {
  std::lock_guard lock(Fns().mu);
  return fn;
}

// A few threads are plenty: look-ups are rare and mostly wait on the network.
class Pool {
 public:
  void Submit(std::function<void()> job) {
    std::lock_guard lock(mu_);
    jobs_.push_back(std::move(job));
    if (idle_ == 0 && threads_ < kThreads) {
      // The workers never end, so the code they run must stay.
      KeepModuleLoaded();
      ++threads_;
      std::thread([this] { Run(); }).detach();
    } else {
      cv_.notify_one();
    }
  }

 private:
  static constexpr int kThreads = 2;

  void Run() {
    std::unique_lock lock(mu_);
    for (;;) {
      ++idle_;
      cv_.wait(lock, [this] { return !jobs_.empty(); });
      --idle_;
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      job();
      lock.lock();
    }
  }

  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> jobs_;
  int threads_ = 0;
  int idle_ = 0;
};

Pool& ThePool() {
  // Never destroyed: detached workers wait on it until the process ends.
  static Pool* p = new Pool;
  return *p;
}

}  // namespace

void SetForward(ForwardFn fn) {
  std::lock_guard lock(Fns().mu);
  Fns().forward = std::move(fn);
}

void SetReverse(ReverseFn fn) {
  std::lock_guard lock(Fns().mu);
  Fns().reverse = std::move(fn);
}

HostInfo Forward(const std::string& name) {
  const ForwardFn fn = CopyUnderLock(Fns().forward);
  return fn ? fn(name) : SystemForward(name);
}

HostInfo Reverse(std::uint32_t addr) {
  const ReverseFn fn = CopyUnderLock(Fns().reverse);
  return fn ? fn(addr) : SystemReverse(addr);
}

HostInfo SystemForward(const std::string& name) {
  HostInfo info;
  if (name.empty() || InInvalidDomain(name)) {
    info.error = WSAHOST_NOT_FOUND;
    return info;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* res = nullptr;
  errno = 0;
  const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &res);
  if (rc != 0) {
    info.error = wsaerr::FromGai(rc, errno);
    return info;
  }
  info.name = res->ai_canonname != nullptr ? res->ai_canonname : name;
  for (const addrinfo* p = res; p != nullptr; p = p->ai_next) {
    if (p->ai_addr == nullptr) continue;
    if (p->ai_family == AF_INET) {
      sockaddr_in sin;
      std::memcpy(&sin, p->ai_addr, sizeof sin);
      AddOnce(info.addrs, sin.sin_addr.s_addr);
    } else if (p->ai_family == AF_INET6) {
      sockaddr_in6 sin6;
      std::memcpy(&sin6, p->ai_addr, sizeof sin6);
      std::array<std::uint8_t, 16> a;
      std::memcpy(a.data(), &sin6.sin6_addr, a.size());
      AddOnce(info.addrs6, a);
    }
  }
  ::freeaddrinfo(res);
  if (info.addrs.empty() && info.addrs6.empty()) info.error = WSANO_DATA;
  return info;
}

HostInfo SystemReverse(std::uint32_t addr) {
  HostInfo info;
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = addr;
  char host[NI_MAXHOST];
  errno = 0;
  const int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&sin), sizeof sin, host,
                               sizeof host, nullptr, 0, NI_NAMEREQD);
  if (rc != 0) {
    info.error = wsaerr::FromGai(rc, errno);
    return info;
  }
  info.name = host;
  info.addrs.push_back(addr);
  return info;
}

void Submit(std::function<void()> job) {
  ThePool().Submit(std::move(job));
}

}  // namespace plat::resolver
