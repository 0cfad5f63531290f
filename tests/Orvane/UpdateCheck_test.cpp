// The update check end to end: nginx serves the information pages, the read-me and the
// update file, squid stands in as the proxy, a Python peer gives the replies that go wrong
// (a body cut short, a server that never answers, a header line without end), and the
// scripted back-end answers every box and dialog and records what the user would have
// seen. What lands on disk is compared byte for byte.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "Host/Application.h"
#include "Host/ComCtrls.h"
#include "Host/Dialogs.h"
#include "Host/StdCtrls.h"
#include "Host/Streams.h"
#include "Host/Timer.h"
#include "Host/VisualTestSupport.h"
#include "HttpProt/HttpCli.h"
#include "Orvane/ExceptionHook.h"
#include "Orvane/OrvStrings.h"
#include "Orvane/Orvane.h"
#include "Orvane/WebDlProgress.h"
#include "Platform/Shell.h"
#include "support/HttpServers.h"
#include "support/PythonPeer.h"

namespace {

using testsupport::TempDir;
using Shot = TScriptedBackend::TFormShot;

std::string ReadFile(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::stringstream S;
  S << In.rdbuf();
  return S.str();
}

// The names in Dir (no "." or ".."), sorted.
std::vector<std::string> Listing(const std::string& Dir) {
  std::vector<std::string> Names;
  if (DIR* D = ::opendir(Dir.c_str())) {
    while (dirent* E = ::readdir(D))
      if (std::string(E->d_name) != "." && std::string(E->d_name) != "..")
        Names.push_back(E->d_name);
    ::closedir(D);
  }
  std::sort(Names.begin(), Names.end());
  return Names;
}

// An information page: one META HTTP-EQUIV line per entry, among ordinary HTML.
std::string Page(const std::vector<std::pair<std::string, std::string>>& Entries) {
  std::string P = "<HTML><HEAD><TITLE>Sample Editor</TITLE>\r\n";
  for (const auto& [Name, Content] : Entries)
    P += "<META HTTP-EQUIV=\"" + Name + "\" CONTENT=\"" + Content + "\">\r\n";
  return P + "</HEAD>\r\n<BODY>The latest version of Sample Editor.</BODY></HTML>\r\n";
}

// Bytes that no two positions of a few MB repeat in step with.
std::string UpdateBytes(size_t Size) {
  std::string Data(Size, '\0');
  std::uint32_t X = 0x2545F491;
  for (char& C : Data) {
    X ^= X << 13;
    X ^= X >> 17;
    X ^= X << 5;
    C = static_cast<char>(X);
  }
  return Data;
}

constexpr size_t UpdateSize = 3'000'000;
const std::string ReadMeText = "Sample Editor 1.1\r\n\r\nWhat is new:\n- faster\r- smaller\r\n";

// Records what the shell was asked to start, and starts nothing.
struct TShellRecorder {
  std::vector<plat::ShellCommand> Started;
  int Answer = 0;  // 0: started; an errno: refused
  TShellRecorder() {
    plat::SetShellLauncher([this](const plat::ShellCommand& C) {
      Started.push_back(C);
      return Answer;
    });
  }
  ~TShellRecorder() { plat::SetShellLauncher({}); }
};

// PATH with an "xdg-open" of our own in front, so that any file has a program to open it;
// or PATH without one, so that a file that is no program cannot be opened.
class TPathSwap {
 public:
  explicit TPathSwap(bool WithOpener) : FSaved(std::getenv("PATH") ? std::getenv("PATH") : "") {
    if (WithOpener) {
      const std::string Opener = FDir.Write("xdg-open", "#!/bin/sh\nexit 0\n");
      ::chmod(Opener.c_str(), 0755);
    }
    ::setenv("PATH", FDir.Path().c_str(), 1);
  }
  ~TPathSwap() { ::setenv("PATH", FSaved.c_str(), 1); }

 private:
  TempDir FDir;
  std::string FSaved;
};

class UpdateCheck : public vtest::TVisualTest {
 protected:
  static void SetUpTestSuite() {
    Web = new testsupport::Nginx("    location /slow/ { limit_rate 200k; }\n");
    if (!Web->Start()) {
      StartError = "nginx: " + Web->Error();
      return;
    }
    Odd = new testsupport::PythonPeer(testsupport::StartPythonPeer("http_odd.py", {}, 300));
    if (Odd->port == 0) {
      StartError = "http_odd.py did not start";
      return;
    }
    const std::string Odds = "http://127.0.0.1:" + std::to_string(Odd->port);
    Update = UpdateBytes(UpdateSize);
    TempDir& D = Web->Dir();
    D.Write("www/files/setup.exe", Update);
    D.Write("www/slow/setup.exe", Update);
    D.Write("www/readme.txt", ReadMeText);
    D.Write("www/docs/notes.html", "<HTML>notes</HTML>\n");
    const auto Info = [&](const std::string& Download,
                          std::vector<std::pair<std::string, std::string>> More = {}) {
      std::vector<std::pair<std::string, std::string>> E = {
          {"Product", "Sample Editor"}, {"Version", "1.1"},     {"Date", "Mar 5, 1998"},
          {"Author", "Sample Soft"},    {"Download", Download}, {"Params", "/silent"}};
      E.insert(E.end(), More.begin(), More.end());
      return Page(E);
    };
    D.Write("www/info.html", Info(Web->Url("/files/setup.exe")));
    D.Write("www/slow.html", Info(Web->Url("/slow/setup.exe")));
    D.Write("www/missing.html", Info(Web->Url("/files/gone.exe")));
    D.Write("www/short.html", Info(Odds + "/short"));
    D.Write("www/readme.html",
            Info(Web->Url("/files/setup.exe"), {{"ReadMe", Web->Url("/readme.txt")}}));
    D.Write("www/both.html",
            Info(Web->Url("/files/setup.exe"), {{"ReadMe", Web->Url("/readme.txt")},
                                                {"ReadMeExt", Web->Url("/docs/notes.html")}}));
    D.Write("www/bothbad.html",
            Info(Web->Url("/files/setup.exe"), {{"ReadMe", Web->Url("/readme.txt")},
                                                {"ReadMeExt", Web->Url("/docs/gone.html")}}));
    D.Write("www/hop.html", Page({{"Redirect", Web->Url("/info.html")}}));
    D.Write("www/self.html", Page({{"Redirect", Web->Url("/self.html")}}));
    D.Write("www/ping.html", Page({{"Redirect", Web->Url("/pong.html")}}));
    D.Write("www/pong.html", Page({{"Redirect", Web->Url("/ping.html")}}));
    for (int I = 1; I <= 12; ++I)
      D.Write("www/chain" + std::to_string(I) + ".html",
              Page({{"Redirect", Web->Url("/chain" + std::to_string(I + 1) + ".html")}}));
  }
  static void TearDownTestSuite() {
    delete Odd;
    delete Web;
    Odd = nullptr;
    Web = nullptr;
  }

