#include "Platform/Messaging/Window.h"

#include <algorithm>

namespace plat::detail {

Window::Window(WNDPROC p, int extraBytes, int* classCount)
    : classWindows(classCount),
      proc(p),
      extraWords(static_cast<std::uint32_t>((std::max(extraBytes, 8) + 7) / 8)),
      word_(0) {
  if (extraWords > 1) {
    words_ = new std::atomic<LONG_PTR>[extraWords];
    for (std::size_t i = 0; i < extraWords; ++i) words_[i].store(0, std::memory_order_relaxed);
  }
}

Window::~Window() {
  if (extraWords > 1) delete[] words_;
}

std::atomic<LONG_PTR>* Window::Slot(int index) {
  if (index == GWLP_USERDATA) return &userData;
  if (index < 0 || index % 8 != 0) return nullptr;
  const auto word = static_cast<std::size_t>(index) / 8;
  if (word >= extraWords) return nullptr;
  return extraWords > 1 ? &words_[word] : &word_;
}

}  // namespace plat::detail
