#include "Platform/Messaging/Window.h"

#include <algorithm>

namespace plat::detail {

Window::Window(HWND h, WNDPROC p, ThreadQueue* q, int extraBytes)
    : handle(h),
      owner(q),
      proc(p),
      extraWords(static_cast<std::uint32_t>((std::max(extraBytes, 8) + 7) / 8)) {
  for (auto& word : extra) word.store(0, std::memory_order_relaxed);
  if (extraWords > kInlineWords) {
    const std::size_t more = extraWords - kInlineWords;
    moreExtra.reset(new std::atomic<LONG_PTR>[more]);
    for (std::size_t i = 0; i < more; ++i) moreExtra[i].store(0, std::memory_order_relaxed);
  }
}

std::atomic<LONG_PTR>* Window::Slot(int index) {
  if (index == GWLP_USERDATA) return &userData;
  if (index < 0 || index % 8 != 0) return nullptr;
  const auto word = static_cast<std::size_t>(index) / 8;
  if (word >= extraWords) return nullptr;
  return word < kInlineWords ? &extra[word] : &moreExtra[word - kInlineWords];
}

}  // namespace plat::detail
