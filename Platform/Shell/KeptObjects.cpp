#include "Platform/KeptObjects.h"

#include <dlfcn.h>

#include <atomic>

namespace plat {

namespace {

struct KeptNode {
  KeptNode* next;
  void* object;
  void (*destroy)(void*);
};

// Constant-initialised, so usable from any other static initialiser.
std::atomic<KeptNode*> gKept{nullptr};
std::atomic<bool> gFreeAtUnload{false};
std::atomic<bool> gPinned{false};

struct Teardown {
  Teardown() = default;
  Teardown(const Teardown&) = delete;
  Teardown& operator=(const Teardown&) = delete;
  // Made before every other static object of the library, so it is torn down after all
  // of them: nothing that runs later can reach a freed object.
  ~Teardown() {
    if (!gFreeAtUnload.load() || gPinned.load()) return;
    // Newest first: an object kept later may refer to one kept earlier.
    KeptNode* node = gKept.exchange(nullptr);
    while (node != nullptr) {
      KeptNode* next = node->next;
      node->destroy(node->object);
      delete node;
      node = next;
    }
  }
};
__attribute__((init_priority(101))) Teardown gTeardown;

}  // namespace

void detail::KeepObject(void* object, void (*destroy)(void*)) {
  auto* node = new KeptNode{gKept.load(), object, destroy};
  while (!gKept.compare_exchange_weak(node->next, node)) {
  }
}

void KeepModuleLoaded() {
  if (gPinned.exchange(true)) return;
  Dl_info info{};
  // The handle is never closed: that is the point. In a program linked without the
  // package library the look-up finds no library to pin, which is as good.
  if (::dladdr(reinterpret_cast<void*>(&KeepModuleLoaded), &info) != 0 && info.dli_fname != nullptr)
    ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

void FreeKeptObjectsAtUnload() {
  gFreeAtUnload.store(true);
}

}  // namespace plat
