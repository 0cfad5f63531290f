// Downloading a file with the progress form: into a temporary file beside the target that
// takes the target's name only once the download succeeded.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "Host/Application.h"
#include "Host/ComCtrls.h"
#include "Host/Dialogs.h"
#include "Host/Events.h"
#include "Host/FileUtils.h"
#include "Host/Font.h"
#include "Host/StdCtrls.h"
#include "Host/Streams.h"
#include "HttpProt/HttpCli.h"
#include "Orvane/HttpEvents.h"
#include "Orvane/OrvStrings.h"
#include "Orvane/Orvane.h"
#include "Orvane/ReceiveLoan.h"
#include "Orvane/WebDlProgress.h"

namespace {

std::string SysReason(int Err) {
  return std::strerror(Err);
}

// Raises EFCreateError, as creating the file itself would, when FileName cannot be
// written: a folder, or a file the user may not write.
void CheckCreatable(const std::string& FileName) {
  struct stat St;
  if (FileName.empty()) throw EFCreateError("Cannot create file \"\": " + SysReason(ENOENT));
  if (::stat(FileName.c_str(), &St) != 0) return;  // a new file: the folder decides
  if (S_ISDIR(St.st_mode))
    throw EFCreateError("Cannot create file \"" + FileName + "\": " + SysReason(EISDIR));
  if (::access(FileName.c_str(), W_OK) != 0)
    throw EFCreateError("Cannot create file \"" + FileName + "\": " + SysReason(errno));
}

// Creates an empty, new file beside FileName, readable like any file the user creates,
// and answers its name; raises EFCreateError naming FileName when the folder refuses.
std::string CreatePartFile(const std::string& FileName) {
  const std::string Base = ExtractFilePath(FileName) + "." + ExtractFileName(FileName) + "." +
                           std::to_string(::getpid()) + "-";
  static unsigned Counter = 0;
  int Err = 0;
  for (int Try = 0; Try < 100; ++Try) {
    const std::string Name = Base + std::to_string(++Counter) + ".part";
    const int Fd = ::open(Name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (Fd >= 0) {
      ::close(Fd);
      return Name;
    }
    Err = errno;
    if (Err != EEXIST) break;
  }
  throw EFCreateError("Cannot create file \"" + FileName + "\": " + SysReason(Err));
}

std::int32_t Clamp32(std::int64_t N) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      N, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

std::string FormatThousands(std::int64_t N) {
  const std::string Digits = std::to_string(N);
  // The groups are counted on the digits, so a sign never stands alone in front of a
  // comma ("-123,456").
  const size_t Lead = (Digits[0] == '-') ? 1 : 0;
  std::string Result;
  const size_t Count = Digits.size() - Lead;
  Result.append(Digits, 0, Lead);
  for (size_t I = 0; I < Count; ++I) {
    if (I > 0 && (Count - I) % 3 == 0) Result += ',';
    Result += Digits[Lead + I];
  }
  return Result;
}

bool TOrvane::DownloadFile(const std::string& FileName) {
  if (!FActive && !GetFileInfo()) return false;
  if (FileName.empty()) {
    FLastError = "No file name was given for the download";
    return false;
  }
  FLocalFileName = FileName.back() == '/' ? FileName + FDownloadFileName : FileName;
  if (!FInCheckFlow && !FOptions.Contains(orvoAlwaysOverwrite) && FileExists(FLocalFileName) &&
      Application->MessageBox(FormatOrvStr(sOrvOverwrite, {FLocalFileName}),
                              LoadOrvStr(sOrvFileExists), MB_ICONQUESTION | MB_YESNO) != IDYES)
    return false;
  return DoDownload(FDownloadURL, FLocalFileName, LoadOrvStr(sOrvDownloadingUpdate));
}

bool TOrvane::DoDownload(const std::string& URL, const std::string& FileName,
                         const std::string& Title) {
  TAliveGuard Guard(*this);
  FLastError.clear();
  CheckCreatable(FileName);
  const std::string PartName = CreatePartFile(FileName);
  std::unique_ptr<TFileStream> File;
  try {
    File = std::make_unique<TFileStream>(PartName, fmCreate);
  } catch (...) {
    ::unlink(PartName.c_str());
    throw;
  }
  bool Result = false;
  // Every way out closes the file and leaves either the finished file or nothing.
  struct TEnd {
    TAliveGuard& Guard;
    const std::string& PartName;
    TWebDlProgress*& Form;
    bool& Result;
    ~TEnd() {
      if (THttpCli* Cli = SharedHttpCliRef()) Cli->OnDocData = nullptr;
      if (!Guard.Gone()) {
        delete Form;
        Form = nullptr;
      }
      if (!Result) ::unlink(PartName.c_str());
    }
  } End{Guard, PartName, FProgressForm, Result};
  THttpCli& Cli = PrepareClient();
  TReceiveLoan Loan(Cli, std::move(File));
  Cli.OnDocData = [this](TObject* Sender, const void* Buffer, std::int32_t Len) {
    HttpCliDocData(Sender, Buffer, Len);
  };
  Cli.SetURL(URL);
  Cli.GetASync();
  if (FOptions.Contains(orvoDisplayUI)) {
    FProgressForm = CreateProgress();
    FProgressForm->lblDownloading->SetCaption(Title);
    FProgressForm->ShowModal();
    if (Guard.Gone()) return false;  // freed by a handler during the download
  }
  // A request that ended with an error (a body cut short, an abort, a time-out) is a
  // failure whatever status it had reached; when the exception hook ended the wait, its
  // message is the reason.
  if (Loan.Taken()) {
    if (FLastError.empty()) FLastError = "The download was ended before it finished";
  } else if (Cli.StatusCode() > 200) {
    FLastError = Cli.ReasonPhrase();
  } else if (FLastError.empty()) {
    Result = true;
  }
  // The file is complete and closed before it takes the target's name.
  Loan.Close();
  if (Result && ::rename(PartName.c_str(), FileName.c_str()) != 0) {
    FLastError = "Cannot save the file " + FileName + ": " + SysReason(errno);
    Result = false;
  }
  return Result;
}

void TOrvane::HttpCliDocData(TObject*, const void*, std::int32_t) {
  if (THttpCli* Cli = SharedHttpCli()) DoDownloadProgress(Cli->RcvdCount(), Cli->ContentLength());
}

void TOrvane::DoDownloadProgress(std::int64_t BytesReceived, std::int64_t FileSize) {
  if (FOptions.Contains(orvoDisplayUI)) DownloadProgress(this, BytesReceived, FileSize);
  TriggerDownloadProgress(Clamp32(BytesReceived), Clamp32(FileSize));
}

void TOrvane::TriggerDownloadProgress(std::int32_t BytesReceived, std::int32_t FileSize) {
  (void)FireEvent(*this, OnDownloadProgress, this, BytesReceived, FileSize);
}

void TOrvane::DownloadProgress(TObject*, std::int64_t BytesReceived, std::int64_t FileSize) {
  TWebDlProgress* Form = FProgressForm;
  if (!Form || Form->Cancelled) return;
  if (FileSize <= 0) {
    // No size announced: the count alone, and the bar stays where it is.
    Form->lblProgress->SetCaption(
        FormatOrvStr(sOrvBytesReceivedOnly, {FormatThousands(BytesReceived)}));
    return;
  }
  const std::int64_t Percent = BytesReceived * 100 / FileSize;
  Form->lblProgress->SetCaption(
      FormatOrvStr(sOrvBytesReceived, {FormatThousands(BytesReceived), FormatThousands(FileSize)}));
  if (Form->pbarProgress->Position() < Percent)
    Form->pbarProgress->SetPosition(static_cast<int>(std::min<std::int64_t>(Percent, 100)));
}

TWebDlProgress* TOrvane::CreateProgress() {
  auto* Form = new TWebDlProgress(Application);
  Form->SetLeft(393);
  Form->SetTop(111);
  Form->SetCursor(crHourGlass);
  Form->SetBorderIcons({});
  Form->SetBorderStyle(bsDialog);
  Form->SetCaption(LoadOrvStr(sOrvDownloadProgress));
  Form->SetClientWidth(272);
  Form->SetClientHeight(123);
  Form->SetPosition(poScreenCenter);
  Form->SetFont(FUIFontObject.get());

  Form->lblDownloading = new TLabel(Form);
  Form->lblDownloading->SetParent(Form);
  Form->lblDownloading->SetBounds(2, 10, 268, 18);
  Form->lblDownloading->SetAlignment(taCenter);
  Form->lblDownloading->SetFont(Form->Font());

  Form->lblProgress = new TLabel(Form);
  Form->lblProgress->SetParent(Form);
  Form->lblProgress->SetBounds(2, 60, 268, 22);
  Form->lblProgress->SetAlignment(taCenter);
  Form->lblProgress->SetFont(Form->Font());

  Form->pbarProgress = new TProgressBar(Form);
  Form->pbarProgress->SetParent(Form);
  Form->pbarProgress->SetBounds(36, 40, 200, 14);
  Form->pbarProgress->SetRange(0, 100);
  Form->pbarProgress->SetCursor(crHourGlass);
  Form->pbarProgress->SetTabOrder(0);

  Form->btnCancel = new TButton(Form);
  Form->btnCancel->SetParent(Form);
  Form->btnCancel->SetBounds(102, 94, 68, 22);
  Form->btnCancel->SetCaption(LoadOrvStr(sOrvCancelButton));
  Form->btnCancel->SetFont(Form->Font());
  Form->btnCancel->SetTabOrder(1);
  // Escape cancels too, in back-ends that have keys.
  Form->btnCancel->SetCancel(true);
  Form->btnCancel->OnClick = [Form](TObject* Sender) { Form->btnCancelClick(Sender); };
  return Form;
}
