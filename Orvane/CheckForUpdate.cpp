// The whole update check with its questions.
#include <memory>

#include "Host/Application.h"
#include "Host/Dialogs.h"
#include "Host/Events.h"
#include "Host/FileUtils.h"
#include "Host/Forms.h"
#include "Orvane/EntryChecks.h"
#include "Orvane/FlagScope.h"
#include "Orvane/OrvStrings.h"
#include "Orvane/Orvane.h"
#include "Platform/Shell.h"

bool TOrvane::CheckForUpdate() {
  // A handler of the download may free the component: the check then ends quietly.
  TAliveGuard guard(*this);
  // Nothing the server sends ends the check with an error of its own: an error of the
  // check's work is a failure, reported with the box of the step it came from. The
  // application's exception handling still sees it, as it did when the error went on.
  bool downloading = false;
  FLastResult = ocoFailed;
  try {
    return RunCheck(downloading);
  } catch (...) {
    if (guard.Gone()) return false;
    std::string reason;
    try {
      throw;
    } catch (const std::exception& e) {
      reason = e.what();
    } catch (...) {
    }
    Application->HandleException(this);
    if (guard.Gone()) return false;
    if (reason.empty()) reason = FLastError;
    FLastError = reason;
    if (downloading)
      ShowDownloadError();
    else
      Application->MessageBox(FLastError.empty() ? LoadOrvStr(sOrvInfoErrorUnknown)
                                                 : FormatOrvStr(sOrvInfoError, {FLastError}),
                              LoadOrvStr(sOrvConnectionError), MB_ICONEXCLAMATION | MB_OK);
    return false;
  }
}

void TOrvane::ShowDownloadError() {
  Application->MessageBox(FLastError.empty() ? LoadOrvStr(sOrvDownloadErrorUnknown)
                                             : FormatOrvStr(sOrvDownloadErrorReason, {FLastError}),
                          LoadOrvStr(sOrvDownloadError), MB_ICONEXCLAMATION | MB_OK);
}

std::string TOrvane::RefusedPageEntry() {
  const TOrvTags& tags = *FInfoTags;
  const std::string download = EntryName(tags.DownloadTag(), "DownloadURL");
  if (RefuseEntryURL(download, FPage.Download)) return FLastError;
  if (const std::string fault = FileNameFault(FDownloadFileName); !fault.empty())
    return download + " \"" + FPage.Download + "\" proposes no usable file name: " + fault;
  if (FOptions.Contains(orvoDisplayReadMe)) {
    if (!FPage.ReadMe.empty() &&
        RefuseEntryURL(EntryName(tags.ReadMeTag(), "ProductReadMe"), FPage.ReadMe))
      return FLastError;
    const std::string ext = EntryName(tags.ReadMeExtTag(), "ProductReadMeExt");
    if (!FPage.ReadMeExt.empty()) {
      if (RefuseEntryURL(ext, FPage.ReadMeExt)) return FLastError;
      if (const std::string fault = FileNameFault(LastUrlSegment(FPage.ReadMeExt));
          !fault.empty())
        return ext + " \"" + FPage.ReadMeExt + "\" proposes no usable file name: " + fault;
    }
  }
  return {};
}

