// TOrvane: finds out whether a newer version of the application has been published on
// an information page, and holds the settings of that check and the values it read.
//
// Where the members are (Orvane/):
//   Orvane.cpp            construction and end, the properties and their published table
//   CheckForUpdate.cpp    the whole check with its questions, the box of a failed download
//   FindUpdate.cpp        the check without windows
//   CheckSchedule.cpp     scheduled checks, the state file, the skip and remind answers
//   FileInfo.cpp          reading the page: preparing the shared client, the please-wait
//                         form, the exception hook, one page and the redirect chain
//   SharedHttpClient.cpp  the shared client's owner and its request-done handler
//   PageParser.cpp        the page's entries into FPage; VersionCompare.cpp the versions
//                         and dates
//   SignedPage.cpp        the page checked against the publisher's key
//   Download.cpp          the download with its progress form; DownloadRun.cpp its requests
//                         and retries
//   ReadMe.cpp            the plain and the external read-me
//   Relaunch.cpp          the update put in the running program's place and started
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Host/Component.h"
#include "Host/SysUtils.h"
#include "Orvane/OrvTags.h"
#include "Orvane/OrvTypes.h"
#include "Orvane/SignedFacts.h"
#include "Platform/Export.h"

class TCustomForm;
class TFont;
class THttpCli;
class TStream;
class TStrings;
class TStringList;
class TWebDlProgress;
class TTimer;
class THttpEvents;
struct TOrvHookState;
class TReceiveLoan;

// The characters after the last "/" of an address (the whole text when it has none,
// empty when it ends with "/"), at most 1000 of them: the file name an address proposes.
ORV_API std::string LastUrlSegment(const std::string& Url);

class ORV_API TOrvane : public TComponent {
 public:
  explicit TOrvane(TComponent* AOwner);
  ~TOrvane() override;

  std::string ClassName() const override { return "TOrvane"; }
  const TPublishedClass* Published() const override;
  static const TPublishedClass& PublishedClass();

  // The whole check with its questions, the download and the start of the update; true
  // when an update file was downloaded.
  virtual bool CheckForUpdate();
  // Reads the information page (and the pages it redirects to) with a please-wait form;
  // true when the first page was read. Does nothing while Active.
  virtual bool GetFileInfo();
  // Offers the read-me: the external one opened by the shell (only when Attended), else
  // the plain one in a window. False when there is none, the page was not read or the
  // user declined.
  virtual bool DisplayReadMe(bool Prompt);
  // Downloads DownloadURL to FileName, or into the folder FileName when it ends with "/".
  virtual bool DownloadFile(const std::string& FileName);
  // Downloads URL into FileName with the progress form showing Title. The file appears
  // under its name only when the download succeeded; a failed or cancelled one leaves an
  // existing file untouched. A file that cannot be created raises EFCreateError before
  // any request. The file is written through the descriptor that created it beside the
  // target, takes the target's name only while its temporary name still is that file,
  // and is synced to the disk with its folder before success is reported.
  virtual bool DoDownload(const std::string& URL, const std::string& FileName,
                          const std::string& Title);

  // Page reading, a line list first line to last: fills the product fields whose tag
  // names an entry, then decodes the date text (which may raise EConvertError).
  virtual void ParseDocument(const TStrings& Lines);
  // The content of one entry line.
  virtual std::string ExtractContent(const std::string& Line) const;
  // True when ProductVersion is newer than CurrentVersion under VersionFormat.
  virtual bool IsUpdateAvailable() const;
  // The page's date text as a date; raises EConvertError for a text that is no date.
  virtual TDateTime ConvertProductDate(const std::string& DateText) const;

