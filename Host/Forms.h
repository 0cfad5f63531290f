// Forms: the top-level windowed controls that hold an application's other controls.
#pragma once

#include <string>

#include "Host/Controls.h"

class TCustomForm : public TWinControl {
 public:
  // A form starts hidden; its font is the one its controls take by default.
  explicit TCustomForm(TComponent* AOwner);
  ~TCustomForm() override;
  std::string ClassName() const override { return "TCustomForm"; }

  // Set to non-zero to end the form's modal run with that outcome.
  TModalResult ModalResult() const { return FModalResult; }
  void SetModalResult(TModalResult Value) { FModalResult = Value; }

 private:
  TModalResult FModalResult = mrNone;
};

class TForm : public TCustomForm {
 public:
  using TCustomForm::TCustomForm;
  std::string ClassName() const override { return "TForm"; }
  const TPublishedClass* Published() const override;
  static const TPublishedClass& PublishedClass();
};
