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
#include <utility>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Host/Application.h"
#include "Host/ComCtrls.h"
#include "Host/Dialogs.h"
#include "Host/FileUtils.h"
#include "Host/StdCtrls.h"
#include "Host/Streams.h"
#include "Host/Timer.h"
#include "Host/VisualTestSupport.h"
#include "HttpProt/HttpCli.h"
#include "Orvane/ExceptionHook.h"
#include "Orvane/HashingStream.h"
#include "Orvane/OrvStrings.h"
#include "Orvane/Orvane.h"
#include "Orvane/Relaunch.h"
#include "Orvane/Signature.h"
#include "Orvane/SignedFacts.h"
#include "Orvane/WebDlProgress.h"
#include "Platform/Shell.h"
#include "support/HttpServers.h"
#include "support/PythonPeer.h"
#include "support/TlsServers.h"

namespace {

using testsupport::TempDir;
using Shot = TScriptedBackend::TFormShot;

std::string ReadFile(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The names in Dir (no "." or ".."), sorted.
std::vector<std::string> Listing(const std::string& Dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(Dir.c_str())) {
    while (dirent* e = ::readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
        names.push_back(e->d_name);
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// An information page: one META HTTP-EQUIV line per entry, among ordinary HTML.
std::string Page(const std::vector<std::pair<std::string, std::string>>& Entries) {
  std::string p = "<HTML><HEAD><TITLE>Sample Editor</TITLE>\r\n";
  for (const auto& [name, content] : Entries)
    p += "<META HTTP-EQUIV=\"" + name + "\" CONTENT=\"" + content + "\">\r\n";
  return p + "</HEAD>\r\n<BODY>The latest version of Sample Editor.</BODY></HTML>\r\n";
}

// Bytes that no two positions of a few MB repeat in step with.
std::string UpdateBytes(size_t Size) {
  std::string data(Size, '\0');
  std::uint32_t x = 0x2545F491;
  for (char& c : data) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return data;
}

constexpr size_t UpdateSize = 3'000'000;

// The entries of a page that Key signed over Facts, as orvane-sign writes them; Change
// then alters one entry (name, new content) after the signing.
std::vector<std::pair<std::string, std::string>> SignedEntries(
    const TSignedFacts& Facts, const std::string& Key,
    const std::pair<std::string, std::string>& Change = {}) {
  auto e = SignedPageEntries(Facts, Ed25519Sign(Key, SignedText(Facts)));
  for (auto& [name, content] : e)
    if (name == Change.first) content = Change.second;
  // An entry the page's editor adds after the signing.
  if (!Change.first.empty() && std::none_of(e.begin(), e.end(), [&](const auto& Entry) {
        return Entry.first == Change.first;
      }))
    e.push_back(Change);
  return e;
}
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
      const std::string opener = FDir.Write("xdg-open", "#!/bin/sh\nexit 0\n");
      ::chmod(opener.c_str(), 0755);
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
    // Replies a download must not take as the file: part of it, nothing, a choice.
    Web = new testsupport::Nginx(
        "    location /slow/ { limit_rate 200k; }\n"
        "    location = /files/partial.exe { return 206 \"partial\"; }\n"
        "    location = /files/empty.exe { return 204; }\n"
        "    location = /files/choices.exe { return 300 \"choose\"; }\n");
    if (!Web->Start()) {
      StartError = "nginx: " + Web->Error();
      return;
    }
    Odd = new testsupport::PythonPeer(testsupport::StartPythonPeer("http_odd.py", {}, 300));
    if (Odd->port == 0) {
      StartError = "http_odd.py did not start";
      return;
    }
    const std::string odds = "http://127.0.0.1:" + std::to_string(Odd->port);
    Update = UpdateBytes(UpdateSize);
    TempDir& d = Web->Dir();
    d.Write("www/files/setup.exe", Update);
    d.Write("www/slow/setup.exe", Update);
    d.Write("www/readme.txt", ReadMeText);
    d.Write("www/docs/notes.html", "<HTML>notes</HTML>\n");
    const auto info = [&](const std::string& Download,
                          std::vector<std::pair<std::string, std::string>> More = {}) {
      std::vector<std::pair<std::string, std::string>> e = {
          {"Product", "Sample Editor"}, {"Version", "1.1"},     {"Date", "Mar 5, 1998"},
          {"Author", "Sample Soft"},    {"Download", Download}, {"Params", "/silent"}};
      e.insert(e.end(), More.begin(), More.end());
      return Page(e);
    };
    d.Write("www/info.html", info(Web->Url("/files/setup.exe")));
    d.Write("www/slow.html", info(Web->Url("/slow/setup.exe")));
    d.Write("www/missing.html", info(Web->Url("/files/gone.exe")));
    d.Write("www/short.html", info(odds + "/short"));
    d.Write("www/dripfile.html", info(odds + "/drip"));
    d.Write("www/docs/big.html", std::string(5000, 'b'));
    d.Write("www/bigext.html",
            info(Web->Url("/files/setup.exe"), {{"ReadMeExt", Web->Url("/docs/big.html")}}));
    d.Write("www/readme.html",
            info(Web->Url("/files/setup.exe"), {{"ReadMe", Web->Url("/readme.txt")}}));
    d.Write("www/both.html",
            info(Web->Url("/files/setup.exe"), {{"ReadMe", Web->Url("/readme.txt")},
                                                {"ReadMeExt", Web->Url("/docs/notes.html")}}));
    d.Write("www/bothbad.html",
            info(Web->Url("/files/setup.exe"), {{"ReadMe", Web->Url("/readme.txt")},
                                                {"ReadMeExt", Web->Url("/docs/gone.html")}}));
    for (const char* name : {"partial", "empty", "choices"})
      d.Write("www/" + std::string(name) + ".html",
              info(Web->Url("/files/" + std::string(name) + ".exe")));
    // Pages whose entries the component must refuse rather than fetch or write.
    d.Write("www/baddate.html", Page({{"Version", "1.1"}, {"Date", "Feb 30, 2020"}}));
    d.Write("www/toredirectfile.html", Page({{"Redirect", "file:///etc/passwd"}}));
    d.Write("www/ftp.html", info("ftp://127.0.0.1/setup.exe"));
    d.Write("www/hidden.html", info(Web->Url("/files/.bashrc")));
    d.Write("www/nofile.html", info(Web->Url("/files/")));
    d.Write("www/readmefile.html",
            info(Web->Url("/files/setup.exe"), {{"ReadMe", "file:///etc/passwd"}}));
    d.Write("www/readmeFILE.html",
            info(Web->Url("/files/setup.exe"), {{"ReadMe", "FILE:///etc/passwd"}}));
    d.Write("www/del.html", info(Web->Url("/files/set\x7fup.exe")));
    d.Write("www/c1.html", info(Web->Url("/files/u\xc2\x9b"
                                         "2J.exe")));
    d.Write("www/noutf8.html", info(Web->Url("/files/u\xff.exe")));
    d.Write("www/name256.html", info(Web->Url("/files/" + std::string(256, 'n'))));
    // The longest name a file may have, and a scheme in any case: fetched and saved.
    d.Write("www/files/" + std::string(255, 'n'), "longest name");
    d.Write("www/name255.html", info(Web->Url("/files/" + std::string(255, 'n'))));
    d.Write("www/mixedcase.html", info("Http" + Web->Url("/files/setup.exe").substr(4)));
    d.Write("www/hop.html", Page({{"Redirect", Web->Url("/info.html")}}));
    d.Write("www/self.html", Page({{"Redirect", Web->Url("/self.html")}}));
    d.Write("www/ping.html", Page({{"Redirect", Web->Url("/pong.html")}}));
    d.Write("www/pong.html", Page({{"Redirect", Web->Url("/ping.html")}}));
    // Signed pages: the update as published, and the ways a page or its file can differ
    // from what the publisher signed.
    Keys = Ed25519GenerateKeys();
    std::string flipped = Update;
    flipped[UpdateSize / 2] = static_cast<char>(flipped[UpdateSize / 2] ^ 0x01);
    d.Write("www/files/flipped.exe", flipped);
    TSignedFacts facts;
    facts.Product = "Sample Editor";
    facts.Version = "1.1";
    facts.Date = "Mar 5, 1998";
    facts.URL = Web->Url("/files/setup.exe");
    facts.Size = UpdateSize;
    facts.SHA256 = TSha256::HexOf(Update);
    facts.Expires = "2099-12-31";
    const auto signedPage = [&](const std::string& Name, const TSignedFacts& F,
                                const std::pair<std::string, std::string>& Change = {}) {
      d.Write("www/" + Name, Page(SignedEntries(F, Keys.PrivateKey, Change)));
    };
    signedPage("signed.html", facts);
    signedPage("changed-version.html", facts, {"Version", "1.2"});
    signedPage("changed-url.html", facts, {"Download", Web->Url("/files/flipped.exe")});
    signedPage("changed-size.html", facts, {"Size", std::to_string(UpdateSize + 1)});
    signedPage("changed-expiry.html", facts, {"Expires", "2199-12-31"});
    TSignedFacts f = facts;
    f.URL = Web->Url("/files/flipped.exe");
    signedPage("flipped.html", f);
    f = facts;
    f.Expires = "2020-01-31";
    signedPage("expired.html", f);
    f = facts;
    f.Version = "0.9";
    signedPage("downgrade.html", f);
    // Every entry signed: the author, the start parameters and both read-mes, each with
    // its own size and hash; and pages the key signed for what the check must refuse.
    const std::string notes = "<HTML>notes</HTML>\n";
    TSignedFacts all = facts;
    all.Author = "Sample Soft";
    all.RunParams = "/silent";
    all.ReadMe = {Web->Url("/readme.txt"), ReadMeText.size(), TSha256::HexOf(ReadMeText)};
    all.ReadMeExt = {Web->Url("/docs/notes.html"), notes.size(), TSha256::HexOf(notes)};
    signedPage("signed-all.html", all);
    signedPage("forged-params.html", all, {"Params", "--target=/ --from-attacker"});
    signedPage("forged-author.html", all, {"Author", "Your IT department (call 555-0100)"});
    signedPage("forged-readme.html", all, {"ReadMe", Web->Url("/docs/notes.html")});
    f = all;
    f.ReadMe.SHA256 = TSha256::HexOf("another text");
    f.ReadMeExt = {};
    signedPage("readme-changed.html", f);
    f = facts;
    f.Product = "Other Product";
    f.Version = "9.0";
    signedPage("other-product.html", f);
    f = facts;
    f.Expires.clear();
    signedPage("unexpiring.html", f);
    f = facts;
    f.Expires = TodayUtc();
    signedPage("today.html", f);
    f.Expires = UtcDateInDays(-1);
    signedPage("yesterday.html", f);
    f = facts;
    for (char& c : f.SHA256) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    signedPage("upper-sha.html", f);
    signedPage("old-form.html", facts,
               {"Signature", Ed25519Sign(Keys.PrivateKey, SignedTextV1(facts))});
    // The server sends on past the signed size: announcing the whole file, or streaming
    // without a length.
    f = facts;
    f.Size = 10000;
    signedPage("overlong.html", f);
    f.URL = odds + "/nolength";
    signedPage("endless.html", f);
    // Size and hash without a signature: against corruption only.
    d.Write("www/hashed.html", Page({{"Version", "1.1"},
                                     {"Download", Web->Url("/files/setup.exe")},
                                     {"Size", std::to_string(UpdateSize)},
                                     {"SHA256", facts.SHA256}}));
    // The update's size and hash hold the update only: the external read-me beside them
    // is another file.
    d.Write("www/hashed-readme.html", Page({{"Version", "1.1"},
                                            {"Download", Web->Url("/files/setup.exe")},
                                            {"ReadMeExt", Web->Url("/docs/notes.html")},
                                            {"Size", std::to_string(UpdateSize)},
                                            {"SHA256", facts.SHA256}}));
    d.Write("www/hashed-flipped.html", Page({{"Version", "1.1"},
                                             {"Download", Web->Url("/files/flipped.exe")},
                                             {"Size", std::to_string(UpdateSize)},
                                             {"SHA256", facts.SHA256}}));
    for (int i = 1; i <= 12; ++i)
      d.Write("www/chain" + std::to_string(i) + ".html",
              Page({{"Redirect", Web->Url("/chain" + std::to_string(i + 1) + ".html")}}));
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
    auto o = std::make_unique<TOrvane>(nullptr);
    o->SetURL(Url);
    o->SetCurrentVersion("1.0");
    o->SetOptions(Options);
    // A download cut short is asked again at once: the waits are for real networks.
    o->SetDownloadRetryWait(10);
    TOrvTags tags;
    tags.SetProductNameTag("Product");
    tags.SetVersionTag("Version");
    tags.SetDateTag("Date");
    tags.SetAuthorTag("Author");
    tags.SetDownloadTag("Download");
    tags.SetReadMeTag("ReadMe");
    tags.SetReadMeExtTag("ReadMeExt");
    tags.SetRedirectTag("Redirect");
    tags.SetRunParamsTag("Params");
    o->SetInfoTags(&tags);
    return o;
  }

  std::vector<std::string> BoxCaptions() const {
    std::vector<std::string> c;
    for (const auto& b : Backend.Boxes()) c.push_back(b.Request.Caption);
    return c;
  }
  const TMessageBoxRequest& LastBox() const { return Backend.Boxes().back().Request; }
  // The forms shown, by caption.
  std::vector<std::string> FormCaptions() const {
    std::vector<std::string> c;
    for (const auto& f : Backend.FormsShown()) c.push_back(f.Caption);
    return c;
  }
  std::string Saved(const std::string& Name) const { return Out.Path() + "/" + Name; }

  static inline testsupport::Nginx* Web = nullptr;
  static inline testsupport::PythonPeer* Odd = nullptr;
  static inline std::string Update;
  static inline std::string StartError;
  static inline TEd25519Keys Keys;
  TempDir Out;   // where the user saves
  TempDir Temp;  // the temporary folder
  // Acts for the user on every pass of a modal loop (the watchdog runs first).
  std::function<void(TCustomForm&)> Script;
  TTimer Ticker{nullptr};
  std::chrono::steady_clock::time_point Started;
};

TEST_F(UpdateCheck, NoUpdateThenDeclinedThenMissingSettings) {
  auto o = Checker(Web->Url("/info.html"));
  o->SetCurrentVersion("1.1");
  EXPECT_FALSE(o->CheckForUpdate());
  ASSERT_EQ(BoxCaptions(), std::vector<std::string>{"No Update Found"});
  EXPECT_EQ(LastBox().Text, "There is no update available.");
  EXPECT_EQ(LastBox().Icon, miInformation);
  EXPECT_EQ(LastBox().Buttons, std::vector<TModalResult>{mrOk});
  // The page as read, and the please-wait form it was read under.
  EXPECT_TRUE(o->Active());
  EXPECT_EQ(o->ProductName(), "Sample Editor");
  EXPECT_EQ(o->ProductAuthor(), "Sample Soft");
  EXPECT_EQ(o->ProductDateStr(), "Mar 5, 1998");
  EXPECT_EQ(o->DownloadFileName(), "setup.exe");
  EXPECT_EQ(o->RunParams(), "/silent");
  ASSERT_EQ(FormCaptions(), std::vector<std::string>{"Please Wait"});
  const Shot& wait = Backend.FormsShown()[0];
  EXPECT_EQ(wait.ClientWidth, 240);
  EXPECT_EQ(wait.ClientHeight, 100);
  EXPECT_EQ(wait.Left, (1024 - 240) / 2);
  EXPECT_EQ(wait.Top, (768 - 100) / 2);
  EXPECT_EQ(wait.BorderStyle, bsDialog);
  EXPECT_TRUE(wait.BorderIcons.Empty());
  EXPECT_EQ(wait.Cursor, crHourGlass);
  ASSERT_EQ(wait.Controls.size(), 1u);
  EXPECT_EQ(wait.Controls[0].Text, "Checking For Update...");
  EXPECT_EQ(wait.Controls[0].Alignment, taCenter);
  EXPECT_EQ((std::vector<int>{wait.Controls[0].Left, wait.Controls[0].Top, wait.Controls[0].Width,
                              wait.Controls[0].Height}),
            (std::vector<int>{0, 27, 232, 23}));
  EXPECT_EQ(Backend.FormsHidden()[0].ModalResult, mrOk);
  EXPECT_EQ(o->RequestTimeout(), 30);
  EXPECT_EQ(TOrvane::SharedHttpCli()->Timeout(), 30);

  // A newer version, and the user says No: no dialog, no request, nothing on disk.
  Backend.Clear();
  o->SetCurrentVersion("1.0");
  Backend.AnswerBox(mrNo);
  EXPECT_FALSE(o->CheckForUpdate());
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
  EXPECT_FALSE(o->CheckForUpdate());
  ASSERT_EQ(Backend.Dialogs().size(), 1u);
  const TSaveDialogRequest& dlg = Backend.Dialogs()[0].Request;
  EXPECT_EQ(dlg.FileName, "setup.exe");
  EXPECT_EQ(dlg.FilterIndex, 1);
  EXPECT_EQ(
      dlg.Filters,
      (std::vector<std::pair<std::string, std::string>>{
          {"Application (*.EXE)", "*.EXE"}, {"Zipped File", "*.ZIP"}, {"All Files (*.*)", "*.*"}}));
  EXPECT_TRUE(dlg.Options & ofOverwritePrompt);
  EXPECT_TRUE(dlg.Options & ofPathMustExist);
  EXPECT_TRUE(Listing(Out.Path()).empty());

  // No home address, then no tags: a box of its own, then "Connection Error".
  Backend.Clear();
  auto bare = std::make_unique<TOrvane>(nullptr);
  EXPECT_FALSE(bare->CheckForUpdate());
  EXPECT_EQ(BoxCaptions(), (std::vector<std::string>{"Missing Home URL", "Connection Error"}));
  EXPECT_EQ(Backend.Boxes()[0].Request.Text,
            "Can not retrieve version information\rbecause no home url was provided.");
  EXPECT_EQ(Backend.Boxes()[0].Request.Icon, miExclamation);
  EXPECT_EQ(LastBox().Text,
            "Could not retrieve version information from the Internet.\rError unknown.");
  Backend.Clear();
  bare->SetURL(Web->Url("/info.html"));
  EXPECT_FALSE(bare->GetFileInfo());
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Missing Tag Information"});
  EXPECT_TRUE(Backend.FormsShown().empty());
  EXPECT_EQ(Backend.UnusedAnswers(), 0u);
}

TEST_F(UpdateCheck, DownloadsWhereTheUserSavesWithTheFilterExtensions) {
  auto o = Checker(Web->Url("/info.html"));  // no run question
  std::vector<std::pair<std::int32_t, std::int32_t>> reports;
  o->OnDownloadProgress = [&](TObject* Sender, std::int32_t Got, std::int32_t Size) {
    EXPECT_EQ(Sender, o.get());
    reports.emplace_back(Got, Size);
  };
  // Typed name, filter index, the file that must appear.
  const struct {
    const char* Typed;
    int Filter;
    const char* Expected;
  } rows[] = {
      {"upd", 1, "upd.EXE"}, {"upd", 2, "upd.ZIP"}, {"upd", 3, "upd"}, {"name.bin", 1, "name.bin"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Typed + std::to_string(row.Filter));
    Backend.Clear();
    reports.clear();
    Backend.AnswerBox(mrYes);
    Backend.AnswerSaveDialog(Saved(row.Typed), row.Filter);
    ASSERT_TRUE(o->CheckForUpdate());
    EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Update Available"});
    EXPECT_EQ(o->LocalFileName(), Saved(row.Expected));
    EXPECT_TRUE(ReadFile(Saved(row.Expected)) == Update) << "the file differs";
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), (std::pair<std::int32_t, std::int32_t>(UpdateSize, UpdateSize)));
  }
  EXPECT_EQ(Listing(Out.Path()),
            (std::vector<std::string>{"name.bin", "upd", "upd.EXE", "upd.ZIP"}));