  // Properties.
  bool Active() const { return FActive; }
  // Only False is taken: a component becomes active by reading its page.
  void SetActive(bool Value);
  const std::string& CurrentVersion() const { return FCurrentVersion; }
  void SetCurrentVersion(const std::string& Value) { FCurrentVersion = Value; }
  TOrvDateFormat DateFormat() const { return FDateFormat; }
  void SetDateFormat(TOrvDateFormat Value) { FDateFormat = Value; }
  const std::string& DownloadURL() const { return FPage.Download; }
  const std::string& HomeURL() const { return FHomeURL; }
  // Takes only an address that starts with "http://" or "https://"; then the page is read
  // anew.
  void SetURL(const std::string& Value);
  TOrvTags* InfoTags() const { return FInfoTags.get(); }
  // Copies the names of Value; the component keeps its own object.
  void SetInfoTags(const TOrvTags* Value);
  const std::string& LastError() const { return FLastError; }
  TOrvOptions Options() const { return FOptions; }
  // orvoDisplayUI is always added.
  void SetOptions(TOrvOptions Value);
  const std::string& ProductName() const { return FPage.Product; }
  const std::string& ProductAuthor() const { return FPage.Author; }
  TDateTime ProductDate() const { return FPage.DateValue; }
  const std::string& ProductDateStr() const { return FPage.Date; }
  const std::string& ProductReadMe() const { return FPage.ReadMe; }
  const std::string& ProductReadMeExt() const { return FPage.ReadMeExt; }
  const std::string& ProductVersion() const { return FPage.Version; }
  const std::string& ProxyHost() const { return FProxyHost; }
  void SetProxyHost(const std::string& Value) { FProxyHost = Value; }
  std::int32_t ProxyPort() const { return FProxyPort; }
  // A port number, 0 to 65535; anything else raises EConvertError and changes nothing.
  void SetProxyPort(std::int32_t Value);
  // While ProxyHost is empty, every request takes its proxy from the environment as curl
  // does (THttpCli::ProxyFromEnvironment); false by default.
  bool ProxyFromEnvironment() const { return FProxyFromEnvironment; }
  void SetProxyFromEnvironment(bool Value) { FProxyFromEnvironment = Value; }
  const std::string& RedirectURL() const { return FPage.Redirect; }
  const std::string& RunParams() const { return FPage.RunParams; }
  TFont* UIFont() { return GetFont(); }
  // With UIOwnerFont and a form as owner, the form's font is copied in first.
  TFont* GetFont();
  // Copies Value and stops following the owner form's font.
  void SetFont(const TFont* Value);
  bool UIOwnerFont() const { return FUIOwnerFont; }
  void SetUIOwnerFont(bool Value) { FUIOwnerFont = Value; }
  TOrvVersionFormat VersionFormat() const { return FVersionFormat; }
  void SetVersionFormat(TOrvVersionFormat Value) { FVersionFormat = Value; }
  const std::string& DownloadFileName() const { return FDownloadFileName; }
  const std::string& LocalFileName() const { return FLocalFileName; }

  // Seconds without progress after which a request of the component fails with
  // "Connection timed out"; 30 unless changed.
  std::int32_t RequestTimeout() const { return FRequestTimeout; }
  void SetRequestTimeout(std::int32_t Value) { FRequestTimeout = Value; }

  // Bytes an information page (or a plain read-me, also held in memory) may have; a larger
  // one ends its request as a failure as soon as its announced length or the bytes
  // received pass the limit. 1 MiB unless changed; 0 or less: no limit.
  std::int32_t MaxPageSize() const { return FMaxPageSize; }
  void SetMaxPageSize(std::int32_t Value) { FMaxPageSize = Value; }
  static constexpr std::int32_t DefaultMaxPageSize = 1024 * 1024;

  // Time bounds of the requests, so that no server can hold a check by trickling bytes
  // (see THttpCli): every request fails when it moves fewer than LowSpeedLimit bytes a
  // second over LowSpeedTime seconds; a page or read-me also when it takes longer than
  // PageMaxTime seconds, a download when it takes longer than DownloadMaxTime. 100 bytes/s
  // over 30 s, 60 s, and no bound for a download (files can be large) unless changed; 0
  // turns a bound off, a negative value raises EConvertError and changes nothing.
  std::int32_t LowSpeedLimit() const { return FLowSpeedLimit; }
  void SetLowSpeedLimit(std::int32_t Value);
  std::int32_t LowSpeedTime() const { return FLowSpeedTime; }
  void SetLowSpeedTime(std::int32_t Value);
  std::int32_t PageMaxTime() const { return FPageMaxTime; }
  void SetPageMaxTime(std::int32_t Value);
  std::int32_t DownloadMaxTime() const { return FDownloadMaxTime; }
  void SetDownloadMaxTime(std::int32_t Value);
  static constexpr std::int32_t DefaultLowSpeedLimit = 100;
  static constexpr std::int32_t DefaultLowSpeedTime = 30;
  static constexpr std::int32_t DefaultPageMaxTime = 60;

