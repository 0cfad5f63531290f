// Asynchronous select: readiness of the kernel sockets, harvested by each thread's
// reactor, becomes one posted message per event, with the platform's re-enabling rules
// (an event is posted once, then again only after the call that re-enables it).
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "Platform/SocketTable.h"
#include "Platform/Sockets/KernelIo.h"
#include "Platform/Sockets/WinsockErrors.h"

namespace plat::sockimpl {

namespace {

std::atomic<std::uint64_t> gIoCalls{0};

constexpr std::uint32_t kIn = EPOLLIN;
constexpr std::uint32_t kOut = EPOLLOUT;
constexpr std::uint32_t kGone = EPOLLHUP | EPOLLERR;

int TakeSoError(int fd) {
  int e = 0;
  socklen_t len = sizeof e;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &e, &len) < 0) return errno;
  return e;
}

// Listening and connected stream sockets are watched edge-triggered: the kernel reports
// what arrives whether or not its event is armed, so posting an event and re-enabling it
// change nothing in epoll (two epoll_ctl calls per notification otherwise). The calls
// that re-enable an event (accept, recv) look at the level themselves, and a reported
// edge that finds its event disarmed is simply dropped. Level triggering stays for the
// rest, where nothing re-enables (connecting, datagrams, a connection after its FIN).
std::uint32_t Interest(const Sock& s) {
  if (s.hupSeen) return 0;  // EPOLLHUP cannot be masked: stay away from a dead socket
  const bool writeWatch = s.writeBlocked && (s.mask & FD_WRITE) != 0;
  const std::uint32_t out = writeWatch ? kOut : 0;
  switch (s.state) {
    case State::Connecting:
      return EPOLLOUT;  // watched even without a mask, so the state moves on
    case State::Listening:
      return (s.mask & FD_ACCEPT) != 0 ? kIn | EPOLLET : 0;
    case State::Connected: {
      if (s.rdShut && s.wrShut) return 0;
      std::uint32_t ev = 0;
      if (!s.rdShut && !s.eofSeen) {
        if ((s.mask & FD_READ) != 0) ev |= EPOLLIN;
        if ((s.mask & FD_OOB) != 0) ev |= EPOLLPRI;
        if (Armed(s, FD_CLOSE)) ev |= EPOLLRDHUP;
        if (ev != 0) ev |= EPOLLET;
      }
      return ev | out;
    }
    case State::Datagram:
      return (Armed(s, FD_READ) ? kIn : 0) | out;
    default:
      return 0;
  }
}

void WriteCheck(Sock& s, SOCKET h, std::uint32_t bits) {
  if ((bits & EPOLLOUT) != 0) {
    s.sawWritable = true;
    s.sendRefused = false;
  }
  if ((s.writeBlocked || s.writeDue) && (bits & EPOLLOUT) != 0) {
    s.writeBlocked = false;
    s.writeDue = false;
    PostEvent(s, h, FD_WRITE, 0);
  } else if (s.writeDue) {
    s.writeDue = false;
    s.writeBlocked = true;  // owed: posted when the socket becomes writable
  }
}

// The bytes waiting once the peer's FIN is in: after a graceful end nothing more can
// arrive, so the count stays exact as the reads take from it (FIONREAD answers from it).
int CountAtEof(Sock& s, std::uint32_t bits) {
  if (s.rxFinal) return s.rxKnown;
  const int n = kio::InQueue(s.fd);
  s.rxKnown = n;
  s.rxFinal = n >= 0 && (bits & EPOLLRDHUP) != 0 && (bits & kGone) == 0;
  return n;
}