  // The progress form as built and as it ended.
  ASSERT_EQ(FormCaptions(), std::vector<std::string>{"Download Progress"});
  const Shot& p = Backend.FormsHidden().back();
  EXPECT_EQ(p.ClassName, "TWebDlProgress");
  EXPECT_EQ(p.ClientWidth, 272);
  EXPECT_EQ(p.ClientHeight, 123);
  EXPECT_EQ(p.Left, (1024 - 272) / 2);  // centred, not at 393
  EXPECT_EQ(p.Top, (768 - 123) / 2);
  EXPECT_EQ(p.BorderStyle, bsDialog);
  EXPECT_TRUE(p.BorderIcons.Empty());
  EXPECT_EQ(p.Cursor, crHourGlass);
  ASSERT_EQ(p.Controls.size(), 4u);
  const auto& title = p.Controls[0];
  EXPECT_EQ(title.Text, "Downloading Update");
  EXPECT_EQ((std::vector<int>{title.Left, title.Top, title.Width, title.Height, title.Alignment}),
            (std::vector<int>{2, 10, 268, 18, taCenter}));
  const auto& count = p.Controls[1];
  EXPECT_EQ(count.Text, "3,000,000 of 3,000,000 bytes received.");
  EXPECT_EQ((std::vector<int>{count.Left, count.Top, count.Width, count.Height}),
            (std::vector<int>{2, 60, 268, 22}));
  const auto& bar = p.Controls[2];
  EXPECT_EQ((std::vector<int>{bar.Left, bar.Top, bar.Width, bar.Height, bar.Min, bar.Max,
                              bar.Position, bar.TabOrder, bar.Cursor}),
            (std::vector<int>{36, 40, 200, 14, 0, 100, 100, 0, crHourGlass}));
  const auto& cancel = p.Controls[3];
  EXPECT_EQ(cancel.Text, "&Cancel");
  EXPECT_EQ((std::vector<int>{cancel.Left, cancel.Top, cancel.Width, cancel.Height, cancel.TabOrder,
                              cancel.ModalResult}),
            (std::vector<int>{102, 94, 68, 22, 1, mrNone}));
  EXPECT_TRUE(cancel.HasOnClick);
  EXPECT_TRUE(cancel.Cancel);  // Escape presses it
  EXPECT_EQ(p.ModalResult, mrOk);

  // A name that gained its extension after the dialog is another file: asked about
  // before it is replaced, and No keeps it and reports the download as not done.
  Backend.Clear();
  std::ofstream(Saved("upd.EXE"), std::ios::binary | std::ios::trunc) << "keep me";
  Backend.AnswerBox(mrYes);
  Backend.AnswerSaveDialog(Saved("upd"), 1);  // "upd" exists: the dialog asks first
  Backend.AnswerBox(mrYes);                   // replace "upd"? (it is not the target)
  Backend.AnswerBox(mrNo);                    // replace "upd.EXE"?
  EXPECT_FALSE(o->CheckForUpdate());
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
  ASSERT_TRUE(o->DownloadFile(Out.Path() + "/"));
  EXPECT_EQ(o->LocalFileName(), Saved("setup.exe"));
  EXPECT_TRUE(ReadFile(Saved("setup.exe")) == Update);
  EXPECT_TRUE(Backend.Boxes().empty());
  std::ofstream(Saved("setup.exe"), std::ios::binary | std::ios::trunc) << "older";
  Backend.AnswerBox(mrNo);
  EXPECT_FALSE(o->DownloadFile(Saved("setup.exe")));
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"File Exists"});
  EXPECT_EQ(LastBox().Icon, miQuestion);
  EXPECT_EQ(ReadFile(Saved("setup.exe")), "older");
  Backend.Clear();
  o->SetOptions({orvoAlwaysOverwrite});
  EXPECT_TRUE(o->DownloadFile(Saved("setup.exe")));
  EXPECT_TRUE(Backend.Boxes().empty());
  EXPECT_TRUE(ReadFile(Saved("setup.exe")) == Update);
  EXPECT_FALSE(o->DownloadFile(""));
}

// Opens the progress form as a download would, without one.
class TProgressProbe : public TOrvane {
 public:
  using TOrvane::TOrvane;
  TWebDlProgress* Open() { return FProgressForm = CreateProgress(); }
  using TOrvane::ShowPendingProgress;
  ~TProgressProbe() override {
    delete FProgressForm;
    FProgressForm = nullptr;
  }
};

