// A component that fires OnTimer every Interval milliseconds while it is enabled.
//
// The ticks are WM_TIMER messages of a hidden window that the timer owns, so they arrive
// through the message loop of the thread that created the timer, and only while that
// loop runs. Ticks never pile up: a loop that was busy gets one tick, not many.
#pragma once

#include <cstdint>
#include <string>

#include "Host/Component.h"
#include "Platform/Export.h"
#include "Platform/Messages.h"

class ORV_API TTimer : public TComponent {
 public:
  // Enabled, with an interval of 1000 ms.
  explicit TTimer(TComponent* AOwner);
  ~TTimer() override;
  std::string ClassName() const override { return "TTimer"; }

  bool Enabled() const { return FEnabled; }
  // Enabling a timer that already runs changes nothing (its next tick stays due).
  void SetEnabled(bool Value);
  // 0 keeps the timer from ticking, enabled or not. Setting a new value starts the
  // interval over.
  std::uint32_t Interval() const { return FInterval; }
  void SetInterval(std::uint32_t Value);

  TNotifyEvent OnTimer;

 protected:
  // One tick: fires OnTimer when assigned (the handler may free the timer).
  virtual void TriggerTimer();

 private:
  static plat::LRESULT WndProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam,
                               plat::LPARAM lParam);
  void UpdateTimer();

  plat::HWND FWindowHandle = 0;
  std::uint32_t FInterval = 1000;
  bool FEnabled = true;
};
