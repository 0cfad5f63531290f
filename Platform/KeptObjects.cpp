#include "Platform/KeptObjects.h"

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

struct Teardown {
  Teardown() = default;
  Teardown(const Teardown&) = delete;
  Teardown& operator=(const Teardown&) = delete;
  // Made before every other static object of the library, so it is torn down after all
  // of them: nothing that runs later can reach a freed object.
  ~Teardown() {
    if (!gFreeAtUnload.load()) return;
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

void FreeKeptObjectsAtUnload() {
  gFreeAtUnload.store(true);
}

}  // namespace plat