TEST_F(UpdateCheck, ProgressWithAndWithoutAnAnnouncedSize) {
  TProgressProbe o(nullptr);
  std::vector<std::pair<std::int32_t, std::int32_t>> reports;
  o.OnDownloadProgress = [&](TObject*, std::int32_t Got, std::int32_t Size) {
    reports.emplace_back(Got, Size);
  };
  TWebDlProgress* p = o.Open();
  o.DoDownloadProgress(50, 200);
  EXPECT_EQ(p->pbarProgress->Position(), 25);
  EXPECT_EQ(p->lblProgress->Caption(), "50 of 200 bytes received.");
  // A report that does not move the bar may wait for the next redraw of the counts (at
  // most every ProgressRedrawMs, and at the request's end).
  o.DoDownloadProgress(40, 200);  // a smaller share never moves the bar back
  EXPECT_EQ(p->pbarProgress->Position(), 25);
  o.ShowPendingProgress();
  EXPECT_EQ(p->lblProgress->Caption(), "40 of 200 bytes received.");
  o.DoDownloadProgress(1234, -1);  // no size: the count alone, the bar stays
  o.ShowPendingProgress();
  EXPECT_EQ(p->lblProgress->Caption(), "1,234 bytes received.");
  EXPECT_EQ(p->pbarProgress->Position(), 25);
  o.DoDownloadProgress(1234, 0);
  o.ShowPendingProgress();
  EXPECT_EQ(p->lblProgress->Caption(), "1,234 bytes received.");
  o.DoDownloadProgress(3'000'000'000, 4'000'000'000);  // past 32 bits, no overflow
  EXPECT_EQ(p->pbarProgress->Position(), 75);
  EXPECT_EQ(p->lblProgress->Caption(), "3,000,000,000 of 4,000,000,000 bytes received.");
  // After Cancel the form stands still, the application still hears every piece.
  p->Cancelled = true;
  o.DoDownloadProgress(3'500'000'000, 4'000'000'000);
  EXPECT_EQ(p->pbarProgress->Position(), 75);
  EXPECT_EQ(reports.size(), 6u);
  EXPECT_EQ(reports.back(), (std::pair<std::int32_t, std::int32_t>(INT32_MAX, INT32_MAX)));
  EXPECT_EQ(reports[2], (std::pair<std::int32_t, std::int32_t>(1234, -1)));

  // A real download of many pieces with no size announced: the counts between redraws
  // may be skipped, but the form closes on the last one.
  TOrvane d(nullptr);
  Backend.Clear();
  EXPECT_TRUE(d.DoDownload("http://127.0.0.1:" + std::to_string(Odd->port) + "/nolength",
                           Saved("nolength.bin"), "Downloading Update"));
  ASSERT_FALSE(Backend.FormsHidden().empty());
  const Shot& closed = Backend.FormsHidden().back();
  ASSERT_EQ(closed.Controls.size(), 4u);
  EXPECT_EQ(closed.Controls[1].Text, "300,000 bytes received.");
  EXPECT_EQ(closed.Controls[2].Position, 0);
  EXPECT_EQ(ReadFile(Saved("nolength.bin")), std::string(300000, 'n'));
}

TEST_F(UpdateCheck, FailedAndCancelledDownloadsLeaveTheOldFileAndNothingElse) {
  // The user replaces a file that is there; the downloads then fail.
  const std::string target = Saved("setup.exe");
  std::ofstream(target, std::ios::binary) << "the good old version";
  const struct {
    const char* Page;
    const char* Reason;
  } rows[] = {
      {"/missing.html", "Error occurred while downloading update.\rError: \"Not Found.\""},
      {"/short.html", nullptr},
      // Only a whole reply replaces the file: not part of one, not an empty one,
      // not a 3xx that names nothing further.
      {"/partial.html", "Error occurred while downloading update.\rError: \"Partial Content.\""},
      {"/empty.html", "Error occurred while downloading update.\rError: \"No Content.\""},
      {"/choices.html", "Error occurred while downloading update.\rError: \"HTTP status 300.\""}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Page);
    Backend.Clear();
    auto o = Checker(Web->Url(row.Page));
    Backend.AnswerBox(mrYes);
    Backend.AnswerSaveDialog(target);
    Backend.AnswerBox(mrYes);  // replace it
    EXPECT_FALSE(o->CheckForUpdate());
    EXPECT_EQ(BoxCaptions(),
              (std::vector<std::string>{"Update Available", "Confirm Save As", "Download Error"}));
    EXPECT_EQ(LastBox().Icon, miExclamation);
    if (row.Reason)
      EXPECT_EQ(LastBox().Text, row.Reason);
    else
      EXPECT_EQ(LastBox().Text.rfind("Error occurred while downloading update.\rError: \"", 0), 0u)
          << LastBox().Text;
    EXPECT_FALSE(o->LastError().empty());
    EXPECT_EQ(ReadFile(target), "the good old version");
    EXPECT_EQ(Listing(Out.Path()), std::vector<std::string>{"setup.exe"});
  }

  // Cancelled from the progress form once bytes are coming: the client's abort reason.
  Backend.Clear();
  auto o = Checker(Web->Url("/slow.html"));
  std::vector<std::int32_t> reports;
  o->OnDownloadProgress = [&](TObject*, std::int32_t Got, std::int32_t) { reports.push_back(Got); };
  int clicks = 0;
  Script = [&](TCustomForm& F) {
    auto* p = dynamic_cast<TWebDlProgress*>(&F);
    if (p && !p->lblProgress->Caption().empty() && clicks == 0) {
      ++clicks;
      p->btnCancel->Click();
    }
  };
  Backend.AnswerBox(mrYes);
  Backend.AnswerSaveDialog(Saved("fresh.exe"));
  EXPECT_FALSE(o->CheckForUpdate());
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(LastBox().Caption, "Download Error");
  EXPECT_EQ(LastBox().Text,
            "Error occurred while downloading update.\rError: \"Connection aborted on request.\"");
  EXPECT_EQ(o->LastError(), "Connection aborted on request");
  EXPECT_EQ(Backend.FormsHidden().back().ModalResult, mrCancel);
  ASSERT_FALSE(reports.empty());
  EXPECT_LT(reports.back(), static_cast<std::int32_t>(UpdateSize));
  EXPECT_EQ(Listing(Out.Path()), std::vector<std::string>{"setup.exe"});

  // The application is asked to end while bytes are coming: the form closes before the
  // request's end, and what came so far is no finished download.
  {
    vtest::TApplicationSwap swap;
    Backend.Clear();
    auto quit = Checker(Web->Url("/slow.html"));
    Script = [&](TCustomForm& F) {
      auto* p = dynamic_cast<TWebDlProgress*>(&F);
      if (p && !p->lblProgress->Caption().empty()) swap.App().Terminate();
    };
    Backend.AnswerBox(mrYes);
    Backend.AnswerSaveDialog(Saved("quit.exe"));
    EXPECT_FALSE(quit->CheckForUpdate());
    EXPECT_EQ(LastBox().Caption, "Download Error");
    EXPECT_EQ(quit->LastError(), "Connection aborted on request");
    EXPECT_EQ(Listing(Out.Path()), std::vector<std::string>{"setup.exe"});
    Script = nullptr;
  }

  // The application frees the component from its progress event: the check ends at
  // once, the form goes, and no file is left.
  Backend.Clear();
  Script = nullptr;
  TOrvane* doomed = Checker(Web->Url("/slow.html")).release();
  doomed->OnDownloadProgress = [&](TObject*, std::int32_t, std::int32_t) { delete doomed; };
  Backend.AnswerBox(mrYes);
  Backend.AnswerSaveDialog(Saved("doomed.exe"));
  EXPECT_FALSE(doomed->CheckForUpdate());
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Update Available"});
  EXPECT_EQ(Backend.FormsHidden().back().ModalResult, mrCancel);
  EXPECT_EQ(TOrvane::SharedHttpCli(), nullptr);
  EXPECT_EQ(Listing(Out.Path()), std::vector<std::string>{"setup.exe"});

  // The finished file cannot take its name (a folder took it meanwhile): a failure, the
  // partial file removed, the folder left as it is.
  Backend.Clear();
  auto blocked = Checker(Web->Url("/info.html"));
  const std::string blockedName = Saved("blocked.exe");
  blocked->OnDownloadProgress = [&](TObject*, std::int32_t, std::int32_t) {
    if (::mkdir(blockedName.c_str(), 0755) == 0)
      std::ofstream(blockedName + "/inside", std::ios::binary) << "the user's";
  };
  Backend.AnswerBox(mrYes);
  Backend.AnswerSaveDialog(blockedName);
  EXPECT_FALSE(blocked->CheckForUpdate());
  EXPECT_EQ(LastBox().Caption, "Download Error");
  EXPECT_EQ(blocked->LastError().rfind("Cannot save the file " + blockedName + ": ", 0), 0u)
      << blocked->LastError();
  EXPECT_EQ(Listing(Out.Path()), (std::vector<std::string>{"blocked.exe", "setup.exe"}));
  EXPECT_EQ(ReadFile(blockedName + "/inside"), "the user's");

  // Someone who can write the folder swaps the temporary file for a link to a file of the
  // user's before the first byte is written: that file stays as it was, the link is
  // removed, and nothing takes the name.
  Backend.Clear();
  const std::string outside = Temp.Write("outside.txt", "the user's own");
  auto swapped = Checker(Web->Url("/info.html"));
  int swaps = 0;
  swapped->OnDownloadProgress = [&](TObject*, std::int32_t, std::int32_t) {
    for (const std::string& name : Listing(Out.Path()))
      if (name.starts_with(".swapped.exe.") && swaps == 0) {
        ++swaps;
        ::unlink(Saved(name).c_str());
        ASSERT_EQ(::symlink(outside.c_str(), Saved(name).c_str()), 0);
      }
  };
  Backend.AnswerBox(mrYes);
  Backend.AnswerSaveDialog(Saved("swapped.exe"));
  EXPECT_FALSE(swapped->CheckForUpdate());
  EXPECT_EQ(swaps, 1);
  EXPECT_NE(swapped->LastError().find("was replaced by another while the download ran"),
            std::string::npos)
      << swapped->LastError();
  EXPECT_EQ(ReadFile(outside), "the user's own");
  EXPECT_EQ(Listing(Out.Path()), (std::vector<std::string>{"blocked.exe", "setup.exe"}));

  // A file that appears under the name while the download runs was not there when the
  // user chose the name: it is not replaced.
  Backend.Clear();
  auto late = Checker(Web->Url("/info.html"));
  const std::string lateName = Saved("late.exe");
  late->OnDownloadProgress = [&](TObject*, std::int32_t, std::int32_t) {
    if (!FileExists(lateName)) std::ofstream(lateName, std::ios::binary) << "came meanwhile";
  };
  Backend.AnswerBox(mrYes);
  Backend.AnswerSaveDialog(lateName);
  EXPECT_FALSE(late->CheckForUpdate());
  EXPECT_EQ(late->LastError(), "Cannot save the file " + lateName +
                                   ": a file of that name appeared meanwhile, and nobody "
                                   "agreed to replace it");
  EXPECT_EQ(ReadFile(lateName), "came meanwhile");
  EXPECT_EQ(Listing(Out.Path()),
            (std::vector<std::string>{"blocked.exe", "late.exe", "setup.exe"}));

  // A folder that refuses the file is reported before any request; inside the check it is
  // a download failure, not an error out of CheckForUpdate.
  Backend.Clear();
  EXPECT_THROW(o->DownloadFile("/nonexistent-folder/setup.exe"), EFCreateError);
  EXPECT_TRUE(Backend.FormsShown().empty());
  Backend.AnswerBox(mrYes);
  Backend.AnswerSaveDialog(Out.Path(), 3);  // a folder is no file
  EXPECT_FALSE(o->CheckForUpdate());
  EXPECT_EQ(LastBox().Caption, "Download Error");
  EXPECT_NE(o->LastError().find("Is a directory"), std::string::npos) << o->LastError();
}