  void SetUp() override {
    vtest::TVisualTest::SetUp();
    ASSERT_TRUE(StartError.empty()) << StartError;
    ::setenv("TMPDIR", Temp.Path().c_str(), 1);
    // Watchdog: a form that nothing closes would otherwise wait for ever. The timer wakes
    // the modal loop; past the limit the form is closed and the test fails.
    Started = std::chrono::steady_clock::now();
    Ticker.SetInterval(200);
    Ticker.OnTimer = [](TObject*) {};
    Ticker.SetEnabled(true);
    Backend.OnModalPass = [this](TCustomForm& F) {
      if (std::chrono::steady_clock::now() - Started > std::chrono::seconds(60)) {
        ADD_FAILURE() << "watchdog closed the form \"" << F.Caption() << "\"";
        F.SetModalResult(mrAbort);
        return;
      }
      if (Script) Script(F);
    };
  }
  void TearDown() override {
    // A request's late messages belong to this test.
    vtest::PumpUntil([] { return false; }, 20);
    ::unsetenv("TMPDIR");
    vtest::TVisualTest::TearDown();
  }

  // A checker for Url with every tag named, version 1.0 running.
  std::unique_ptr<TOrvane> Checker(const std::string& Url, TOrvOptions Options = {}) {
    auto O = std::make_unique<TOrvane>(nullptr);
    O->SetURL(Url);
    O->SetCurrentVersion("1.0");
    O->SetOptions(Options);
    TOrvTags Tags;
    Tags.SetProductNameTag("Product");
    Tags.SetVersionTag("Version");
    Tags.SetDateTag("Date");
    Tags.SetAuthorTag("Author");
    Tags.SetDownloadTag("Download");
    Tags.SetReadMeTag("ReadMe");
    Tags.SetReadMeExtTag("ReadMeExt");
    Tags.SetRedirectTag("Redirect");
    Tags.SetRunParamsTag("Params");
    O->SetInfoTags(&Tags);
    return O;
  }

  std::vector<std::string> BoxCaptions() const {
    std::vector<std::string> C;
    for (const auto& B : Backend.Boxes()) C.push_back(B.Request.Caption);
    return C;
  }
  const TMessageBoxRequest& LastBox() const { return Backend.Boxes().back().Request; }
  // The forms shown, by caption.
  std::vector<std::string> FormCaptions() const {
    std::vector<std::string> C;
    for (const auto& F : Backend.FormsShown()) C.push_back(F.Caption);
    return C;
  }
  std::string Saved(const std::string& Name) const { return Out.Path() + "/" + Name; }

