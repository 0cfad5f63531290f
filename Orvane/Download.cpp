// Downloading a file with the progress form: into a temporary file beside the target that
// takes the target's name only once the download succeeded.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

#include "Host/Application.h"
#include "Host/ComCtrls.h"
#include "Host/Dialogs.h"
#include "Host/Events.h"
#include "Host/FileUtils.h"
#include "Host/Font.h"
#include "Host/StdCtrls.h"
#include "Host/Streams.h"
#include "HttpProt/HttpCli.h"
#include "Orvane/DownloadRun.h"
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

// A new, empty file beside FileName, readable like any file the user creates: its name
// and the descriptor that created it, through which alone it is written (a name can be
// swapped for a link meanwhile; the descriptor cannot). Raises EFCreateError naming
// FileName when the folder refuses.
struct TPartFile {
  std::string Name;
  int Handle = -1;
};
// The name inside the temporary one is cut (on a character's start) so that the dot, the
// process number, the counter and ".part" still fit the 255 bytes of a file name.
std::string PartNameStem(const std::string& Name) {
  constexpr std::size_t MaxKept = 200;
  if (Name.size() <= MaxKept) return Name;
  std::size_t end = MaxKept;
  while (end > 0 && (static_cast<unsigned char>(Name[end]) & 0xC0) == 0x80) --end;
  return Name.substr(0, end);
}

TPartFile CreatePartFile(const std::string& FileName) {
  const std::string base = ExtractFilePath(FileName) + "." +
                           PartNameStem(ExtractFileName(FileName)) + "." +
                           std::to_string(::getpid()) + "-";
  static unsigned counter = 0;
  int err = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = base + std::to_string(++counter) + ".part";
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) return {name, fd};
    err = errno;
    if (err != EEXIST) break;
  }
  throw EFCreateError("Cannot create file \"" + FileName + "\": " + SysReason(err));
}

// Whether Name still is the file open as Handle (not a link or another file put there).
bool StillNamed(const std::string& Name, int Handle) {
  struct stat byName {};
  struct stat byHandle {};
  return ::lstat(Name.c_str(), &byName) == 0 && ::fstat(Handle, &byHandle) == 0 &&
         byName.st_dev == byHandle.st_dev && byName.st_ino == byHandle.st_ino;
}

// Gives PartName the name FileName; with NoReplace, never in place of a file that exists.
// Answers 0 or the errno.
int Rename(const std::string& PartName, const std::string& FileName, bool NoReplace) {
  if (!NoReplace) return ::rename(PartName.c_str(), FileName.c_str()) == 0 ? 0 : errno;
  if (::renameat2(AT_FDCWD, PartName.c_str(), AT_FDCWD, FileName.c_str(), RENAME_NOREPLACE) == 0)
    return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the flag: a hard link refuses an existing name just as well.
  if (::link(PartName.c_str(), FileName.c_str()) == 0) {
    ::unlink(PartName.c_str());
    return 0;
  }
  if (errno != EPERM && errno != EOPNOTSUPP) return errno;
  // Nor links (FAT): a look first, the best such a file system allows.
  struct stat st {};
  if (::lstat(FileName.c_str(), &st) == 0) return EEXIST;
  return ::rename(PartName.c_str(), FileName.c_str()) == 0 ? 0 : errno;
}

// The part file's stream, hashed as it is written when the download is held to a hash.
struct TPartStream {
  std::unique_ptr<TStream> Stream;
  TFileStream* File = nullptr;
  THashingStream* Hashed = nullptr;
};

TPartStream OpenPartStream(const TPartFile& Part, bool Hash) {
  TPartStream out;
  try {
    auto file = std::make_unique<TFileStream>(Part.Handle, Part.Name);
    out.File = file.get();
    out.Stream = std::move(file);
    if (Hash) {
      auto hashing = std::make_unique<THashingStream>(std::move(out.Stream));
      out.Hashed = hashing.get();
      out.Stream = std::move(hashing);
    }
  } catch (...) {
    if (!out.File) ::close(Part.Handle);
    out.Stream.reset();
    ::unlink(Part.Name.c_str());
    throw;
  }
  return out;
}

// Every way out of a download frees its form and leaves either the finished file or
// nothing.
struct TDownloadEnd {
  const TAliveGuard& Guard;
  const std::string& PartName;
  TWebDlProgress*& Form;
  const bool& Saved;
  ~TDownloadEnd() {
    if (!Guard.Gone()) {
      delete Form;
      Form = nullptr;
    }
    if (!Saved) ::unlink(PartName.c_str());
  }
};