  // A download of a known size (the page's, or the one its first answer announced) that a
  // reset, a close or the low-speed rule cuts short is asked for again, at most
  // DownloadRetries more times (3 unless changed), after DownloadRetryWait ms, then twice
  // and four times that wait, doubling up to 64 times it (1000 ms unless changed), with
  // the progress form still up.
  // Only the missing bytes are asked for ("Range", with "If-Range" carrying the first
  // answer's ETag or Last-Modified) and kept only when the answer is exactly that rest of
  // the same file; an answer with the whole file starts it over. DownloadMaxTime bounds
  // all the attempts together. A negative value raises EConvertError and changes nothing.
  std::int32_t DownloadRetries() const { return FDownloadRetries; }
  void SetDownloadRetries(std::int32_t Value);
  std::int32_t DownloadRetryWait() const { return FDownloadRetryWait; }
  void SetDownloadRetryWait(std::int32_t Value);
  static constexpr std::int32_t DefaultDownloadRetries = 3;
  static constexpr std::int32_t DefaultDownloadRetryWait = 1000;

  // A person is present to look at what the check opens (true unless set). Without one
  // the external read-me is neither fetched nor handed to the desktop opener:
  // ReadMeExtSkipped says so instead.
  bool Attended() const { return FAttended; }
  void SetAttended(bool Value) { FAttended = Value; }

  // Trusted authorities (a file of PEM certificates) for https pages, downloads and
  // read-mes instead of the system's; empty unless set.
  const std::string& SslCAFile() const { return FSslCAFile; }
  void SetSslCAFile(const std::string& Value) { FSslCAFile = Value; }

  // The address of the information page read last, or being read (HomeURL, or the page a
  // redirect entry named): what a failed read was reading.
  const std::string& LastPageURL() const { return FLastPageURL; }

  // Signed updates. PublicKey holds the publisher's Ed25519 public keys in Base64, one a
  // line (a page signed by any of them is accepted, so that a publisher can move to a new
  // key before the old one is retired). With a key set, or with RequireSignature, a page
  // whose Signature entry is missing or is not a key's over every entry the check acts on
  // or shows is refused as it is read, before any question; so is a signed page that has
  // expired, that gives no expiry (unless AllowUnexpiringPages), or that is for another
  // product than ExpectedProduct (when set). Changing any of them makes the next check
  // read the page anew.
  const std::string& PublicKey() const { return FPublicKey; }
  void SetPublicKey(const std::string& Value);
  bool RequireSignature() const { return FRequireSignature; }
  void SetRequireSignature(bool Value);
  const std::string& ExpectedProduct() const { return FExpectedProduct; }
  void SetExpectedProduct(const std::string& Value);
  bool AllowUnexpiringPages() const { return FAllowUnexpiringPages; }
  void SetAllowUnexpiringPages(bool Value);
  // The page's entries for the file and its signature, as the page wrote them.
  const std::string& DownloadSize() const { return FPage.Size; }
  const std::string& DownloadSHA256() const { return FPage.SHA256; }
  const std::string& PageExpires() const { return FPage.Expires; }
  const std::string& PageSignature() const { return FPage.Signature; }
  const std::string& ReadMeSize() const { return FPage.ReadMeSize; }
  const std::string& ReadMeSHA256() const { return FPage.ReadMeSHA256; }
  const std::string& ReadMeExtSize() const { return FPage.ReadMeExtSize; }
  const std::string& ReadMeExtSHA256() const { return FPage.ReadMeExtSHA256; }
  // The page read last carried a valid signature by PublicKey.
  bool SignatureVerified() const { return FSignatureVerified; }
  // The update file is checked against the page's size and SHA-256 (signed, or given
  // without a signature): more bytes than the size stop the download, and a file whose
  // bytes do not match is deleted instead of saved. Under a key each read-me is held to
  // its own signed size and SHA-256 the same way, and shown only when it matches.
  bool DownloadChecked() const { return !FExpectations.Update.URL.empty(); }

  // Called for every piece of a download.
  TDownloadProgressEvent OnDownloadProgress;

