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

#include <atomic>
#include <cstddef>
#include <functional>
#include <type_traits>
#include <utility>

#include "Host/Component.h"

// Tells whether a component was destroyed while the guard lived. Lives on the stack only:
// it links itself into the component's list of guards (no allocation), and the component's
// destructor marks every guard in that list as gone.
class TAliveGuard {
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

// An event member for components that exist by the thousand (a server's sockets): one
// pointer while unassigned, where a std::function takes 32 bytes. Assigned like one, from
// a lambda, a function or nullptr, and tested and fired the same way. Copies share the
// handler (a reference count), so that the copy FireEvent holds costs no allocation.
template <class Signature>
class TEvent;

template <class R, class... Params>
class TEvent<R(Params...)> {
 public:
  TEvent() noexcept = default;
  TEvent(std::nullptr_t) noexcept {}
  template <class F,
            class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, TEvent> &&
                                     std::is_invocable_r_v<R, std::decay_t<F>&, Params...>>>
  TEvent(F&& Handler) {
    using Stored = std::decay_t<F>;
    // An empty std::function or a null function pointer leaves the event unassigned.
    if constexpr (std::is_constructible_v<bool, const Stored&>) {
      if (!static_cast<bool>(Handler)) return;
    }
    FHolder = new THolderOf<Stored>(std::forward<F>(Handler));
  }
  TEvent(const TEvent& Other) noexcept : FHolder(Other.FHolder) {
    if (FHolder != nullptr) FHolder->Refs.fetch_add(1, std::memory_order_relaxed);
  }
  TEvent(TEvent&& Other) noexcept : FHolder(std::exchange(Other.FHolder, nullptr)) {}
  TEvent& operator=(const TEvent& Other) noexcept {
    TEvent(Other).Swap(*this);
    return *this;
  }
  TEvent& operator=(TEvent&& Other) noexcept {
    TEvent(std::move(Other)).Swap(*this);
    return *this;
  }
  TEvent& operator=(std::nullptr_t) noexcept {
    TEvent().Swap(*this);
    return *this;
  }
  template <class F,
            class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, TEvent> &&
                                     std::is_invocable_r_v<R, std::decay_t<F>&, Params...>>>
  TEvent& operator=(F&& Handler) {
    TEvent(std::forward<F>(Handler)).Swap(*this);
    return *this;
  }
  ~TEvent() {
    if (FHolder != nullptr && FHolder->Refs.fetch_sub(1, std::memory_order_acq_rel) == 1)
      delete FHolder;
  }

  explicit operator bool() const noexcept { return FHolder != nullptr; }
  R operator()(Params... Arguments) const {
    if (FHolder == nullptr) throw std::bad_function_call();
    return FHolder->Call(std::forward<Params>(Arguments)...);
  }
  void Swap(TEvent& Other) noexcept { std::swap(FHolder, Other.FHolder); }

 private:
  struct THolder {
    virtual ~THolder() = default;
    virtual R Call(Params... Arguments) = 0;
    std::atomic<long> Refs{1};
  };
  template <class F>
  struct THolderOf final : THolder {
    template <class G>
    explicit THolderOf(G&& Source) : Handler(std::forward<G>(Source)) {}
    R Call(Params... Arguments) override {
      return std::invoke(Handler, std::forward<Params>(Arguments)...);
    }
    F Handler;
  };
  THolder* FHolder = nullptr;
};

template <class R, class... Params>
bool operator==(const TEvent<R(Params...)>& Event, std::nullptr_t) noexcept {
  return !Event;
}

// FireEvent for TEvent members: the same rules.
template <class... Params, class... Args>
[[nodiscard]] bool FireEvent(TComponent& Self, const TEvent<void(Params...)>& Event,
                             Args&&... Arguments) {
  if (!Event) return true;
  TAliveGuard guard(Self);
  const TEvent<void(Params...)> handler(Event);
  handler(std::forward<Args>(Arguments)...);
  return !guard.Gone();
}