  static inline testsupport::Nginx* Web = nullptr;
  static inline testsupport::PythonPeer* Odd = nullptr;
  static inline std::string Update;
  static inline std::string StartError;
  TempDir Out;   // where the user saves
  TempDir Temp;  // the temporary folder
  // Acts for the user on every pass of a modal loop (the watchdog runs first).
  std::function<void(TCustomForm&)> Script;
  TTimer Ticker{nullptr};
  std::chrono::steady_clock::time_point Started;
};

TEST_F(UpdateCheck, NoUpdateThenDeclinedThenMissingSettings) {
  auto O = Checker(Web->Url("/info.html"));
  O->SetCurrentVersion("1.1");
  EXPECT_FALSE(O->CheckForUpdate());
  ASSERT_EQ(BoxCaptions(), std::vector<std::string>{"No Update Found"});
  EXPECT_EQ(LastBox().Text, "There is no update available.");
  EXPECT_EQ(LastBox().Icon, miInformation);
  EXPECT_EQ(LastBox().Buttons, std::vector<TModalResult>{mrOk});
  // The page as read, and the please-wait form it was read under.
  EXPECT_TRUE(O->Active());
  EXPECT_EQ(O->ProductName(), "Sample Editor");
  EXPECT_EQ(O->ProductAuthor(), "Sample Soft");
  EXPECT_EQ(O->ProductDateStr(), "Mar 5, 1998");
  EXPECT_EQ(O->DownloadFileName(), "setup.exe");
  EXPECT_EQ(O->RunParams(), "/silent");
  ASSERT_EQ(FormCaptions(), std::vector<std::string>{"Please Wait"});
  const Shot& Wait = Backend.FormsShown()[0];
  EXPECT_EQ(Wait.ClientWidth, 240);
  EXPECT_EQ(Wait.ClientHeight, 100);
  EXPECT_EQ(Wait.Left, (1024 - 240) / 2);
  EXPECT_EQ(Wait.Top, (768 - 100) / 2);
  EXPECT_EQ(Wait.BorderStyle, bsDialog);
  EXPECT_TRUE(Wait.BorderIcons.Empty());
  EXPECT_EQ(Wait.Cursor, crHourGlass);
  ASSERT_EQ(Wait.Controls.size(), 1u);
  EXPECT_EQ(Wait.Controls[0].Text, "Checking For Update...");
  EXPECT_EQ(Wait.Controls[0].Alignment, taCenter);
  EXPECT_EQ((std::vector<int>{Wait.Controls[0].Left, Wait.Controls[0].Top, Wait.Controls[0].Width,
                              Wait.Controls[0].Height}),
            (std::vector<int>{0, 27, 232, 23}));
  EXPECT_EQ(Backend.FormsHidden()[0].ModalResult, mrOk);
  EXPECT_EQ(O->RequestTimeout(), 30);
  EXPECT_EQ(TOrvane::SharedHttpCli()->Timeout(), 30);

  // A newer version, and the user says No: no dialog, no request, nothing on disk.
  Backend.Clear();
  O->SetCurrentVersion("1.0");
  Backend.AnswerBox(mrNo);
  EXPECT_FALSE(O->CheckForUpdate());
  ASSERT_EQ(BoxCaptions(), std::vector<std::string>{"Update Available"});
  EXPECT_EQ(MessageLines(LastBox().Text),
            (std::vector<std::string>{"Current version is 1.0.", "Version 1.1 is available.",
                                      "Download the update?"}));
  EXPECT_EQ(LastBox().Icon, miQuestion);
  EXPECT_EQ(LastBox().Buttons, (std::vector<TModalResult>{mrYes, mrNo}));
  EXPECT_TRUE(Backend.Dialogs().empty());
  EXPECT_TRUE(Backend.FormsShown().empty());  // the page read before still holds

  // Yes, then the save dialog is cancelled.
  Backend.Clear();
  Backend.AnswerBox(mrYes);
  Backend.CancelSaveDialog();
  EXPECT_FALSE(O->CheckForUpdate());
  ASSERT_EQ(Backend.Dialogs().size(), 1u);
  const TSaveDialogRequest& Dlg = Backend.Dialogs()[0].Request;
  EXPECT_EQ(Dlg.FileName, "setup.exe");
  EXPECT_EQ(Dlg.FilterIndex, 1);
  EXPECT_EQ(
      Dlg.Filters,
      (std::vector<std::pair<std::string, std::string>>{
          {"Application (*.EXE)", "*.EXE"}, {"Zipped File", "*.ZIP"}, {"All Files (*.*)", "*.*"}}));
  EXPECT_TRUE(Dlg.Options & ofOverwritePrompt);
  EXPECT_TRUE(Dlg.Options & ofPathMustExist);
  EXPECT_TRUE(Listing(Out.Path()).empty());

  // No home address, then no tags: a box of its own, then "Connection Error".
  Backend.Clear();
  auto Bare = std::make_unique<TOrvane>(nullptr);
  EXPECT_FALSE(Bare->CheckForUpdate());
  EXPECT_EQ(BoxCaptions(), (std::vector<std::string>{"Missing Home URL", "Connection Error"}));
  EXPECT_EQ(Backend.Boxes()[0].Request.Text,
            "Can not retrieve version information\rbecause no home url was provided.");
  EXPECT_EQ(Backend.Boxes()[0].Request.Icon, miExclamation);
  EXPECT_EQ(LastBox().Text,
            "Could not retrieve version information from the Internet.\rError unknown.");
  Backend.Clear();
  Bare->SetURL(Web->Url("/info.html"));
  EXPECT_FALSE(Bare->GetFileInfo());
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Missing Tag Information"});
  EXPECT_TRUE(Backend.FormsShown().empty());
  EXPECT_EQ(Backend.UnusedAnswers(), 0u);
}

TEST_F(UpdateCheck, DownloadsWhereTheUserSavesWithTheFilterExtensions) {
  auto O = Checker(Web->Url("/info.html"));  // no run question
  std::vector<std::pair<std::int32_t, std::int32_t>> Reports;
  O->OnDownloadProgress = [&](TObject* Sender, std::int32_t Got, std::int32_t Size) {
    EXPECT_EQ(Sender, O.get());
    Reports.emplace_back(Got, Size);
  };
  // Typed name, filter index, the file that must appear.
  const struct {
    const char* Typed;
    int Filter;
    const char* Expected;
  } Rows[] = {
      {"upd", 1, "upd.EXE"}, {"upd", 2, "upd.ZIP"}, {"upd", 3, "upd"}, {"name.bin", 1, "name.bin"}};
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Typed + std::to_string(Row.Filter));
    Backend.Clear();
    Reports.clear();
    Backend.AnswerBox(mrYes);
    Backend.AnswerSaveDialog(Saved(Row.Typed), Row.Filter);
    ASSERT_TRUE(O->CheckForUpdate());
    EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Update Available"});
    EXPECT_EQ(O->LocalFileName(), Saved(Row.Expected));
    EXPECT_TRUE(ReadFile(Saved(Row.Expected)) == Update) << "the file differs";
    ASSERT_FALSE(Reports.empty());
    EXPECT_EQ(Reports.back(), (std::pair<std::int32_t, std::int32_t>(UpdateSize, UpdateSize)));
  }
  EXPECT_EQ(Listing(Out.Path()),
            (std::vector<std::string>{"name.bin", "upd", "upd.EXE", "upd.ZIP"}));

  // The progress form as built and as it ended.
  ASSERT_EQ(FormCaptions(), std::vector<std::string>{"Download Progress"});
  const Shot& P = Backend.FormsHidden().back();
  EXPECT_EQ(P.ClassName, "TWebDlProgress");
  EXPECT_EQ(P.ClientWidth, 272);
  EXPECT_EQ(P.ClientHeight, 123);
  EXPECT_EQ(P.Left, (1024 - 272) / 2);  // centred, not at 393
  EXPECT_EQ(P.Top, (768 - 123) / 2);
  EXPECT_EQ(P.BorderStyle, bsDialog);
  EXPECT_TRUE(P.BorderIcons.Empty());
  EXPECT_EQ(P.Cursor, crHourGlass);
  ASSERT_EQ(P.Controls.size(), 4u);
  const auto& Title = P.Controls[0];
  EXPECT_EQ(Title.Text, "Downloading Update");
  EXPECT_EQ((std::vector<int>{Title.Left, Title.Top, Title.Width, Title.Height, Title.Alignment}),
            (std::vector<int>{2, 10, 268, 18, taCenter}));
  const auto& Count = P.Controls[1];
  EXPECT_EQ(Count.Text, "3,000,000 of 3,000,000 bytes received.");
  EXPECT_EQ((std::vector<int>{Count.Left, Count.Top, Count.Width, Count.Height}),
            (std::vector<int>{2, 60, 268, 22}));
  const auto& Bar = P.Controls[2];
  EXPECT_EQ((std::vector<int>{Bar.Left, Bar.Top, Bar.Width, Bar.Height, Bar.Min, Bar.Max,
                              Bar.Position, Bar.TabOrder, Bar.Cursor}),
            (std::vector<int>{36, 40, 200, 14, 0, 100, 100, 0, crHourGlass}));
  const auto& Cancel = P.Controls[3];
  EXPECT_EQ(Cancel.Text, "&Cancel");
  EXPECT_EQ((std::vector<int>{Cancel.Left, Cancel.Top, Cancel.Width, Cancel.Height, Cancel.TabOrder,
                              Cancel.ModalResult}),
            (std::vector<int>{102, 94, 68, 22, 1, mrNone}));
  EXPECT_TRUE(Cancel.HasOnClick);
  EXPECT_TRUE(Cancel.Cancel);  // Escape presses it
  EXPECT_EQ(P.ModalResult, mrOk);

  // A name that gained its extension after the dialog is another file: asked about
  // before it is replaced, and No keeps it and reports the download as not done.
  Backend.Clear();
  std::ofstream(Saved("upd.EXE"), std::ios::binary | std::ios::trunc) << "keep me";
  Backend.AnswerBox(mrYes);
  Backend.AnswerSaveDialog(Saved("upd"), 1);  // "upd" exists: the dialog asks first
  Backend.AnswerBox(mrYes);                   // replace "upd"? (it is not the target)
  Backend.AnswerBox(mrNo);                    // replace "upd.EXE"?
  EXPECT_FALSE(O->CheckForUpdate());
  EXPECT_EQ(BoxCaptions(), (std::vector<std::string>{"Update Available", "Confirm Save As",
                                                     "File Exists", "Download Error"}));
  EXPECT_EQ(Backend.Boxes()[2].Request.Text,
            "The file " + Saved("upd.EXE") + " already exists.\rDo you want to overwrite it?");
  EXPECT_EQ(LastBox().Text, "Error occurred while downloading update.\rError unknown.");
  EXPECT_EQ(ReadFile(Saved("upd.EXE")), "keep me");
  EXPECT_EQ(Backend.UnusedAnswers(), 0u);

  // DownloadFile on its own: into a folder under the page's name, asking before it
  // replaces a file unless told to always overwrite.
  Backend.Clear();
  ASSERT_TRUE(O->DownloadFile(Out.Path() + "/"));
  EXPECT_EQ(O->LocalFileName(), Saved("setup.exe"));
  EXPECT_TRUE(ReadFile(Saved("setup.exe")) == Update);
  EXPECT_TRUE(Backend.Boxes().empty());
  std::ofstream(Saved("setup.exe"), std::ios::binary | std::ios::trunc) << "older";
  Backend.AnswerBox(mrNo);
  EXPECT_FALSE(O->DownloadFile(Saved("setup.exe")));
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"File Exists"});
  EXPECT_EQ(LastBox().Icon, miQuestion);
  EXPECT_EQ(ReadFile(Saved("setup.exe")), "older");
  Backend.Clear();
  O->SetOptions({orvoAlwaysOverwrite});
  EXPECT_TRUE(O->DownloadFile(Saved("setup.exe")));
  EXPECT_TRUE(Backend.Boxes().empty());
  EXPECT_TRUE(ReadFile(Saved("setup.exe")) == Update);
  EXPECT_FALSE(O->DownloadFile(""));
}