bool TOrvane::RunCheck(bool& Downloading) {
  TAliveGuard guard(*this);
  // A page whose redirect could not be read leaves nothing to check: that is a failure,
  // not "no update".
  if (!GetFileInfo() || (!guard.Gone() && !FActive)) {
    if (guard.Gone()) return false;
    if (FPageRefused) {
      Application->MessageBox(FormatOrvStr(sOrvNotVerifiedReason, {FLastError}),
                              LoadOrvStr(sOrvNotVerified), MB_ICONEXCLAMATION | MB_OK);
      return false;
    }
    Application->MessageBox(FLastError.empty() ? LoadOrvStr(sOrvInfoErrorUnknown)
                                               : FormatOrvStr(sOrvInfoError, {FLastError}),
                            LoadOrvStr(sOrvConnectionError), MB_ICONEXCLAMATION | MB_OK);
    return false;
  }
  if (!IsUpdateAvailable()) {
    FLastResult = ocoNoUpdate;
    Application->MessageBox(LoadOrvStr(sOrvNoUpdate), LoadOrvStr(sOrvNoUpdateFound),
                            MB_ICONINFORMATION | MB_OK);
    return false;
  }
  // Before any question: a page that names what the check refuses to fetch or to write is
  // refused as a whole.
  if (const std::string refused = RefusedPageEntry(); !refused.empty()) {
    FLastError = refused;
    Application->MessageBox(FormatOrvStr(sOrvDownloadErrorReason, {FLastError}),
                            LoadOrvStr(sOrvDownloadError), MB_ICONEXCLAMATION | MB_OK);
    return false;
  }
  if (FOptions.Contains(orvoDisplayReadMe)) {
    DisplayReadMe(true);
    if (guard.Gone()) return false;
  }
  const TDownloadAnswer answer = AskDownload();
  if (guard.Gone()) return false;
  if (answer != daInstall) {
    FLastResult = ocoDeclined;
    return false;
  }
  if (FOptions.Contains(orvoReplaceAndRelaunch) && FSignatureVerified && DownloadChecked()) {
    Downloading = true;
    if (const int replaced = ReplaceAndRelaunch(); replaced >= 0) return replaced == 1;
    if (guard.Gone()) return false;
    Downloading = false;
  }

  std::string fileName;
  bool extensionAdded = false;
  {
    std::unique_ptr<TSaveDialog> dialog = std::make_unique<TSaveDialog>(Application);
    dialog->SetFilter(LoadOrvStr(sOrvSaveFilter));
    dialog->SetOptions(ofHideReadOnly | ofOverwritePrompt | ofPathMustExist);
    dialog->SetFileName(FDownloadFileName);
    FLastResult = ocoDeclined;
    if (!dialog->Execute()) return false;
    FLastResult = ocoFailed;
    fileName = dialog->FileName();
    if (ExtractFileExt(fileName).empty()) {
      if (dialog->FilterIndex() == 1) fileName += ".EXE";
      if (dialog->FilterIndex() == 2) fileName += ".ZIP";
      extensionAdded = dialog->FilterIndex() == 1 || dialog->FilterIndex() == 2;
    }
  }

  // The dialog asked about replacing the name it returned; a name that gained an
  // extension afterwards is another file, about which DownloadFile asks itself.
  bool downloaded = false;
  {
    TFlagScope mark(guard, FInCheckFlow, !extensionAdded);
    Downloading = true;
    FDownloadCancelled = false;
    downloaded = DownloadFile(fileName);
  }
  if (guard.Gone()) return false;
  if (!downloaded) {
    if (FDownloadCancelled) FLastResult = ocoCancelled;
    ShowDownloadError();
    return false;
  }

  FLastResult = ocoDownloaded;
  if (FOptions.Contains(orvoRunUpdate)) {
    const bool exit = FOptions.Contains(orvoExitDuringUpdate);
    if (Application->MessageBox(exit ? FormatOrvStr(sOrvInstallAndClose, {Application->Title()})
                                     : LoadOrvStr(sOrvInstallNow),
                                LoadOrvStr(sOrvInstallUpdate),
                                MB_ICONQUESTION | MB_YESNO) == IDYES) {
      TCustomForm* main = Application->MainForm();
      const int started =
          plat::ShellExecuteA(main ? main->Handle() : 0, "open", FLocalFileName.c_str(),
                              FPage.RunParams.c_str(), "", plat::SW_SHOWNORMAL);
      if (started <= 32)
        Application->MessageBox(LoadOrvStr(sOrvCannotStart), LoadOrvStr(sOrvError),
                                MB_ICONEXCLAMATION | MB_OK);
      else if (exit)
        Application->Terminate();
    }
  }
  return true;
}
