// A hidden window: its procedure and extra memory.
//
// Owned by the ThreadQueue of the thread that created it, in the node of its table of
// windows; other threads reach it there under the registry lock (the handle names the
// queue) to read or write the extra memory, hence the atomics. A server keeps one per
// connection, so it is a few words: the usual extra memory (a component pointer) sits
// inside it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "Platform/Messages.h"

namespace plat::detail {

struct Window {
  // classWindows: the class's count of windows, which the registry keeps. The handle and
  // the owner queue are the key of the queue's table and the queue itself.
  Window(WNDPROC p, int extraBytes, int* classWindows);
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Resolves a SetWindowLongA/GetWindowLongA index; nullptr when out of range.
  std::atomic<LONG_PTR>* Slot(int index);

  int* const classWindows;  // read and written under the registry lock only
  std::atomic<WNDPROC> proc;
  std::atomic<LONG_PTR> userData{0};
  std::uint32_t extraWords;
  // Set while DestroyWindow runs, so that a second call from WM_DESTROY does nothing.
  bool destroying = false;

 private:
  // The extra memory: one word inline, the usual case; more words on the heap.
  union {
    std::atomic<LONG_PTR> word_;
    std::atomic<LONG_PTR>* words_;
  };
};

}  // namespace plat::detail