// Opens the progress form as a download would, without one.
class TProgressProbe : public TOrvane {
 public:
  using TOrvane::TOrvane;
  TWebDlProgress* Open() { return FProgressForm = CreateProgress(); }
  ~TProgressProbe() override {
    delete FProgressForm;
    FProgressForm = nullptr;
  }
};

TEST_F(UpdateCheck, ProgressWithAndWithoutAnAnnouncedSize) {
  TProgressProbe O(nullptr);
  std::vector<std::pair<std::int32_t, std::int32_t>> Reports;
  O.OnDownloadProgress = [&](TObject*, std::int32_t Got, std::int32_t Size) {
    Reports.emplace_back(Got, Size);
  };
  TWebDlProgress* P = O.Open();
  O.DoDownloadProgress(50, 200);
  EXPECT_EQ(P->pbarProgress->Position(), 25);
  EXPECT_EQ(P->lblProgress->Caption(), "50 of 200 bytes received.");
  O.DoDownloadProgress(40, 200);  // a smaller share never moves the bar back
  EXPECT_EQ(P->pbarProgress->Position(), 25);
  EXPECT_EQ(P->lblProgress->Caption(), "40 of 200 bytes received.");
  O.DoDownloadProgress(1234, -1);  // no size: the count alone, the bar stays
  EXPECT_EQ(P->lblProgress->Caption(), "1,234 bytes received.");
  EXPECT_EQ(P->pbarProgress->Position(), 25);
  O.DoDownloadProgress(1234, 0);
  EXPECT_EQ(P->lblProgress->Caption(), "1,234 bytes received.");
  O.DoDownloadProgress(3'000'000'000, 4'000'000'000);  // past 32 bits, no overflow
  EXPECT_EQ(P->pbarProgress->Position(), 75);
  EXPECT_EQ(P->lblProgress->Caption(), "3,000,000,000 of 4,000,000,000 bytes received.");
  // After Cancel the form stands still, the application still hears every piece.
  P->Cancelled = true;
  O.DoDownloadProgress(3'500'000'000, 4'000'000'000);
  EXPECT_EQ(P->pbarProgress->Position(), 75);
  EXPECT_EQ(Reports.size(), 6u);
  EXPECT_EQ(Reports.back(), (std::pair<std::int32_t, std::int32_t>(INT32_MAX, INT32_MAX)));
  EXPECT_EQ(Reports[2], (std::pair<std::int32_t, std::int32_t>(1234, -1)));
}

