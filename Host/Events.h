// Firing a component's events so that a handler may destroy the component.
//
// A handler may free the component that fired it (or close it, or start a nested wait in
// which it is freed). The code after the call must then touch nothing of the component,
// and the handler itself, with everything its lambda captured, must outlive the call.
//
//   void TMySocket::TriggerDataAvailable(int Error) {
//     if (!FireEvent(*this, OnDataAvailable, this, Error)) return;  // gone
//     ...                                                           // still alive
//   }
//
// TAliveGuard is what FireEvent rests on; a method that runs several handlers, or a nested
// wait, keeps one on its stack and asks Gone() after each.
#pragma once

#include <cstddef>
#include <functional>
#include <utility>

#include "Host/Component.h"
#include "Platform/Export.h"

// Tells whether a component was destroyed while the guard lived. Lives on the stack only:
// it links itself into the component's list of guards (no allocation), and the component's
// destructor marks every guard in that list as gone.
class ORV_API TAliveGuard {
 public:
#pragma GCC diagnostic push
// The guard unlinks itself in its destructor, so the stored stack address never dangles.
#pragma GCC diagnostic ignored "-Wdangling-pointer"
  explicit TAliveGuard(TComponent& Component) noexcept
      : FComponent(&Component), FNext(Component.FAliveGuards) {
    Component.FAliveGuards = this;
  }
#pragma GCC diagnostic pop
  ~TAliveGuard() {
    if (FComponent == nullptr) return;
    // Guards end in the reverse order of their start, so this is almost always the head.
    TAliveGuard** link = &FComponent->FAliveGuards;
    while (*link != nullptr && *link != this) link = &(*link)->FNext;
    if (*link == this) *link = FNext;
  }
  TAliveGuard(const TAliveGuard&) = delete;
  TAliveGuard& operator=(const TAliveGuard&) = delete;
  static void* operator new(std::size_t) = delete;
  static void* operator new[](std::size_t) = delete;

  // The component has been destroyed: touch nothing of it any more.
  bool Gone() const noexcept {
    return FComponent == nullptr;
  }
  // The component watched; null once it is gone.
  TComponent* Component() const noexcept {
    return FComponent;
  }

 private:
  friend class TComponent;
  TComponent* FComponent;
  TAliveGuard* FNext;
};

// Calls Event with Arguments when it is assigned. The call goes through a local copy, so
// the handler and what it captured live until it returns even when it frees Self (and
// with it the event member). Answers whether Self is still alive afterwards; an error
// raised by the handler passes to the caller. Firing an unassigned event answers true.
template <class... Params, class... Args>
[[nodiscard]] bool FireEvent(TComponent& Self, const std::function<void(Params...)>& Event,
                             Args&&... Arguments) {
  if (!Event) return true;
  TAliveGuard guard(Self);
  const std::function<void(Params...)> handler(Event);
  handler(std::forward<Args>(Arguments)...);
  return !guard.Gone();
}