// Why the bytes written differ from what the page gives, or empty.
std::string HashFault(THashingStream& Saved, const TDownloadExpectation& Expected) {
  const std::string fault =
      Saved.Sequential()
          ? ExpectationFault(Expected, "The file", Saved.Written(), Saved.DigestHex())
          : "The file was not written from its first byte to its last in order";
  return fault.empty() ? fault : fault + "; it was not saved";
}

// The file is on the disk, and still the one under its temporary name, before it takes
// the target's name; else why not.
std::string PartFileFault(const TFileStream& File, const std::string& PartName,
                          const std::string& FileName) {
  if (::fsync(File.Handle()) != 0)
    return "Cannot save the file " + FileName + ": " + SysReason(errno);
  if (!StillNamed(PartName, File.Handle()))
    return "The temporary file " + PartName +
           " was replaced by another while the download ran; nothing was saved";
  return {};
}

// Gives the finished file its name, on the disk; else why it has none.
std::string SaveFault(const std::string& PartName, const std::string& FileName, bool NoReplace) {
  int err = Rename(PartName, FileName, NoReplace);
  if (err == EEXIST)
    return "Cannot save the file " + FileName +
           ": a file of that name appeared meanwhile, and nobody agreed to replace it";
  if (err == 0) err = SyncFolderOf(FileName);
  return err == 0 ? std::string() : "Cannot save the file " + FileName + ": " + SysReason(err);
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
  if (RefuseEntryURL(EntryName(FInfoTags->DownloadTag(), "DownloadURL"), FPage.Download))
    return false;
  if (FileName.back() == '/') {
    // The page proposes the name: one that would be hidden, a folder or no name at all
    // is refused rather than guessed at.
    if (const std::string fault = FileNameFault(FDownloadFileName); !fault.empty()) {
      FLastError = EntryName(FInfoTags->DownloadTag(), "DownloadURL") + " \"" + FPage.Download +
                   "\" proposes no usable file name: " + fault;
      return false;
    }
  }
  // A signed page for a version that is not newer is an old page played back: its update
  // is never fetched.
  if (FSignatureVerified && !IsUpdateAvailable()) {
    FLastError = "The signed page offers version " + FPage.Version +
                 ", which is not newer than the version " + FCurrentVersion +
                 " running now: a signed update never goes back";
    return false;
  }
  FLocalFileName = FileName.back() == '/' ? FileName + FDownloadFileName : FileName;
  const bool exists = FileExists(FLocalFileName);
  if (!FInCheckFlow && !FOptions.Contains(orvoAlwaysOverwrite) && exists &&
      Application->MessageBox(FormatOrvStr(sOrvOverwrite, {FLocalFileName}),
                              LoadOrvStr(sOrvFileExists), MB_ICONQUESTION | MB_YESNO) != IDYES)
    return false;
  // Replacing was agreed to for the file that is there now (or for any, by the option); a
  // file that appears only during the download is nobody's to replace.
  FNextDownload.NoReplace = !exists && !FOptions.Contains(orvoAlwaysOverwrite);
  return DoDownload(FPage.Download, FLocalFileName, LoadOrvStr(sOrvDownloadingUpdate));
}

