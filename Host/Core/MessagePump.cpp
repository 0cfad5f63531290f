#include "Host/MessagePump.h"

#include <algorithm>
#include <climits>

TDeadline TDeadline::InMs(std::int64_t Ms) noexcept {
  TDeadline result;
  result.FNever = false;
  result.FEnd =
      plat::GetTickCount() + static_cast<plat::DWORD>(std::clamp<std::int64_t>(Ms, 0, INT32_MAX));
  return result;
}

std::int32_t TDeadline::LeftMs() const noexcept {
  if (FNever) return INT32_MAX;
  return std::max(0, static_cast<std::int32_t>(FEnd - plat::GetTickCount()));
}

TMessagePump::TMessagePump(TMessageFilter& Filter, TPumpOptions Options) noexcept
    : TMessagePump(&Filter, Options) {}

TMessagePump::TMessagePump(TMessageFilter* Filter, TPumpOptions Options) noexcept
    : FOptions(Options), FFilter(Filter) {
  if (Filter != nullptr) FAppGuard.emplace(Filter->FilterOwner());
}

void TMessagePump::SleepForMessage(std::uint32_t Ms) {
  // A thread timer bounds the sleep. It is killed before anything is taken from the
  // queue, so its message never shows up.
  const std::uintptr_t id =
      plat::SetTimer(0, 0, std::clamp<std::uint32_t>(Ms, 1, plat::USER_TIMER_MAXIMUM), nullptr);
  plat::WaitMessage();
  if (id != 0) plat::KillTimer(0, id);
}

void TMessagePump::Idle(const TDeadline& Deadline, std::uint32_t RecheckMs) {
  if (Deadline.IsNever() && RecheckMs == 0) {
    plat::WaitMessage();
    return;
  }
  std::uint32_t bound = static_cast<std::uint32_t>(Deadline.LeftMs());
  if (RecheckMs != 0) bound = std::min(bound, RecheckMs);
  if (bound > 0) SleepForMessage(bound);
}

void TMessagePump::TakeQuit(const plat::MSG& Msg) {
  FQuitSeen = true;
  FEnded = true;
  FQuitCode = static_cast<int>(Msg.wParam);
  if (FFilter != nullptr) FFilter->QuitTaken(FQuitCode);
  // The loops outside must end too.
  if (!FOptions.Outermost) plat::PostQuitMessage(FQuitCode);
}

// On the path of every message: kept inline in both callers.
[[gnu::always_inline]] inline void TMessagePump::Handle(plat::MSG& Msg) {
  // Most messages meet no hook: the check here spares them a virtual call.
  if (FFilter != nullptr && FFilter->OnMessage) {
    bool handled = false;
    try {
      FFilter->TriggerMessage(Msg, handled);
    } catch (...) {
      // The message whose hook failed is not dispatched.
      if (!FOptions.HandleErrors) {
        NoteAppGone();
        throw;
      }
      if (!FAppGuard->Gone()) FFilter->FilterFailed();
      handled = true;
    }
    if (NoteAppGone() || handled) return;
  }
  plat::TranslateMessage(&Msg);
  plat::DispatchMessageA(&Msg);
  NoteAppGone();
}

TPumped TMessagePump::PumpOne(bool Wait) {
  if (FEnded) return TPumped::Ended;
  plat::MSG msg{};
  if (Wait) {
    const plat::BOOL got = plat::GetMessageA(&msg, 0, 0, 0);
    if (got < 0) {
      // The thread has no usable queue (it is ending): waiting on would only spin.
      FEnded = true;
      return TPumped::Ended;
    }
    if (got == 0) {
      TakeQuit(msg);
      return TPumped::Ended;
    }
  } else {
    if (!plat::PeekMessageA(&msg, 0, 0, 0, plat::PM_REMOVE)) return TPumped::Nothing;
    if (msg.message == plat::WM_QUIT) {
      TakeQuit(msg);
      return TPumped::Ended;
    }
  }
  Handle(msg);
  return TPumped::Dispatched;
}

TPumped TMessagePump::PumpPending() {
  if (FEnded) return TPumped::Ended;
  TPumped result = TPumped::Nothing;
  plat::MSG msg;
  while (plat::PeekMessageA(&msg, 0, 0, 0, plat::PM_REMOVE)) {
    if (msg.message == plat::WM_QUIT) {
      TakeQuit(msg);
      return TPumped::Ended;
    }
    Handle(msg);
    if (FEnded) return TPumped::Ended;
    result = TPumped::Dispatched;
  }
  return result;
}
