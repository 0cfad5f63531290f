// The read-me: an external document opened by the shell, or a plain text in a window.
#include <memory>

#include "Host/Application.h"
#include "Host/Dialogs.h"
#include "Host/Events.h"
#include "Host/Font.h"
#include "Host/Forms.h"
#include "Host/Screen.h"
#include "Host/StdCtrls.h"
#include "Host/Streams.h"
#include "HttpProt/HttpCli.h"
#include "Orvane/OrvStrings.h"
#include "Orvane/Orvane.h"
#include "Orvane/ReceiveLoan.h"
#include "Platform/Shell.h"

namespace {

std::string TempFolder() {
  char Buf[260];
  const plat::DWORD Len = plat::GetTempPathA(sizeof(Buf), Buf);
  return (Len > 0 && Len < sizeof(Buf)) ? std::string(Buf, Len) : std::string("/tmp/");
}

plat::HWND MainWindow() {
  TCustomForm* Main = Application->MainForm();
  return Main ? Main->Handle() : 0;
}

}  // namespace

bool TOrvane::DisplayReadMe(bool Prompt) {
  TAliveGuard Guard(*this);
  if (!FActive && !GetFileInfo()) return false;
  if (FProductReadMe.empty() && FProductReadMeExt.empty()) return false;
  if (Prompt &&
      Application->MessageBox(FormatOrvStr(sOrvVersionsLine, {FCurrentVersion, FProductVersion}) +
                                  "\r" + LoadOrvStr(sOrvViewReadMe),
                              LoadOrvStr(sOrvUpdateAvailable), MB_ICONQUESTION | MB_YESNO) != IDYES)
    return false;
  if (!FProductReadMeExt.empty()) {
    const std::string Path = TempFolder() + LastUrlSegment(FProductReadMeExt);
    bool Downloaded = false;
    try {
      Downloaded = DoDownload(FProductReadMeExt, Path, LoadOrvStr(sOrvDownloadingReadMe));
    } catch (const EFCreateError& E) {
      // An address without a file name, or a temporary folder that refuses it: the
      // read-me could not be fetched, which the box below reports.
      FLastError = E.Message();
    }
    if (Guard.Gone()) return false;
    if (Downloaded &&
        plat::ShellExecuteA(MainWindow(), "open", Path.c_str(), "", "", plat::SW_SHOWNORMAL) > 32)
      return true;
    Application->MessageBox(LoadOrvStr(sOrvCannotStart), LoadOrvStr(sOrvError),
                            MB_ICONEXCLAMATION | MB_OK);
  }
  if (!FProductReadMe.empty()) {
    if (std::unique_ptr<TCustomForm> Window{CreateReadMe()}) Window->ShowModal();
  }
  return true;
}

TCustomForm* TOrvane::CreateReadMe() {
  TAliveGuard Guard(*this);
  THttpCli& Cli = PrepareClient();
  TReceiveLoan Loan(Cli, std::make_unique<TMemoryStream>());
  struct TEnd {
    TAliveGuard& Guard;
    TCustomForm*& WaitForm;
    ~TEnd() {
      if (Guard.Gone()) return;
      delete WaitForm;
      WaitForm = nullptr;
    }
  } End{Guard, FWaitForm};
  FLastError.clear();
  Cli.SetURL(FProductReadMe);
  Cli.GetASync();
  FWaitForm = CreatePleaseWait(LoadOrvStr(sOrvRetrievingReadMe));
  FWaitForm->ShowModal();
  if (Guard.Gone()) return nullptr;
  // The exception hook took the stream: nothing was received that could be shown, and
  // its message is the reason.
  if (Loan.Taken()) return nullptr;
  if (Cli.StatusCode() > 200) {
    FLastError = Cli.ReasonPhrase();
    return nullptr;
  }

  auto Form = std::make_unique<TForm>(Application);
  Form->SetBorderIcons({});
  Form->SetBorderStyle(bsDialog);
  Form->SetCaption(LoadOrvStr(sOrvReadMe));
  Form->SetHeight(Screen->Height() * 4 / 5);
  Form->SetPosition(poScreenCenter);
  Form->SetWidth(Screen->Width() * 4 / 5);
  Form->SetFont(FUIFontObject.get());

  auto* Memo = new TMemo(Form.get());
  Memo->SetParent(Form.get());
  Memo->SetBounds(10, 10, Form->Width() - 25, Form->Height() - 80);
  Memo->SetScrollBars(ssBoth);
  Memo->SetFont(FUIFontObject.get());

  auto* Button = new TButton(Form.get());
  Button->SetParent(Form.get());
  Button->SetBounds(Form->Width() / 2 - 34, Form->Height() - 56, 68, 22);
  Button->SetCaption(LoadOrvStr(sOrvOkButton));
  Button->SetModalResult(mrOk);
  // Enter and Escape close the window too, in back-ends that have keys.
  Button->SetDefault(true);
  Button->SetCancel(true);

  Loan.Stream().SetPosition(0);
  Memo->Lines()->LoadFromStream(Loan.Stream());
  return Form.release();
}
