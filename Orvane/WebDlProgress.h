// The download progress form: the title of the download, a percentage bar, the byte
// counts and a button that cancels. Built in code by TOrvane::CreateProgress.
#pragma once

#include <string>

#include "Host/Forms.h"

class TButton;
class TLabel;
class TProgressBar;

class TWebDlProgress : public TForm {
 public:
  // An empty form, not cancelled; CreateProgress places the controls.
  explicit TWebDlProgress(TComponent* AOwner);
  ~TWebDlProgress() override;
  std::string ClassName() const override { return "TWebDlProgress"; }

  // Marks the download cancelled and aborts the shared client's request; the form stays
  // open until the request's end sets its modal result.
  void btnCancelClick(TObject* Sender);

  TProgressBar* pbarProgress = nullptr;
  TLabel* lblDownloading = nullptr;
  TLabel* lblProgress = nullptr;
  TButton* btnCancel = nullptr;
  bool Cancelled = false;
};
