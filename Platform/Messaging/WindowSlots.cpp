#include <algorithm>

#include "Platform/Messaging/Window.h"

namespace plat::detail {

Window::Window(WNDPROC p, int extraBytes, std::uint32_t id)
    : proc(p),
      classId(id),
      // The registry takes at most 4096 bytes of extra memory.
      extraWords(static_cast<std::uint16_t>((std::max(extraBytes, 8) + 7) / 8)),
      word_(0) {
  if (extraWords > 1) {
    block_ = new std::atomic<LONG_PTR>[extraWords];
    for (std::size_t i = 0; i < extraWords; ++i) block_[i].store(0, std::memory_order_relaxed);
  }
}

Window::~Window() {
  if (extraWords > 1) delete[] block_;
}

}  // namespace plat::detail
