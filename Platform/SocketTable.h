// Internal state of the socket layer: the table of sockets, their notification state,
// and the start-up count. Not part of the public API; tests may read the counters.
//
// One process-wide mutex guards every socket and look-up record. Each call takes it for
// a few non-blocking system calls, so contention stays short; notifications are posted
// while it is held, which keeps their order equal to the order of the state changes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "Platform/Reactor.h"
#include "Platform/Sockets/WinsockErrors.h"
#include "Platform/Winsock.h"

namespace plat::sockimpl {

enum class State : std::uint8_t {
  Unconnected,  // created, maybe bound
  Connecting,   // connect issued, outcome not yet reported
  Connected,    // stream with a peer (connected or accepted)
  Listening,
  Datagram,
  Failed,  // connect failed; nothing more is ever reported
};

// Fields ordered to leave little padding: a server keeps one per connection.
struct Sock {
  int fd = -1;
  std::uint32_t gen = 1;    // generation of the slot; part of the handle
  std::uint32_t index = 0;  // slot number
  bool live = false;
  bool stream = true;
  bool v6 = false;  // an IPv6 socket: its addresses are sockaddr_in6 records
  State state = State::Unconnected;
  std::uint8_t mask = 0;         // events selected
  std::uint8_t reported = 0;     // events posted and not re-enabled since
  bool writeBlocked = false;     // a send would block: FD_WRITE when space returns
  bool writeDue = false;         // FD_WRITE owed as soon as the socket is writable
  bool sawWritable = false;      // seen writable, and no send has been refused since
  bool sendRefused = false;      // the kernel refused a send; not seen writable since
  bool readQueued = false;       // an FD_READ sits in the owner's queue, not yet retrieved
  std::uint32_t readTicket = 0;  // tells the FD_READ that readQueued stands for
  bool eofSeen = false;          // the peer's FIN has been seen
  bool hupSeen = false;          // the connection is gone (reset, or both ways shut)
  bool rdShut = false;           // local shutdown of receiving
  bool wrShut = false;           // local shutdown of sending
  bool nonBlocking = false;      // as the application asked; the kernel socket always is
  bool bound = false;
  bool lingerOn = false;
  bool inqOn = false;      // the kernel reports the bytes each receive leaves behind (TCP_INQ)
  bool rxFinal = false;    // rxKnown is exact and can only shrink: counted after the peer's FIN
  bool txDrained = false;  // FIONWRITE found nothing unsent or unacknowledged; nothing sent since
  std::uint16_t lingerSecs = 0;
  // Bytes known to wait in a stream's receive queue, from the results of the receive
  // calls and FIONREAD: -1 unknown, 0 the latest of them found nothing left, otherwise at
  // least that many. Only these calls take bytes out, so a count stays a lower bound.
  std::int32_t rxKnown = -1;
  int connectErr = 0;  // errno of a connect that failed at once, reported later
  int closeErr = 0;    // error carried by FD_CLOSE
  int pendingErr = 0;  // errno taken from a datagram socket, returned by the next receive
  UINT msg = 0;
  std::uint32_t regEvents = 0;
  HWND hwnd = 0;
  reactor::QueueId owner = 0;       // thread whose reactor watches the socket
  reactor::QueueId regQueue = 0;    // where the descriptor is registered now (0: nowhere)
  reactor::QueueId staleQueue = 0;  // a former owner still holding a registration
  std::int64_t lingerDeadline = 0;  // monotonic ms; 0 while no lingering close is pending
};
static_assert(sizeof(Sock) <= 104);

// Slots indexed by handle; O(1) look-up, generation checked. Guarded by Mutex(). The table
// grows by whole chunks, so a slot never moves and a Sock& stays valid across Insert.
class SocketTable {
 public:
  Sock* Find(SOCKET handle);
  // A fresh live slot for the descriptor; nullptr when the table is full.
  Sock* Insert(int fd, SOCKET* handle);
  // Frees the slot; its handle never matches again.
  void Retire(Sock* s);
  std::size_t LiveCount() const { return live_; }
  template <class F>
  void ForEachLive(F&& f) {
    for (std::uint32_t i = 0; i < size_; ++i) {
      Sock& s = At(i);
      if (s.live) f(s, HandleOf(i, s.gen));
    }
  }
  static SOCKET HandleOf(std::uint32_t index, std::uint32_t gen) {
    return (static_cast<SOCKET>(gen) << 32) | (index + 1);
  }

 private:
  static constexpr std::uint32_t kChunk = 256;
  Sock& At(std::uint32_t i) { return chunks_[i / kChunk][i % kChunk]; }
  std::vector<std::unique_ptr<Sock[]>> chunks_;
  std::vector<std::uint32_t> free_;
  std::uint32_t size_ = 0;
  std::size_t live_ = 0;
};

inline bool Armed(const Sock& s, long ev) {
  return (s.mask & ev) != 0 && (s.reported & ev) == 0;
}

std::mutex& Mutex();
SocketTable& Table();

// Checks the process-wide start-up count; sets WSANOTINITIALISED and returns false before
// start-up.
bool CheckStarted();

// Runs f on the socket of handle h under Mutex(), once start-up and the handle have been
// checked; f answers the call's result.
template <class F>
int WithSocket(SOCKET h, F&& f) {
  if (!CheckStarted()) return SOCKET_ERROR;
  std::lock_guard lock(Mutex());
  Sock* s = Table().Find(h);
  if (s == nullptr) return wsaerr::Fail(WSAENOTSOCK);
  return f(*s);
}

// Notification machinery (AsyncSelect.cpp); callers hold Mutex().
// Posts event ev unless it is outside the mask or already reported. An FD_READ is not
// posted while an earlier one has not yet been retrieved from the queue: a reader that
// takes a little at a time would otherwise fill the queue with notifications.
void PostEvent(Sock& s, SOCKET h, long ev, int err);
// Turns readiness bits (EPOLL* values) into the due notifications, in the platform's
// order, then recomputes the epoll interest.
void Evaluate(Sock& s, SOCKET h, std::uint32_t bits);
// Readiness of the descriptor right now, as EPOLL* bits.
std::uint32_t PollNow(int fd);
// Brings the epoll registration in line with the socket's state.
void SyncInterest(Sock& s, SOCKET h);
// Unregisters and closes the kernel socket. A registration held by another thread is
// released there before the descriptor is closed, so its number cannot be reused early.
void CloseKernel(Sock& s);

// Look-ups (AsyncLookup.cpp): drops every pending task without posting. Caller holds
// Mutex().
void CancelAllLookups();

// Counters for tests and benchmarks.
std::uint64_t IoHandlerCalls();

}  // namespace plat::sockimpl
