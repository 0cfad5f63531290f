// The read-me: an external document opened by the shell, or a plain text in a window.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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
#include "Orvane/EntryChecks.h"
#include "Orvane/HttpEvents.h"
#include "Orvane/OrvStrings.h"
#include "Orvane/Orvane.h"
#include "Orvane/ReceiveLoan.h"
#include "Platform/Shell.h"

namespace {

std::string TempFolder() {
  char buf[260];
  const plat::DWORD len = plat::GetTempPathA(sizeof(buf), buf);
  return (len > 0 && len < sizeof(buf)) ? std::string(buf, len) : std::string("/tmp/");
}

plat::HWND MainWindow() {
  TCustomForm* main = Application->MainForm();
  return main ? main->Handle() : 0;
}

}  // namespace

bool TOrvane::DisplayReadMe(bool Prompt) {
  TAliveGuard guard(*this);
  if (!FActive && !GetFileInfo()) return false;
  if (FPage.ReadMe.empty() && FPage.ReadMeExt.empty()) return false;
  if (Prompt &&
      Application->MessageBox(FormatOrvStr(sOrvVersionsLine, {FCurrentVersion, FPage.Version}) +
                                  "\r" + LoadOrvStr(sOrvViewReadMe),
                              LoadOrvStr(sOrvUpdateAvailable), MB_ICONQUESTION | MB_YESNO) != IDYES)
    return false;
  if (!FPage.ReadMeExt.empty()) {
    if (!FAttended) {
      ReadMeExtSkipped("the read-me at " + FPage.ReadMeExt +
                       " was not fetched nor opened: nobody is present to look at it");
    } else {
      if (OpenReadMeExt()) return true;
      if (guard.Gone()) return false;
      Application->MessageBox(LoadOrvStr(sOrvCannotStart), LoadOrvStr(sOrvError),
                              MB_ICONEXCLAMATION | MB_OK);
    }
  }
  if (!FPage.ReadMe.empty()) {
    if (std::unique_ptr<TCustomForm> window{CreateReadMe()}) window->ShowModal();
  }
  return true;
}

bool TOrvane::OpenReadMeExt() {
  TAliveGuard guard(*this);
  // What an earlier check fetched and did not open goes first.
  RemoveReadMeFolder();
  const std::string name = LastUrlSegment(FPage.ReadMeExt);
  const std::string entry = EntryName(FInfoTags->ReadMeExtTag(), "ProductReadMeExt");
  // A folder of the check's own (mode 0700): no file of the user's or of anyone else in
  // the temporary folder is ever written, replaced or followed.
  std::string folder = TempFolder() + "orvane-readme-XXXXXX";
  bool downloaded = false;
  try {
    if (RefuseEntryURL(entry, FPage.ReadMeExt)) {
    } else if (const std::string fault = FileNameFault(name); !fault.empty()) {
      FLastError = entry + " \"" + FPage.ReadMeExt + "\" proposes no usable file name: " + fault;
    } else if (::mkdtemp(folder.data()) == nullptr) {
      FLastError =
          "Cannot create a folder for the read-me in " + TempFolder() + ": " + std::strerror(errno);
    } else {
      FReadMeFolder = folder;
      FReadMeFile = folder + "/" + name;
      FNextDownload = {.Text = true, .NoReplace = true};
      downloaded = DoDownload(FPage.ReadMeExt, FReadMeFile, LoadOrvStr(sOrvDownloadingReadMe));
    }
  } catch (const EFCreateError& e) {
    // A folder that refuses the file: the read-me could not be fetched, which the caller
    // reports.
    FLastError = e.Message();
  }
  if (guard.Gone()) return false;
  if (downloaded && plat::ShellExecuteA(MainWindow(), "open", FReadMeFile.c_str(), "", "",
                                        plat::SW_SHOWNORMAL) > 32) {
    // The program it was handed to may open it at any time from now: it stays.
    FReadMeFolder.clear();
    FReadMeFile.clear();
    return true;
  }
  RemoveReadMeFolder();
  return false;
}

void TOrvane::ReadMeExtSkipped(const std::string&) {}

