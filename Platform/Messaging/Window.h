// A hidden window: its procedure and extra memory.
//
// Owned by the ThreadQueue of the thread that created it. The registry keeps a pointer to
// it so that other threads can read or write the extra memory under the registry lock;
// hence the atomics.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

#include "Platform/Messages.h"

namespace plat::detail {

struct Window {
  Window(HWND h, WNDPROC p, std::string classKey, int extraBytes);

  // Resolves a SetWindowLongA/GetWindowLongA index; nullptr when out of range.
  std::atomic<LONG_PTR>* Slot(int index);

  const HWND handle;
  const std::string classKey;  // lower-case class name
  std::atomic<WNDPROC> proc;
  std::atomic<LONG_PTR> userData{0};
  std::size_t extraWords;
  std::unique_ptr<std::atomic<LONG_PTR>[]> extra;
  // Set while DestroyWindow runs, so that a second call from WM_DESTROY does nothing.
  bool destroying = false;
};

}  // namespace plat::detail
