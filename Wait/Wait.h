// A small control that counts timer ticks down, draws what is left as a shrinking bar
// with the number written on it, and can hold its caller in a modal wait: a nested message
// loop that keeps the application alive but refuses clicks and key presses (with a beep)
// until the count-down runs out or somebody stops it.
//
// User-interface thread only. Handlers of OnWait, OnTimeout and every message dispatched
// during StartModal run inside StartModal, and may call Stop, Start or even free the
// control.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Host/Controls.h"
#include "Host/WaitControl.h"
#include "Platform/Export.h"
#include "Platform/Messages.h"

class TBrush;
class TFont;
class TPen;
class TTimer;

using TWaitEvent = std::function<void(TObject* Sender, std::int32_t Count)>;

class ORV_API TCustomWait : public TCustomControl, public TWaitControl {
 public:
  // 192 x 32, counting 60 ticks of the timer's default interval; not running.
  explicit TCustomWait(TComponent* AOwner);
  ~TCustomWait() override;
  std::string ClassName() const override { return "TCustomWait"; }

  // The remaining count as decimal text. This is the control's own text, not the
  // framework's; setting it does not repaint.
  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& Value) { FCaption = Value; }
  // 0 while a modal wait runs, mrOk after Stop, mrCancel after a time-out.
  TModalResult ModalResult() const { return FModalResult; }
  void SetModalResult(TModalResult Value) { FModalResult = Value; }
  // Milliseconds per tick (the low 16 bits of the tick timer's interval).
  std::uint16_t Interval() const;
  void SetInterval(std::uint16_t Value);
  // Whether the count-down runs (the tick timer is enabled).
  bool Running() const override;
  // The count taken by the last Start; never 0.
  std::int32_t InitialCount() const { return FInitialCount; }

  // Counts down from the number that Caption starts with (15 when there is none).
  void Start() override;
  // Ends the count-down with mrOk and puts Caption back to InitialCount.
  void Stop() override;
  // Starts and handles the application's messages until the count-down ends. Clicks and
  // key presses are dropped with a beep meanwhile; the application's previous message hook
  // is back in place on return, whichever way it returns. A quit message ends the wait
  // with mrCancel and stays visible to the loops outside; an error from OnWaitStart or
  // OnWaiting ends the count-down and passes on to the caller.
  void StartModal() override;
  // Puts Caption back to InitialCount; a running count-down starts over.
  virtual void Restart();

  void Paint() override;

  // As the socket's wait control: Caption set to Count, then shown; hidden.
  TComponent& WaitComponent() noexcept override { return *this; }
  void ShowWait(const std::string& Count) override {
    SetCaption(Count);
    SetVisible(true);
  }
  void HideWait() override { SetVisible(false); }

  // One tick of the timer.
  void TimerEvent(TObject* Sender);
  // The application's message hook while StartModal runs.
  void AppMessage(plat::MSG& Msg, bool& Handled);

  // With the new remaining count, on every tick, before Caption shows it.
  TWaitEvent OnWait;
  // On every pass of StartModal's loop. When assigned the loop never waits for messages
  // (so it is called continuously); otherwise each pass waits for the next one.
  TNotifyEvent OnWaiting;
  TNotifyEvent OnWaitStart;
  TNotifyEvent OnWaitStop;
  TNotifyEvent OnTimeout;

 protected:
  virtual void TriggerWait(std::int32_t Count);
  virtual void TriggerWaiting();
  virtual void TriggerWaitStart();
  virtual void TriggerWaitStop();
  virtual void TriggerTimeout();

 private:
  // Stops the timer and puts Caption back, with no event and the outcome left alone.
  void EndCountDown();

  std::unique_ptr<TPen> FFramePen;
  std::unique_ptr<TFont> FTextFont;
  std::unique_ptr<TBrush> FFillBrush;
  std::string FCaption;
  TTimer* FTickTimer;  // owned (as a component, too)
  TModalResult FModalResult = mrNone;
  std::int32_t FInitialCount = 60;
};

class ORV_API TWait : public TCustomWait {
 public:
  using TCustomWait::TCustomWait;
  std::string ClassName() const override { return "TWait"; }
  const TPublishedClass* Published() const override;
  static const TPublishedClass& PublishedClass();
};
