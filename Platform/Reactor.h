// The per-thread reactor underneath the message queue, as seen by the socket layer.
//
// Each thread's queue waits in one epoll instance. The socket layer registers its
// descriptors there with a 64-bit key of its own choosing; when the queue harvests
// readiness (whenever it is about to wait, and at least every few milliseconds while
// posted messages keep it busy) it calls the thread's I/O handler with the key and the
// epoll event bits. The handler runs on the owner thread, inside GetMessageA /
// PeekMessageA, and may only update its own state and post messages: no user code.
#pragma once

#include <cstdint>
#include <functional>

#include "Platform/Messages.h"

namespace plat::reactor {

// Identifies the message queue of one thread. 0 is never a valid queue.
using QueueId = std::uint64_t;

// The calling thread's queue (created on first use).
QueueId CurrentQueue();
// The queue of the thread that owns the window; 0 for an unknown window.
QueueId QueueOfWindow(HWND hwnd);

// Called with (key, epoll events) for every ready descriptor registered by this thread.
using IoHandler = void (*)(std::uint64_t key, std::uint32_t events);
// One handler per thread; the socket layer installs it before its first Add.
void SetIoHandler(IoHandler handler);

// Level-triggered interest in the calling thread's epoll. Return false with errno set
// (Add: EINVAL while the thread has no I/O handler; a descriptor that becomes ready after
// the handler was cleared is dropped from epoll).
// Any key is allowed. A handler call carries the key of the registration that is current
// when it runs: readiness reported for a descriptor that was removed (or removed and
// added again) earlier in the same batch is dropped, and the event bits are narrowed to
// the current interest (EPOLLERR and EPOLLHUP always pass). Remove before closing.
bool Add(int fd, std::uint32_t events, std::uint64_t key);
bool Modify(int fd, std::uint32_t events, std::uint64_t key);
bool Remove(int fd);

// A descriptor that is not a socket (a window system's connection), watched on the calling
// thread with a handler of its own instead of the thread's I/O handler; the same rules
// apply to it (level-triggered, runs inside the wait, may only update state and post
// messages). Ended with Remove.
using FdHandler = std::function<void(std::uint32_t events)>;
bool Watch(int fd, std::uint32_t events, FdHandler handler);

// A task posted to a queue, run on the owner thread when the queue reaches it in FIFO
// order. It may turn itself into an ordinary message (fill msg, return true: the message
// is then delivered as if it had been posted) or vanish (return false). Used for
// look-up completions, which must fill the caller's buffer on the owner thread and never
// after a cancel. Any thread may post. Returns false when the queue no longer exists.
using InternalTask = std::function<bool(MSG& msg)>;
bool PostInternal(QueueId queue, InternalTask task);

// A message that tells the poster when it leaves the queue: when the owner reaches it, in
// FIFO order as a task, it calls the process's notice hook with the message and the
// cookie, then delivers the message (dropped, as any, when its window is gone). What a
// task would do for the socket layer's read notifications, without a task's allocation.
// The hook is set once, before the first notice, and stays (one per process: the socket
// layer's). Returns false when the queue no longer exists.
using NoticeHook = void (*)(const MSG& msg, std::uint32_t cookie);
void SetNoticeHook(NoticeHook hook);
NoticeHook CurrentNoticeHook();
bool PostNotice(QueueId queue, const MSG& msg, std::uint32_t cookie);

// Posts from the owner thread to itself skip the wake-up; from other threads they wake
// the owner. Exposed for the socket layer's own notifications. msg.hwnd is 0 or a window
// of that queue's thread; a message whose window is gone when it is retrieved is dropped.
bool PostToQueue(QueueId queue, const MSG& msg);

}  // namespace plat::reactor