void EvaluateStream(Sock& s, SOCKET h, std::uint32_t bits) {
  if (s.rdShut) {
    // A local shutdown of receiving makes the kernel report end-of-file: not an event.
    if ((bits & kGone) != 0) s.hupSeen = true;
    WriteCheck(s, h, bits);
    return;
  }
  const bool closing = (bits & (EPOLLRDHUP | kGone)) != 0;
  if ((bits & EPOLLPRI) != 0) PostEvent(s, h, FD_OOB, 0);
  if ((bits & EPOLLIN) != 0 && Armed(s, FD_READ)) {
    // At end-of-file EPOLLIN stays set; only waiting bytes make an FD_READ.
    if (!closing || s.rxKnown > 0 || CountAtEof(s, bits) > 0) PostEvent(s, h, FD_READ, 0);
  }
  WriteCheck(s, h, bits);
  if (closing) {
    s.eofSeen = true;
    if ((bits & kGone) != 0 && !s.hupSeen) {
      s.hupSeen = true;
      const int e = (bits & EPOLLERR) != 0 ? TakeSoError(s.fd) : 0;
      if (e != 0) s.closeErr = wsaerr::FromErrno(e);
    }
    PostEvent(s, h, FD_CLOSE, s.closeErr);
  }
}

void OnIo(std::uint64_t key, std::uint32_t events) {
  gIoCalls.fetch_add(1, std::memory_order_relaxed);
  std::lock_guard lock(Mutex());
  Sock* s = Table().Find(key);
  if (s == nullptr) return;
  const reactor::QueueId cur = reactor::CurrentQueue();
  if (s->regQueue != cur) {
    // Left behind when the socket moved to another thread's reactor.
    reactor::Remove(s->fd);
    if (s->staleQueue == cur) s->staleQueue = 0;
    return;
  }
  Evaluate(*s, key, events);
}

void InstallHandlerAndAdd(Sock& s, SOCKET h, std::uint32_t want, reactor::QueueId cur) {
  reactor::SetIoHandler(&OnIo);
  if (!reactor::Add(s.fd, want, h)) {
    if (errno != EEXIST || !reactor::Modify(s.fd, want, h)) return;
  }
  s.regQueue = cur;
  s.regEvents = want;
}

// Runs SyncInterest for the socket on its owner thread.
void ResyncOnOwner(reactor::QueueId owner, SOCKET h) {
  reactor::PostInternal(owner, [h](MSG&) {
    std::lock_guard lock(Mutex());
    if (Sock* s = Table().Find(h); s != nullptr && s->owner == reactor::CurrentQueue()) {
      SyncInterest(*s, h);
    }
    return false;
  });
}

// A read notification leaves its queue: the socket may post the next one, unless the
// notification belongs to an earlier selection (its ticket is old).
void ReadNoticeTaken(const MSG& msg, std::uint32_t ticket) {
  std::lock_guard lock(Mutex());
  if (Sock* t = Table().Find(msg.wParam); t != nullptr && t->readTicket == ticket)
    t->readQueued = false;
}

}  // namespace

std::uint64_t IoHandlerCalls() {
  return gIoCalls.load(std::memory_order_relaxed);
}

void PostEvent(Sock& s, SOCKET h, long ev, int err) {
  if ((s.mask & ev) == 0 || (s.reported & ev) != 0) return;
  if (ev != FD_WRITE) s.reported |= static_cast<std::uint8_t>(ev);
  const LPARAM lp = MAKELONG(static_cast<std::uint16_t>(ev), static_cast<std::uint16_t>(err));
  if (ev == FD_READ) {
    if (s.readQueued) return;
    const reactor::QueueId queue = reactor::QueueOfWindow(s.hwnd);
    if (queue == 0) {
      s.mask = 0;
      s.reported = 0;
      return;
    }
    // Queued as a notice, whose hook runs when the queue reaches it, so that the socket
    // learns when its notification has left the queue.
    const std::uint32_t ticket = ++s.readTicket;
    reactor::SetNoticeHook(&ReadNoticeTaken);
    s.readQueued = reactor::PostNotice(queue, MSG{s.hwnd, s.msg, h, lp, 0}, ticket);
    return;
  }
  if (!PostMessageA(s.hwnd, s.msg, h, lp)) {
    // The window is gone: nobody listens any more.
    s.mask = 0;
    s.reported = 0;
  }
}

