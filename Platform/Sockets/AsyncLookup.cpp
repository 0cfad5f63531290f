// Asynchronous host look-ups. A worker thread resolves into a private result; the
// owner thread copies it into the caller's buffer just before the completion message
// is delivered, and never once the task has been cancelled or its window is gone.
#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

#include "Platform/KeptObjects.h"
#include "Platform/Resolver.h"
#include "Platform/SocketTable.h"
#include "Platform/Sockets/HostEntry.h"
#include "Platform/Sockets/WinsockErrors.h"

namespace plat::sockimpl {

namespace {

enum class TaskState : std::uint8_t { Free, Pending, Delivered };

struct Task {
  std::uint32_t gen = 0;
  std::uint32_t index = 0;
  TaskState st = TaskState::Free;
  UINT msg = 0;
  HWND hwnd = 0;
  char* buf = nullptr;
  int buflen = 0;
  int family = AF_INET;  // of the entry a forward look-up writes
};

// Guarded by Mutex(). Free slots are reused oldest first, so the handle of a delivered
// task keeps answering "already completed" for a while.
class TaskTable {
 public:
  static constexpr std::size_t kMaxPending = 4096;

  Task* Find(HANDLE h) {
    const std::uint64_t low = h & 0xFFFFFFFFu;
    if (low == 0 || low > slots_.size()) return nullptr;
    Task& t = slots_[low - 1];
    if (t.st == TaskState::Free || t.gen != static_cast<std::uint32_t>(h >> 32)) return nullptr;
    return &t;
  }

  Task* Alloc(HANDLE* h) {
    if (pending_ >= kMaxPending) return nullptr;
    std::size_t i;
    if (!free_.empty() && (slots_.size() >= kMaxPending || free_.size() > 64)) {
      i = free_.front();
      free_.pop_front();
    } else {
      slots_.emplace_back();
      i = slots_.size() - 1;
      slots_[i].index = static_cast<std::uint32_t>(i);
    }
    Task& t = slots_[i];
    if (++t.gen == 0) t.gen = 1;
    t.st = TaskState::Pending;
    ++pending_;
    *h = (static_cast<HANDLE>(t.gen) << 32) | (i + 1);
    return &t;
  }

  // Ends a pending task; a delivered one is remembered until its slot is reused.
  void End(Task* t, bool delivered) {
    t->st = delivered ? TaskState::Delivered : TaskState::Free;
    t->buf = nullptr;
    --pending_;
    free_.push_back(t->index);
  }

  void CancelAll() {
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      if (slots_[i].st == TaskState::Pending) End(&slots_[i], false);
    }
  }

 private:
  std::deque<Task> slots_;
  std::deque<std::size_t> free_;
  std::size_t pending_ = 0;
};

TaskTable& Tasks() {
  static TaskTable* t = KeepForProcess(new TaskTable);
  return *t;
}

// On the owner thread, when the queue reaches the completion.
bool Deliver(HANDLE h, const resolver::HostInfo& info, MSG& m) {
  std::lock_guard lock(Mutex());
  Task* t = Tasks().Find(h);
  if (t == nullptr || t->st != TaskState::Pending) return false;  // cancelled
  if (!IsWindow(t->hwnd)) {
    Tasks().End(t, false);
    return false;
  }
  int err = hostentry::EntryError(info, t->family);
  std::size_t size = 0;
  if (err == 0) {
    size = hostentry::PackedSize(info, t->buf, t->family);
    if (size > static_cast<std::size_t>(t->buflen)) {
      err = WSAENOBUFS;  // nothing is written; the low word tells the size needed
    } else {
      hostentry::Pack(info, t->buf, t->family);
    }
  }
  m = MSG{};
  m.hwnd = t->hwnd;
  m.message = t->msg;
  m.wParam = h;
  m.lParam = MAKELONG(static_cast<std::uint16_t>(std::min<std::size_t>(size, 0xFFFF)),
                      static_cast<std::uint16_t>(err));
  m.time = GetTickCount();
  Tasks().End(t, true);
  return true;
}

HANDLE Start(HWND hwnd, UINT msg, char* buf, int buflen, int family,
             std::function<resolver::HostInfo()> work) {
  const reactor::QueueId q = reactor::QueueOfWindow(hwnd);
  if (q == 0) {
    wsaerr::Fail(WSAEINVAL);
    return 0;
  }
  HANDLE h = 0;
  {
    std::lock_guard lock(Mutex());
    Task* t = Tasks().Alloc(&h);
    if (t == nullptr) {
      wsaerr::Fail(WSAEWOULDBLOCK);
      return 0;
    }
    t->hwnd = hwnd;
    t->msg = msg;
    t->buf = buf;
    t->buflen = buflen;
    t->family = family;
  }
  resolver::Submit([h, q, work = std::move(work)] {
    auto info = std::make_shared<const resolver::HostInfo>(work());
    const bool posted =
        reactor::PostInternal(q, [h, info](MSG& m) { return Deliver(h, *info, m); });
    if (!posted) {
      // The owner thread has gone: nobody will ever collect the answer.
      std::lock_guard lock(Mutex());
      if (Task* t = Tasks().Find(h); t != nullptr && t->st == TaskState::Pending) {
        Tasks().End(t, false);
      }
    }
  });
  return h;
}

}  // namespace

void CancelAllLookups() {
  Tasks().CancelAll();
}

}  // namespace plat::sockimpl

namespace plat {

namespace {

HANDLE StartByName(HWND hwnd, UINT msg, const char* name, char* buf, int buflen, int family) {
  if (!sockimpl::CheckStarted()) return 0;
  if (name == nullptr || buf == nullptr || buflen < 0) {
    wsaerr::Fail(WSAEFAULT);
    return 0;
  }
  return sockimpl::Start(hwnd, msg, buf, buflen, family,
                         [n = std::string(name)] { return resolver::Forward(n); });
}

}  // namespace

HANDLE WSAAsyncGetHostByName(HWND hwnd, UINT msg, const char* name, char* buf, int buflen) {
  return StartByName(hwnd, msg, name, buf, buflen, AF_INET);
}

HANDLE WSAAsyncGetHostByName6(HWND hwnd, UINT msg, const char* name, char* buf, int buflen) {
  return StartByName(hwnd, msg, name, buf, buflen, AF_INET6);
}

HANDLE WSAAsyncGetHostByAddr(HWND hwnd, UINT msg, const char* addr, int len, int type, char* buf,
                             int buflen) {
  if (!sockimpl::CheckStarted()) return 0;
  if (addr == nullptr || len != 4 || buf == nullptr || buflen < 0) {
    wsaerr::Fail(WSAEFAULT);
    return 0;
  }
  if (type != AF_INET) {
    wsaerr::Fail(WSAEAFNOSUPPORT);
    return 0;
  }
  std::uint32_t a;
  std::memcpy(&a, addr, 4);
  return sockimpl::Start(hwnd, msg, buf, buflen, AF_INET, [a] { return resolver::Reverse(a); });
}

int WSACancelAsyncRequest(HANDLE task) {
  if (!sockimpl::CheckStarted()) return SOCKET_ERROR;
  std::lock_guard lock(sockimpl::Mutex());
  sockimpl::Task* t = sockimpl::Tasks().Find(task);
  if (t == nullptr) return wsaerr::Fail(WSAEINVAL);
  if (t->st == sockimpl::TaskState::Delivered) return wsaerr::Fail(WSAEALREADY);
  sockimpl::Tasks().End(t, false);
  return 0;
}

}  // namespace plat
