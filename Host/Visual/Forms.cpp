#include "Host/Forms.h"

#include "Host/Application.h"
#include "Host/Events.h"
#include "Host/Font.h"
#include "Host/MessagePump.h"
#include "Host/Published.h"
#include "Host/Screen.h"
#include "Host/StdCtrls.h"

namespace {

// Posted to a form's own window by Release; the form frees itself when it arrives.
constexpr plat::UINT CM_RELEASE = plat::WM_USER + 0x0B00;

}  // namespace

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner) {
  SetVisible(false);
}

TCustomForm::~TCustomForm() {
  if (FModalResultSink) *FModalResultSink = FModalResult;
  if (FModal) UIBackend().FormHidden(*this);
}

TModalResult TCustomForm::ShowModal() {
  if (Visible() || FModal) throw EInvalidOperation("Cannot make a visible window modal");
  TApplication& app = *Application;
  TAliveGuard guard(*this);
  TModalResult result = mrNone;
  FModalResultSink = &result;
  const bool wasTerminated = app.Terminated();
  FModalResult = mrNone;
  if (FPosition == poScreenCenter) {
    SetLeft((Screen->Width() - Width()) / 2);
    SetTop((Screen->Height() - Height()) / 2);
  }
  FModal = true;
  Show();
  UIBackend().FormShown(*this);
  TMessagePump pump(app, {.HandleErrors = true});
  while (!guard.Gone() && FModalResult == mrNone) {
    if (app.Terminated() || pump.Ended()) {
      FModalResult = mrCancel;
      // A quit taken by a loop that a handler ran must still reach the loops outside; the
      // pump posts again the one it takes itself.
      if (app.Terminated() && !wasTerminated && !pump.QuitSeen())
        plat::PostQuitMessage(app.ExitCode());
      break;
    }
    UIBackend().ModalPass(*this);
    if (guard.Gone() || FModalResult != mrNone) break;
    pump.PumpOne(true);
  }
  if (!guard.Gone()) {
    result = FModalResult;
    FModalResultSink = nullptr;
    FModal = false;
    Hide();
    UIBackend().FormHidden(*this);
  }
  return result;
}

void TCustomForm::Close() {
  if (FModal)
    SetModalResult(mrCancel);
  else
    Hide();
}

void TCustomForm::Release() {
  if (FReleasePosted) return;
  FReleasePosted = plat::PostMessageA(Handle(), CM_RELEASE, 0, 0);
}

void TCustomForm::WndProc(TMessage& Message) {
  if (Message.Msg == CM_RELEASE) {
    Message.Result = 0;
    delete this;
    return;
  }
  TWinControl::WndProc(Message);
}

TButton* TCustomForm::DefaultButton() const {
  for (int i = 0; i < ControlCount(); ++i)
    if (auto* b = dynamic_cast<TButton*>(Controls(i)); b && b->Visible() && b->Default()) return b;
  return nullptr;
}

TButton* TCustomForm::CancelButton() const {
  for (int i = 0; i < ControlCount(); ++i)
    if (auto* b = dynamic_cast<TButton*>(Controls(i)); b && b->Visible() && b->Cancel()) return b;
  return nullptr;
}

const TPublishedClass* TForm::Published() const {
  return &PublishedClass();
}

const TPublishedClass& TForm::PublishedClass() {
  static const TPublishedClass* publishedClass = [] {
    auto* c = new TPublishedClass("TForm", &TControl::PublishedClass(),
                                  [](TComponent* AOwner) { return new TForm(AOwner); });
    TPublish<TForm>(*c)
        .String("Caption", &TForm::Caption, &TForm::SetCaption)
        .Default("")
        .Object("Font", TFont::PublishedClass(), &TForm::Font)
        .Boolean("Visible", &TForm::Visible, &TForm::SetVisible)
        .Default(false);
    RegisterClass(c);
    return c;
  }();
  return *publishedClass;
}
