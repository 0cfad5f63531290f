// A hidden window: its procedure and extra memory.
//
// Owned by the ThreadQueue of the thread that created it. The registry keeps a pointer to
// it so that other threads can read or write the extra memory under the registry lock;
// hence the atomics. A server keeps one per connection, so it is one allocation of a few
// words: the usual extra memory (a component pointer) sits inside it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "Platform/Messages.h"

namespace plat::detail {

class ThreadQueue;

struct Window {
  Window(HWND h, WNDPROC p, ThreadQueue* owner, int extraBytes);

  // Resolves a SetWindowLongA/GetWindowLongA index; nullptr when out of range.
  std::atomic<LONG_PTR>* Slot(int index);

  const HWND handle;
  ThreadQueue* const owner;  // outlives the window
  std::atomic<WNDPROC> proc;
  std::atomic<LONG_PTR> userData{0};
  std::uint32_t extraWords;
  // Set while DestroyWindow runs, so that a second call from WM_DESTROY does nothing.
  bool destroying = false;
  static constexpr std::size_t kInlineWords = 2;
  std::atomic<LONG_PTR> extra[kInlineWords];
  // Words beyond the inline ones, for classes that ask for more extra memory.
  std::unique_ptr<std::atomic<LONG_PTR>[]> moreExtra;
};

}  // namespace plat::detail