std::uint32_t PollNow(int fd) {
  pollfd p{fd, POLLIN | POLLPRI | POLLOUT | POLLRDHUP, 0};
  if (::poll(&p, 1, 0) <= 0) return 0;
  std::uint32_t bits = 0;
  if (p.revents & POLLIN) bits |= EPOLLIN;
  if (p.revents & POLLPRI) bits |= EPOLLPRI;
  if (p.revents & POLLOUT) bits |= EPOLLOUT;
  if (p.revents & POLLRDHUP) bits |= EPOLLRDHUP;
  if (p.revents & POLLHUP) bits |= EPOLLHUP;
  if (p.revents & POLLERR) bits |= EPOLLERR;
  return bits;
}

void Evaluate(Sock& s, SOCKET h, std::uint32_t bits) {
  switch (s.state) {
    case State::Connecting:
      if ((bits & (EPOLLOUT | kGone)) != 0) {
        // The kernel reports a failed connect with EPOLLERR (or a hang-up): writable
        // without either, it has connected, and there is no error to take.
        const int err = s.connectErr != 0     ? s.connectErr
                        : (bits & kGone) != 0 ? TakeSoError(s.fd)
                                              : 0;
        s.connectErr = 0;
        if (err == 0) {
          s.state = State::Connected;
          s.bound = true;
          PostEvent(s, h, FD_CONNECT, 0);
          s.writeDue = true;
          EvaluateStream(s, h, bits);
        } else {
          s.state = State::Failed;
          PostEvent(s, h, FD_CONNECT, wsaerr::FromErrno(err));
        }
      }
      break;
    case State::Listening:
      if ((bits & EPOLLERR) != 0) TakeSoError(s.fd);
      if ((bits & EPOLLIN) != 0) PostEvent(s, h, FD_ACCEPT, 0);
      break;
    case State::Connected:
      EvaluateStream(s, h, bits);
      break;
    case State::Datagram:
      if ((bits & EPOLLERR) != 0) {
        // An ICMP error: kept for the next receive, which reports it.
        if (const int e = TakeSoError(s.fd); e != 0) s.pendingErr = e;
      }
      if ((bits & EPOLLIN) != 0 || s.pendingErr != 0) PostEvent(s, h, FD_READ, 0);
      WriteCheck(s, h, bits);
      break;
    default:
      break;
  }
  SyncInterest(s, h);
}

void SyncInterest(Sock& s, SOCKET h) {
  const std::uint32_t want = Interest(s);
  const reactor::QueueId cur = reactor::CurrentQueue();
  if (s.owner == 0) s.owner = cur;
  if (s.regQueue != 0 && s.regQueue != s.owner) {
    // The socket moved to another thread: drop the old registration.
    if (s.regQueue == cur) {
      reactor::Remove(s.fd);
    } else {
      const reactor::QueueId old = s.regQueue;
      s.staleQueue = old;
      reactor::PostInternal(old, [h, old](MSG&) {
        std::lock_guard lock(Mutex());
        if (Sock* t = Table().Find(h); t != nullptr && t->staleQueue == old) {
          reactor::Remove(t->fd);
          t->staleQueue = 0;
        }
        return false;
      });
    }
    s.regQueue = 0;
    s.regEvents = 0;
  }
  if (s.owner != cur) {
    if (want != s.regEvents || (want != 0 && s.regQueue == 0)) ResyncOnOwner(s.owner, h);
    return;
  }
  if (want == 0) {
    if (s.regQueue != 0) {
      reactor::Remove(s.fd);
      s.regQueue = 0;
      s.regEvents = 0;
    }
  } else if (s.regQueue == 0) {
    InstallHandlerAndAdd(s, h, want, cur);
  } else if (want != s.regEvents) {
    if (reactor::Modify(s.fd, want, h)) s.regEvents = want;
  }
}