  // The progress chain: the client's OnDocData during a download, one report, and the
  // progress form's update. Counts are 64-bit here; the application's event gets them
  // clamped to 32 bits.
  void HttpCliDocData(TObject* Sender, const void* Buffer, std::int32_t Len);
  virtual void DoDownloadProgress(std::int64_t BytesReceived, std::int64_t FileSize);
  virtual void DownloadProgress(TObject* Sender, std::int64_t BytesReceived, std::int64_t FileSize);

  // The forms, built here and freed by the operation that shows them.
  virtual TCustomForm* CreatePleaseWait(const std::string& Text);
  virtual TWebDlProgress* CreateProgress();
  // Fetches ProductReadMe; the window to show modally (the caller frees it), or nullptr
  // when the fetch failed.
  virtual TCustomForm* CreateReadMe();

  // The hook on the application's exception handler while requests run.
  void SetExceptionHandler();
  void ClearExceptionHandler();
  void OrvException(TObject* Sender, const Exception& E);

  TCustomForm* WaitForm() const { return FWaitForm; }
  TWebDlProgress* ProgressForm() const { return FProgressForm; }

  // The client every TOrvane of the process shares; nullptr before the first request and
  // once a component took it along as it went (see TSharedHttpClient).
  static THttpCli* SharedHttpCli();

  // ---- Checks without windows, on a schedule ----
  // Reads the page (and its redirects), checks its signature when a key is set, and
  // compares the versions, with every bound of CheckForUpdate but without any form, box
  // or please-wait: the product fields and LastError tell the rest. Always reads anew.
  virtual TOrvCheckResult FindUpdate();
  // How the last CheckForUpdate or CheckIfDue ended.
  TOrvCheckOutcome LastResult() const { return FLastResult; }
  // Seconds between scheduled checks; 0 (the default): no schedule.
  std::int32_t CheckInterval() const { return FCheckInterval; }
  void SetCheckInterval(std::int32_t Value);
  // The file that remembers the last check and the user's answers; empty: the default
  // under $XDG_STATE_HOME (StateFilePath tells which).
  const std::string& StateFile() const { return FStateFile; }
  void SetStateFile(const std::string& Value) { FStateFile = Value; }
  // The application's name in the default state file's path; empty: the executable's.
  const std::string& ApplicationId() const { return FApplicationId; }
  void SetApplicationId(const std::string& Value) { FApplicationId = Value; }
  std::string StateFilePath() const;
  // Checks when the last completed check is older than CheckInterval, silently first;
  // asks the usual questions only about an update that is not skipped. True when it
  // checked; LastResult tells how that ended.
  virtual bool CheckIfDue();
  // Calls CheckIfDue from a timer soon after the message loop starts, then whenever the
  // next check is due, while the application runs.
  bool AutoCheck() const { return FAutoCheck; }
  void SetAutoCheck(bool Value);
  // The version a scheduled check never offers again (the user's "skip this version",
  // with orvoOfferSkip); empty for none.
  std::string SkippedVersion() const;
  // Sets it, or forgets it and any "remind me later"; false (with LastError) when the
  // state file cannot be written.
  bool SkipVersion(const std::string& Version);
  bool ForgetSkipped();

