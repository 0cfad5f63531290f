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
#include "Orvane/EntryChecks.h"
#include "Orvane/HashingStream.h"
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
  struct stat st;
  if (FileName.empty()) throw EFCreateError("Cannot create file \"\": " + SysReason(ENOENT));
  if (::stat(FileName.c_str(), &st) != 0) return;  // a new file: the folder decides
  if (S_ISDIR(st.st_mode))
    throw EFCreateError("Cannot create file \"" + FileName + "\": " + SysReason(EISDIR));
  if (::access(FileName.c_str(), W_OK) != 0)
    throw EFCreateError("Cannot create file \"" + FileName + "\": " + SysReason(errno));
}

// Creates an empty, new file beside FileName, readable like any file the user creates,
// and answers its name; raises EFCreateError naming FileName when the folder refuses.
std::string CreatePartFile(const std::string& FileName) {
  const std::string base = ExtractFilePath(FileName) + "." + ExtractFileName(FileName) + "." +
                           std::to_string(::getpid()) + "-";
  static unsigned counter = 0;
  int err = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = base + std::to_string(++counter) + ".part";
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return name;
    }
    err = errno;
    if (err != EEXIST) break;
  }
  throw EFCreateError("Cannot create file \"" + FileName + "\": " + SysReason(err));
}

std::int32_t Clamp32(std::int64_t N) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      N, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

std::string FormatThousands(std::int64_t N) {
  const std::string digits = std::to_string(N);
  // The groups are counted on the digits, so a sign never stands alone in front of a
  // comma ("-123,456").
  const size_t lead = (digits[0] == '-') ? 1 : 0;
  std::string result;
  const size_t count = digits.size() - lead;
  result.append(digits, 0, lead);
  for (size_t i = 0; i < count; ++i) {
    if (i > 0 && (count - i) % 3 == 0) result += ',';
    result += digits[lead + i];
  }
  return result;
}