TEST_F(UpdateCheck, HttpsPagesReadMesAndDownloadsTrustTheAuthorityGiven) {
  testsupport::TlsCerts certs;
  ASSERT_TRUE(certs.Make());
  testsupport::TlsNginx tls(certs);
  ASSERT_TRUE(tls.Start()) << tls.Error();
  const std::string base = "https://localhost:" + std::to_string(tls.Port("good"));
  tls.Dir().Write("www/files/setup.exe", Update);
  tls.Dir().Write("www/readme.txt", ReadMeText);
  // The read-me's scheme in capitals: the same https.
  tls.Dir().Write("www/info.html", Page({{"Product", "Sample Editor"},
                                         {"Version", "1.1"},
                                         {"ReadMe", "HTTPS" + base.substr(5) + "/readme.txt"},
                                         {"Download", base + "/files/setup.exe"}}));
  int readMes = 0;
  Script = [&](TCustomForm& F) {
    if (F.Caption() != "Read Me") return;
    ++readMes;
    F.SetModalResult(mrOk);
  };

  // The page, the read-me and the file, each over TLS, checked against the test's
  // authority.
  auto o = Checker(base + "/info.html", {orvoDisplayReadMe});
  o->SetSslCAFile(certs.Path("ca.pem"));
  Backend.AnswerBox(mrYes);  // view the read-me
  Backend.AnswerBox(mrYes);  // download
  Backend.AnswerSaveDialog(Saved("setup.exe"), 3);
  ASSERT_TRUE(o->CheckForUpdate()) << o->LastError();
  EXPECT_EQ(o->ProductVersion(), "1.1");
  EXPECT_EQ(readMes, 1);
  EXPECT_TRUE(ReadFile(Saved("setup.exe")) == Update) << "the file differs";

  // Trusting only the system's authorities, the page itself is refused, with the reason.
  Backend.Clear();
  auto refused = Checker(base + "/info.html");
  EXPECT_FALSE(refused->GetFileInfo());
  EXPECT_NE(refused->LastError().find("certificate issued by an unknown authority"),
            std::string::npos)
      << refused->LastError();
  EXPECT_TRUE(refused->ProductVersion().empty());
}

TEST_F(UpdateCheck, TheRunOptionsAfterTheDownload) {
  vtest::TApplicationSwap swap;
  swap.App().SetTitle("Sample Editor");
  TShellRecorder shell;
  // Yes to the download, Name in the dialog, then Run to the install question (if asked).
  const auto download = [&](TOrvane& O, const std::string& Name, TModalResult Run = mrNone) {
    Backend.Clear();
    shell.Started.clear();
    Backend.AnswerBox(mrYes);
    Backend.AnswerSaveDialog(Saved(Name));
    if (Run != mrNone) Backend.AnswerBox(Run);
    const bool result = O.CheckForUpdate();
    EXPECT_EQ(Backend.UnusedAnswers(), 0u);
    return result;
  };

  // Run, keep running: the file is no program and nothing opens it here.
  {
    TPathSwap path(false);
    auto o = Checker(Web->Url("/info.html"), {orvoRunUpdate});
    EXPECT_TRUE(download(*o, "a.exe", mrYes));
    EXPECT_EQ(BoxCaptions(),
              (std::vector<std::string>{"Update Available", "Install Update", "Error"}));
    EXPECT_EQ(Backend.Boxes()[1].Request.Text, "Do you want to install the update now?");
    EXPECT_EQ(Backend.Boxes()[1].Request.Icon, miQuestion);
    EXPECT_EQ(LastBox().Text, "Can not start program.");
    EXPECT_EQ(LastBox().Icon, miExclamation);
    EXPECT_TRUE(shell.Started.empty());
    EXPECT_FALSE(swap.App().Terminated());
    EXPECT_EQ(ReadFile(Saved("a.exe")), Update);
  }
  // Run and close: the shell opens it, and the application is asked to end.
  {
    TPathSwap path(true);
    auto o = Checker(Web->Url("/info.html"), {orvoRunUpdate, orvoExitDuringUpdate});
    EXPECT_TRUE(download(*o, "b.exe", mrNo));  // No: nothing started
    EXPECT_EQ(MessageLines(LastBox().Text),
              (std::vector<std::string>{"Do you want to install the update now?",
                                        "This will close Sample Editor."}));
    EXPECT_TRUE(shell.Started.empty());
    EXPECT_TRUE(download(*o, "c.exe", mrYes));
    EXPECT_EQ(BoxCaptions(), (std::vector<std::string>{"Update Available", "Install Update"}));
    ASSERT_EQ(shell.Started.size(), 1u);
    EXPECT_EQ(shell.Started[0].args, std::vector<std::string>{Saved("c.exe")});
    swap.App().ProcessMessages();  // the application's own loop turns the quit into Terminated
    EXPECT_TRUE(swap.App().Terminated());
  }
  // No run option: done right after the download.
  {
    vtest::TApplicationSwap fresh;
    auto o = Checker(Web->Url("/info.html"), {orvoExitDuringUpdate});
    EXPECT_TRUE(download(*o, "d.exe"));
    EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Update Available"});
    EXPECT_EQ(ReadFile(Saved("d.exe")), Update);
  }
}

TEST_F(UpdateCheck, TheReadMeInAWindowOrOpenedByTheShell) {
  Backend.SetScreenSize(1024, 768);
  TShellRecorder shell;
  TPathSwap path(true);
  int okClicks = 0;
  Script = [&](TCustomForm& F) {
    if (F.Caption() != "Read Me") return;
    for (int i = 0; i < F.ControlCount(); ++i)
      if (auto* b = dynamic_cast<TButton*>(F.Controls(i))) {
        ++okClicks;
        b->Click();
      }
  };

  // The plain read-me, offered before the download question and declined there.
  auto o = Checker(Web->Url("/readme.html"), {orvoDisplayReadMe});
  Backend.AnswerBox(mrYes);  // view the read-me
  Backend.AnswerBox(mrNo);   // no download
  EXPECT_FALSE(o->CheckForUpdate());
  EXPECT_EQ(BoxCaptions(), (std::vector<std::string>{"Update Available", "Update Available"}));
  EXPECT_EQ(MessageLines(Backend.Boxes()[0].Request.Text),
            (std::vector<std::string>{"Current version is 1.0.", "Version 1.1 is available.",
                                      "Would you like to view the ReadMe file?"}));
  EXPECT_EQ(FormCaptions(), (std::vector<std::string>{"Please Wait", "Please Wait", "Read Me"}));
  EXPECT_EQ(Backend.FormsShown()[1].Controls[0].Text, "Retrieving ReadMe...");
  const Shot& r = Backend.FormsShown()[2];
  EXPECT_EQ((std::vector<int>{r.ClientWidth, r.ClientHeight}), (std::vector<int>{819, 614}));
  EXPECT_TRUE(r.BorderIcons.Empty());
  EXPECT_EQ(r.BorderStyle, bsDialog);
  ASSERT_EQ(r.Controls.size(), 2u);
  const auto& memo = r.Controls[0];
  EXPECT_EQ((std::vector<int>{memo.Left, memo.Top, memo.Width, memo.Height, memo.ScrollBars}),
            (std::vector<int>{10, 10, 794, 534, ssBoth}));
  EXPECT_EQ(memo.Lines, (std::vector<std::string>{"Sample Editor 1.1", "",
                                                  "What is new:", "- faster", "- smaller"}));
  const auto& ok = r.Controls[1];
  EXPECT_EQ((std::vector<int>{ok.Left, ok.Top, ok.Width, ok.Height, ok.ModalResult}),
            (std::vector<int>{375, 558, 68, 22, mrOk}));
  EXPECT_EQ(ok.Text, "&Ok");
  EXPECT_TRUE(ok.Default && ok.Cancel);  // Enter and Escape close the window
  EXPECT_EQ(okClicks, 1);

  // Both kinds: the external one is downloaded into a folder of its own in the temporary
  // folder (a file of the user's of the same name there stays as it is) and opened, and
  // the window is not shown.
  Backend.Clear();
  Temp.Write("notes.html", "the user's notes");
  auto both = Checker(Web->Url("/both.html"));
  EXPECT_TRUE(both->DisplayReadMe(false));
  EXPECT_TRUE(Backend.Boxes().empty());
  EXPECT_EQ(FormCaptions(), (std::vector<std::string>{"Please Wait", "Download Progress"}));
  EXPECT_EQ(Backend.FormsShown()[1].Controls[0].Text, "Downloading ReadMe");
  EXPECT_EQ(ReadFile(Temp.Path() + "/notes.html"), "the user's notes");
  ASSERT_EQ(shell.Started.size(), 1u);
  ASSERT_EQ(shell.Started[0].args.size(), 1u);
  const std::string opened = shell.Started[0].args[0];
  const std::string folder = opened.substr(0, opened.rfind('/'));
  EXPECT_EQ(folder.rfind(Temp.Path() + "/orvane-readme-", 0), 0u) << opened;
  EXPECT_EQ(opened.substr(folder.size()), "/notes.html");
  EXPECT_EQ(ReadFile(opened), "<HTML>notes</HTML>\n");
  struct stat st {};
  ASSERT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(okClicks, 1);
  // Opened, it stays for the program that shows it, also once the component is gone.
  both.reset();
  EXPECT_EQ(ReadFile(opened), "<HTML>notes</HTML>\n");
  ::unlink(opened.c_str());
  ::rmdir(folder.c_str());

  const auto readMeFolders = [&] {
    int n = 0;
    for (const std::string& name : Listing(Temp.Path())) n += name.starts_with("orvane-readme-");
    return n;
  };
  EXPECT_EQ(readMeFolders(), 0);

  // Without a person present the external read-me is neither fetched nor opened: the
  // plain one still shows. One the opener refuses is removed at once with its folder.
  Backend.Clear();
  auto nobody = Checker(Web->Url("/both.html"));
  nobody->SetAttended(false);
  EXPECT_TRUE(nobody->DisplayReadMe(false));
  EXPECT_EQ(FormCaptions(), (std::vector<std::string>{"Please Wait", "Please Wait", "Read Me"}));
  EXPECT_EQ(shell.Started.size(), 1u);
  EXPECT_EQ(okClicks, 2);
  Backend.Clear();
  shell.Answer = ENOENT;
  auto refused = Checker(Web->Url("/both.html"));
  EXPECT_TRUE(refused->DisplayReadMe(false));
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Error"});
  EXPECT_EQ(readMeFolders(), 0);
  EXPECT_EQ(okClicks, 3);
  shell.Answer = 0;

  // An external read-me is held to what a page may have, as the plain one is.
  Backend.Clear();
  auto big = Checker(Web->Url("/bigext.html"));
  big->SetMaxPageSize(2000);
  EXPECT_TRUE(big->DisplayReadMe(false));
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Error"});
  EXPECT_EQ(big->LastError(), "The read-me at " + Web->Url("/docs/big.html") +
                                  " is larger than the 2,000 bytes a text may have (MaxPageSize)");
  EXPECT_EQ(readMeFolders(), 0);
  EXPECT_EQ(shell.Started.size(), 2u);

  // The external one cannot be fetched: "Can not start program.", then the window.
  Backend.Clear();
  shell.Started.clear();
  auto bad = Checker(Web->Url("/bothbad.html"));
  EXPECT_TRUE(bad->DisplayReadMe(false));
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Error"});
  EXPECT_EQ(LastBox().Text, "Can not start program.");
  EXPECT_EQ(FormCaptions().back(), "Read Me");
  EXPECT_EQ(okClicks, 4);
  EXPECT_TRUE(shell.Started.empty());
  EXPECT_EQ(readMeFolders(), 0);
}