TEST_F(UpdateCheck, FailedAndCancelledDownloadsLeaveTheOldFileAndNothingElse) {
  // The user replaces a file that is there; the downloads then fail.
  const std::string Target = Saved("setup.exe");
  std::ofstream(Target, std::ios::binary) << "the good old version";
  const struct {
    const char* Page;
    const char* Reason;
  } Rows[] = {{"/missing.html", "Error occurred while downloading update.\rError: \"Not Found.\""},
              {"/short.html", nullptr}};
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Page);
    Backend.Clear();
    auto O = Checker(Web->Url(Row.Page));
    Backend.AnswerBox(mrYes);
    Backend.AnswerSaveDialog(Target);
    Backend.AnswerBox(mrYes);  // replace it
    EXPECT_FALSE(O->CheckForUpdate());
    EXPECT_EQ(BoxCaptions(),
              (std::vector<std::string>{"Update Available", "Confirm Save As", "Download Error"}));
    EXPECT_EQ(LastBox().Icon, miExclamation);
    if (Row.Reason)
      EXPECT_EQ(LastBox().Text, Row.Reason);
    else
      EXPECT_EQ(LastBox().Text.rfind("Error occurred while downloading update.\rError: \"", 0), 0u)
          << LastBox().Text;
    EXPECT_FALSE(O->LastError().empty());
    EXPECT_EQ(ReadFile(Target), "the good old version");
    EXPECT_EQ(Listing(Out.Path()), std::vector<std::string>{"setup.exe"});
  }

  // Cancelled from the progress form once bytes are coming: the client's abort reason.
  Backend.Clear();
  auto O = Checker(Web->Url("/slow.html"));
  std::vector<std::int32_t> Reports;
  O->OnDownloadProgress = [&](TObject*, std::int32_t Got, std::int32_t) { Reports.push_back(Got); };
  int Clicks = 0;
  Script = [&](TCustomForm& F) {
    auto* P = dynamic_cast<TWebDlProgress*>(&F);
    if (P && !P->lblProgress->Caption().empty() && Clicks == 0) {
      ++Clicks;
      P->btnCancel->Click();
    }
  };
  Backend.AnswerBox(mrYes);
  Backend.AnswerSaveDialog(Saved("fresh.exe"));
  EXPECT_FALSE(O->CheckForUpdate());
  EXPECT_EQ(Clicks, 1);
  EXPECT_EQ(LastBox().Caption, "Download Error");
  EXPECT_EQ(LastBox().Text,
            "Error occurred while downloading update.\rError: \"Connection aborted on request.\"");
  EXPECT_EQ(O->LastError(), "Connection aborted on request");
  EXPECT_EQ(Backend.FormsHidden().back().ModalResult, mrCancel);
  ASSERT_FALSE(Reports.empty());
  EXPECT_LT(Reports.back(), static_cast<std::int32_t>(UpdateSize));
  EXPECT_EQ(Listing(Out.Path()), std::vector<std::string>{"setup.exe"});

  // The application frees the component from its progress event: the check ends at
  // once, the form goes, and no file is left.
  Backend.Clear();
  Script = nullptr;
  TOrvane* Doomed = Checker(Web->Url("/slow.html")).release();
  Doomed->OnDownloadProgress = [&](TObject*, std::int32_t, std::int32_t) { delete Doomed; };
  Backend.AnswerBox(mrYes);
  Backend.AnswerSaveDialog(Saved("doomed.exe"));
  EXPECT_FALSE(Doomed->CheckForUpdate());
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Update Available"});
  EXPECT_EQ(Backend.FormsHidden().back().ModalResult, mrCancel);
  EXPECT_EQ(TOrvane::SharedHttpCli(), nullptr);
  EXPECT_EQ(Listing(Out.Path()), std::vector<std::string>{"setup.exe"});

  // A folder that refuses the file is reported before any request.
  Backend.Clear();
  EXPECT_THROW(O->DownloadFile("/nonexistent-folder/setup.exe"), EFCreateError);
  EXPECT_TRUE(Backend.FormsShown().empty());
}

