#include "Platform/Messaging/Window.h"

#include <algorithm>

namespace plat::detail {

Window::Window(HWND h, WNDPROC p, std::string key, int extraBytes)
    : handle(h),
      classKey(std::move(key)),
      proc(p),
      extraWords((static_cast<std::size_t>(std::max(extraBytes, 8)) + 7) / 8),
      extra(new std::atomic<LONG_PTR>[extraWords]) {
  for (std::size_t i = 0; i < extraWords; ++i) extra[i].store(0, std::memory_order_relaxed);
}

std::atomic<LONG_PTR>* Window::Slot(int index) {
  if (index == GWLP_USERDATA) return &userData;
  if (index < 0 || index % 8 != 0) return nullptr;
  const auto word = static_cast<std::size_t>(index) / 8;
  return word < extraWords ? &extra[word] : nullptr;
}

}  // namespace plat::detail
