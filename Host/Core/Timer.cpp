#include "Host/Timer.h"

#include "Host/Events.h"
#include "Host/HiddenWindow.h"
#include "Host/SysUtils.h"

namespace {

constexpr const char* TimerWindowClass = "HostTimerWindow";
constexpr std::uintptr_t TimerId = 1;

}  // namespace

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) {
  FWindowHandle = CreateHiddenWindow(TimerWindowClass, &TTimer::WndProc, this);
  if (!FWindowHandle) throw Exception("Cannot create the window of a timer");
  try {
    UpdateTimer();
  } catch (...) {
    plat::DestroyWindow(FWindowHandle);
    throw;
  }
}

TTimer::~TTimer() {
  // Destroying the window kills its timer and drops a tick that is already queued.
  plat::SetWindowLongA(FWindowHandle, 0, 0);
  plat::DestroyWindow(FWindowHandle);
}

void TTimer::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  FEnabled = Value;
  UpdateTimer();
}

void TTimer::SetInterval(std::uint32_t Value) {
  if (Value == FInterval) return;
  FInterval = Value;
  UpdateTimer();
}

void TTimer::UpdateTimer() {
  plat::KillTimer(FWindowHandle, TimerId);
  if (!FEnabled || FInterval == 0) return;
  if (!plat::SetTimer(FWindowHandle, TimerId, FInterval, nullptr))
    throw Exception("Not enough timers available");
}

void TTimer::TriggerTimer() {
  (void)FireEvent(*this, OnTimer, this);
}

plat::LRESULT TTimer::WndProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam,
                              plat::LPARAM lParam) {
  auto* self = reinterpret_cast<TTimer*>(plat::GetWindowLongA(hwnd, 0));
  if (!self || msg != plat::WM_TIMER || wParam != TimerId)
    return plat::DefWindowProcA(hwnd, msg, wParam, lParam);
  // A tick that was queued just before the timer was disabled is dropped.
  if (self->FEnabled) self->TriggerTimer();
  return 0;
}