TEST_F(UpdateCheck, TheRunOptionsAfterTheDownload) {
  vtest::TApplicationSwap Swap;
  Swap.App().SetTitle("Sample Editor");
  TShellRecorder Shell;
  // Yes to the download, Name in the dialog, then Run to the install question (if asked).
  const auto Download = [&](TOrvane& O, const std::string& Name, TModalResult Run = mrNone) {
    Backend.Clear();
    Shell.Started.clear();
    Backend.AnswerBox(mrYes);
    Backend.AnswerSaveDialog(Saved(Name));
    if (Run != mrNone) Backend.AnswerBox(Run);
    const bool Result = O.CheckForUpdate();
    EXPECT_EQ(Backend.UnusedAnswers(), 0u);
    return Result;
  };

  // Run, keep running: the file is no program and nothing opens it here.
  {
    TPathSwap Path(false);
    auto O = Checker(Web->Url("/info.html"), {orvoRunUpdate});
    EXPECT_TRUE(Download(*O, "a.exe", mrYes));
    EXPECT_EQ(BoxCaptions(),
              (std::vector<std::string>{"Update Available", "Install Update", "Error"}));
    EXPECT_EQ(Backend.Boxes()[1].Request.Text, "Do you want to install the update now?");
    EXPECT_EQ(Backend.Boxes()[1].Request.Icon, miQuestion);
    EXPECT_EQ(LastBox().Text, "Can not start program.");
    EXPECT_EQ(LastBox().Icon, miExclamation);
    EXPECT_TRUE(Shell.Started.empty());
    EXPECT_FALSE(Swap.App().Terminated());
    EXPECT_EQ(ReadFile(Saved("a.exe")), Update);
  }
  // Run and close: the shell opens it, and the application is asked to end.
  {
    TPathSwap Path(true);
    auto O = Checker(Web->Url("/info.html"), {orvoRunUpdate, orvoExitDuringUpdate});
    EXPECT_TRUE(Download(*O, "b.exe", mrNo));  // No: nothing started
    EXPECT_EQ(MessageLines(LastBox().Text),
              (std::vector<std::string>{"Do you want to install the update now?",
                                        "This will close Sample Editor."}));
    EXPECT_TRUE(Shell.Started.empty());
    EXPECT_TRUE(Download(*O, "c.exe", mrYes));
    EXPECT_EQ(BoxCaptions(), (std::vector<std::string>{"Update Available", "Install Update"}));
    ASSERT_EQ(Shell.Started.size(), 1u);
    EXPECT_EQ(Shell.Started[0].args, std::vector<std::string>{Saved("c.exe")});
    vtest::PumpUntil([&] { return Swap.App().Terminated(); }, 2000);
    EXPECT_TRUE(Swap.App().Terminated());
  }
  // No run option: done right after the download.
  {
    vtest::TApplicationSwap Fresh;
    auto O = Checker(Web->Url("/info.html"), {orvoExitDuringUpdate});
    EXPECT_TRUE(Download(*O, "d.exe"));
    EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Update Available"});
    EXPECT_EQ(ReadFile(Saved("d.exe")), Update);
  }
}

