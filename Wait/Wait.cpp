#include "Wait/Wait.h"

#include <algorithm>
#include <exception>
#include <limits>

#include "Host/Application.h"
#include "Host/Events.h"
#include "Host/Font.h"
#include "Host/Graphics.h"
#include "Host/MessagePump.h"
#include "Host/Published.h"
#include "Host/SysUtils.h"
#include "Host/Timer.h"
#include "Host/UIBackend.h"

namespace {

// Blanks (code 32 only) skipped, then decimal digits up to the first other character;
// no digits give 0. There is no sign. A number beyond 32 bits stops at the largest
// count rather than wrapping into a negative or small one.
std::int32_t ParseLeadingNumber(const std::string& Text) {
  size_t i = 0;
  while (i < Text.size() && Text[i] == ' ') ++i;
  std::int64_t value = 0;
  constexpr std::int64_t max = std::numeric_limits<std::int32_t>::max();
  for (; i < Text.size() && Text[i] >= '0' && Text[i] <= '9'; ++i)
    value = std::min(max, value * 10 + (Text[i] - '0'));
  return static_cast<std::int32_t>(value);
}

// Puts the application's previous message hook back on every way out of a modal wait.
class THookSwap {
 public:
  using THook = std::function<void(plat::MSG&, bool&)>;
  THookSwap(TApplication& App, THook Hook) : FApp(App), FSaved(App.OnMessage) {
    FApp.OnMessage = std::move(Hook);
  }
  ~THookSwap() { FApp.OnMessage = std::move(FSaved); }
  THookSwap(const THookSwap&) = delete;
  THookSwap& operator=(const THookSwap&) = delete;

 private:
  TApplication& FApp;
  THook FSaved;
};

}  // namespace

TCustomWait::TCustomWait(TComponent* AOwner) : TCustomControl(AOwner), FCaption("60") {
  SetBounds(Left(), Top(), 192, 32);
  FFillBrush = std::make_unique<TBrush>();
  FFramePen = std::make_unique<TPen>();
  FTextFont = std::make_unique<TFont>();
  FTextFont->SetSize(8);
  FTextFont->SetName("Courier");
  FTextFont->SetPitch(fpFixed);
  FTickTimer = new TTimer(this);
  FTickTimer->SetSubComponent(true);
  FTickTimer->SetEnabled(false);
  FTickTimer->OnTimer = [this](TObject* Sender) { TimerEvent(Sender); };
}

TCustomWait::~TCustomWait() {
  delete FTickTimer;
}

std::uint16_t TCustomWait::Interval() const {
  return static_cast<std::uint16_t>(FTickTimer->Interval() & 0xFFFF);
}

void TCustomWait::SetInterval(std::uint16_t Value) {
  FTickTimer->SetInterval(Value);
}

bool TCustomWait::Running() const {
  return FTickTimer->Enabled();
}

void TCustomWait::Start() {
  FInitialCount = ParseLeadingNumber(FCaption);
  if (FInitialCount == 0) {
    FInitialCount = 15;
    FCaption = "15";
  }
  FTickTimer->SetEnabled(true);
  TriggerWaitStart();
}

void TCustomWait::Stop() {
  FModalResult = mrOk;
  EndCountDown();
  TriggerWaitStop();
}

void TCustomWait::Restart() {
  FCaption = IntToStr(FInitialCount);
}

void TCustomWait::TimerEvent(TObject*) {
  TAliveGuard guard(*this);
  const bool wasRunning = Running();
  const std::int32_t count = ParseLeadingNumber(FCaption) - 1;
  // The tick is completed even when the handler raises; otherwise a handler that raises
  // on every tick would keep the count where it is and a modal wait would never end.
  std::exception_ptr handlerError;
  try {
    TriggerWait(count);
  } catch (...) {
    handlerError = std::current_exception();
  }
  if (guard.Gone()) {
    if (handlerError) std::rethrow_exception(handlerError);
    return;
  }
  // A handler that stopped the count-down has already restored Caption and set the
  // outcome; writing the count or timing out now would undo that.
  const bool stoppedByHandler = wasRunning && !Running();
  if (!stoppedByHandler) {
    if (count > 0) {
      FCaption = IntToStr(count);
    } else {
      EndCountDown();
      FModalResult = mrCancel;
      TriggerTimeout();
      if (guard.Gone()) return;
    }
  }
  Invalidate();
  if (handlerError) std::rethrow_exception(handlerError);
}

