#include "Platform/Reactor.h"

#include <atomic>
#include <cerrno>

#include "Platform/Messaging/Clock.h"
#include "Platform/Messaging/Registry.h"
#include "Platform/Messaging/ThreadQueue.h"

namespace plat::reactor {

using detail::Registry;
using detail::ThreadQueue;

QueueId CurrentQueue() {
  ThreadQueue* q = ThreadQueue::Current();
  return q ? q->Id() : 0;
}

QueueId QueueOfWindow(HWND hwnd) {
  if (ThreadQueue* q = ThreadQueue::CurrentIfAny(); q && q->FindWindow(hwnd)) return q->Id();
  auto q = Registry::Get().QueueOfWindow(hwnd);
  return q ? q->Id() : 0;
}

void SetIoHandler(IoHandler handler) {
  if (ThreadQueue* q = ThreadQueue::Current()) q->Poller().SetIoHandler(handler);
}

namespace {
ThreadQueue* QueueOrErrno() {
  ThreadQueue* q = ThreadQueue::Current();
  if (q == nullptr) errno = EBADF;
  return q;
}

// Pushes onto any thread's queue; the calling thread's own needs no registry look-up.
template <class Push>
bool PushTo(QueueId queue, Push push) {
  bool wake = false;
  if (ThreadQueue* q = ThreadQueue::CurrentIfAny(); q && q->Id() == queue) return push(*q, &wake);
  auto target = Registry::Get().FindQueue(queue);
  if (!target || !push(*target, &wake)) return false;
  if (wake) target->Wake();
  return true;
}
}  // namespace

bool Add(int fd, std::uint32_t events, std::uint64_t key) {
  ThreadQueue* q = QueueOrErrno();
  return q && q->Poller().AddFd(fd, events, key);
}

bool Watch(int fd, std::uint32_t events, FdHandler handler) {
  ThreadQueue* q = QueueOrErrno();
  return q && q->Poller().WatchFd(fd, events, std::move(handler));
}

bool Modify(int fd, std::uint32_t events, std::uint64_t key) {
  ThreadQueue* q = QueueOrErrno();
  return q && q->Poller().ModifyFd(fd, events, key);
}

bool Remove(int fd) {
  ThreadQueue* q = QueueOrErrno();
  return q && q->Poller().RemoveFd(fd);
}

bool PostInternal(QueueId queue, InternalTask task) {
  if (!task) return false;
  return PushTo(queue,
                [&task](ThreadQueue& q, bool* wake) { return q.PushTask(std::move(task), wake); });
}

namespace {
std::atomic<NoticeHook> gNoticeHook{nullptr};
}  // namespace

void SetNoticeHook(NoticeHook hook) {
  // Ordered before the owner's call by the queue's lock, which the first notice passes.
  if (gNoticeHook.load(std::memory_order_relaxed) != hook)
    gNoticeHook.store(hook, std::memory_order_relaxed);
}

NoticeHook CurrentNoticeHook() {
  return gNoticeHook.load(std::memory_order_relaxed);
}

bool PostNotice(QueueId queue, const MSG& msg, std::uint32_t cookie) {
  return PushTo(queue, [&](ThreadQueue& q, bool* wake) { return q.PushNotice(msg, cookie, wake); });
}

bool PostToQueue(QueueId queue, const MSG& msg) {
  MSG stamped = msg;
  if (stamped.time == 0) stamped.time = detail::CoarseTickCount();
  return PushTo(queue, [&stamped](ThreadQueue& q, bool* wake) { return q.Push(stamped, wake); });
}

}  // namespace plat::reactor
