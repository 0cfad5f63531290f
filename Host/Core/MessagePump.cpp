#include "Host/MessagePump.h"

#include <algorithm>
#include <climits>

#include "Host/Application.h"

TDeadline TDeadline::InMs(std::int64_t Ms) noexcept {
  TDeadline Result;
  Result.FNever = false;
  Result.FEnd =
      plat::GetTickCount() + static_cast<plat::DWORD>(std::clamp<std::int64_t>(Ms, 0, INT32_MAX));
  return Result;
}

std::int32_t TDeadline::LeftMs() const noexcept {
  if (FNever) return INT32_MAX;
  return std::max(0, static_cast<std::int32_t>(FEnd - plat::GetTickCount()));
}

TMessagePump::TMessagePump(TApplication& App, TPumpOptions Options) noexcept
    : FOptions(Options), FApp(&App) {
  FAppGuard.emplace(App);
}

void TMessagePump::SleepForMessage(std::uint32_t Ms) {
  // A thread timer bounds the sleep. It is killed before anything is taken from the
  // queue, so its message never shows up.
  const std::uintptr_t Id =
      plat::SetTimer(0, 0, std::clamp<std::uint32_t>(Ms, 1, plat::USER_TIMER_MAXIMUM), nullptr);
  plat::WaitMessage();
  if (Id != 0) plat::KillTimer(0, Id);
}

void TMessagePump::Idle(const TDeadline& Deadline, std::uint32_t RecheckMs) {
  if (Deadline.IsNever() && RecheckMs == 0) {
    plat::WaitMessage();
    return;
  }
  std::uint32_t Bound = static_cast<std::uint32_t>(Deadline.LeftMs());
  if (RecheckMs != 0) Bound = std::min(Bound, RecheckMs);
  if (Bound > 0) SleepForMessage(Bound);
}

void TMessagePump::TakeQuit(const plat::MSG& Msg) {
  FQuitSeen = true;
  FEnded = true;
  FQuitCode = static_cast<int>(Msg.wParam);
  if (FApp != nullptr) FApp->Quit(Msg);
  // The loops outside must end too.
  if (!FOptions.Outermost) plat::PostQuitMessage(FQuitCode);
}

// On the path of every message: kept inline in both callers.
[[gnu::always_inline]] inline void TMessagePump::Handle(plat::MSG& Msg) {
  // Most messages meet no hook: the check here spares them a virtual call.
  if (FApp != nullptr && FApp->OnMessage) {
    bool Handled = false;
    try {
      FApp->TriggerMessage(Msg, Handled);
    } catch (...) {
      // The message whose hook failed is not dispatched.
      if (!FOptions.HandleErrors) {
        NoteAppGone();
        throw;
      }
      if (!FAppGuard->Gone()) FApp->HandleException(FApp);
      Handled = true;
    }
    if (NoteAppGone() || Handled) return;
  }
  plat::TranslateMessage(&Msg);
  plat::DispatchMessageA(&Msg);
  NoteAppGone();
}

TPumped TMessagePump::PumpOne(bool Wait) {
  if (FEnded) return TPumped::Ended;
  plat::MSG Msg{};
  if (Wait) {
    const plat::BOOL Got = plat::GetMessageA(&Msg, 0, 0, 0);
    if (Got < 0) {
      // The thread has no usable queue (it is ending): waiting on would only spin.
      FEnded = true;
      return TPumped::Ended;
    }
    if (Got == 0) {
      TakeQuit(Msg);
      return TPumped::Ended;
    }
  } else {
    if (!plat::PeekMessageA(&Msg, 0, 0, 0, plat::PM_REMOVE)) return TPumped::Nothing;
    if (Msg.message == plat::WM_QUIT) {
      TakeQuit(Msg);
      return TPumped::Ended;
    }
  }
  Handle(Msg);
  return TPumped::Dispatched;
}

TPumped TMessagePump::PumpPending() {
  if (FEnded) return TPumped::Ended;
  TPumped Result = TPumped::Nothing;
  plat::MSG Msg;
  while (plat::PeekMessageA(&Msg, 0, 0, 0, plat::PM_REMOVE)) {
    if (Msg.message == plat::WM_QUIT) {
      TakeQuit(Msg);
      return TPumped::Ended;
    }
    Handle(Msg);
    if (FEnded) return TPumped::Ended;
    Result = TPumped::Dispatched;
  }
  return Result;
}