TEST_F(UpdateCheck, TheReadMeInAWindowOrOpenedByTheShell) {
  Backend.SetScreenSize(1024, 768);
  TShellRecorder Shell;
  TPathSwap Path(true);
  int OkClicks = 0;
  Script = [&](TCustomForm& F) {
    if (F.Caption() != "Read Me") return;
    for (int I = 0; I < F.ControlCount(); ++I)
      if (auto* B = dynamic_cast<TButton*>(F.Controls(I))) {
        ++OkClicks;
        B->Click();
      }
  };

  // The plain read-me, offered before the download question and declined there.
  auto O = Checker(Web->Url("/readme.html"), {orvoDisplayReadMe});
  Backend.AnswerBox(mrYes);  // view the read-me
  Backend.AnswerBox(mrNo);   // no download
  EXPECT_FALSE(O->CheckForUpdate());
  EXPECT_EQ(BoxCaptions(), (std::vector<std::string>{"Update Available", "Update Available"}));
  EXPECT_EQ(MessageLines(Backend.Boxes()[0].Request.Text),
            (std::vector<std::string>{"Current version is 1.0.", "Version 1.1 is available.",
                                      "Would you like to view the ReadMe file?"}));
  EXPECT_EQ(FormCaptions(), (std::vector<std::string>{"Please Wait", "Please Wait", "Read Me"}));
  EXPECT_EQ(Backend.FormsShown()[1].Controls[0].Text, "Retrieving ReadMe...");
  const Shot& R = Backend.FormsShown()[2];
  EXPECT_EQ((std::vector<int>{R.ClientWidth, R.ClientHeight}), (std::vector<int>{819, 614}));
  EXPECT_TRUE(R.BorderIcons.Empty());
  EXPECT_EQ(R.BorderStyle, bsDialog);
  ASSERT_EQ(R.Controls.size(), 2u);
  const auto& Memo = R.Controls[0];
  EXPECT_EQ((std::vector<int>{Memo.Left, Memo.Top, Memo.Width, Memo.Height, Memo.ScrollBars}),
            (std::vector<int>{10, 10, 794, 534, ssBoth}));
  EXPECT_EQ(Memo.Lines, (std::vector<std::string>{"Sample Editor 1.1", "",
                                                  "What is new:", "- faster", "- smaller"}));
  const auto& Ok = R.Controls[1];
  EXPECT_EQ((std::vector<int>{Ok.Left, Ok.Top, Ok.Width, Ok.Height, Ok.ModalResult}),
            (std::vector<int>{375, 558, 68, 22, mrOk}));
  EXPECT_EQ(Ok.Text, "&Ok");
  EXPECT_TRUE(Ok.Default && Ok.Cancel);  // Enter and Escape close the window
  EXPECT_EQ(OkClicks, 1);

  // Both kinds: the external one is downloaded to the temporary folder and opened, and
  // the window is not shown.
  Backend.Clear();
  auto Both = Checker(Web->Url("/both.html"));
  EXPECT_TRUE(Both->DisplayReadMe(false));
  EXPECT_TRUE(Backend.Boxes().empty());
  EXPECT_EQ(FormCaptions(), (std::vector<std::string>{"Please Wait", "Download Progress"}));
  EXPECT_EQ(Backend.FormsShown()[1].Controls[0].Text, "Downloading ReadMe");
  EXPECT_EQ(ReadFile(Temp.Path() + "/notes.html"), "<HTML>notes</HTML>\n");
  ASSERT_EQ(Shell.Started.size(), 1u);
  EXPECT_EQ(Shell.Started[0].args, std::vector<std::string>{Temp.Path() + "/notes.html"});
  EXPECT_EQ(OkClicks, 1);

  // The external one cannot be fetched: "Can not start program.", then the window.
  Backend.Clear();
  Shell.Started.clear();
  auto Bad = Checker(Web->Url("/bothbad.html"));
  EXPECT_TRUE(Bad->DisplayReadMe(false));
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Error"});
  EXPECT_EQ(LastBox().Text, "Can not start program.");
  EXPECT_EQ(FormCaptions().back(), "Read Me");
  EXPECT_EQ(OkClicks, 2);
  EXPECT_TRUE(Shell.Started.empty());
  for (const std::string& Name : Listing(Temp.Path()))
    EXPECT_EQ(Name.find(".part"), std::string::npos) << Name;
}

TEST_F(UpdateCheck, PagesThatFailRedirectOrNeverAnswer) {
  const std::string Odds = "http://127.0.0.1:" + std::to_string(Odd->port);

  // A 404: the bare status box, then "Connection Error" with the reason.
  auto O = Checker(Web->Url("/nothing.html"));
  EXPECT_FALSE(O->CheckForUpdate());
  EXPECT_EQ(BoxCaptions(), (std::vector<std::string>{Application->Title(), "Connection Error"}));
  EXPECT_EQ(Backend.Boxes()[0].Request.Text, "404");
  EXPECT_EQ(Backend.Boxes()[0].Request.Icon, miNone);
  EXPECT_EQ(LastBox().Text,
            "Could not retrieve version information from the Internet.\rError: \"Not Found.\"");
  EXPECT_FALSE(O->Active());
  EXPECT_TRUE(O->ProductName().empty());

  // A redirect entry is followed; the fields are the last page's.
  Backend.Clear();
  auto Hop = Checker(Web->Url("/hop.html"));
  EXPECT_TRUE(Hop->GetFileInfo());
  EXPECT_TRUE(Hop->Active());
  EXPECT_EQ(Hop->ProductVersion(), "1.1");
  EXPECT_EQ(FormCaptions(), (std::vector<std::string>{"Please Wait", "Please Wait"}));

  // Pages that lead back to themselves, and a chain that goes on and on, end the check.
  for (const char* Start : {"/self.html", "/ping.html", "/chain1.html"}) {
    SCOPED_TRACE(Start);
    Backend.Clear();
    auto Loop = Checker(Web->Url(Start));
    EXPECT_FALSE(Loop->CheckForUpdate());
    EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Connection Error"});
    EXPECT_NE(LastBox().Text.find(std::string(Start) == "/chain1.html" ? "More than 10 pages"
                                                                       : "read before"),
              std::string::npos)
        << LastBox().Text;
    EXPECT_FALSE(Loop->Active());
    EXPECT_TRUE(Loop->RedirectURL().empty());  // the next check starts from HomeURL again
    EXPECT_LE(Backend.FormsShown().size(), 10u);
  }

  // A server that accepts and never answers: the time-out ends the wait.
  Backend.Clear();
  auto Stall = Checker(Odds + "/stall");
  Stall->SetRequestTimeout(1);
  EXPECT_FALSE(Stall->CheckForUpdate());
  EXPECT_EQ(LastBox().Text,
            "Could not retrieve version information from the Internet.\rError: "
            "\"Connection timed out.\"");
  EXPECT_EQ(Stall->LastError(), "Connection timed out");
}