bool TOrvane::DoDownload(const std::string& URL, const std::string& FileName,
                         const std::string& Title) {
  TAliveGuard guard(*this);
  const TDownloadRules rules = std::exchange(FNextDownload, {});
  FLastError.clear();
  // Refused before anything is created.
  if (RefuseEntryURL("The address", URL)) return false;
  CheckCreatable(FileName);
  const TPartFile part = CreatePartFile(FileName);
  // The update a page gives the size and SHA-256 of is hashed as it is written, and never
  // takes more than that size; a text that nothing signed is held to what a page may have.
  const TDownloadExpectation* expected = ChecksDownload(URL);
  const TDownloadExpectation expectation = expected ? *expected : TDownloadExpectation{};
  const std::int64_t limit = expected ? static_cast<std::int64_t>(expectation.Size)
                             : rules.Text && FMaxPageSize > 0 ? FMaxPageSize
                                                              : -1;
  TPartStream out = OpenPartStream(part, expected != nullptr);
  FDownloadTooLong = false;
  FResumedBytes = 0;
  FResumedSize = -1;
  bool result = false;
  const TDownloadEnd end{guard, part.Name, FProgressForm, result};
  const TDocDataRelease unwatch;
  THttpCli& cli = PrepareClient();
  if (!rules.Text) cli.SetMaxTime(FDownloadMaxTime);
  TReceiveLoan loan(cli, std::move(out.Stream));
  TDownloadRun attempts(*this, guard, cli, loan, out.Hashed, URL, !rules.Text,
                        expected ? limit : -1);
  attempts.Bind();
  WatchDownloadSize(cli, limit);
  if (!StartRequest(cli, URL)) return false;
  if (FOptions.Contains(orvoDisplayUI)) {
    ShowProgressForm(Title);
    if (guard.Gone()) return false;  // freed by a handler during the download
  }
  // The form may have closed without the request's end (a quit): what came so far is no
  // finished download.
  EndUnfinishedRequest(cli);
  RecordDownloadFailure(cli, loan, attempts, expected, limit, URL);
  // Nothing that differs from what the page gives takes the file's name.
  if (FLastError.empty() && out.Hashed) FLastError = HashFault(*out.Hashed, expectation);
  if (FLastError.empty()) FLastError = PartFileFault(*out.File, part.Name, FileName);
  loan.Close();
  if (FLastError.empty()) FLastError = SaveFault(part.Name, FileName, rules.NoReplace);
  result = FLastError.empty();
  return result;
}

void TOrvane::WatchDownloadSize(THttpCli& Cli, std::int64_t Limit) {
  Cli.OnDocData = [this, Limit](TObject* Sender, const void* Buffer, std::int32_t Len) {
    if (Limit >= 0 && !FDownloadTooLong) {
      // A server that announces or sends more than the file may have is stopped at once:
      // it could otherwise fill the disk.
      auto* c = dynamic_cast<THttpCli*>(Sender);
      // (What a resumed answer may carry is what the file still lacks.)
      if (c && PastByteLimit(*c, static_cast<std::uint64_t>(Limit - FResumedBytes))) {
        FDownloadTooLong = true;
        c->Abort();
        return;
      }
    }
    HttpCliDocData(Sender, Buffer, Len);
  };
}

void TOrvane::ShowProgressForm(const std::string& Title) {
  FProgressForm = CreateProgress();
  FPendingReceived = -1;
  FCountsShownAt = {};
  FProgressForm->lblDownloading->SetCaption(Title);
  FProgressForm->ShowModal();
}

void TOrvane::RecordDownloadFailure(const THttpCli& Cli, const TReceiveLoan& Loan,
                                    const TDownloadRun& Run, const TDownloadExpectation* Expected,
                                    std::int64_t Limit, const std::string& URL) {
  // A request that ended with an error (a body cut short, an abort, a time-out) is a
  // failure whatever status it had reached; when the exception hook ended the wait, its
  // message is the reason.
  const std::int32_t status = Cli.StatusCode();
  if (Loan.Taken()) {
    if (FLastError.empty()) FLastError = "The download was ended before it finished";
  } else if (!Run.Refusal.empty()) {
    FLastError = Run.Refusal;
  } else if (FDownloadTooLong && Expected) {
    FLastError = "The server sent more than the " + FormatThousands(Limit) +
                 " bytes the page gives for the file; the download was stopped";
  } else if (FDownloadTooLong) {
    FLastError = "The read-me at " + URL + " is larger than the " + FormatThousands(Limit) +
                 " bytes a text may have (MaxPageSize)";
  } else if (FLastError.empty() && status > 200 && !(status == 206 && FResumedBytes > 0)) {
    // (A 206 is whole only as the answer to a request for the rest.)
    FLastError = FailureReason(Cli);
  } else if (FLastError.empty() && !Expected && Run.Resume.Resumable() &&
             Run.Have() != Run.Resume.Size()) {
    // A rest sent without a length, which the connection's close ended early.
    FLastError = "The download ended after " + FormatThousands(Run.Have()) + " of its " +
                 FormatThousands(Run.Resume.Size()) + " bytes";
  }
}

void TOrvane::HttpCliDocData(TObject*, const void*, std::int32_t) {
  THttpCli* cli = SharedHttpCli();
  if (!cli) return;
  // A resumed answer carries the rest; progress is the whole file's.
  if (FResumedBytes > 0)
    DoDownloadProgress(FResumedBytes + cli->RcvdCount(), FResumedSize);
  else
    DoDownloadProgress(cli->RcvdCount(), cli->ContentLength());
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