TEST_F(UpdateCheck, PagesThatFailRedirectOrNeverAnswer) {
  const std::string odds = "http://127.0.0.1:" + std::to_string(Odd->port);

  // A 404: the bare status box, then "Connection Error" with the reason.
  auto o = Checker(Web->Url("/nothing.html"));
  EXPECT_FALSE(o->CheckForUpdate());
  EXPECT_EQ(BoxCaptions(), (std::vector<std::string>{Application->Title(), "Connection Error"}));
  EXPECT_EQ(Backend.Boxes()[0].Request.Text, "404");
  EXPECT_EQ(Backend.Boxes()[0].Request.Icon, miNone);
  EXPECT_EQ(LastBox().Text,
            "Could not retrieve version information from the Internet.\rError: \"Not Found.\"");
  EXPECT_FALSE(o->Active());
  EXPECT_TRUE(o->ProductName().empty());

  // A redirect entry is followed; the fields are the last page's.
  Backend.Clear();
  auto hop = Checker(Web->Url("/hop.html"));
  EXPECT_TRUE(hop->GetFileInfo());
  EXPECT_TRUE(hop->Active());
  EXPECT_EQ(hop->ProductVersion(), "1.1");
  EXPECT_EQ(FormCaptions(), (std::vector<std::string>{"Please Wait", "Please Wait"}));

  // Pages that lead back to themselves, and a chain that goes on and on, end the check.
  for (const char* start : {"/self.html", "/ping.html", "/chain1.html"}) {
    SCOPED_TRACE(start);
    Backend.Clear();
    auto loop = Checker(Web->Url(start));
    EXPECT_FALSE(loop->CheckForUpdate());
    EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Connection Error"});
    EXPECT_NE(LastBox().Text.find(std::string(start) == "/chain1.html" ? "More than 10 pages"
                                                                       : "read before"),
              std::string::npos)
        << LastBox().Text;
    EXPECT_FALSE(loop->Active());
    EXPECT_TRUE(loop->RedirectURL().empty());  // the next check starts from HomeURL again
    EXPECT_LE(Backend.FormsShown().size(), 10u);
  }

  // A server that accepts and never answers: the time-out ends the wait.
  Backend.Clear();
  auto stall = Checker(odds + "/stall");
  stall->SetRequestTimeout(1);
  EXPECT_FALSE(stall->CheckForUpdate());
  EXPECT_EQ(LastBox().Text,
            "Could not retrieve version information from the Internet.\rError: "
            "\"Connection timed out.\"");
  EXPECT_EQ(stall->LastError(), "Connection timed out");

  // A server that trickles a byte at a time keeps that time-out at bay for ever: the
  // low-speed rule ends the page, and so does the overall bound; a download has a bound of
  // its own (none unless set).
  Backend.Clear();
  auto drip = Checker(odds + "/drip");
  EXPECT_EQ((std::vector<int>{drip->LowSpeedLimit(), drip->LowSpeedTime(), drip->PageMaxTime(),
                              drip->DownloadMaxTime()}),
            (std::vector<int>{100, 30, 60, 0}));
  drip->SetLowSpeedTime(1);
  EXPECT_FALSE(drip->GetFileInfo());
  EXPECT_EQ(drip->LastError(), "slower than 100 bytes/s for 1 s");
  drip->SetLowSpeedLimit(0);
  drip->SetPageMaxTime(1);
  EXPECT_FALSE(drip->GetFileInfo());
  EXPECT_EQ(drip->LastError(), "took longer than 1 s");
  EXPECT_THROW(drip->SetPageMaxTime(-1), EConvertError);
  EXPECT_EQ(drip->PageMaxTime(), 1);
  Backend.Clear();
  auto dripFile = Checker(Web->Url("/dripfile.html"));
  dripFile->SetLowSpeedLimit(0);
  dripFile->SetPageMaxTime(1);
  dripFile->SetDownloadMaxTime(2);
  EXPECT_FALSE(dripFile->DownloadFile(Saved("drip.exe")));
  EXPECT_EQ(dripFile->LastError(), "took longer than 2 s");
  dripFile->SetLowSpeedLimit(100);
  dripFile->SetLowSpeedTime(1);
  dripFile->SetDownloadMaxTime(0);
  EXPECT_FALSE(dripFile->DownloadFile(Saved("drip.exe")));
  EXPECT_EQ(dripFile->LastError(), "slower than 100 bytes/s for 1 s");
  EXPECT_TRUE(Listing(Out.Path()).empty());

  // The application is asked to end while the page is read: the request is given up, and
  // the check fails rather than finding "no update" on a page it never got.
  {
    vtest::TApplicationSwap swap;
    Backend.Clear();
    auto quit = Checker(odds + "/stall");
    Script = [&](TCustomForm& F) {
      if (F.Caption() == "Please Wait") swap.App().Terminate();
    };
    EXPECT_FALSE(quit->CheckForUpdate());
    EXPECT_EQ(LastBox().Caption, "Connection Error");
    EXPECT_EQ(quit->LastError(), "Connection aborted on request");
    EXPECT_FALSE(quit->Active());
    Script = nullptr;
  }

  // A page larger than MaxPageSize ends as soon as its announced length, or the bytes
  // received, pass it; 0 lifts the limit.
  EXPECT_EQ(stall->MaxPageSize(), 1024 * 1024);
  for (const auto& [path, limit] :
       {std::pair<const char*, std::int32_t>{"/stall-body", 1000}, {"/nolength", 100000}}) {
    SCOPED_TRACE(path);
    Backend.Clear();
    auto big = Checker(odds + path);
    big->SetMaxPageSize(limit);
    EXPECT_FALSE(big->GetFileInfo());
    EXPECT_EQ(big->LastError(), "The page at " + odds + path + " is larger than the " +
                                    FormatThousands(limit) +
                                    " bytes a page may have (MaxPageSize)");
    EXPECT_EQ(BoxCaptions(), std::vector<std::string>{});  // no status box for it
  }
  auto unbounded = Checker(odds + "/nolength");
  unbounded->SetMaxPageSize(0);
  EXPECT_TRUE(unbounded->GetFileInfo()) << unbounded->LastError();

  // A date that does not exist makes the page unreadable: a failure naming the entry, no
  // error out of the check, and the application's handler sees the conversion error.
  std::vector<std::string> passed;
  Application->OnException = [&](TObject*, const Exception& E) { passed.push_back(E.Message()); };
  Backend.Clear();
  auto date = Checker(Web->Url("/baddate.html"));
  EXPECT_FALSE(date->CheckForUpdate());
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Connection Error"});
  EXPECT_EQ(date->LastError().rfind("The Date entry \"Feb 30, 2020\" is no date: ", 0), 0u)
      << date->LastError();
  EXPECT_EQ(passed.size(), 1u);
  EXPECT_FALSE(date->Active());
  EXPECT_TRUE(date->ProductVersion().empty());

  // A redirect to an address the component does not fetch: the first page was read, the
  // check fails (it does not report "no update"), and nothing was requested.
  Backend.Clear();
  auto redirect = Checker(Web->Url("/toredirectfile.html"));
  EXPECT_TRUE(redirect->GetFileInfo());
  EXPECT_FALSE(redirect->Active());
  EXPECT_EQ(redirect->LastError(),
            "The Redirect entry \"file:///etc/passwd\" cannot be fetched: unsupported protocol: "
            "file");
  EXPECT_EQ(redirect->LastPageURL(), "file:///etc/passwd");
  EXPECT_EQ(FormCaptions(), std::vector<std::string>{"Please Wait"});
  EXPECT_FALSE(redirect->CheckForUpdate());
  EXPECT_EQ(LastBox().Caption, "Connection Error");
}

TEST_F(UpdateCheck, EntriesThePageMustNotChooseAreRefusedBeforeAnyQuestion) {
  // Addresses that are no http:// address with a host, and file names that would be
  // hidden or no file: refused with the box of the download, before any question.
  const struct {
    const char* Page;
    const char* Reason;
  } rows[] = {
      {"/ftp.html",
       "The Download entry \"ftp://127.0.0.1/setup.exe\" cannot be fetched: unsupported "
       "protocol: ftp"},
      {"/hidden.html",
       "proposes no usable file name: a name starting with \".\" would be a "
       "hidden file"},
      {"/nofile.html", "proposes no usable file name: the address names no file"},
      {"/readmefile.html",
       "The ReadMe entry \"file:///etc/passwd\" cannot be fetched: unsupported protocol: file"},
      {"/readmeFILE.html",
       "The ReadMe entry \"FILE:///etc/passwd\" cannot be fetched: unsupported protocol: FILE"},
      // DEL is a control character as the C0 ones are; a C1 control (U+009B) and bytes that
      // are no UTF-8 are refused in the address before the name is looked at.
      {"/del.html", "cannot be fetched: a blank or control character in the address"},
      {"/c1.html", "cannot be fetched: a control character or no UTF-8 in the address"},
      {"/noutf8.html", "cannot be fetched: a control character or no UTF-8 in the address"},
      {"/name256.html", "proposes no usable file name: the name is longer than 255 bytes"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Page);
    Backend.Clear();
    auto o = Checker(Web->Url(row.Page), {orvoDisplayReadMe});
    EXPECT_FALSE(o->CheckForUpdate());
    EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Download Error"});
    EXPECT_NE(o->LastError().find(row.Reason), std::string::npos) << o->LastError();
    EXPECT_NE(LastBox().Text.find(row.Reason), std::string::npos) << LastBox().Text;
    EXPECT_TRUE(Backend.Dialogs().empty());
    EXPECT_EQ(FormCaptions(), std::vector<std::string>{"Please Wait"});
  }

  // Called on their own, the operations refuse the same, without a request or a file.
  Backend.Clear();
  auto ftp = Checker(Web->Url("/ftp.html"));
  EXPECT_FALSE(ftp->DownloadFile(Out.Path() + "/"));
  EXPECT_EQ(ftp->LastError(), std::string(rows[0].Reason));
  EXPECT_FALSE(ftp->DoDownload("file:///etc/passwd", Saved("passwd"), "Downloading Update"));
  EXPECT_EQ(ftp->LastError(),
            "The address \"file:///etc/passwd\" cannot be fetched: unsupported protocol: file");
  auto hidden = Checker(Web->Url("/hidden.html"));
  EXPECT_FALSE(hidden->DownloadFile(Out.Path() + "/"));
  EXPECT_NE(hidden->LastError().find(rows[1].Reason), std::string::npos);
  auto readMe = Checker(Web->Url("/readmefile.html"));
  EXPECT_TRUE(readMe->DisplayReadMe(false));  // offered; the window could not be had
  EXPECT_EQ(readMe->LastError(), std::string(rows[3].Reason));
  EXPECT_EQ(FormCaptions(),
            (std::vector<std::string>{"Please Wait", "Please Wait", "Please Wait"}));
  EXPECT_TRUE(Listing(Out.Path()).empty());
  EXPECT_TRUE(Listing(Temp.Path()).empty());

  // At the boundaries: a proposed name of exactly 255 bytes, a scheme in mixed case.
  Backend.Clear();
  auto longest = Checker(Web->Url("/name255.html"));
  Backend.AnswerBox(mrYes);
  Backend.AnswerSaveDialog(Saved("longest"), 3);
  ASSERT_TRUE(longest->CheckForUpdate()) << longest->LastError();
  EXPECT_EQ(ReadFile(Saved("longest")), "longest name");
  auto mixed = Checker(Web->Url("/mixedcase.html"));
  ASSERT_TRUE(mixed->DownloadFile(Out.Path() + "/")) << mixed->LastError();
  EXPECT_TRUE(ReadFile(Saved("setup.exe")) == Update);
  // The longest name, proposed by the page into a folder: its temporary name fits too.
  ASSERT_TRUE(longest->DownloadFile(Out.Path() + "/")) << longest->LastError();
  EXPECT_EQ(ReadFile(Saved(std::string(255, 'n'))), "longest name");
}

TEST_F(UpdateCheck, TheExceptionHookEndsTheWaitAndPassesOtherErrorsOn) {
  std::vector<std::string> passed;
  Application->OnException = [&](TObject*, const Exception& E) { passed.push_back(E.Message()); };
  auto o = Checker("http://127.0.0.1:" + std::to_string(Odd->port) + "/stall");
  // An HTTP error that reaches the application's loop while the please-wait form waits.
  vtest::TRecordingWindow raiser;
  raiser.OnMessage = [](plat::UINT, plat::WPARAM) {
    throw EHttpException("HTTP component is busy", 1);
  };
  Script = [&](TCustomForm&) {
    if (raiser.Received.empty()) raiser.Post(plat::WM_USER);
  };
  EXPECT_FALSE(o->CheckForUpdate());
  ASSERT_GE(Backend.Boxes().size(), 2u);
  EXPECT_EQ(Backend.Boxes()[0].Request.Caption, "Exception");
  EXPECT_EQ(Backend.Boxes()[0].Request.Text,
            "Error retrieving update information.\rException: HTTP component is busy.");
  EXPECT_EQ(Backend.Boxes()[0].Request.Icon, miExclamation);
  EXPECT_EQ(LastBox().Caption, "Connection Error");
  EXPECT_EQ(o->LastError(), "HTTP component is busy");
  EXPECT_EQ(Backend.FormsHidden().at(0).ModalResult, mrCancel);
  EXPECT_TRUE(passed.empty());
  Script = nullptr;
  // The hook took itself away: the application's handler is back.
  Application->HandleException(nullptr);  // nothing being handled: no call
  try {
    throw Exception("not ours");
  } catch (...) {
    Application->HandleException(nullptr);
  }
  EXPECT_EQ(passed, std::vector<std::string>{"not ours"});

  // Read twice (the hook stays installed after a normal end), two components hooked on
  // top of each other: other errors still reach the application's handler once, and once
  // every component is gone its handler is in place again.
  passed.clear();
  {
    auto a = Checker(Web->Url("/info.html"));
    auto b = Checker(Web->Url("/hop.html"));
    EXPECT_TRUE(a->GetFileInfo()) << a->LastError();
    a->SetActive(false);
    EXPECT_TRUE(a->GetFileInfo());
    EXPECT_TRUE(b->GetFileInfo());  // B's request ends B's form, not A's
    EXPECT_TRUE(b->Active());
    try {
      throw EConvertError("passed on");
    } catch (...) {
      Application->HandleException(nullptr);
    }
    a.reset();
    try {
      throw EConvertError("still passed on");
    } catch (...) {
      Application->HandleException(nullptr);
    }
  }
  EXPECT_EQ(passed, (std::vector<std::string>{"passed on", "still passed on"}));
  ASSERT_TRUE(Application->OnException);
  EXPECT_EQ(Application->OnException.target<TOrvHook>(), nullptr);

  // A component freed while another one's page comes leaves that request alone; the
  // component the client served last takes it along when it goes.
  auto reader = Checker(Web->Url("/hop.html"));
  TOrvane* idle = Checker(Web->Url("/info.html")).release();
  EXPECT_TRUE(idle->GetFileInfo());
  Script = [&](TCustomForm&) {
    THttpCli* cli = TOrvane::SharedHttpCli();
    if (idle && cli && cli->State() != httpReady) delete std::exchange(idle, nullptr);
  };
  EXPECT_TRUE(reader->GetFileInfo()) << reader->LastError();
  Script = nullptr;
  EXPECT_EQ(idle, nullptr);
  EXPECT_EQ(reader->DownloadURL(), Web->Url("/files/setup.exe"));
  EXPECT_NE(TOrvane::SharedHttpCli(), nullptr);
  reader.reset();
  EXPECT_EQ(TOrvane::SharedHttpCli(), nullptr);
}