void TCustomWait::StartModal() {
  TApplication& app = *Application;
  TAliveGuard guard(*this);
  const bool wasTerminated = app.Terminated();
  // The hook is back in place (by swap) before guard ends.
  THookSwap swap(app, [this, &guard](plat::MSG& Msg, bool& Handled) {
    if (!guard.Gone()) AppMessage(Msg, Handled);
  });
  TMessagePump pump(app);
  FModalResult = mrNone;
  try {
    Start();
    while (!guard.Gone() && Running()) {
      if (app.Terminated() || pump.Ended()) {
        EndCountDown();
        FModalResult = mrCancel;
        // A quit taken by a loop that a handler ran must still reach the loops outside;
        // the pump posts again the one it takes itself.
        if (app.Terminated() && !wasTerminated && !pump.QuitSeen())
          plat::PostQuitMessage(app.ExitCode());
        break;
      }
      TriggerWaiting();
      if (guard.Gone()) break;
      // Without an OnWaiting handler nobody can tell the passes apart: wait for the next
      // message (a tick comes within Interval) instead of keeping the processor busy.
      if (OnWaiting)
        pump.PumpPending();
      else
        pump.PumpOne(true);
    }
  } catch (...) {
    // The caller gets the error and no wait is left counting behind its back.
    if (!guard.Gone()) EndCountDown();
    throw;
  }
}

void TCustomWait::EndCountDown() {
  FTickTimer->SetEnabled(false);
  FCaption = IntToStr(FInitialCount);
}

void TCustomWait::AppMessage(plat::MSG& Msg, bool& Handled) {
  switch (Msg.message) {
    case plat::WM_LBUTTONDOWN:
    case plat::WM_LBUTTONDBLCLK:
    case plat::WM_RBUTTONDOWN:
    case plat::WM_RBUTTONDBLCLK:
    case plat::WM_KEYDOWN:
    case plat::WM_SYSKEYDOWN:
      MessageBeep(0);
      Handled = true;
      break;
    default:
      break;
  }
}

void TCustomWait::Paint() {
  const std::int32_t count = ParseLeadingNumber(FCaption);
  // 64 bits: a large count times the width would overflow. A count above InitialCount
  // (Caption set by hand) cannot draw the bar beyond the frame.
  const std::int64_t inner = std::max(0, Width() - 7);
  const std::int64_t bar = std::clamp<std::int64_t>(inner * count / FInitialCount, 0, inner);
  TCanvas& c = *Canvas();
  c.SetPen(FFramePen.get());
  c.SetFont(FTextFont.get());
  c.SetBrush(FFillBrush.get());
  c.Brush()->SetColor(clWhite);
  c.Rectangle(0, 0, Width() - 1, Height() - 1);
  c.Brush()->SetColor(clHighlight);
  c.Rectangle(3, 3, static_cast<int>(bar) + 3, Height() - 4);
  c.TextOut(4, Height() / 2 - 8, FCaption);
}

// Each handler may free the control; nothing of it is touched after the call.
void TCustomWait::TriggerWait(std::int32_t Count) {
  (void)FireEvent(*this, OnWait, this, Count);
}

void TCustomWait::TriggerWaiting() {
  (void)FireEvent(*this, OnWaiting, this);
}

void TCustomWait::TriggerWaitStart() {
  (void)FireEvent(*this, OnWaitStart, this);
}

void TCustomWait::TriggerWaitStop() {
  (void)FireEvent(*this, OnWaitStop, this);
}

void TCustomWait::TriggerTimeout() {
  (void)FireEvent(*this, OnTimeout, this);
}

const TPublishedClass* TWait::Published() const {
  return &PublishedClass();
}

const TPublishedClass& TWait::PublishedClass() {
  static const TPublishedClass* publishedClass = [] {
    auto* c = new TPublishedClass("TWait", &TControl::PublishedClass(),
                                  [](TComponent* AOwner) { return new TWait(AOwner); });
    TPublish<TWait>(*c)
        .String("Caption", &TWait::Caption, &TWait::SetCaption)
        .Integer("ModalResult", &TWait::ModalResult, &TWait::SetModalResult)
        .Default(mrNone)
        .Integer("Interval", &TWait::Interval, &TWait::SetInterval)
        .Default(1000)
        .Event("OnWait", "TWaitEvent")
        .Event("OnWaiting", "TNotifyEvent")
        .Event("OnWaitStart", "TNotifyEvent")
        .Event("OnWaitStop", "TNotifyEvent")
        .Event("OnTimeout", "TNotifyEvent")
        .Boolean("Running", &TWait::Running)
        .NotStored()
        .Boolean("Visible", &TWait::Visible, &TWait::SetVisible)
        .Default(true);
    RegisterClass(c);
    return c;
  }();
  return *publishedClass;
}

namespace {
// Form files may name TWait as soon as the unit is linked in.
[[maybe_unused]] const TPublishedClass& WaitClassRegistration = TWait::PublishedClass();
}  // namespace