bool TOrvane::DownloadFile(const std::string& FileName) {
  if (!FActive && !GetFileInfo()) return false;
  if (FileName.empty()) {
    FLastError = "No file name was given for the download";
    return false;
  }
  if (RefuseEntryURL(EntryName(FInfoTags->DownloadTag(), "DownloadURL"), FDownloadURL))
    return false;
  if (FileName.back() == '/') {
    // The page proposes the name: one that would be hidden, a folder or no name at all
    // is refused rather than guessed at.
    if (const std::string fault = FileNameFault(FDownloadFileName); !fault.empty()) {
      FLastError = EntryName(FInfoTags->DownloadTag(), "DownloadURL") + " \"" + FDownloadURL +
                   "\" proposes no usable file name: " + fault;
      return false;
    }
  }
  // A signed page for a version that is not newer is an old page played back: its update
  // is never fetched.
  if (FSignatureVerified && !IsUpdateAvailable()) {
    FLastError = "The signed page offers version " + FProductVersion +
                 ", which is not newer than the version " + FCurrentVersion +
                 " running now: a signed update never goes back";
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
  TAliveGuard guard(*this);
  FLastError.clear();
  // Refused before anything is created.
  if (RefuseEntryURL("The address", URL)) return false;
  CheckCreatable(FileName);
  const std::string partName = CreatePartFile(FileName);
  // The update a page gives the size and SHA-256 of is hashed as it is written, and never
  // takes more than that size.
  const TDownloadExpectation* expected = ChecksDownload(URL);
  const bool checked = expected != nullptr;
  const TDownloadExpectation expectation = checked ? *expected : TDownloadExpectation{};
  const std::uint64_t checkedSize = expectation.Size;
  std::unique_ptr<TStream> stream;
  THashingStream* saved = nullptr;
  try {
    stream = std::make_unique<TFileStream>(partName, fmCreate);
    if (checked) {
      auto hashing = std::make_unique<THashingStream>(std::move(stream));
      saved = hashing.get();
      stream = std::move(hashing);
    }
  } catch (...) {
    stream.reset();
    ::unlink(partName.c_str());
    throw;
  }
  FDownloadTooLong = false;
  bool result = false;
  // Every way out closes the file and leaves either the finished file or nothing.
  struct TEnd {
    TAliveGuard& Guard;
    const std::string& PartName;
    TWebDlProgress*& Form;
    bool& Result;
    ~TEnd() {
      if (THttpCli* cli = SharedHttpCliRef()) cli->OnDocData = nullptr;
      if (!Guard.Gone()) {
        delete Form;
        Form = nullptr;
      }
      if (!Result) ::unlink(PartName.c_str());
    }
  } end{guard, partName, FProgressForm, result};
  THttpCli& cli = PrepareClient();
  TReceiveLoan loan(cli, std::move(stream));
  cli.OnDocData = [this, checked, checkedSize](TObject* Sender, const void* Buffer,
                                               std::int32_t Len) {
    if (checked && !FDownloadTooLong) {
      // A server that announces or sends more than the page's size is stopped at once: it
      // could otherwise fill the disk.
      auto* c = dynamic_cast<THttpCli*>(Sender);
      if (c && PastByteLimit(*c, checkedSize)) {
        FDownloadTooLong = true;
        c->Abort();
        return;
      }
    }
    HttpCliDocData(Sender, Buffer, Len);
  };
  if (!StartRequest(cli, URL)) return false;
  if (FOptions.Contains(orvoDisplayUI)) {
    FProgressForm = CreateProgress();
    FPendingReceived = -1;
    FCountsShownAt = {};
    FProgressForm->lblDownloading->SetCaption(Title);
    FProgressForm->ShowModal();
    if (guard.Gone()) return false;  // freed by a handler during the download
  }
  // The form may have closed without the request's end (a quit): what came so far is no
  // finished download.
  EndUnfinishedRequest(cli);
  // A request that ended with an error (a body cut short, an abort, a time-out) is a
  // failure whatever status it had reached; when the exception hook ended the wait, its
  // message is the reason.
  if (loan.Taken()) {
    if (FLastError.empty()) FLastError = "The download was ended before it finished";
  } else if (FDownloadTooLong) {
    FLastError = "The server sent more than the " +
                 FormatThousands(static_cast<std::int64_t>(checkedSize)) +
                 " bytes the page gives for the file; the download was stopped";
  } else if (cli.StatusCode() > 200) {
    FLastError = FailureReason(cli);
  } else if (FLastError.empty()) {
    result = true;
  }
  // Nothing that differs from what the page gives takes the file's name.
  if (result && saved) {
    const std::string fault =
        saved->Sequential()
            ? ExpectationFault(expectation, "The file", saved->Written(), saved->DigestHex())
            : "The file was not written from its first byte to its last in order";
    if (!fault.empty()) {
      FLastError = fault + "; it was not saved";
      result = false;
    }
  }
  // The file is complete and closed before it takes the target's name.
  loan.Close();
  if (result && ::rename(partName.c_str(), FileName.c_str()) != 0) {
    FLastError = "Cannot save the file " + FileName + ": " + SysReason(errno);
    result = false;
  }
  return result;
}

void TOrvane::HttpCliDocData(TObject*, const void*, std::int32_t) {
  if (THttpCli* cli = SharedHttpCli()) DoDownloadProgress(cli->RcvdCount(), cli->ContentLength());
}

void TOrvane::DoDownloadProgress(std::int64_t BytesReceived, std::int64_t FileSize) {
  if (FOptions.Contains(orvoDisplayUI)) DownloadProgress(this, BytesReceived, FileSize);
  TriggerDownloadProgress(Clamp32(BytesReceived), Clamp32(FileSize));
}

void TOrvane::TriggerDownloadProgress(std::int32_t BytesReceived, std::int32_t FileSize) {
  (void)FireEvent(*this, OnDownloadProgress, this, BytesReceived, FileSize);
}

void TOrvane::DownloadProgress(TObject*, std::int64_t BytesReceived, std::int64_t FileSize) {
  TWebDlProgress* form = FProgressForm;
  if (!form || form->Cancelled) return;
  // With no size announced the bar stays where it is.
  bool barMoved = false;
  if (FileSize > 0 && form->pbarProgress) {
    const std::int64_t percent = std::min<std::int64_t>(BytesReceived * 100 / FileSize, 100);
    if (form->pbarProgress->Position() < percent) {
      form->pbarProgress->SetPosition(static_cast<int>(percent));
      barMoved = true;
    }
  }
  FPendingReceived = BytesReceived;
  FPendingSize = FileSize;
  if (barMoved || BytesReceived == FileSize ||
      std::chrono::steady_clock::now() - FCountsShownAt >=
          std::chrono::milliseconds(ProgressRedrawMs))
    ShowPendingProgress();
}

void TOrvane::ShowPendingProgress() {
  TWebDlProgress* form = FProgressForm;
  if (!form || form->Cancelled || FPendingReceived < 0) return;
  const std::int64_t received = FPendingReceived;
  FPendingReceived = -1;
  FCountsShownAt = std::chrono::steady_clock::now();
  if (!form->lblProgress) return;
  form->lblProgress->SetCaption(
      FPendingSize <= 0 ? FormatOrvStr(sOrvBytesReceivedOnly, {FormatThousands(received)})
                        : FormatOrvStr(sOrvBytesReceived,
                                       {FormatThousands(received), FormatThousands(FPendingSize)}));
}

TWebDlProgress* TOrvane::CreateProgress() {
  auto* form = new TWebDlProgress(Application);
  form->SetLeft(393);
  form->SetTop(111);
  form->SetCursor(crHourGlass);
  form->SetBorderIcons({});
  form->SetBorderStyle(bsDialog);
  form->SetCaption(LoadOrvStr(sOrvDownloadProgress));
  form->SetClientWidth(272);
  form->SetClientHeight(123);
  form->SetPosition(poScreenCenter);
  form->SetFont(FUIFontObject.get());

  form->lblDownloading = new TLabel(form);
  form->lblDownloading->SetName("lblDownloading");
  form->lblDownloading->SetParent(form);
  form->lblDownloading->SetBounds(2, 10, 268, 18);
  form->lblDownloading->SetAlignment(taCenter);
  form->lblDownloading->SetFont(form->Font());

  form->lblProgress = new TLabel(form);
  form->lblProgress->SetName("lblProgress");
  form->lblProgress->SetParent(form);
  form->lblProgress->SetBounds(2, 60, 268, 22);
  form->lblProgress->SetAlignment(taCenter);
  form->lblProgress->SetFont(form->Font());

  form->pbarProgress = new TProgressBar(form);
  form->pbarProgress->SetName("pbarProgress");
  form->pbarProgress->SetParent(form);
  form->pbarProgress->SetBounds(36, 40, 200, 14);
  form->pbarProgress->SetRange(0, 100);
  form->pbarProgress->SetCursor(crHourGlass);
  form->pbarProgress->SetTabOrder(0);

  form->btnCancel = new TButton(form);
  form->btnCancel->SetName("btnCancel");
  form->btnCancel->SetParent(form);
  form->btnCancel->SetBounds(102, 94, 68, 22);
  form->btnCancel->SetCaption(LoadOrvStr(sOrvCancelButton));
  form->btnCancel->SetFont(form->Font());
  form->btnCancel->SetTabOrder(1);
  // Escape cancels too, in back-ends that have keys.
  form->btnCancel->SetCancel(true);
  form->btnCancel->OnClick = [form](TObject* Sender) { form->btnCancelClick(Sender); };
  return form;
}
