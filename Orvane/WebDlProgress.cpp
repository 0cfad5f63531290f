#include "Orvane/WebDlProgress.h"

#include "Host/ComCtrls.h"
#include "Host/Published.h"
#include "Host/StdCtrls.h"
#include "HttpProt/HttpCli.h"
#include "Orvane/Orvane.h"

TWebDlProgress::TWebDlProgress(TComponent* AOwner) : TForm(AOwner) {}

TWebDlProgress::~TWebDlProgress() = default;

const TPublishedClass* TWebDlProgress::Published() const {
  return &PublishedClass();
}

const TPublishedClass& TWebDlProgress::PublishedClass() {
  static const TPublishedClass* publishedClass = [] {
    // The classes of the fields must be known before a form file names them.
    (void)TProgressBar::PublishedClass();
    (void)TLabel::PublishedClass();
    (void)TButton::PublishedClass();
    auto* c = new TPublishedClass("TWebDlProgress", &TForm::PublishedClass(),
                                  [](TComponent* AOwner) { return new TWebDlProgress(AOwner); });
    RegisterClass(c);
    return c;
  }();
  return *publishedClass;
}

namespace {
[[maybe_unused]] const bool kWebDlProgressRegistered = (TWebDlProgress::PublishedClass(), true);
}  // namespace

void TWebDlProgress::btnCancelClick(TObject*) {
  Cancelled = true;
  if (THttpCli* cli = TOrvane::SharedHttpCli()) cli->Abort();
}

void TWebDlProgress::BindFields() {
  pbarProgress = dynamic_cast<TProgressBar*>(FindComponent("pbarProgress"));
  lblDownloading = dynamic_cast<TLabel*>(FindComponent("lblDownloading"));
  lblProgress = dynamic_cast<TLabel*>(FindComponent("lblProgress"));
  btnCancel = dynamic_cast<TButton*>(FindComponent("btnCancel"));
}

void TWebDlProgress::Loaded() {
  TForm::Loaded();
  BindFields();
  for (TControl* control :
       {static_cast<TControl*>(pbarProgress), static_cast<TControl*>(lblDownloading),
        static_cast<TControl*>(lblProgress), static_cast<TControl*>(btnCancel)})
    if (control && !control->Parent()) control->SetParent(this);
  if (btnCancel && !btnCancel->OnClick)
    btnCancel->OnClick = [this](TObject* Sender) { btnCancelClick(Sender); };
}

void TWebDlProgress::Notification(TComponent* AComponent, TOperation Operation) {
  TForm::Notification(AComponent, Operation);
  // A field never points at a control that is gone.
  if (Operation == opRemove) {
    if (AComponent == pbarProgress) pbarProgress = nullptr;
    if (AComponent == lblDownloading) lblDownloading = nullptr;
    if (AComponent == lblProgress) lblProgress = nullptr;
    if (AComponent == btnCancel) btnCancel = nullptr;
  }
}