TEST_F(UpdateCheck, TheExceptionHookEndsTheWaitAndPassesOtherErrorsOn) {
  std::vector<std::string> Passed;
  Application->OnException = [&](TObject*, const Exception& E) { Passed.push_back(E.Message()); };
  auto O = Checker("http://127.0.0.1:" + std::to_string(Odd->port) + "/stall");
  // An HTTP error that reaches the application's loop while the please-wait form waits.
  vtest::TRecordingWindow Raiser;
  Raiser.OnMessage = [](plat::UINT, plat::WPARAM) {
    throw EHttpException("HTTP component is busy", 1);
  };
  Script = [&](TCustomForm&) {
    if (Raiser.Received.empty()) Raiser.Post(plat::WM_USER);
  };
  EXPECT_FALSE(O->CheckForUpdate());
  ASSERT_GE(Backend.Boxes().size(), 2u);
  EXPECT_EQ(Backend.Boxes()[0].Request.Caption, "Exception");
  EXPECT_EQ(Backend.Boxes()[0].Request.Text,
            "Error retrieving update information.\rException: HTTP component is busy.");
  EXPECT_EQ(Backend.Boxes()[0].Request.Icon, miExclamation);
  EXPECT_EQ(LastBox().Caption, "Connection Error");
  EXPECT_EQ(O->LastError(), "HTTP component is busy");
  EXPECT_EQ(Backend.FormsHidden().at(0).ModalResult, mrCancel);
  EXPECT_TRUE(Passed.empty());
  Script = nullptr;
  // The hook took itself away: the application's handler is back.
  Application->HandleException(nullptr);  // nothing being handled: no call
  try {
    throw Exception("not ours");
  } catch (...) {
    Application->HandleException(nullptr);
  }
  EXPECT_EQ(Passed, std::vector<std::string>{"not ours"});

  // Read twice (the hook stays installed after a normal end), two components hooked on
  // top of each other: other errors still reach the application's handler once, and once
  // every component is gone its handler is in place again.
  Passed.clear();
  {
    auto A = Checker(Web->Url("/info.html"));
    auto B = Checker(Web->Url("/hop.html"));
    EXPECT_TRUE(A->GetFileInfo());
    A->SetActive(false);
    EXPECT_TRUE(A->GetFileInfo());
    EXPECT_TRUE(B->GetFileInfo());  // B's request ends B's form, not A's
    EXPECT_TRUE(B->Active());
    try {
      throw EConvertError("passed on");
    } catch (...) {
      Application->HandleException(nullptr);
    }
    A.reset();
    try {
      throw EConvertError("still passed on");
    } catch (...) {
      Application->HandleException(nullptr);
    }
  }
  EXPECT_EQ(Passed, (std::vector<std::string>{"passed on", "still passed on"}));
  ASSERT_TRUE(Application->OnException);
  EXPECT_EQ(Application->OnException.target<TOrvHook>(), nullptr);
}

TEST_F(UpdateCheck, ThroughTheProxy) {
  testsupport::Squid Proxy;
  ASSERT_TRUE(Proxy.Start()) << Proxy.Error();
  auto O = Checker(Web->Url("/hop.html"));
  O->SetProxyHost("127.0.0.1");
  O->SetProxyPort(Proxy.Port());
  Backend.AnswerBox(mrYes);
  Backend.AnswerSaveDialog(Saved("via-proxy"), 3);
  ASSERT_TRUE(O->CheckForUpdate()) << O->LastError();
  EXPECT_TRUE(ReadFile(Saved("via-proxy")) == Update);
  EXPECT_EQ(TOrvane::SharedHttpCli()->Proxy(), "127.0.0.1");
  EXPECT_EQ(TOrvane::SharedHttpCli()->ProxyPort(), std::to_string(Proxy.Port()));
}

TEST(FormatThousands, GroupsByThreeWithCommas) {
  EXPECT_EQ(FormatThousands(0), "0");
  EXPECT_EQ(FormatThousands(999), "999");
  EXPECT_EQ(FormatThousands(1000), "1,000");
  EXPECT_EQ(FormatThousands(1234567), "1,234,567");
  EXPECT_EQ(FormatThousands(-123456), "-123,456");
  EXPECT_EQ(FormatThousands(5'000'000'000), "5,000,000,000");
}

TEST(OrvStrings, LookedUpByIdentifierAndReplacedAsAWhole) {
  EXPECT_EQ(LoadOrvStr(65533), "Can not start program.");
  EXPECT_EQ(LoadOrvStr(65524),
            "Could not retrieve version information from the Internet.\rError: \"%s.\"");
  EXPECT_EQ(LoadOrvStr(1), "");
  for (int Id : {65488, 65489, 65504, 65505, 65506, 65507, 65508, 65509, 65510, 65511, 65512,
                 65513, 65514, 65515, 65516, 65517, 65518, 65519, 65520, 65521, 65522, 65523,
                 65524, 65525, 65526, 65527, 65528, 65529, 65530, 65531, 65532, 65533})
    EXPECT_FALSE(LoadOrvStr(Id).empty()) << Id;
  EXPECT_EQ(FormatOrvStr(65520, {"1,234", "56,789"}), "1,234 of 56,789 bytes received.");
  SetOrvStrings({{65533, "Programm %d startet nicht %s (100%%)"}});
  EXPECT_EQ(FormatOrvStr(65533, {"x"}), "Programm %d startet nicht x (100%)");
  EXPECT_EQ(LoadOrvStr(65532), "");  // the whole table was replaced
  SetOrvStrings({});
  EXPECT_EQ(LoadOrvStr(65532), "Error");
}

}  // namespace