void TOrvane::RemoveReadMeFolder() {
  if (FReadMeFolder.empty()) return;
  ::unlink(FReadMeFile.c_str());
  ::rmdir(FReadMeFolder.c_str());
  FReadMeFolder.clear();
  FReadMeFile.clear();
}

TCustomForm* TOrvane::CreateReadMe() {
  TAliveGuard guard(*this);
  THttpCli& cli = PrepareClient();
  TReceiveLoan loan(cli, std::make_unique<TMemoryStream>());
  struct TEnd {
    TAliveGuard& Guard;
    TCustomForm*& WaitForm;
    ~TEnd() {
      if (Guard.Gone()) return;
      delete WaitForm;
      WaitForm = nullptr;
    }
  } end{guard, FWaitForm};
  FLastError.clear();
  if (RefuseEntryURL(EntryName(FInfoTags->ReadMeTag(), "ProductReadMe"), FPage.ReadMe))
    return nullptr;
  // Under a key the read-me is held to its signed size and SHA-256, not to MaxPageSize.
  const TDownloadExpectation* signedReadMe =
      FExpectations.ReadMe.URL.empty() ? nullptr : &FExpectations.ReadMe;
  if (signedReadMe)
    WatchByteLimit(cli, static_cast<std::int64_t>(signedReadMe->Size));
  else
    WatchPageSize(cli);
  const TDocDataRelease unwatch;
  if (!StartRequest(cli, FPage.ReadMe)) return nullptr;
  FWaitForm = CreatePleaseWait(LoadOrvStr(sOrvRetrievingReadMe));
  FWaitForm->ShowModal();
  if (guard.Gone()) return nullptr;
  EndUnfinishedRequest(cli);
  // The exception hook took the stream: nothing was received that could be shown, and
  // its message is the reason.
  if (loan.Taken()) return nullptr;
  if (FPageTooLarge) {
    FLastError =
        "The read-me at " + FPage.ReadMe + " is larger than the " +
        (signedReadMe ? FormatThousands(static_cast<std::int64_t>(signedReadMe->Size)) +
                            " bytes the page signed; it is not shown"
                      : FormatThousands(FMaxPageSize) + " bytes a text may have (MaxPageSize)");
    return nullptr;
  }
  if (cli.StatusCode() > 200) {
    FLastError = FailureReason(cli);
    return nullptr;
  }
  if (signedReadMe) {
    const auto& memory = static_cast<const TMemoryStream&>(loan.Stream());
    const std::string text(static_cast<const char*>(memory.Memory()),
                           static_cast<std::size_t>(memory.Size()));
    const std::string fault =
        ExpectationFault(*signedReadMe, "The read-me", text.size(), TSha256::HexOf(text));
    if (!fault.empty()) {
      FLastError = fault + "; it is not shown";
      return nullptr;
    }
  }

  auto form = std::make_unique<TForm>(Application);
  form->SetBorderIcons({});
  form->SetBorderStyle(bsDialog);
  form->SetCaption(LoadOrvStr(sOrvReadMe));
  form->SetHeight(Screen->Height() * 4 / 5);
  form->SetPosition(poScreenCenter);
  form->SetWidth(Screen->Width() * 4 / 5);
  form->SetFont(FUIFontObject.get());

  auto* memo = new TMemo(form.get());
  memo->SetParent(form.get());
  memo->SetBounds(10, 10, form->Width() - 25, form->Height() - 80);
  memo->SetScrollBars(ssBoth);
  // Text to read: nothing typed into it would go anywhere.
  memo->SetReadOnly(true);
  memo->SetFont(FUIFontObject.get());

  auto* button = new TButton(form.get());
  button->SetParent(form.get());
  button->SetBounds(form->Width() / 2 - 34, form->Height() - 56, 68, 22);
  button->SetCaption(LoadOrvStr(sOrvOkButton));
  button->SetModalResult(mrOk);
  // Enter and Escape close the window too, in back-ends that have keys.
  button->SetDefault(true);
  button->SetCancel(true);

  loan.Stream().SetPosition(0);
  memo->Lines()->LoadFromStream(loan.Stream());
  return form.release();
}