TEST_F(UpdateCheck, ThroughTheProxy) {
  testsupport::Squid proxy;
  ASSERT_TRUE(proxy.Start()) << proxy.Error();
  auto o = Checker(Web->Url("/hop.html"));
  o->SetProxyHost("127.0.0.1");
  o->SetProxyPort(proxy.Port());
  Backend.AnswerBox(mrYes);
  Backend.AnswerSaveDialog(Saved("via-proxy"), 3);
  ASSERT_TRUE(o->CheckForUpdate()) << o->LastError();
  EXPECT_TRUE(ReadFile(Saved("via-proxy")) == Update);
  EXPECT_EQ(TOrvane::SharedHttpCli()->Proxy(), "127.0.0.1");
  EXPECT_EQ(TOrvane::SharedHttpCli()->ProxyPort(), std::to_string(proxy.Port()));
}

TEST_F(UpdateCheck, SignedUpdatesAreCheckedBeforeAnythingIsFetchedSavedOrStarted) {
  TShellRecorder shell;
  TPathSwap path(true);
  const std::string otherKey = Ed25519GenerateKeys().PublicKey;

  // The update as published: the signature verified as the page is read, the file checked
  // as it arrives, saved and started.
  auto good = Checker(Web->Url("/signed.html"), {orvoRunUpdate});
  good->SetPublicKey(Keys.PublicKey);
  good->SetRequireSignature(true);
  Backend.AnswerBox(mrYes);
  Backend.AnswerSaveDialog(Saved("signed.exe"));
  Backend.AnswerBox(mrYes);  // install it
  ASSERT_TRUE(good->CheckForUpdate()) << good->LastError();
  EXPECT_EQ(BoxCaptions(), (std::vector<std::string>{"Update Available", "Install Update"}));
  EXPECT_TRUE(good->SignatureVerified());
  EXPECT_TRUE(good->DownloadChecked());
  EXPECT_EQ(good->DownloadSize(), std::to_string(UpdateSize));
  EXPECT_TRUE(ReadFile(Saved("signed.exe")) == Update);
  ASSERT_EQ(shell.Started.size(), 1u);
  EXPECT_EQ(shell.Started[0].args, std::vector<std::string>{Saved("signed.exe")});
  // Another key after the read: the page is read and checked anew before a download.
  good->SetPublicKey(otherKey);
  EXPECT_FALSE(good->Active());
  EXPECT_FALSE(good->DownloadFile(Saved("again.exe")));
  EXPECT_NE(good->LastError().find("signature does not match"), std::string::npos)
      << good->LastError();

  // Pages refused as they are read, before any question and before the file is asked for.
  const struct {
    const char* Page;
    std::string Key;
    bool Require;
    const char* Reason;
  } refusedPages[] = {
      {"/changed-version.html", Keys.PublicKey, false, "signature does not match its entries"},
      {"/changed-url.html", Keys.PublicKey, false, "signature does not match its entries"},
      {"/changed-size.html", Keys.PublicKey, false, "signature does not match its entries"},
      {"/changed-expiry.html", Keys.PublicKey, false, "signature does not match its entries"},
      {"/signed.html", otherKey, false, "signature does not match its entries"},
      {"/info.html", Keys.PublicKey, false, "is not signed (The Signature entry is missing)"},
      {"/hashed.html", Keys.PublicKey, true, "is not signed"},
      {"/signed.html", "", true, "no PublicKey is set"},
      {"/expired.html", Keys.PublicKey, false, "The signed page expired on 2020-01-31"},
      {"/signed.html", "bm90IGEga2V5", false, "not an Ed25519 public key"},
  };
  for (const auto& row : refusedPages) {
    SCOPED_TRACE(row.Page + (" " + row.Key));
    Backend.Clear();
    shell.Started.clear();
    auto o = Checker(Web->Url(row.Page), {orvoRunUpdate});
    o->SetPublicKey(row.Key);
    o->SetRequireSignature(row.Require);
    EXPECT_FALSE(o->CheckForUpdate());
    // Not the network's box: the reason comes first, in a box of its own.
    EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Update Not Verified"});
    EXPECT_NE(o->LastError().find(row.Reason), std::string::npos) << o->LastError();
    EXPECT_EQ(LastBox().Text.rfind(o->LastError(), 0), 0u) << LastBox().Text;
    EXPECT_FALSE(o->Active());
    EXPECT_TRUE(o->ProductVersion().empty());
    EXPECT_TRUE(o->DownloadURL().empty());
    EXPECT_EQ(FormCaptions(), std::vector<std::string>{"Please Wait"});  // the page alone
    EXPECT_FALSE(o->DownloadFile(Saved("direct.exe")));  // on its own: refused the same
  }

  // Files that are not what the page gives: one byte flipped (signed, or with a size and
  // hash only), more bytes than the signed size, announced or streamed. The download
  // fails; nothing is saved, nothing started.
  const struct {
    const char* Page;
    bool Keyed;
    const char* Reason;
  } refusedFiles[] = {
      {"/flipped.html", true, "The file's SHA-256 is "},
      {"/hashed-flipped.html", false, "The file's SHA-256 is "},
      {"/overlong.html", true, "The server sent more than the 10,000 bytes the page gives"},
      {"/endless.html", true, "The server sent more than the 10,000 bytes the page gives"},
  };
  for (const auto& row : refusedFiles) {
    SCOPED_TRACE(row.Page);
    Backend.Clear();
    shell.Started.clear();
    auto o = Checker(Web->Url(row.Page), {orvoRunUpdate});
    if (row.Keyed) o->SetPublicKey(Keys.PublicKey);
    std::int64_t mostReported = 0;
    o->OnDownloadProgress = [&](TObject*, std::int32_t Got, std::int32_t) {
      mostReported = std::max<std::int64_t>(mostReported, Got);
    };
    Backend.AnswerBox(mrYes);
    Backend.AnswerSaveDialog(Saved("refused.exe"));
    EXPECT_FALSE(o->CheckForUpdate());
    EXPECT_EQ(BoxCaptions(), (std::vector<std::string>{"Update Available", "Download Error"}));
    EXPECT_NE(o->LastError().find(row.Reason), std::string::npos) << o->LastError();
    EXPECT_TRUE(o->DownloadChecked());
    EXPECT_EQ(o->SignatureVerified(), row.Keyed);
    if (o->DownloadSize() == "10000") {
      EXPECT_LE(mostReported, 10000);  // stopped at the size
    }
    EXPECT_TRUE(shell.Started.empty());
    EXPECT_EQ(Listing(Out.Path()), std::vector<std::string>{"signed.exe"});
  }

  // Size and hash without a key: the intact file passes.
  Backend.Clear();
  auto hashed = Checker(Web->Url("/hashed.html"));
  ASSERT_TRUE(hashed->DownloadFile(Saved("hashed.exe"))) << hashed->LastError();
  EXPECT_TRUE(hashed->DownloadChecked());
  EXPECT_FALSE(hashed->SignatureVerified());
  EXPECT_TRUE(ReadFile(Saved("hashed.exe")) == Update);

  // A signed page for an older version is an old page played back: no update, and never
  // downloaded, even when asked for directly.
  Backend.Clear();
  auto down = Checker(Web->Url("/downgrade.html"));
  down->SetPublicKey(Keys.PublicKey);
  EXPECT_FALSE(down->CheckForUpdate());
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"No Update Found"});
  EXPECT_TRUE(down->SignatureVerified());
  EXPECT_FALSE(down->DownloadFile(Out.Path() + "/"));
  EXPECT_EQ(down->LastError(),
            "The signed page offers version 0.9, which is not newer than the version 1.0 "
            "running now: a signed update never goes back");
  EXPECT_EQ(Listing(Out.Path()), (std::vector<std::string>{"hashed.exe", "signed.exe"}));
}

TEST_F(UpdateCheck, EverythingASignedPageSaysIsThePublishersForItsProductAndItsTime) {
  TShellRecorder shell;
  TPathSwap path(true);
  const std::string otherKey = Ed25519GenerateKeys().PublicKey;
  const auto checker = [&](const std::string& Page, TOrvOptions Options = {orvoRunUpdate}) {
    auto o = Checker(Web->Url(Page), Options);
    // A publisher moving to a new key lists both for a while.
    o->SetPublicKey(otherKey + "\r\n" + Keys.PublicKey + "\n");
    o->SetExpectedProduct("Sample Editor");
    return o;
  };

  // The whole page signed: the external read-me held to its own size and hash and opened,
  // the update saved and started with the signed parameters.
  auto all = checker("/signed-all.html", {orvoRunUpdate, orvoDisplayReadMe});
  Backend.AnswerBox(mrYes);  // view the read-me
  Backend.AnswerBox(mrYes);  // download
  Backend.AnswerSaveDialog(Saved("all.exe"));
  Backend.AnswerBox(mrYes);  // install
  ASSERT_TRUE(all->CheckForUpdate()) << all->LastError();
  EXPECT_TRUE(all->SignatureVerified());
  EXPECT_TRUE(ReadFile(Saved("all.exe")) == Update);
  ASSERT_EQ(shell.Started.size(), 2u);
  // The signed external read-me, in the check's own folder.
  EXPECT_THAT(shell.Started[0].args.back(),
              ::testing::MatchesRegex(Temp.Path() + "/orvane-readme-.*/notes\\.html"));
  EXPECT_EQ(shell.Started[1].args, std::vector<std::string>{Saved("all.exe")});
  EXPECT_EQ(all->RunParams(), "/silent");  // what the start was given
  // The plain read-me is shown only as signed.
  Backend.Clear();
  bool shown = false;
  Script = [&](TCustomForm& F) {
    if (F.Caption() != "Read Me") return;
    shown = true;
    F.SetModalResult(mrOk);
  };
  auto plain = checker("/readme-changed.html");
  EXPECT_TRUE(plain->DisplayReadMe(false));
  EXPECT_FALSE(shown);
  EXPECT_NE(plain->LastError().find("The read-me's SHA-256 is "), std::string::npos)
      << plain->LastError();
  EXPECT_NE(plain->LastError().find("it is not shown"), std::string::npos);
  plain->SetPublicKey("");  // unsigned, as ever: shown
  EXPECT_TRUE(plain->DisplayReadMe(false));
  EXPECT_TRUE(shown);
  Script = nullptr;

  // Refused as read, before any question.
  const struct {
    const char* Page;
    std::string Reason;
  } refused[] = {
      {"/forged-params.html", "signature does not match its entries"},
      {"/forged-author.html", "signature does not match its entries"},
      {"/forged-readme.html", "signature does not match its entries"},
      {"/other-product.html",
       "The signed page is for the product \"Other Product\", not for \"Sample Editor\""},
      {"/unexpiring.html", "no Expires entry"},
      {"/yesterday.html", "The signed page expired on " + UtcDateInDays(-1)},
      {"/old-form.html", "re-sign it with the current orvane-sign"},
  };
  for (const auto& row : refused) {
    SCOPED_TRACE(row.Page);
    Backend.Clear();
    shell.Started.clear();
    auto o = checker(row.Page);
    EXPECT_FALSE(o->CheckForUpdate());
    EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Update Not Verified"});
    EXPECT_NE(o->LastError().find(row.Reason), std::string::npos) << o->LastError();
    EXPECT_TRUE(o->ProductAuthor().empty() && o->RunParams().empty());
    EXPECT_TRUE(shell.Started.empty());
  }
  // Pages without an expiry, when the application allows them; a page on its last day;
  // a hash written in upper case.
  auto unexpiring = checker("/unexpiring.html");
  unexpiring->SetAllowUnexpiringPages(true);
  EXPECT_TRUE(unexpiring->GetFileInfo()) << unexpiring->LastError();
  EXPECT_TRUE(unexpiring->SignatureVerified());
  auto today = checker("/today.html");
  EXPECT_TRUE(today->GetFileInfo()) << today->LastError();
  auto upper = checker("/upper-sha.html");
  ASSERT_TRUE(upper->DownloadFile(Saved("upper.exe"))) << upper->LastError();
  EXPECT_TRUE(ReadFile(Saved("upper.exe")) == Update);

  // Without a key the update's size and hash hold the update alone, not the read-me.
  Backend.Clear();
  shell.Started.clear();
  auto hashed = Checker(Web->Url("/hashed-readme.html"));
  EXPECT_TRUE(hashed->DisplayReadMe(false)) << hashed->LastError();
  EXPECT_TRUE(hashed->DownloadChecked());
  ASSERT_EQ(shell.Started.size(), 1u);
  EXPECT_EQ(ReadFile(shell.Started[0].args.back()), "<HTML>notes</HTML>\n");
}

