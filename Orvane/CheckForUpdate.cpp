// The whole update check with its questions.
#include <memory>

#include "Host/Application.h"
#include "Host/Dialogs.h"
#include "Host/Events.h"
#include "Host/FileUtils.h"
#include "Host/Forms.h"
#include "Orvane/OrvStrings.h"
#include "Orvane/Orvane.h"
#include "Platform/Shell.h"

bool TOrvane::CheckForUpdate() {
  // A handler of the download may free the component: the check then ends quietly.
  TAliveGuard guard(*this);
  if (!GetFileInfo()) {
    if (guard.Gone()) return false;
    Application->MessageBox(FLastError.empty() ? LoadOrvStr(sOrvInfoErrorUnknown)
                                               : FormatOrvStr(sOrvInfoError, {FLastError}),
                            LoadOrvStr(sOrvConnectionError), MB_ICONEXCLAMATION | MB_OK);
    return false;
  }
  if (!IsUpdateAvailable()) {
    Application->MessageBox(LoadOrvStr(sOrvNoUpdate), LoadOrvStr(sOrvNoUpdateFound),
                            MB_ICONINFORMATION | MB_OK);
    return false;
  }
  if (FOptions.Contains(orvoDisplayReadMe)) {
    DisplayReadMe(true);
    if (guard.Gone()) return false;
  }
  if (Application->MessageBox(FormatOrvStr(sOrvVersionsLine, {FCurrentVersion, FProductVersion}) +
                                  "\r" + LoadOrvStr(sOrvDownloadQuestion),
                              LoadOrvStr(sOrvUpdateAvailable), MB_ICONQUESTION | MB_YESNO) != IDYES)
    return false;

  std::string fileName;
  bool extensionAdded = false;
  {
    std::unique_ptr<TSaveDialog> dialog = std::make_unique<TSaveDialog>(Application);
    dialog->SetFilter(LoadOrvStr(sOrvSaveFilter));
    dialog->SetOptions(ofHideReadOnly | ofOverwritePrompt | ofPathMustExist);
    dialog->SetFileName(FDownloadFileName);
    if (!dialog->Execute()) return false;
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
    struct TFlowMark {
      TAliveGuard& Guard;
      bool& Flag;
      ~TFlowMark() {
        if (!Guard.Gone()) Flag = false;
      }
    } mark{guard, FInCheckFlow};
    FInCheckFlow = !extensionAdded;
    downloaded = DownloadFile(fileName);
  }
  if (guard.Gone()) return false;
  if (!downloaded) {
    Application->MessageBox(FLastError.empty()
                                ? LoadOrvStr(sOrvDownloadErrorUnknown)
                                : FormatOrvStr(sOrvDownloadErrorReason, {FLastError}),
                            LoadOrvStr(sOrvDownloadError), MB_ICONEXCLAMATION | MB_OK);
    return false;
  }

  if (FOptions.Contains(orvoRunUpdate)) {
    const bool exit = FOptions.Contains(orvoExitDuringUpdate);
    if (Application->MessageBox(exit ? FormatOrvStr(sOrvInstallAndClose, {Application->Title()})
                                     : LoadOrvStr(sOrvInstallNow),
                                LoadOrvStr(sOrvInstallUpdate),
                                MB_ICONQUESTION | MB_YESNO) == IDYES) {
      TCustomForm* main = Application->MainForm();
      const int started =
          plat::ShellExecuteA(main ? main->Handle() : 0, "open", FLocalFileName.c_str(),
                              FRunParams.c_str(), "", plat::SW_SHOWNORMAL);
      if (started <= 32)
        Application->MessageBox(LoadOrvStr(sOrvCannotStart), LoadOrvStr(sOrvError),
                                MB_ICONEXCLAMATION | MB_OK);
      else if (exit)
        Application->Terminate();
    }
  }
  return true;
}
