// The lock between a queue's owner and the threads that post to it.
#pragma once

#include <pthread.h>

namespace plat::detail {

// Held for a handful of stores: the posters' append, the owner's swap. A plain mutex
// puts a thread that finds it held to sleep in the kernel at once, and the owner meets a
// poster inside far too often while messages stream in; the adaptive kind first retries
// for a few hundred cycles, which is longer than any holder keeps it, and sleeps only
// after that (a holder that lost its processor).
class QueueLock {
 public:
  QueueLock() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ADAPTIVE_NP);
    pthread_mutex_init(&mutex_, &attr);
    pthread_mutexattr_destroy(&attr);
  }
  ~QueueLock() { pthread_mutex_destroy(&mutex_); }
  QueueLock(const QueueLock&) = delete;
  QueueLock& operator=(const QueueLock&) = delete;

  void lock() { pthread_mutex_lock(&mutex_); }
  void unlock() { pthread_mutex_unlock(&mutex_); }

 private:
  pthread_mutex_t mutex_;
};

}  // namespace plat::detail