void CloseKernel(Sock& s) {
  // A zero linger asks for a reset instead of a graceful end. It changes nothing once the
  // connection is gone, nor once the peer's FIN is in, ours is on its way and nothing of
  // ours waits to be sent or acknowledged (as FIONWRITE found, with no send since): the
  // kernel then sends no reset either way, and the option is not worth its call.
  if (s.stream && s.lingerOn && s.lingerSecs == 0 && !s.hupSeen &&
      !(s.eofSeen && s.wrShut && s.txDrained) &&
      (s.state == State::Connected || s.state == State::Connecting)) {
    const linger reset{1, 0};
    ::setsockopt(s.fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  }
  const reactor::QueueId cur = reactor::CurrentQueue();
  if (s.regQueue != 0 && s.regQueue == cur) {
    reactor::Remove(s.fd);
    s.regQueue = 0;
  }
  if (s.staleQueue != 0 && s.staleQueue == cur) {
    reactor::Remove(s.fd);
    s.staleQueue = 0;
  }
  const reactor::QueueId other = s.regQueue != 0 ? s.regQueue : s.staleQueue;
  const int fd = s.fd;
  s.regQueue = s.staleQueue = 0;
  s.fd = -1;
  if (other != 0) {
    // The registering thread unregisters, then closes: the descriptor number stays taken
    // until its epoll no longer refers to it.
    if (reactor::PostInternal(other, [fd](MSG&) {
          reactor::Remove(fd);
          ::close(fd);
          return false;
        })) {
      return;
    }
  }
  ::close(fd);
}

}  // namespace plat::sockimpl

namespace plat {

int WSAAsyncSelect(SOCKET h, HWND hwnd, UINT msg, long events) {
  using namespace sockimpl;
  return WithSocket(h, [&](Sock& s) {
    events &= FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
    reactor::QueueId q = 0;
    if (events != 0) {
      q = reactor::QueueOfWindow(hwnd);
      if (q == 0) return wsaerr::Fail(WSAEINVAL);
    }
    // A connected socket whose reads have all been reported and re-enabled, watched by
    // this thread, needs no look at its readiness (see Interest).
    const bool fresh = s.state == State::Connected && (s.reported & ~FD_WRITE) == 0 &&
                       (s.mask & FD_READ) != 0 && (events & FD_READ) != 0 && !s.eofSeen &&
                       !s.hupSeen && !s.rdShut && s.regQueue != 0 && s.regQueue == s.owner &&
                       (q == 0 || q == s.owner) && (s.regEvents & EPOLLET) != 0 &&
                       ((s.mask ^ events) & (FD_OOB | FD_CLOSE)) == 0;
    s.mask = static_cast<std::uint8_t>(events);
    s.hwnd = hwnd;
    s.msg = msg;
    s.reported = 0;
    s.readQueued = false;  // a read notification still queued goes to the old selection
    ++s.readTicket;
    s.nonBlocking = true;
    if (q != 0) s.owner = q;
    if (events == 0) {
      SyncInterest(s, h);
      return 0;
    }
    // Conditions already true are posted now; the rest follow from the reactor.
    std::uint32_t bits = 0;
    switch (s.state) {
      case State::Connected:
        s.writeDue = true;
        if (fresh) {
          // Nothing was outstanding and the edge-triggered registration stays: whatever
          // is readable has been or will be reported by the reactor by itself, and the
          // socket is still writable unless a send was refused since it was seen so.
          bits = s.sawWritable && !s.writeBlocked ? kOut : 0u;
        } else {
          bits = PollNow(s.fd);
        }
        break;
      case State::Datagram:
        s.writeDue = true;
        bits = PollNow(s.fd);
        break;
      case State::Connecting:
      case State::Listening:
        bits = PollNow(s.fd);
        break;
      default:
        break;
    }
    Evaluate(s, h, bits);
    return 0;
  });
}

}  // namespace plat
