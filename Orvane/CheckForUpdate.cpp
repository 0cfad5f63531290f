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
  TAliveGuard Guard(*this);
  if (!GetFileInfo()) {
    if (Guard.Gone()) return false;
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
    if (Guard.Gone()) return false;
  }
  if (Application->MessageBox(FormatOrvStr(sOrvVersionsLine, {FCurrentVersion, FProductVersion}) +
                                  "\r" + LoadOrvStr(sOrvDownloadQuestion),
                              LoadOrvStr(sOrvUpdateAvailable), MB_ICONQUESTION | MB_YESNO) != IDYES)
    return false;

  std::string FileName;
  bool ExtensionAdded = false;
  {
    std::unique_ptr<TSaveDialog> Dialog = std::make_unique<TSaveDialog>(Application);
    Dialog->SetFilter(LoadOrvStr(sOrvSaveFilter));
    Dialog->SetOptions(ofHideReadOnly | ofOverwritePrompt | ofPathMustExist);
    Dialog->SetFileName(FDownloadFileName);
    if (!Dialog->Execute()) return false;
    FileName = Dialog->FileName();
    if (ExtractFileExt(FileName).empty()) {
      if (Dialog->FilterIndex() == 1) FileName += ".EXE";
      if (Dialog->FilterIndex() == 2) FileName += ".ZIP";
      ExtensionAdded = Dialog->FilterIndex() == 1 || Dialog->FilterIndex() == 2;
    }
  }

  // The dialog asked about replacing the name it returned; a name that gained an
  // extension afterwards is another file, about which DownloadFile asks itself.
  bool Downloaded = false;
  {
    struct TFlowMark {
      TAliveGuard& Guard;
      bool& Flag;
      ~TFlowMark() {
        if (!Guard.Gone()) Flag = false;
      }
    } Mark{Guard, FInCheckFlow};
    FInCheckFlow = !ExtensionAdded;
    Downloaded = DownloadFile(FileName);
  }
  if (Guard.Gone()) return false;
  if (!Downloaded) {
    Application->MessageBox(FLastError.empty()
                                ? LoadOrvStr(sOrvDownloadErrorUnknown)
                                : FormatOrvStr(sOrvDownloadErrorReason, {FLastError}),
                            LoadOrvStr(sOrvDownloadError), MB_ICONEXCLAMATION | MB_OK);
    return false;
  }

  if (FOptions.Contains(orvoRunUpdate)) {
    const bool Exit = FOptions.Contains(orvoExitDuringUpdate);
    if (Application->MessageBox(Exit ? FormatOrvStr(sOrvInstallAndClose, {Application->Title()})
                                     : LoadOrvStr(sOrvInstallNow),
                                LoadOrvStr(sOrvInstallUpdate),
                                MB_ICONQUESTION | MB_YESNO) == IDYES) {
      TCustomForm* Main = Application->MainForm();
      const int Started =
          plat::ShellExecuteA(Main ? Main->Handle() : 0, "open", FLocalFileName.c_str(),
                              FRunParams.c_str(), "", plat::SW_SHOWNORMAL);
      if (Started <= 32)
        Application->MessageBox(LoadOrvStr(sOrvCannotStart), LoadOrvStr(sOrvError),
                                MB_ICONEXCLAMATION | MB_OK);
      else if (Exit)
        Application->Terminate();
    }
  }
  return true;
}
