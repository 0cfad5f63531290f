#include "Orvane/WebDlProgress.h"

#include "HttpProt/HttpCli.h"
#include "Orvane/Orvane.h"

TWebDlProgress::TWebDlProgress(TComponent* AOwner) : TForm(AOwner) {}

TWebDlProgress::~TWebDlProgress() = default;

void TWebDlProgress::btnCancelClick(TObject*) {
  Cancelled = true;
  if (THttpCli* Cli = TOrvane::SharedHttpCli()) Cli->Abort();
}
