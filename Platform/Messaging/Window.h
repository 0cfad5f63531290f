// A hidden window: its procedure and extra memory.
//
// Owned by the ThreadQueue of the thread that created it, in the node of its table of
// windows; other threads reach it there under the registry lock (the handle names the
// queue) to read or write the extra memory, hence the atomics. A server keeps one per
// connection, so it is three words: the usual extra memory (a component pointer) sits
// inside it; GWLP_USERDATA, which few windows use, is kept by the registry.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "Platform/Messages.h"

namespace plat::detail {

struct Window {
  // classId: the registry's number for the window's class, which counts its windows.
  Window(WNDPROC p, int extraBytes, std::uint32_t classId);
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Resolves an extra memory offset of SetWindowLongA/GetWindowLongA; nullptr when out of
  // range.
  // Every message a socket's window receives reads its slot: kept inline.
  std::atomic<LONG_PTR>* Slot(int index) {
    if (index < 0 || index % 8 != 0) return nullptr;
    const auto word = static_cast<std::size_t>(index) / 8;
    if (word >= extraWords) return nullptr;
    return extraWords > 1 ? &block_[word] : &word_;
  }

  std::atomic<WNDPROC> proc;
  const std::uint32_t classId;
  const std::uint16_t extraWords;
  // Set while DestroyWindow runs, so that a second call from WM_DESTROY does nothing.
  bool destroying = false;

 private:
  // The extra memory: one word inline, the usual case, or a block for a class that asks
  // for more (extraWords > 1).
  union {
    std::atomic<LONG_PTR> word_;
    std::atomic<LONG_PTR>* block_;
  };
};
static_assert(sizeof(Window) == 24);

}  // namespace plat::detail
