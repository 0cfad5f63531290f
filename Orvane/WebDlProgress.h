// The download progress form: the title of the download, a percentage bar, the byte
// counts and a button that cancels. Built in code by TOrvane::CreateProgress.
#pragma once

#include <string>

#include "Host/Forms.h"
#include "Platform/Export.h"

class TButton;
class TLabel;
class TProgressBar;

class ORV_API TWebDlProgress : public TForm {
 public:
  // An empty form, not cancelled; CreateProgress places the controls.
  explicit TWebDlProgress(TComponent* AOwner);
  ~TWebDlProgress() override;
  std::string ClassName() const override { return "TWebDlProgress"; }
  const TPublishedClass* Published() const override;
  static const TPublishedClass& PublishedClass();

  // Marks the download cancelled and aborts the shared client's request; the form stays
  // open until the request's end sets its modal result.
  void btnCancelClick(TObject* Sender);

  // The published fields: the controls the form owns under these names. A form file
  // keeps them as the form's components; reading one binds each field to the component
  // of its name, puts the controls on the form and gives the button its click handler.
  TProgressBar* pbarProgress = nullptr;
  TLabel* lblDownloading = nullptr;
  TLabel* lblProgress = nullptr;
  TButton* btnCancel = nullptr;
  bool Cancelled = false;

 protected:
  void Loaded() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  // Each field bound to the owned component of its name and class (nullptr for none).
  void BindFields();
};