// Downloads that a broken connection cuts short: a peer that resets (or closes) part-way,
// answers ranges as asked or not at all, or has a new file by the time the rest is asked.
TEST_F(UpdateCheck, DownloadsCutShortResumeAndNeverMixTwoFiles) {
  std::string other = Update;
  other[10] = static_cast<char>(other[10] ^ 0x20);
  const std::string file = Temp.Write("peer-file", Update);
  const std::string otherFile = Temp.Write("peer-other", other);
  testsupport::PythonPeer peer =
      testsupport::StartPythonPeer("http_resume.py", {"--file", file, "--other", otherFile}, 120);
  ASSERT_NE(peer.port, 0);
  const std::string base = "http://127.0.0.1:" + std::to_string(peer.port) + "/setup.exe?";
  const std::string tag = "\"file-" + std::to_string(UpdateSize) + "\"";
  // The peer's report of each request, in order.
  const auto requests = [&](int Count) {
    std::vector<std::string> lines;
    for (int i = 0; i < Count; ++i) lines.push_back(peer.LineStartingWith("request "));
    return lines;
  };

  // Reset at 30%, 60% and 90%: three more requests ask for the rest from where the file
  // stands, with the first answer's ETag; the progress counts the whole file throughout.
  auto o = Checker(Web->Url("/info.html"));
  std::vector<std::pair<std::int32_t, std::int32_t>> reports;
  o->OnDownloadProgress = [&](TObject*, std::int32_t Got, std::int32_t Size) {
    reports.emplace_back(Got, Size);
  };
  ASSERT_TRUE(o->DoDownload(base + "id=a&cuts=30,60,90", Saved("a.exe"), "Downloading Update"))
      << o->LastError();
  EXPECT_TRUE(ReadFile(Saved("a.exe")) == Update);
  const std::vector<std::string> asked = requests(4);
  EXPECT_EQ(asked[0], "request a - -");
  for (int i = 1; i < 4; ++i) {
    EXPECT_EQ(asked[i].rfind("request a bytes=", 0), 0u) << asked[i];
    EXPECT_EQ(asked[i].substr(asked[i].size() - tag.size()), tag) << asked[i];
  }
  ASSERT_FALSE(reports.empty());
  for (const auto& [got, size] : reports) EXPECT_EQ(size, static_cast<std::int32_t>(UpdateSize));
  EXPECT_EQ(reports.back().first, static_cast<std::int32_t>(UpdateSize));
  EXPECT_EQ(Backend.FormsShown().size(), 1u);  // one progress form for all the requests
  o->OnDownloadProgress = nullptr;

  // A server that ignores the range sends the whole file again: it starts over from byte 0;
  // so does one that has no ETag and whose file changed (If-Range with its date).
  ASSERT_TRUE(o->DoDownload(base + "id=b&cuts=50&norange=1&how=close", Saved("b.exe"), "Update"))
      << o->LastError();
  EXPECT_TRUE(ReadFile(Saved("b.exe")) == Update);
  EXPECT_EQ(peer.LineStartingWith("sent b").rfind(
                "sent b 200 " + std::to_string(UpdateSize / 2) + " ", 0),
            0u);
  EXPECT_EQ(
      peer.LineStartingWith("sent b").rfind("sent b 200 " + std::to_string(UpdateSize) + " ", 0),
      0u);
  ASSERT_TRUE(o->DoDownload(base + "id=c&cuts=40&change=1&etag=0", Saved("c.exe"), "Update"))
      << o->LastError();
  EXPECT_EQ(requests(2)[1].rfind("request c bytes=", 0), 0u);
  EXPECT_TRUE(ReadFile(Saved("c.exe")) == other);  // the new file whole, never a mix

  // The rest of another file (a total that differs) is refused at once; the retries run
  // out against a server that always breaks: no file either way.
  EXPECT_FALSE(o->DoDownload(base + "id=d&cuts=50&badtotal=1", Saved("d.exe"), "Update"));
  EXPECT_NE(o->LastError().find("with another part or another file"), std::string::npos)
      << o->LastError();
  EXPECT_EQ((std::vector<int>{TOrvane(nullptr).DownloadRetries(), o->DownloadRetries(),
                              TOrvane(nullptr).DownloadRetryWait()}),
            (std::vector<int>{3, 3, 1000}));
  EXPECT_THROW(o->SetDownloadRetries(-1), EConvertError);
  o->SetDownloadRetries(2);
  EXPECT_FALSE(o->DoDownload(base + "id=e&cuts=20,40,60,80", Saved("e.exe"), "Update"));
  EXPECT_EQ(o->LastError().rfind("connection reset after ", 0), 0u) << o->LastError();
  EXPECT_EQ(requests(4).back().rfind("request e bytes=", 0), 0u);  // d's two, e's three
  o->SetDownloadRetries(3);

  // Cancel while waiting for the next request: everything goes, at once.
  o->SetDownloadRetryWait(50000);
  Backend.Clear();
  // The request has ended some passes ago: the wait is under way.
  std::chrono::steady_clock::time_point readySince{};
  Script = [&](TCustomForm& F) {
    auto* p = dynamic_cast<TWebDlProgress*>(&F);
    THttpCli* cli = TOrvane::SharedHttpCli();
    if (!p || p->Cancelled || !cli || cli->State() != httpReady) return;
    const auto now = std::chrono::steady_clock::now();
    if (readySince == std::chrono::steady_clock::time_point{}) readySince = now;
    if (now - readySince > std::chrono::milliseconds(300)) p->btnCancel->Click();
  };
  EXPECT_FALSE(o->DoDownload(base + "id=f&cuts=50", Saved("f.exe"), "Update"));
  EXPECT_EQ(o->LastError(), "Connection aborted on request");
  EXPECT_EQ(Backend.FormsHidden().back().ModalResult, mrCancel);
  Script = nullptr;
  EXPECT_EQ(Listing(Out.Path()), (std::vector<std::string>{"a.exe", "b.exe", "c.exe"}));

  // A signed page's file, resumed: hashed over the whole file, saved. The same page whose
  // file changed on the server meanwhile starts over with the new bytes, which the hash
  // then refuses.
  TSignedFacts facts;
  facts.Product = "Sample Editor";
  facts.Version = "1.1";
  facts.Date = "Mar 5, 1998";
  facts.Size = UpdateSize;
  facts.SHA256 = TSha256::HexOf(Update);
  facts.Expires = "2099-12-31";
  facts.URL = base + "id=s&cuts=30,60,90";
  Web->Dir().Write("www/resumed.html", Page(SignedEntries(facts, Keys.PrivateKey)));
  facts.URL = base + "id=t&cuts=50&change=1";
  Web->Dir().Write("www/replaced.html", Page(SignedEntries(facts, Keys.PrivateKey)));
  auto signedCheck = Checker(Web->Url("/resumed.html"));
  signedCheck->SetPublicKey(Keys.PublicKey);
  ASSERT_TRUE(signedCheck->DownloadFile(Saved("signed.exe"))) << signedCheck->LastError();
  EXPECT_TRUE(signedCheck->SignatureVerified());
  EXPECT_TRUE(ReadFile(Saved("signed.exe")) == Update);
  EXPECT_EQ(requests(4).back().rfind("request s bytes=", 0), 0u);
  signedCheck->SetURL(Web->Url("/replaced.html"));
  EXPECT_FALSE(signedCheck->DownloadFile(Saved("replaced.exe")));
  EXPECT_NE(signedCheck->LastError().find("not the " + facts.SHA256 + " the page gives"),
            std::string::npos)
      << signedCheck->LastError();
  EXPECT_EQ(Listing(Out.Path()),
            (std::vector<std::string>{"a.exe", "b.exe", "c.exe", "signed.exe"}));
}