 protected:
  friend class THttpEvents;
  virtual void TriggerDownloadProgress(std::int32_t BytesReceived, std::int32_t FileSize);
  // Creates the shared client on first use, binds its events to this component and sets
  // the proxy, the time-out and the time bounds of a page request.
  THttpCli& PrepareClient();
  // Puts the counts of the last progress report not yet shown on the progress form. The
  // counts are redrawn at most every ProgressRedrawMs (a download reports every piece,
  // thousands a second), whenever the bar moves and at the last byte; the request's end
  // calls this so that the form closes on the final counts.
  void ShowPendingProgress();
  static constexpr int ProgressRedrawMs = 100;
  // One page of GetFileInfo: requests Url, waits with the please-wait form, empties the
  // product fields and parses the page; true when it was read.
  bool ReadPage(const std::string& Url);
  // ReadPage's steps: the proxy of a page request, the wait (silent, or with the form),
  // the failure of an answer that was not the page, and the parse of one that was.
  void UseProxy(THttpCli& Cli) const;
  void WaitForPage(const TAliveGuard& Guard, const TReceiveLoan& Loan);
  void RecordPageFailure(const THttpCli& Cli);
  bool ParseReceivedPage(const TAliveGuard& Guard, TStream& Received);
  // GetFileInfo's steps: whether there is a page to read at all (else a box, or LastError
  // when silent); one page of the chain, refused before any request when its address is
  // none the component fetches; a chain that would never end (LastError says why).
  bool HasPageToRead();
  bool ReadChainPage(const std::string& Url);
  bool EndlessRedirect(const std::string& Url, const std::vector<std::string>& Read);
  // CheckForUpdate's steps; Downloading tells, when an error ends them, whether the
  // download had begun.
  bool RunCheck(bool& Downloading);
  // Why the check refuses the page it read (an address it will not fetch, a file name it
  // will not write), or empty.
  std::string RefusedPageEntry();
  // Empties what a page read fills, as every read does first.
  void ClearProductFields();
  // When Url, the address that Entry ("HomeURL", "The Download entry") gives, is none the
  // component fetches: LastError says what is wrong with which entry, and the answer is
  // true.
  bool RefuseEntryURL(const std::string& Entry, const std::string& Url);
  // "The Download entry": a page's entry named by its tag, or by the field it fills when
  // the tag is empty.
  static std::string EntryName(const std::string& Tag, const char* Field);
  // Sets the client's URL and starts the request. A request that cannot start (an address
  // the client refuses, a client still busy) is a failure with LastError, never an
  // exception out of the operation; the application's exception hook still sees the
  // error, as it would have had it escaped.
  bool StartRequest(THttpCli& Cli, const std::string& Url);
  // After a modal wait: a request that is still running (the wait was ended by a quit,
  // not by the request's end) is aborted, so that nothing takes it as finished.
  void EndUnfinishedRequest(THttpCli& Cli);
  // Watches the size of the request under way against MaxPageSize (the client's
  // OnDocData); FPageTooLarge tells afterwards.
  void WatchPageSize(THttpCli& Cli);
  // The same against Limit bytes (a signed size: 0 is a limit too; less than 0: none).
  void WatchByteLimit(THttpCli& Cli, std::int64_t Limit);
  std::string PageTooLargeReason() const;
  // After the last page of a check was read: the trust rules (VerifySignedFacts) with
  // the component's keys, product and expiry settings, and what the download and the
  // read-mes will be held to. False, with LastError, when the page is refused.
  bool VerifyPage();
  // What a download of URL is held to (the update's or a read-me's signed size and
  // SHA-256), or nullptr when nothing.
  const TDownloadExpectation* ChecksDownload(const std::string& URL) const;

  // The external read-me: fetched into a folder of its own and opened by the shell; true
  // when it was. What is not opened is removed at once.
  bool OpenReadMeExt();
  // Called instead of fetching the external read-me when nobody is present; nothing here.
  virtual void ReadMeExtSkipped(const std::string& Reason);
  // Removes the external read-me's folder and what it holds, unless it was opened.
  void RemoveReadMeFolder();
  // How DoDownload treats the file of its next call, which resets them: a text (a read-me)
  // is held to MaxPageSize and PageMaxTime when nothing signed gives its size; NoReplace
  // refuses to take the name of a file that exists by then (nobody agreed to replace it).
  struct TDownloadRules {
    bool Text = false;
    bool NoReplace = false;
  };
  TDownloadRules FNextDownload;
  // One DoDownload's requests: the first, and those that ask again for what a broken
  // connection left missing.
  struct TDownloadRun;
  // DoDownload's steps: the watch on the bytes against Limit (less than 0: none), the
  // progress form's wait, and the failure of a request that ended (the update's size when
  // Expected, else a text's Limit).
  void WatchDownloadSize(THttpCli& Cli, std::int64_t Limit);
  void ShowProgressForm(const std::string& Title);
  void RecordDownloadFailure(const THttpCli& Cli, const TReceiveLoan& Loan, const TDownloadRun& Run,
                             const TDownloadExpectation* Expected, std::int64_t Limit,
                             const std::string& URL);

 public:
  // What failed in the client's last request: its reason phrase, or its status when the
  // server sent none (a failure is never reported without a reason).
  static std::string FailureReason(const THttpCli& Cli);

