// The socket calls. Every kernel socket is non-blocking; the calls that re-enable a
// notification (recv, accept, a send that would block) do so on every path, failures
// included, as the asynchronous select contract requires.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "Platform/SocketTable.h"
#include "Platform/Sockets/KernelIo.h"
#include "Platform/Sockets/WinsockErrors.h"

namespace plat {

namespace {

using sockimpl::Mutex;
using sockimpl::Sock;
using sockimpl::State;
using sockimpl::Table;
using sockimpl::WithSocket;

constexpr int kAddrLen = static_cast<int>(sizeof(sockaddr_in));
constexpr int kAddr6Len = static_cast<int>(sizeof(sockaddr_in6));

// The length of the socket's own address records.
int AddrLen(const Sock& s) {
  return s.v6 ? kAddr6Len : kAddrLen;
}

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Validates an address argument for the socket's family; 0 or an error number.
int CheckAddr(const Sock& s, const sockaddr* name, int namelen) {
  if (name == nullptr || namelen < AddrLen(s)) return WSAEFAULT;
  if (name->sa_family != (s.v6 ? AF_INET6 : AF_INET)) return WSAEAFNOSUPPORT;
  return 0;
}

// Whether a checked address names no host (the wildcard) or no port: no peer can be there.
bool NoPeer(const Sock& s, const sockaddr* name) {
  if (s.v6) {
    sockaddr_in6 in6;
    std::memcpy(&in6, name, sizeof in6);
    return IN6_IS_ADDR_UNSPECIFIED(&in6.sin6_addr) || in6.sin6_port == 0;
  }
  sockaddr_in in;
  std::memcpy(&in, name, sizeof in);
  return in.sin_addr.s_addr == htonl(INADDR_ANY) || in.sin_port == 0;
}

// A connect whose outcome the kernel reported at once is still reported through
// FD_CONNECT, as for any non-blocking connect.
bool IsConnectOutcome(int err) {
  return err == EINPROGRESS || err == ECONNREFUSED || err == ENETUNREACH || err == EHOSTUNREACH ||
         err == ETIMEDOUT;
}

// If the reactor has not yet seen a connect complete, looks now.
void RefreshConnecting(Sock& s, SOCKET h) {
  if (s.state != State::Connecting) return;
  const std::uint32_t bits = sockimpl::PollNow(s.fd);
  if ((bits & (EPOLLOUT | EPOLLERR | EPOLLHUP)) != 0) sockimpl::Evaluate(s, h, bits);
}

// Maps a send failure; EPIPE depends on whether sending was shut down locally.
int SendError(const Sock& s, int err) {
  if (err == EPIPE) return s.wrShut ? WSAESHUTDOWN : WSAECONNRESET;
  if (!s.stream && err == ECONNREFUSED) return WSAECONNRESET;
  if (!s.stream && err == EDESTADDRREQ) return WSAENOTCONN;
  return wsaerr::FromErrno(err);
}

// One send of the pieces in order (one datagram on a datagram socket); len is their total.
int DoSend(Sock& s, SOCKET h, const iovec* pieces, int count, int len, int flags,
           const sockaddr* to) {
  if (s.stream) {
    RefreshConnecting(s, h);
    if (s.state != State::Connected) return wsaerr::Fail(WSAENOTCONN);
  }
  if (s.wrShut) return wsaerr::Fail(WSAESHUTDOWN);
  if (s.stream && s.sendRefused && (s.mask & FD_WRITE) != 0 && s.regQueue != 0 &&
      (s.regEvents & EPOLLOUT) != 0 && len > 0) {
    // The kernel refused the last send and the reactor, which watches for room, has not
    // seen any since: the answer is known, and FD_WRITE comes when room does.
    return wsaerr::Fail(WSAEWOULDBLOCK);
  }
  const int kflags = (flags & (MSG_OOB | MSG_DONTROUTE)) | MSG_NOSIGNAL;
  msghdr mh{};
  mh.msg_name = const_cast<sockaddr*>(to);
  mh.msg_namelen = to != nullptr ? static_cast<socklen_t>(AddrLen(s)) : 0;
  mh.msg_iov = const_cast<iovec*>(pieces);
  mh.msg_iovlen = static_cast<std::size_t>(count);
  const ssize_t n = ::sendmsg(s.fd, &mh, kflags);
  if (n > 0) s.txDrained = false;
  if (n < 0) {
    const int err = errno;
    if (err == EAGAIN || err == EWOULDBLOCK) {
      s.writeBlocked = true;
      s.sawWritable = false;
      s.sendRefused = true;
      sockimpl::SyncInterest(s, h);
      return wsaerr::Fail(WSAEWOULDBLOCK);
    }
    return wsaerr::Fail(SendError(s, err));
  }
  if (s.stream && n < len) {
    // The kernel took part of it: its buffer is full, so FD_WRITE must follow when
    // space returns, or a sender that waits for it would stall.
    s.writeBlocked = true;
    s.sawWritable = false;
    s.sendRefused = true;
    sockimpl::SyncInterest(s, h);
  }
  return static_cast<int>(n);
}

int DoSend(Sock& s, SOCKET h, const char* buf, int len, int flags, const sockaddr* to) {
  const iovec piece{const_cast<char*>(buf), static_cast<std::size_t>(len)};
  return DoSend(s, h, &piece, 1, len, flags, to);
}

// Bytes a full read of this size suggests are worth having the kernel count from then on.
constexpr int kInqFrom = 16 * 1024;

// One receive on a stream socket, and what its result tells about the bytes left behind
// (s.rxKnown; *drained when the queue was found empty). A read that stops short on a
// stream has emptied the queue; a peek leaves what it saw; a full read leaves an unknown
// rest, which the kernel reports with the data once TCP_INQ is on. That option is asked
// for at the first large full read, so that bulk readers stop paying a queue query per
// read while small request-answer exchanges pay nothing for it.
ssize_t StreamRecv(Sock& s, char* buf, int len, int kflags, bool* drained) {
  if (s.rxFinal && s.rxKnown == 0 && (kflags & MSG_OOB) == 0) {
    // The peer's FIN is in and the exact count shows nothing before it: the kernel would
    // answer end-of-file, and nothing can change that now.
    return 0;
  }
  ssize_t n;
  int inq = -1;
  if (s.inqOn && (kflags & MSG_OOB) == 0) {
    iovec iov{buf, static_cast<size_t>(len)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msghdr mh{};
    mh.msg_iov = &iov;
    mh.msg_iovlen = 1;
    mh.msg_control = control;
    mh.msg_controllen = sizeof control;
    n = ::recvmsg(s.fd, &mh, kflags);
    if (n > 0) {
      for (cmsghdr* c = CMSG_FIRSTHDR(&mh); c != nullptr; c = CMSG_NXTHDR(&mh, c)) {
        if (c->cmsg_level == SOL_TCP && c->cmsg_type == TCP_CM_INQ) {
          std::memcpy(&inq, CMSG_DATA(c), sizeof inq);
        }
      }
    }
  } else {
    n = ::recv(s.fd, buf, static_cast<size_t>(len), kflags);
  }
  if (n <= 0 || (kflags & MSG_OOB) != 0) return n;
  if (s.rxFinal) {
    // Counted after the FIN: exact, and only these reads take from it.
    if ((kflags & MSG_PEEK) == 0)
      s.rxKnown = std::max<std::int32_t>(s.rxKnown - static_cast<std::int32_t>(n), 0);
    *drained = s.rxKnown == 0;
  } else if (inq >= 0) {
    // The kernel's count includes a received FIN as one byte, so one may be no data.
    s.rxKnown = inq == 0 ? 0 : inq == 1 ? -1 : inq - 1;
    *drained = inq == 0;
  } else if ((kflags & MSG_PEEK) != 0) {
    s.rxKnown = std::max<std::int32_t>(s.rxKnown, static_cast<std::int32_t>(n));
  } else if (n < len) {
    s.rxKnown = 0;
    *drained = true;
  } else {
    s.rxKnown = s.rxKnown > n ? s.rxKnown - static_cast<std::int32_t>(n) : -1;
    if (!s.inqOn && len >= kInqFrom) {
      const int on = 1;
      s.inqOn = ::setsockopt(s.fd, SOL_TCP, TCP_INQ, &on, sizeof on) == 0;
    }
  }
  return n;
}

// recv/recvfrom without the re-enabling step. *drained: the call's own result shows that
// nothing is left to read.
int DoRecv(Sock& s, SOCKET h, char* buf, int len, int flags, sockaddr* from, int* fromlen,
           bool* drained) {
  const int kflags = flags & (MSG_PEEK | MSG_OOB);
  if (s.stream) {
    RefreshConnecting(s, h);
    if (s.state != State::Connected) return wsaerr::Fail(WSAENOTCONN);
    if (s.rdShut) return wsaerr::Fail(WSAESHUTDOWN);
    ssize_t n;
    if (len == 0 && (kflags & MSG_OOB) == 0) {
      // A zero-length read only tells whether the socket is readable.
      const std::uint32_t bits = sockimpl::PollNow(s.fd);
      if ((bits & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) == 0) {
        *drained = true;
        return wsaerr::Fail(WSAEWOULDBLOCK);
      }
      n = 0;
    } else {
      n = StreamRecv(s, buf, len, kflags, drained);
    }
    if (n > 0) return static_cast<int>(n);
    if (n == 0) {
      if (len == 0) return 0;
      s.rxKnown = 0;
      *drained = true;
      if (s.hupSeen && s.closeErr != 0) return wsaerr::Fail(s.closeErr);
      s.eofSeen = true;
      sockimpl::PostEvent(s, h, FD_CLOSE, s.closeErr);
      return 0;
    }
    const int err = errno;
    if (err == EAGAIN || err == EWOULDBLOCK) {
      s.rxKnown = 0;
      *drained = true;
      return wsaerr::Fail(WSAEWOULDBLOCK);
    }
    if (err == ECONNRESET || err == ETIMEDOUT) {
      s.eofSeen = s.hupSeen = true;
      s.closeErr = wsaerr::FromErrno(err);
      sockimpl::PostEvent(s, h, FD_CLOSE, s.closeErr);
    }
    return wsaerr::Fail(wsaerr::FromErrno(err));
  }
  // Datagram.
  if (s.pendingErr != 0) {
    const int err = s.pendingErr;
    s.pendingErr = 0;
    return wsaerr::Fail(err == ECONNREFUSED ? WSAECONNRESET : wsaerr::FromErrno(err));
  }
  if (!s.bound) return wsaerr::Fail(WSAEINVAL);
  sockaddr_in6 peer{};
  iovec iov{buf, static_cast<size_t>(len)};
  msghdr mh{};
  mh.msg_name = &peer;
  mh.msg_namelen = sizeof peer;
  mh.msg_iov = &iov;
  mh.msg_iovlen = 1;
  const ssize_t n = ::recvmsg(s.fd, &mh, kflags);
  if (n < 0) {
    const int err = errno;
    if (err == EAGAIN || err == EWOULDBLOCK) return wsaerr::Fail(WSAEWOULDBLOCK);
    return wsaerr::Fail(err == ECONNREFUSED ? WSAECONNRESET : wsaerr::FromErrno(err));
  }
  if (from != nullptr) {
    std::memcpy(from, &peer, static_cast<std::size_t>(AddrLen(s)));
    *fromlen = AddrLen(s);
  }
  // A datagram larger than the buffer: what fits has been copied, the rest is lost.
  if ((mh.msg_flags & MSG_TRUNC) != 0) return wsaerr::Fail(WSAEMSGSIZE);
  return static_cast<int>(n);
}

// Whether bytes wait after a receive: told by the receive's own result where it can, by
// the kernel otherwise.
bool DataWaiting(Sock& s, bool drained) {
  if (s.stream) {
    if (s.rdShut || drained) return false;
    if (s.rxKnown > 0) return true;
    const int n = kio::InQueue(s.fd);
    s.rxKnown = n;
    return n > 0;
  }
  return s.pendingErr != 0 || (sockimpl::PollNow(s.fd) & EPOLLIN) != 0;
}

// A receive, successful or not, re-enables FD_READ and FD_OOB; level conditions still
// true are posted again at once.
void ReenableRead(Sock& s, SOCKET h, bool drained) {
  s.reported &= static_cast<std::uint8_t>(~(FD_READ | FD_OOB));
  if (sockimpl::Armed(s, FD_READ) && DataWaiting(s, drained)) {
    sockimpl::PostEvent(s, h, FD_READ, 0);
  }
  if (s.stream && sockimpl::Armed(s, FD_OOB) && s.state == State::Connected &&
      (sockimpl::PollNow(s.fd) & EPOLLPRI) != 0) {
    sockimpl::PostEvent(s, h, FD_OOB, 0);
  }
  sockimpl::SyncInterest(s, h);
}

int Receive(SOCKET h, char* buf, int len, int flags, sockaddr* from, int* fromlen) {
  return WithSocket(h, [&](Sock& s) {
    int r;
    bool drained = false;
    if (len < 0 || (buf == nullptr && len > 0) ||
        (from != nullptr && (fromlen == nullptr || *fromlen < AddrLen(s)))) {
      r = wsaerr::Fail(WSAEFAULT);
    } else {
      r = DoRecv(s, h, buf, len, flags, from, fromlen, &drained);
    }
    const int err = WSAGetLastError();
    if (s.live) ReenableRead(s, h, drained);
    WSASetLastError(err);
    return r;
  });
}

// Socket-level options of the original numbering, accepted beside the POSIX ones.
constexpr int kOrigSolSocket = 0xFFFF;
bool MapOriginalOption(int* level, int* optname) {
  if (*level != kOrigSolSocket) return true;
  *level = SOL_SOCKET;
  switch (*optname) {
    case 0x0001:
      *optname = SO_DEBUG;
      return true;
    case 0x0004:
      *optname = SO_REUSEADDR;
      return true;
    case 0x0008:
      *optname = SO_KEEPALIVE;
      return true;
    case 0x0010:
      *optname = SO_DONTROUTE;
      return true;
    case 0x0020:
      *optname = SO_BROADCAST;
      return true;
    case 0x0080:
      *optname = SO_LINGER;
      return true;
    case 0x0100:
      *optname = SO_OOBINLINE;
      return true;
    case 0x1001:
      *optname = SO_SNDBUF;
      return true;
    case 0x1002:
      *optname = SO_RCVBUF;
      return true;
    case 0x1007:
      *optname = SO_ERROR;
      return true;
    case 0x1008:
      *optname = SO_TYPE;
      return true;
    default:
      return false;
  }
}

}  // namespace

SOCKET socket(int af, int type, int protocol) {
  if (!sockimpl::CheckStarted()) return INVALID_SOCKET;
  if (af != AF_INET && af != AF_INET6) {
    wsaerr::Fail(WSAEAFNOSUPPORT);
    return INVALID_SOCKET;
  }
  if (type != SOCK_STREAM && type != SOCK_DGRAM) {
    wsaerr::Fail(WSAESOCKTNOSUPPORT);
    return INVALID_SOCKET;
  }
  const bool stream = type == SOCK_STREAM;
  if (protocol != 0 && protocol != (stream ? IPPROTO_TCP : IPPROTO_UDP)) {
    wsaerr::Fail(WSAEPROTONOSUPPORT);
    return INVALID_SOCKET;
  }
  const int fd = ::socket(af, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    wsaerr::FailErrno();
    return INVALID_SOCKET;
  }
  if (af == AF_INET6) {
    // IPv6 only, as the platform this layer stands for has it: "::" then never takes
    // IPv4 connections, which would show up as mapped addresses.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  }
  const reactor::QueueId owner = reactor::CurrentQueue();
  std::lock_guard lock(Mutex());
  SOCKET h = INVALID_SOCKET;
  Sock* s = Table().Insert(fd, &h);
  if (s == nullptr) {
    ::close(fd);
    wsaerr::Fail(WSAEMFILE);
    return INVALID_SOCKET;
  }
  s->stream = stream;
  s->v6 = af == AF_INET6;
  s->state = stream ? State::Unconnected : State::Datagram;
  s->owner = owner;
  return h;
}

int bind(SOCKET h, const sockaddr* name, int namelen) {
  return WithSocket(h, [&](Sock& s) {
    if (const int e = CheckAddr(s, name, namelen); e != 0) return wsaerr::Fail(e);
    if (s.bound) return wsaerr::Fail(WSAEINVAL);
    if (::bind(s.fd, name, static_cast<socklen_t>(AddrLen(s))) < 0) return wsaerr::FailErrno();
    s.bound = true;
    return 0;
  });
}

int listen(SOCKET h, int backlog) {
  return WithSocket(h, [&](Sock& s) {
    if (!s.stream) return wsaerr::Fail(WSAEOPNOTSUPP);
    if (s.state != State::Unconnected && s.state != State::Listening) {
      return wsaerr::Fail(WSAEISCONN);
    }
    if (!s.bound) return wsaerr::Fail(WSAEINVAL);
    if (::listen(s.fd, std::clamp(backlog, 1, SOMAXCONN)) < 0) return wsaerr::FailErrno();
    s.state = State::Listening;
    sockimpl::SyncInterest(s, h);
    return 0;
  });
}

SOCKET accept(SOCKET h, sockaddr* addr, int* addrlen) {
  if (!sockimpl::CheckStarted()) return INVALID_SOCKET;
  std::lock_guard lock(Mutex());
  Sock* s = Table().Find(h);
  if (s == nullptr) {
    wsaerr::Fail(WSAENOTSOCK);
    return INVALID_SOCKET;
  }
  int err = 0;
  int nfd = -1;
  sockaddr_in6 peer{};
  if (s->state != State::Listening) {
    err = WSAEINVAL;
  } else if (addr != nullptr && (addrlen == nullptr || *addrlen < AddrLen(*s))) {
    err = WSAEFAULT;
  } else {
    socklen_t len = sizeof peer;
    nfd = ::accept4(s->fd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (nfd < 0) err = wsaerr::FromErrno(errno);
  }
  // Re-enable FD_ACCEPT; another connection already waiting is announced at once. The
  // listener is watched edge-triggered, so this look is also the only way such a
  // connection is ever announced; a would-block result shows that none is.
  if (s->state == State::Listening) {
    s->reported &= static_cast<std::uint8_t>(~FD_ACCEPT);
    if (sockimpl::Armed(*s, FD_ACCEPT) && err != WSAEWOULDBLOCK &&
        (sockimpl::PollNow(s->fd) & EPOLLIN) != 0) {
      sockimpl::PostEvent(*s, h, FD_ACCEPT, 0);
    }
    sockimpl::SyncInterest(*s, h);
  }
  if (err != 0) {
    wsaerr::Fail(err);
    return INVALID_SOCKET;
  }
  const Sock& parent = *s;  // still valid after Insert: slots never move
  SOCKET nh = INVALID_SOCKET;
  Sock* ns = Table().Insert(nfd, &nh);
  if (ns == nullptr) {
    ::close(nfd);
    wsaerr::Fail(WSAEMFILE);
    return INVALID_SOCKET;
  }
  ns->stream = true;
  ns->v6 = parent.v6;
  ns->state = State::Connected;
  ns->bound = true;
  ns->mask = parent.mask;
  ns->hwnd = parent.hwnd;
  ns->msg = parent.msg;
  ns->nonBlocking = parent.nonBlocking;
  ns->lingerOn = parent.lingerOn;
  ns->lingerSecs = parent.lingerSecs;
  ns->owner = parent.owner;
  if (addr != nullptr) {
    std::memcpy(addr, &peer, static_cast<std::size_t>(AddrLen(*ns)));
    *addrlen = AddrLen(*ns);
  }
  if (ns->mask != 0) {
    // An accepted socket gets its FD_WRITE: with its send buffer still empty it is
    // writable without asking. Bytes that came with the connection are reported by the
    // reactor, which the registration made here tells at once.
    ns->writeDue = true;
    sockimpl::Evaluate(*ns, nh, EPOLLOUT);
  }
  return nh;
}

int connect(SOCKET h, const sockaddr* name, int namelen) {
  return WithSocket(h, [&](Sock& s) {
    if (const int e = CheckAddr(s, name, namelen); e != 0) return wsaerr::Fail(e);
    const auto len = static_cast<socklen_t>(AddrLen(s));
    if (!s.stream) {
      if (::connect(s.fd, name, len) < 0) return wsaerr::FailErrno();
      s.bound = true;
      return 0;
    }
    switch (s.state) {
      case State::Listening:
        return wsaerr::Fail(WSAEINVAL);
      case State::Connecting:
        return wsaerr::Fail(WSAEALREADY);
      case State::Connected:
        return wsaerr::Fail(WSAEISCONN);
      default:
        break;
    }
    if (NoPeer(s, name)) return wsaerr::Fail(WSAEADDRNOTAVAIL);
    // Give up on an unanswered connection after about 15 s rather than Linux's two
    // minutes, nearer to the 21 s the components were written against.
    const int synRetries = 3;
    ::setsockopt(s.fd, IPPROTO_TCP, TCP_SYNCNT, &synRetries, sizeof synRetries);
    const int r = ::connect(s.fd, name, len);
    const int err = r == 0 ? 0 : errno;
    if (r != 0 && !IsConnectOutcome(err)) return wsaerr::Fail(wsaerr::FromErrno(err));
    // The outcome, even an immediate one, arrives through the reactor as FD_CONNECT.
    s.state = State::Connecting;
    s.connectErr = err == EINPROGRESS ? 0 : err;
    s.bound = true;
    sockimpl::SyncInterest(s, h);
    return r == 0 ? 0 : wsaerr::Fail(WSAEWOULDBLOCK);
  });
}

namespace {

// The first half of shutdown: the state checks and the kernel call, without the interest
// update. 0 or an error number.
int ShutdownKernel(Sock& s, SOCKET h, int how) {
  int khow;
  switch (how) {
    case SD_RECEIVE:
      khow = SHUT_RD;
      break;
    case SD_SEND:
      khow = SHUT_WR;
      break;
    case SD_BOTH:
      khow = SHUT_RDWR;
      break;
    default:
      return WSAEINVAL;
  }
  if (s.stream) {
    RefreshConnecting(s, h);
    if (s.state != State::Connected) return WSAENOTCONN;
  }
  if (::shutdown(s.fd, khow) < 0) return wsaerr::FromErrno(errno);
  if (how != SD_SEND) s.rdShut = true;
  if (how != SD_RECEIVE) s.wrShut = true;
  return 0;
}

int DoShutdown(Sock& s, SOCKET h, int how) {
  if (const int e = ShutdownKernel(s, h, how); e != 0) return wsaerr::Fail(e);
  sockimpl::SyncInterest(s, h);
  return 0;
}

int DoClose(Sock& s) {
  if (s.lingerOn && s.lingerSecs > 0 && s.nonBlocking && s.stream && s.state == State::Connected &&
      !s.hupSeen) {
    // Lingering without blocking: refuse while data is still on its way and time remains.
    const std::int64_t now = NowMs();
    if (s.lingerDeadline == 0) s.lingerDeadline = now + std::int64_t{s.lingerSecs} * 1000;
    if (kio::OutQueue(s.fd) > 0 && now < s.lingerDeadline) {
      return wsaerr::Fail(WSAEWOULDBLOCK);
    }
  }
  sockimpl::CloseKernel(s);
  Table().Retire(&s);
  return 0;
}

// Whether closing alone ends the connection exactly as a shutdown both ways followed by the
// close: the peer has ended its side (its FIN counted, no reset), nothing waits unread,
// nothing of ours waits to be sent or acknowledged (so a zero linger is not given to the
// kernel, see CloseKernel), nothing was shut yet, and no timed linger may refuse the close.
// The kernel's close then sends the same FIN, and the shutdown's call is spared.
bool CloseSuffices(const Sock& s) {
  return s.stream && s.state == State::Connected && s.eofSeen && s.rxFinal && s.rxKnown == 0 &&
         s.txDrained && !s.hupSeen && !s.rdShut && !s.wrShut && !(s.lingerOn && s.lingerSecs > 0);
}

}  // namespace

int closesocket(SOCKET h) {
  return WithSocket(h, [&](Sock& s) { return DoClose(s); });
}

int shutdownclose(SOCKET h) {
  return WithSocket(h, [&](Sock& s) {
    if (CloseSuffices(s)) {
      s.rdShut = s.wrShut = true;
    } else if (!(s.stream && s.rdShut && s.wrShut)) {
      // As a caller's own shutdown: its failure (not connected, say) does not stop the close.
      DoShutdown(s, h, SD_BOTH);
    }
    return DoClose(s);
  });
}

int shutdown(SOCKET h, int how) {
  return WithSocket(h, [&](Sock& s) { return DoShutdown(s, h, how); });
}

int send(SOCKET h, const char* buf, int len, int flags) {
  return WithSocket(h, [&](Sock& s) {
    if (len < 0 || (buf == nullptr && len > 0)) return wsaerr::Fail(WSAEFAULT);
    return DoSend(s, h, buf, len, flags, nullptr);
  });
}

int sendto(SOCKET h, const char* buf, int len, int flags, const sockaddr* to, int tolen) {
  return WithSocket(h, [&](Sock& s) {
    if (len < 0 || (buf == nullptr && len > 0)) return wsaerr::Fail(WSAEFAULT);
    if (s.stream || to == nullptr) return DoSend(s, h, buf, len, flags, nullptr);
    if (const int e = CheckAddr(s, to, tolen); e != 0) return wsaerr::Fail(e);
    if (NoPeer(s, to)) return wsaerr::Fail(WSAEADDRNOTAVAIL);
    const int r = DoSend(s, h, buf, len, flags, to);
    if (r >= 0) s.bound = true;  // the kernel bound it implicitly
    return r;
  });
}

int sendv(SOCKET h, const iovec* pieces, int count, int flags) {
  return WithSocket(h, [&](Sock& s) {
    if (count < 0 || (pieces == nullptr && count > 0)) return wsaerr::Fail(WSAEFAULT);
    if (count > kMaxSendPieces) return wsaerr::Fail(WSAEINVAL);
    std::int64_t total = 0;
    for (int i = 0; i < count; ++i) {
      if (pieces[i].iov_base == nullptr && pieces[i].iov_len > 0) return wsaerr::Fail(WSAEFAULT);
      total += static_cast<std::int64_t>(pieces[i].iov_len);
      if (total > INT32_MAX) return wsaerr::Fail(WSAEMSGSIZE);
    }
    return DoSend(s, h, pieces, count, static_cast<int>(total), flags, nullptr);
  });
}

int recv(SOCKET h, char* buf, int len, int flags) {
  return Receive(h, buf, len, flags, nullptr, nullptr);
}

int recvfrom(SOCKET h, char* buf, int len, int flags, sockaddr* from, int* fromlen) {
  return Receive(h, buf, len, flags, from, fromlen);
}

int recvleft(SOCKET h) {
  // Leaves the thread's last error alone: callers ask it between other calls.
  std::lock_guard lock(Mutex());
  const Sock* s = Table().Find(h);
  return s != nullptr && s->stream ? s->rxKnown : -1;
}

int ioctlsocket(SOCKET h, long cmd, u_long* argp) {
  return WithSocket(h, [&](Sock& s) {
    if (argp == nullptr) return wsaerr::Fail(WSAEFAULT);
    if (cmd == plat::FIONBIO) {  // qualified: <sys/ioctl.h> has a macro of the name
      // Blocking mode cannot come back while notifications are selected.
      if (*argp == 0 && s.mask != 0) return wsaerr::Fail(WSAEINVAL);
      s.nonBlocking = *argp != 0;
      return 0;
    }
    if (cmd == FIONWRITE) {
      const int n = s.stream && s.state == State::Connected ? kio::OutQueue(s.fd) : 0;
      if (n < 0) return wsaerr::FailErrno();
      s.txDrained = n == 0;
      *argp = static_cast<u_long>(n);
      return 0;
    }
    if (cmd == plat::FIONREAD) {
      if (s.stream) RefreshConnecting(s, h);
      if (s.state == State::Listening || (s.stream && s.state != State::Connected)) {
        *argp = 0;
        return 0;
      }
      if (s.stream && s.rxFinal && !s.rdShut) {
        *argp = static_cast<u_long>(s.rxKnown);
        return 0;
      }
      const int n = kio::InQueue(s.fd);
      if (n < 0) return wsaerr::FailErrno();
      if (s.stream) s.rxKnown = n;
      *argp = static_cast<u_long>(n);
      return 0;
    }
    return wsaerr::Fail(WSAEINVAL);
  });
}

int setsockopt(SOCKET h, int level, int optname, const char* optval, int optlen) {
  return WithSocket(h, [&](Sock& s) {
    if (optlen < 0 || (optval == nullptr && optlen > 0)) return wsaerr::Fail(WSAEFAULT);
    if (!MapOriginalOption(&level, &optname)) return wsaerr::Fail(WSAENOPROTOOPT);
    if (level == SOL_SOCKET && optname == SO_LINGER) {
      int on;
      int secs;
      if (optlen >= static_cast<int>(sizeof(linger))) {
        linger l;
        std::memcpy(&l, optval, sizeof l);
        on = l.l_onoff;
        secs = l.l_linger;
      } else if (optlen == 4) {  // two 16-bit words, as the original platform lays it out
        std::uint16_t w[2];
        std::memcpy(w, optval, sizeof w);
        on = w[0];
        secs = w[1];
      } else {
        return wsaerr::Fail(WSAEFAULT);
      }
      if (!s.stream) return wsaerr::Fail(WSAENOPROTOOPT);
      // Kept here only: a timed linger so that close never blocks the thread, and the
      // reset of a zero linger given to the kernel at the close, where it still changes
      // anything (see CloseKernel). Most connections end after the peer's FIN, where it
      // does not, and a server sets the option on every connection it accepts.
      s.lingerOn = on != 0;
      s.lingerSecs = static_cast<std::uint16_t>(std::clamp(secs, 0, 0xFFFF));
      s.lingerDeadline = 0;
      return 0;
    }
    if (::setsockopt(s.fd, level, optname, optval, static_cast<socklen_t>(optlen)) < 0) {
      return wsaerr::FailErrno();
    }
    return 0;
  });
}

int getsockopt(SOCKET h, int level, int optname, char* optval, int* optlen) {
  return WithSocket(h, [&](Sock& s) {
    if (optval == nullptr || optlen == nullptr || *optlen < 0) return wsaerr::Fail(WSAEFAULT);
    if (!MapOriginalOption(&level, &optname)) return wsaerr::Fail(WSAENOPROTOOPT);
    if (level == SOL_SOCKET && optname == SO_LINGER) {
      if (*optlen >= static_cast<int>(sizeof(linger))) {
        const linger l{s.lingerOn ? 1 : 0, s.lingerSecs};
        std::memcpy(optval, &l, sizeof l);
        *optlen = sizeof l;
      } else if (*optlen >= 4) {
        const std::uint16_t w[2] = {static_cast<std::uint16_t>(s.lingerOn ? 1 : 0), s.lingerSecs};
        std::memcpy(optval, w, sizeof w);
        *optlen = 4;
      } else {
        return wsaerr::Fail(WSAEFAULT);
      }
      return 0;
    }
    socklen_t len = static_cast<socklen_t>(*optlen);
    if (::getsockopt(s.fd, level, optname, optval, &len) < 0) return wsaerr::FailErrno();
    *optlen = static_cast<int>(len);
    if (level == SOL_SOCKET && optname == SO_ERROR && len >= sizeof(int)) {
      int e;
      std::memcpy(&e, optval, sizeof e);
      e = wsaerr::FromErrno(e);
      std::memcpy(optval, &e, sizeof e);
    }
    return 0;
  });
}

namespace {

using KernelNameQuery = int (*)(int, sockaddr*, socklen_t*);

// getsockname and getpeername: the same checks around one kernel query. Prepare runs
// under the table lock and answers an error code to refuse the call, or 0.
template <class Prepare>
int NameQuery(SOCKET h, sockaddr* name, int* namelen, KernelNameQuery kernel, Prepare prepare) {
  return WithSocket(h, [&](Sock& s) {
    if (name == nullptr || namelen == nullptr || *namelen < AddrLen(s)) {
      return wsaerr::Fail(WSAEFAULT);
    }
    if (const int refused = prepare(s); refused != 0) return wsaerr::Fail(refused);
    socklen_t len = static_cast<socklen_t>(AddrLen(s));
    if (kernel(s.fd, name, &len) < 0) return wsaerr::FailErrno();
    *namelen = static_cast<int>(len);
    return 0;
  });
}

}  // namespace

int getsockname(SOCKET h, sockaddr* name, int* namelen) {
  return NameQuery(h, name, namelen, ::getsockname,
                   [](Sock& s) { return s.bound ? 0 : WSAEINVAL; });
}

int getpeername(SOCKET h, sockaddr* name, int* namelen) {
  return NameQuery(h, name, namelen, ::getpeername, [h](Sock& s) {
    if (s.stream) RefreshConnecting(s, h);
    return 0;
  });
}

}  // namespace plat