TEST(HashingStream, HashesOnItsThreadWhatTheStreamBelowTook) {
  // Pieces of odd sizes, many batches: the hash and the bytes below are the bytes written,
  // in order, whatever the thread was doing meanwhile.
  const std::string data = UpdateBytes(5'000'000);
  auto below = std::make_unique<TMemoryStream>();
  TMemoryStream* mem = below.get();
  THashingStream s(std::move(below));
  for (std::size_t at = 0, piece = 1; at < data.size(); piece = piece * 7 % 70001 + 1) {
    const std::size_t n = std::min(piece, data.size() - at);
    s.WriteBuffer(data.data() + at, static_cast<std::int32_t>(n));
    at += n;
  }
  EXPECT_EQ(s.Written(), data.size());
  EXPECT_TRUE(s.Sequential());
  EXPECT_EQ(s.DigestHex(), TSha256::HexOf(data));
  EXPECT_TRUE(std::string(static_cast<const char*>(mem->Memory()), data.size()) == data);
  // Freed half-way, without a digest (a failed download): the thread ends with it.
  {
    THashingStream dropped(std::make_unique<TMemoryStream>());
    dropped.WriteBuffer(data.data(), 3'000'000);
  }
  // A small file never needs the thread; a move of the position is told.
  THashingStream small(std::make_unique<TMemoryStream>());
  small.WriteBuffer("abc", 3);
  EXPECT_EQ(small.DigestHex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  small.SetPosition(1);
  EXPECT_FALSE(small.Sequential());
  // Started over (the server sent the whole file again): as new, the stream below emptied.
  auto again = std::make_unique<TMemoryStream>();
  TMemoryStream* againMem = again.get();
  THashingStream restarted(std::move(again));
  restarted.WriteBuffer(data.data() + 1, 1'000'000);
  restarted.Restart();
  restarted.WriteBuffer(data.data(), 2'000'000);
  EXPECT_TRUE(restarted.Sequential());
  EXPECT_EQ(restarted.Written(), 2'000'000u);
  EXPECT_EQ(againMem->Size(), 2'000'000);
  EXPECT_EQ(restarted.DigestHex(), TSha256::HexOf(data.substr(0, 2'000'000)));
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
  for (int id : {65488, 65489, 65504, 65505, 65506, 65507, 65508, 65509, 65510, 65511, 65512,
                 65513, 65514, 65515, 65516, 65517, 65518, 65519, 65520, 65521, 65522, 65523,
                 65524, 65525, 65526, 65527, 65528, 65529, 65530, 65531, 65532, 65533})
    EXPECT_FALSE(LoadOrvStr(id).empty()) << id;
  EXPECT_EQ(FormatOrvStr(65520, {"1,234", "56,789"}), "1,234 of 56,789 bytes received.");
  SetOrvStrings({{65533, "Programm %d startet nicht %s (100%%)"}});
  EXPECT_EQ(FormatOrvStr(65533, {"x"}), "Programm %d startet nicht x (100%)");
  EXPECT_EQ(LoadOrvStr(65532), "");  // the whole table was replaced
  SetOrvStrings({});
  EXPECT_EQ(LoadOrvStr(65532), "Error");
}

// A check without windows: what it finds, and every bound of the full check kept.
TEST_F(UpdateCheck, FindUpdateShowsNothingAndKeepsTheFullChecksBounds) {
  const std::string odds = "http://127.0.0.1:" + std::to_string(Odd->port);
  auto o = Checker(Web->Url("/hop.html"));
  EXPECT_EQ(o->FindUpdate(), ocrUpdateAvailable);
  EXPECT_EQ(o->ProductVersion(), "1.1");
  EXPECT_EQ(o->DownloadFileName(), "setup.exe");
  EXPECT_TRUE(o->LastError().empty());
  o->SetCurrentVersion("1.1");
  EXPECT_EQ(o->FindUpdate(), ocrNoUpdate);
  o->SetPublicKey(Keys.PublicKey);
  o->SetURL(Web->Url("/signed.html"));
  o->SetCurrentVersion("1.0");
  EXPECT_EQ(o->FindUpdate(), ocrUpdateAvailable);
  EXPECT_TRUE(o->SignatureVerified());

  // Each of these fails with its reason, and shows nothing either.
  const struct {
    std::string Url;
    std::string Reason;
  } failures[] = {
      {Web->Url("/nothing.html"), "Not Found"},
      {Web->Url("/changed-version.html"), "signature"},
      {Web->Url("/self.html"), "read before"},
      {Web->Url("/hidden.html"), "no usable file name"},
      {Web->Url("/toredirectfile.html"), "cannot be fetched"},
      {odds + "/nolength", "larger than"},
      {odds + "/stall", "timed out"},
  };
  o->SetRequestTimeout(1);
  o->SetMaxPageSize(100000);
  for (const auto& f : failures) {
    SCOPED_TRACE(f.Url);
    o->SetPublicKey(f.Url.find("changed") != std::string::npos ? Keys.PublicKey : "");
    o->SetURL(f.Url);
    EXPECT_EQ(o->FindUpdate(), ocrFailed);
    EXPECT_NE(o->LastError().find(f.Reason), std::string::npos) << o->LastError();
  }
  auto bare = std::make_unique<TOrvane>(nullptr);
  EXPECT_EQ(bare->FindUpdate(), ocrFailed);
  EXPECT_EQ(bare->LastError(), "No HomeURL is set: there is no page to read");
  EXPECT_TRUE(Backend.Boxes().empty());
  EXPECT_TRUE(Backend.FormsShown().empty());
  EXPECT_TRUE(Backend.Messages().empty());

  // CheckForUpdate tells how it ended.
  EXPECT_EQ(o->LastResult(), ocoNone);
  o->SetURL(Web->Url("/info.html"));
  o->SetCurrentVersion("1.1");
  EXPECT_FALSE(o->CheckForUpdate());
  EXPECT_EQ(o->LastResult(), ocoNoUpdate);
  o->SetCurrentVersion("1.0");
  Backend.AnswerBox(mrNo);
  EXPECT_FALSE(o->CheckForUpdate());
  EXPECT_EQ(o->LastResult(), ocoDeclined);
  Backend.AnswerBox(mrYes);
  Backend.CancelSaveDialog();
  EXPECT_FALSE(o->CheckForUpdate());
  EXPECT_EQ(o->LastResult(), ocoDeclined);
  Backend.AnswerBox(mrYes);
  Backend.AnswerSaveDialog(Saved("setup.exe"));
  EXPECT_TRUE(o->CheckForUpdate());
  EXPECT_EQ(o->LastResult(), ocoDownloaded);
  o->SetURL(Web->Url("/slow.html"));
  Script = [](TCustomForm& F) {
    if (auto* p = dynamic_cast<TWebDlProgress*>(&F); p && !p->Cancelled) p->btnCancel->Click();
  };
  Backend.AnswerBox(mrYes);
  Backend.AnswerSaveDialog(Saved("slow.exe"));
  EXPECT_FALSE(o->CheckForUpdate());
  EXPECT_EQ(o->LastResult(), ocoCancelled);
  Script = nullptr;
  o->SetURL(Web->Url("/missing.html"));
  Backend.AnswerBox(mrYes);
  Backend.AnswerSaveDialog(Saved("gone.exe"));
  EXPECT_FALSE(o->CheckForUpdate());
  EXPECT_EQ(o->LastResult(), ocoFailed);
}

// A schedule as an application runs it: a silent check when due, the three answers kept
// in the state file, a damaged file started anew, and the timer of AutoCheck.
TEST_F(UpdateCheck, ScheduledChecksRememberTheAnswers) {
  auto o = Checker(Web->Url("/info.html"), {orvoOfferSkip});
  const std::string state = Out.Path() + "/state/update-check.ini";
  o->SetStateFile(state);
  o->SetCheckInterval(3600);

  // Due (no state yet): the question with three answers; "remind me later".
  Backend.AnswerBox(mrNo);
  EXPECT_TRUE(o->CheckIfDue());
  EXPECT_EQ(o->LastResult(), ocoDeclined);
  ASSERT_EQ(BoxCaptions(), std::vector<std::string>{"Update Available"});
  EXPECT_EQ(LastBox().Buttons, (std::vector<TModalResult>{mrYes, mrIgnore, mrNo}));
  EXPECT_EQ(LastBox().Captions, (std::vector<std::string>{"&Install", "&Skip this version",
                                                          "&Remind me later"}));
  EXPECT_EQ(LastBox().EscapeResult, mrNo);
  EXPECT_TRUE(Backend.FormsShown().empty());  // the page was read silently, once
  EXPECT_NE(ReadFile(state).find("[orvane-update-check]\nLastCheck="), std::string::npos);
  // Not due again within the interval: nothing read, nothing asked.
  Backend.Clear();
  EXPECT_FALSE(o->CheckIfDue());
  EXPECT_TRUE(Backend.Boxes().empty());

  // A file that is not ours: ignored with one line, and the check goes on.
  std::ofstream(state, std::ios::trunc) << "PK\x03\x04 garbage\n";
  Backend.AnswerBox(mrIgnore);
  EXPECT_TRUE(o->CheckIfDue());
  EXPECT_EQ(o->LastResult(), ocoDeclined);
  EXPECT_EQ(o->LastError(),
            "The update state file " + state +
                " was ignored: it does not start with [orvane-update-check]");
  EXPECT_EQ(o->SkippedVersion(), "1.1");

  // A skipped version is not offered by a schedule, only by a check started by hand.
  std::ofstream(state, std::ios::trunc) << "[orvane-update-check]\nLastCheck=0\n"
                                        << "SkippedVersion=1.1\n";
  Backend.Clear();
  EXPECT_TRUE(o->CheckIfDue());
  EXPECT_EQ(o->LastResult(), ocoSkipped);
  EXPECT_TRUE(o->LastError().empty());
  EXPECT_TRUE(Backend.Boxes().empty());
  Backend.AnswerBox(mrNo);
  EXPECT_FALSE(o->CheckForUpdate());
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Update Available"});
  // ... and a newer one is offered again.
  std::ofstream(state, std::ios::trunc) << "[orvane-update-check]\nSkippedVersion=1.0.9\n";
  Backend.Clear();
  Backend.AnswerBox(mrYes);
  Backend.AnswerSaveDialog(Saved("setup.exe"));
  EXPECT_TRUE(o->CheckIfDue());
  EXPECT_EQ(o->LastResult(), ocoDownloaded);
  EXPECT_TRUE(ReadFile(Saved("setup.exe")) == Update);
  // A damaged line, and a state file that cannot be written, never fail the check.
  std::ofstream(state, std::ios::trunc) << "[orvane-update-check]\nLastCheck=soon\n";
  o->SetCurrentVersion("1.1");
  EXPECT_TRUE(o->CheckIfDue());
  EXPECT_EQ(o->LastResult(), ocoNoUpdate);
  EXPECT_EQ(o->LastError(), "The update state file " + state + " was ignored: line 2 has no time");
  EXPECT_TRUE(o->ForgetSkipped());
  EXPECT_EQ(Listing(Out.Path() + "/state"), std::vector<std::string>{"update-check.ini"});
  o->SetStateFile(Out.Path() + "/setup.exe/state.ini");  // under a file: no folder there
  EXPECT_TRUE(o->CheckIfDue());
  EXPECT_EQ(o->LastResult(), ocoNoUpdate);
  EXPECT_NE(o->LastError().find("Cannot write the update state file"), std::string::npos);
  EXPECT_FALSE(o->SkipVersion("2.0"));

  // The default place: under $XDG_STATE_HOME, named by ApplicationId.
  ::setenv("XDG_STATE_HOME", (Out.Path() + "/xdg").c_str(), 1);
  o->SetStateFile("");
  o->SetApplicationId("sample-editor");
  EXPECT_EQ(o->StateFilePath(), Out.Path() + "/xdg/sample-editor/update-check.ini");
  ::unsetenv("XDG_STATE_HOME");
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("HOME", Out.Path().c_str(), 1);
  o->SetApplicationId("../x");
  EXPECT_EQ(o->StateFilePath(), Out.Path() + "/.local/state/OrvaneTests/update-check.ini");
  ::setenv("HOME", home.c_str(), 1);

  // AutoCheck: the timer checks once the loop runs, without a form or a box when there is
  // nothing new, and then waits for the interval.
  o->SetStateFile(state);
  std::ofstream(state, std::ios::trunc) << "[orvane-update-check]\nLastCheck=0\n";
  o->SetAutoCheck(true);
  Backend.Clear();
  EXPECT_TRUE(vtest::PumpUntil(
      [&] { return ReadFile(state).find("LastCheck=0") == std::string::npos; }, 5000));
  EXPECT_TRUE(Backend.Boxes().empty());
  EXPECT_TRUE(Backend.FormsShown().empty());
  o->SetAutoCheck(false);
}


// Replace and relaunch, the program being the $APPIMAGE named: only a verified update
// takes its place, with its mode, the old one kept beside it; the restart has the
// process's own arguments, and the application is asked to end.
TEST_F(UpdateCheck, AVerifiedUpdateReplacesTheRunningProgramAndStartsIt) {
  vtest::TApplicationSwap swap;
  TShellRecorder shell;
  const std::string app = Out.Write("Sample.AppImage", "version 1.0");
  ::chmod(app.c_str(), 0750);
  ::setenv("APPIMAGE", app.c_str(), 1);
  auto o = Checker(Web->Url("/signed.html"), {orvoReplaceAndRelaunch, orvoRunUpdate});
  o->SetPublicKey(Keys.PublicKey);
  Backend.AnswerBox(mrYes);  // download
  Backend.AnswerBox(mrYes);  // install and close
  EXPECT_TRUE(o->CheckForUpdate());
  EXPECT_EQ(BoxCaptions(), (std::vector<std::string>{"Update Available", "Install Update"}));
  EXPECT_TRUE(Backend.Dialogs().empty());  // no name to choose
  EXPECT_EQ(o->LocalFileName(), app);
  EXPECT_EQ(o->LastResult(), ocoDownloaded);
  EXPECT_TRUE(ReadFile(app) == Update);
  struct stat st {};
  ASSERT_EQ(::stat(app.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);
  EXPECT_EQ(ReadFile(app + ".previous"), "version 1.0");
  ASSERT_EQ(shell.Started.size(), 1u);
  EXPECT_EQ(shell.Started[0].program, app);
  EXPECT_EQ(shell.Started[0].args, RunningProgramArguments());
  swap.App().ProcessMessages();
  EXPECT_TRUE(swap.App().Terminated());
  std::string error;
  ASSERT_TRUE(RollBackReplacement(app, error)) << error;
  EXPECT_EQ(ReadFile(app), "version 1.0");
  EXPECT_EQ(Listing(Out.Path()), std::vector<std::string>{"Sample.AppImage"});

  // Without a key the page proves nothing: the update is saved where the user says, the
  // program left as it is.
  vtest::TApplicationSwap fresh;
  Backend.Clear();
  shell.Started.clear();
  o->SetPublicKey("");
  Backend.AnswerBox(mrYes);
  Backend.AnswerSaveDialog(Saved("setup.exe"));
  Backend.AnswerBox(mrNo);
  EXPECT_TRUE(o->CheckForUpdate());
  EXPECT_EQ(o->LocalFileName(), Saved("setup.exe"));
  EXPECT_EQ(ReadFile(app), "version 1.0");
  EXPECT_TRUE(shell.Started.empty());
  ::unsetenv("APPIMAGE");
}

}  // namespace