 protected:
  bool FActive = false;
  // What the page read last says, entry by entry; every read empties it first.
  TPageFacts FPage;
  // The offered version under the name descendants have always set it by.
  std::string& FProductVersion{FPage.Version};
  std::string FCurrentVersion;
  TOrvDateFormat FDateFormat = orvdZelDate;
  std::string FHomeURL;
  std::unique_ptr<TOrvTags> FInfoTags;
  std::string FLastError;
  TOrvOptions FOptions{orvoDisplayUI, orvoDisplayReadMe, orvoRunUpdate, orvoExitDuringUpdate};
  std::string FProxyHost;
  std::int32_t FProxyPort = 80;
  bool FProxyFromEnvironment = false;
  std::unique_ptr<TFont> FUIFontObject;
  bool FUIOwnerFont = true;
  TOrvVersionFormat FVersionFormat = orvvBuildNumber;
  // The application's exception handler while the request hook is installed (kept in the
  // hook's state, which outlives the component when another hook was put on top of it).
  std::shared_ptr<TOrvHookState> FHook;
  // Exists only while a page is parsed.
  std::unique_ptr<TStringList> FInfoLines;
  std::string FDownloadFileName;
  std::string FLocalFileName;
  TWebDlProgress* FProgressForm = nullptr;
  // The report ShowPendingProgress would show (FPendingReceived < 0: none), and when the
  // counts were last shown.
  std::int64_t FPendingReceived = -1;
  std::int64_t FPendingSize = 0;
  std::chrono::steady_clock::time_point FCountsShownAt;
  TCustomForm* FWaitForm = nullptr;
  std::int32_t FRequestTimeout = 30;
  std::int32_t FMaxPageSize = DefaultMaxPageSize;
  std::string FSslCAFile;
  bool FPageTooLarge = false;
  // The last page was read but refused by the trust rules (not by the network).
  bool FPageRefused = false;
  std::string FLastPageURL;
  // CheckForUpdate's own download: its save dialog has asked about overwriting already.
  bool FInCheckFlow = false;
  std::string FPublicKey;
  bool FRequireSignature = false;
  std::string FExpectedProduct;
  bool FAllowUnexpiringPages = false;
  bool FSignatureVerified = false;
  // What VerifyPage found the downloads must be.
  TTrustVerdict FExpectations;
  // The download under way passed the size it is held to.
  bool FDownloadTooLong = false;

  // Scheduled checks. The download question: with orvoOfferSkip a box of three answers
  // (mrYes install, mrIgnore skip this version, mrNo remind me later), whose last two are
  // kept in the state file.
  virtual TDownloadAnswer AskDownload();
  void AutoCheckTick();
  // With orvoReplaceAndRelaunch, for a verified update: downloads it beside the running
  // program, puts it in its place and starts it with the same arguments. -1 when the
  // program cannot be replaced (the usual save follows), else whether it was replaced.
  int ReplaceAndRelaunch();
  // The box of a download that failed, with LastError.
  void ShowDownloadError();
  std::int64_t SecondsUntilDue();
  bool FSilent = false;        // FindUpdate runs: nothing is shown
  bool FRequestEnded = false;  // the page request's end was reported
  bool FDownloadCancelled = false;
  bool FChecking = false;  // CheckIfDue runs: the timer does not start another
  TOrvCheckOutcome FLastResult = ocoNone;
  std::int32_t FCheckInterval = 0;
  std::string FStateFile;
  std::string FApplicationId;
  bool FAutoCheck = false;
  TTimer* FAutoTimer = nullptr;
  std::int32_t FLowSpeedLimit = DefaultLowSpeedLimit;
  std::int32_t FLowSpeedTime = DefaultLowSpeedTime;
  std::int32_t FPageMaxTime = DefaultPageMaxTime;
  std::int32_t FDownloadMaxTime = 0;
  bool FAttended = true;
  std::int32_t FDownloadRetries = DefaultDownloadRetries;
  std::int32_t FDownloadRetryWait = DefaultDownloadRetryWait;
  // The download under way continues bytes on the disk: how many were there when its
  // answer began, and the whole file's size; its progress counts the whole file.
  std::int64_t FResumedBytes = 0;
  std::int64_t FResumedSize = -1;
  // The external read-me's private folder and file, while they are the component's to
  // remove.
  std::string FReadMeFolder;
  std::string FReadMeFile;
};

// "1,234,567": the decimal text split by commas into groups of three from the right.
ORV_API std::string FormatThousands(std::int64_t N);
