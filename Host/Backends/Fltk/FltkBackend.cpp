#include "Host/FltkBackend.h"

#include <FL/Fl.H>
#include <FL/x.H>
#include <sys/epoll.h>

#include <algorithm>
#include <cstdlib>

#include "Host/Backends/Fltk/FltkParts.h"
#include "Host/Backends/FormReading.h"
#include "Host/Forms.h"
#include "Host/HiddenWindow.h"
#include "Platform/Reactor.h"

namespace fltkparts {
TFltkBackend* GBackend = nullptr;
}  // namespace fltkparts

using namespace fltkparts;

namespace {

// Posted to the back-end's window when the display has something for FLTK.
constexpr plat::UINT CM_PUMP = plat::WM_USER + 0x0C00;
constexpr std::uintptr_t PumpTimer = 1;
// FLTK's own timers (scroll-bar repeat, menus) get no descriptor: a slow tick serves them.
constexpr plat::UINT PumpTimerMs = 100;

plat::LRESULT BackendWndProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam,
                             plat::LPARAM lParam) {
  if (msg == CM_PUMP || (msg == plat::WM_TIMER && wParam == PumpTimer)) {
    if (auto* self = reinterpret_cast<TFltkBackend*>(plat::GetWindowLongA(hwnd, 0))) self->Pump();
    return 0;
  }
  return plat::DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace

TFltkBackend::TFltkBackend()
    : FWatch(std::make_unique<TFreeWatch>([this](TComponent* C) { ComponentDestroyed(C); })) {
  GBackend = this;
}

TFltkBackend::~TFltkBackend() {
  for (auto& shown : FForms) {
    for (auto& [c, w] : shown->Widgets) c->RemoveFreeNotification(FWatch.get());
    shown->Form->RemoveFreeNotification(FWatch.get());
  }
  FForms.clear();
  if (FFd >= 0) plat::reactor::Remove(FFd);
  if (FWindow) plat::DestroyWindow(FWindow);
  if (GBackend == this) GBackend = nullptr;
}

bool TFltkBackend::Open() {
  if (FOpened) return true;
  if (!fl_display) {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == 0) return false;
    // FLTK's own opening ends the program when the display refuses.
    Display* d = XOpenDisplay(nullptr);
    if (d == nullptr) return false;
    fl_open_display(d);
    Fl::scheme("gtk+");
  }
  FWindow = CreateHiddenWindow("TFltkBackendWindow", &BackendWndProc, this);
  if (!FWindow) return false;
  FFd = ConnectionNumber(fl_display);
  if (!plat::reactor::Watch(FFd, EPOLLIN, [this](std::uint32_t) { RequestPump(); })) {
    FFd = -1;
    plat::DestroyWindow(FWindow);
    FWindow = 0;
    return false;
  }
  FOpened = true;
  return true;
}

void TFltkBackend::RequestPump() {
  if (FPumpQueued || !FWindow) return;
  FPumpQueued = plat::PostMessageA(FWindow, CM_PUMP, 0, 0);
}

void TFltkBackend::UpdateTimer() {
  const bool want = FWindow && (!FForms.empty() || FDialogs > 0);
  if (want == FTimerOn) return;
  FTimerOn = want;
  if (want)
    plat::SetTimer(FWindow, PumpTimer, PumpTimerMs, nullptr);
  else
    plat::KillTimer(FWindow, PumpTimer);
}

void TFltkBackend::Pump() {
  FPumpQueued = false;
  if (FInFltk || !FOpened) return;
  FInFltk = true;
  Fl::check();
  FInFltk = false;
  // The innermost modal window goes above the windows it blocks once it is up, whatever
  // was raised meanwhile (there may be no window manager to keep it there).
  if (FRaiseDue && !FModal.empty() && FModal.back()->shown()) {
    FRaiseDue = false;
    XRaiseWindow(fl_display, fl_xid(FModal.back()));
    XFlush(fl_display);
  }
  while (!FActions.empty()) {
    std::function<void()> action = std::move(FActions.front());
    FActions.pop_front();
    try {
      action();
    } catch (...) {
      // The error goes to the loop's handler; the actions behind it still run.
      if (!FActions.empty()) RequestPump();
      throw;
    }
  }
}

void TFltkBackend::Defer(std::function<void()> Action) {
  FActions.push_back(std::move(Action));
  RequestPump();
}

bool TFltkBackend::Shows(const TCustomForm* Form) {
  return Find(Form) != nullptr;
}

TFltkBackend::TShownForm* TFltkBackend::Find(const TCustomForm* Form) {
  for (auto& s : FForms)
    if (s->Form == Form) return s.get();
  return nullptr;
}

TFltkBackend::TShownForm* TFltkBackend::FindOwner(const TControl* Control) {
  for (auto& s : FForms)
    if (s->WidgetOf(Control)) return s.get();
  return nullptr;
}

// Only the innermost modal window is modal to FLTK: with several, FLTK would take the one
// last clicked for the modal one and raise it over the windows nested in it.
void TFltkBackend::PushModal(Fl_Window& Win) {
  if (!FModal.empty()) FModal.back()->clear_modal_states();
  Win.set_modal();
  FModal.push_back(&Win);
  FRaiseDue = true;
  // FLTK keeps the window that takes the clicks apart from the flags: it must follow.
  Fl::modal_ = &Win;
}

void TFltkBackend::PopModal(Fl_Window* Win) {
  if (Win == nullptr) return;
  const auto it = std::find(FModal.begin(), FModal.end(), Win);
  if (it == FModal.end()) return;
  const bool wasTop = it + 1 == FModal.end();
  FModal.erase(it);
  Win->clear_modal_states();
  if (wasTop && !FModal.empty()) FModal.back()->set_modal();
  FRaiseDue = wasTop && !FModal.empty();
  if (Fl::modal_ == Win) Fl::modal_ = FModal.empty() ? nullptr : FModal.back();
}

// ---- leak suppressions ----
// Here, in the file every program with windows links: alone in a file of its own, nothing
// would pull it out of the static library. The font and display caches of the system's
// libraries live until the process ends and are theirs to keep; the display connection
// itself stays open to the end on purpose. Visible, or the sanitizer's run-time, which
// looks the function up by name, would not find it in a build with hidden symbols.
#if defined(__SANITIZE_ADDRESS__)
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libXft.so\nleak:libX11.so\n";
}
#endif
