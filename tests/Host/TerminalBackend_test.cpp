// The terminal back-end with a pipe for a keyboard and a file for a screen: keys as the
// terminal sends them, the progress line, and questions answered without a terminal.
#include "Host/TerminalBackend.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "Host/Application.h"
#include "Host/Backends/TerminalInput.h"
#include "Host/ComCtrls.h"
#include "Host/Forms.h"
#include "Host/StdCtrls.h"
#include "Host/TerminalProgress.h"
#include "Host/TerminalText.h"
#include "Host/VisualTestSupport.h"

namespace {

using namespace std::string_literals;

TEST(TerminalProgressTest, OneLineWithTitleBarCountsRateAndTimeLeft) {
  TProgressView view;
  view.Title = "Downloading Update";
  view.Percent = 45;
  view.Counts = "1,234 of 56,789 bytes received.";
  ASSERT_TRUE(ReadByteCounts(view.Counts, view.Received, view.Total));
  EXPECT_EQ(view.Received, 1234);
  EXPECT_EQ(view.Total, 56789);
  view.Seconds = 2;
  EXPECT_EQ(FormatProgressLine(view, 0),
            "Downloading Update [#########...........]  45%  1,234 of 56,789 bytes received  "
            "617 B/s  1:30 left");
  EXPECT_EQ(FormatProgressLine(view, 30).size(), 29u);  // never wraps the terminal's line

  // No size announced: no percentage, no time left, the count alone.
  ASSERT_TRUE(ReadByteCounts("3,000,000 bytes received.", view.Received, view.Total));
  EXPECT_EQ(view.Total, -1);
  view.Percent = -1;
  view.Counts = "3,000,000 bytes received.";
  EXPECT_EQ(FormatProgressLine(view, 0),
            "Downloading Update [....................]   ?%  3,000,000 bytes received  1.4 MiB/s");
  EXPECT_EQ(FormatDuration(3723), "1:02:03");
}

TEST(TerminalTextTest, ControlsBecomeVisibleEscapesAndBrokenUtf8Replacements) {
  // A title change, a bell, a screen clear, DEL and a C1 CSI; line feed and tab stay.
  EXPECT_EQ(TerminalSafeText("a\x1b]0;t\x07\x1b[2J\x7f\xc2\x9b"
                             "1m\n\tb"),
            "a\\x1b]0;t\\x07\\x1b[2J\\x7f\\u009b1m\n\tb");
  EXPECT_EQ(TerminalSafeText("\r\b\x00z"s), "\\x0d\\x08\\x00z");
  // Valid UTF-8 passes; each byte of what is no UTF-8 becomes U+FFFD: a stray
  // continuation byte, a raw 0x9b, an overlong "/", a surrogate, a sequence cut short.
  EXPECT_EQ(TerminalSafeText("gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x99\x82"),
            "gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x99\x82");
  const std::string fffd = "\xef\xbf\xbd";
  EXPECT_EQ(TerminalSafeText("\x80"), fffd);
  EXPECT_EQ(TerminalSafeText("\x9b"
                             "2J"),
            fffd + "2J");
  EXPECT_EQ(TerminalSafeText("\xc0\xaf"), fffd + fffd);
  EXPECT_EQ(TerminalSafeText("\xed\xa0\x80"), fffd + fffd + fffd);
  EXPECT_EQ(TerminalSafeText("\xe2\x82"), fffd + fffd);
  EXPECT_EQ(TerminalSafeText("\xf4\x90\x80\x80"), fffd + fffd + fffd + fffd);  // > U+10FFFF
  // Cutting a line to the terminal's width never splits a character.
  EXPECT_EQ(CutAtCharacter("ab\xe2\x82\xac", 4), "ab");
  EXPECT_EQ(CutAtCharacter("ab\xe2\x82\xac", 5), "ab\xe2\x82\xac");
}

TEST(TerminalInputTest, KeysOneAtATimeWithSequencesSwallowed) {
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  TTerminalInput input(pipe[0]);
  EXPECT_FALSE(input.IsTerminal());
  EXPECT_EQ(input.ReadKey(), KeyNone);  // nothing typed: no wait
  const char typed[] = "y\x1b[A\x1bOP\x1b\r\n\x7f";
  ASSERT_EQ(::write(pipe[1], typed, sizeof typed - 1), static_cast<ssize_t>(sizeof typed - 1));
  std::vector<int> keys;
  for (int key = input.ReadKey(), i = 0; key != KeyNone && i < 20; key = input.ReadKey(), ++i)
    keys.push_back(key);
  // The cursor key and the function key are gone without a trace.
  EXPECT_EQ(keys, (std::vector<int>{'y', KeyEscape, KeyEnter, KeyEnter, KeyBackspace}));
  ::close(pipe[1]);
  EXPECT_EQ(input.ReadKey(), KeyClosed);
  ::close(pipe[0]);
}

class TerminalBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::pipe(FKeys), 0);
    FScreen = std::tmpfile();
    ASSERT_NE(FScreen, nullptr);
  }
  void TearDown() override {
    ::close(FKeys[0]);
    ::close(FKeys[1]);
    std::fclose(FScreen);
  }
  TTerminalBackend::TSettings Settings(bool AnswerYes = false) {
    TTerminalBackend::TSettings s;
    s.InputFd = FKeys[0];
    s.Output = FScreen;
    s.AnswerYes = AnswerYes;
    return s;
  }
  std::string Screen() {
    std::fflush(FScreen);
    std::rewind(FScreen);
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, FScreen)) > 0;)
      text.append(buffer, n);
    return text;
  }

  int FKeys[2] = {-1, -1};
  std::FILE* FScreen = nullptr;
};

TEST_F(TerminalBackendTest, WithoutATerminalQuestionsTakeTheirDefaultAndNothingWaits) {
  TTerminalBackend backend(Settings());
  EXPECT_FALSE(backend.Interactive());
  TMessageBoxRequest ask;
  ask.Caption = "Update Available";
  ask.Text = "Current version is 1.0.\rVersion 1.1 is available.\rDownload the update?";
  ask.Icon = miQuestion;
  ask.Buttons = {mrYes, mrNo};
  EXPECT_EQ(backend.MessageBox(ask), mrYes);
  ask.DefaultButton = 1;
  EXPECT_EQ(backend.MessageBox(ask), mrNo);
  // Answering for the user takes each box's default: Yes where it is the default, never
  // Yes for a box that has none, and No where No is the default (replace a file?).
  TTerminalBackend yesToAll(Settings(true));
  EXPECT_EQ(yesToAll.MessageBox(ask), mrNo);
  ask.DefaultButton = 0;
  EXPECT_EQ(yesToAll.MessageBox(ask), mrYes);
  TMessageBoxRequest okCancel;
  okCancel.Buttons = {mrOk, mrCancel};
  EXPECT_EQ(yesToAll.MessageBox(okCancel), mrOk);
  okCancel.DefaultButton = 1;
  EXPECT_EQ(yesToAll.MessageBox(okCancel), mrCancel);
  TMessageBoxRequest ok;
  EXPECT_EQ(yesToAll.MessageBox(ok), mrOk);
  const std::string shown = Screen();
  EXPECT_NE(shown.find("[?] Update Available\n    Current version is 1.0.\n"
                       "    Version 1.1 is available.\n    Download the update?\n"
                       "    Yes/No [Yes]: Yes\n"),
            std::string::npos)
      << shown;

  // The save dialog proposes its folder and name; asked again with the same proposal (the
  // framework refused it), it gives up instead of going round for ever.
  TSaveDialogRequest save;
  save.Title = "Save As";
  save.Filters = {{"Application (*.EXE)", "*.EXE"}, {"All Files (*.*)", "*.*"}};
  save.InitialDir = "/tmp/updates";
  save.FileName = "setup.sh";
  TSaveDialogRequest first = save;
  ASSERT_TRUE(backend.SaveDialog(first));
  EXPECT_EQ(first.FileName, "/tmp/updates/setup.sh");
  TSaveDialogRequest again = save;
  again.FileName = first.FileName;
  EXPECT_FALSE(backend.SaveDialog(again));
  EXPECT_NE(Screen().find("File types: 1 Application (*.EXE), 2 All Files (*.*)"),
            std::string::npos);

  // Texts from a server are printed with their controls as escapes: caption, lines and
  // the name proposed.
  TMessageBoxRequest nasty;
  nasty.Caption = "Update\x1b]0;owned\x07";
  nasty.Text =
      "Version 1.1\x1b[2J\rby \xc2\x9b"
      "31mMallory\xff";
  backend.MessageBox(nasty);
  TSaveDialogRequest named = save;
  named.FileName = "u\x1b[2J.sh";
  ASSERT_TRUE(backend.SaveDialog(named));
  const std::string all = Screen();
  EXPECT_EQ(all.find('\x1b'), std::string::npos);
  EXPECT_EQ(all.find('\x07'), std::string::npos);
  EXPECT_EQ(all.find("\xc2\x9b"), std::string::npos);
  EXPECT_NE(all.find("Update\\x1b]0;owned\\x07\n    Version 1.1\\x1b[2J\n    by \\u009b31mMallory"
                     "\xef\xbf\xbd\n"),
            std::string::npos)
      << all;
  EXPECT_NE(all.find("[/tmp/updates/u\\x1b[2J.sh]"), std::string::npos);
}

// The back-end on a real terminal (a pseudo-terminal), keys typed into it.
TEST_F(TerminalBackendTest, AfterCtrlCEveryQuestionIsRefusedEvenWithKeysTypedAhead) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  // Keys typed before the back-end reads them must reach it as keys, Ctrl-C too.
  termios raw{};
  ASSERT_EQ(::tcgetattr(slave, &raw), 0);
  ::cfmakeraw(&raw);
  ASSERT_EQ(::tcsetattr(slave, TCSANOW, &raw), 0);
  vtest::TApplicationSwap swap;
  {
    TTerminalBackend::TSettings settings = Settings();
    settings.InputFd = slave;
    TTerminalBackend backend(settings);
    ASSERT_TRUE(backend.Interactive());
    TMessageBoxRequest ask;
    ask.Caption = "Update Available";
    ask.Text = "Download the update?";
    ask.Buttons = {mrYes, mrNo};
    ask.EscapeResult = mrNone;
    // Ctrl-C, then a "y" for the question that follows: the first is refused, and so is
    // the next, although the "y" waits and the quit has not been taken by a loop yet.
    ASSERT_EQ(::write(master, "\x03y", 2), 2);
    EXPECT_EQ(backend.MessageBox(ask), mrNo);
    EXPECT_EQ(backend.MessageBox(ask), mrNo);
    TSaveDialogRequest save;
    save.FileName = "setup.sh";
    EXPECT_FALSE(backend.SaveDialog(save));
  }
  swap.App().ProcessMessages();
  EXPECT_TRUE(swap.App().Terminated());  // Ctrl-C asked the program to end
  ::close(slave);
  ::close(master);
}

TEST_F(TerminalBackendTest, FormsBecomeAProgressLineAndAPagedText) {
  TTerminalBackend backend(Settings());
  TUIBackendScope scope(backend);

  // A download's form: title, counts and bar, redrawn as they change, ending on its line.
  TForm progress(nullptr);
  auto* title = new TLabel(&progress);
  title->SetParent(&progress);
  title->SetBounds(2, 10, 268, 18);
  title->SetCaption("Downloading Update");
  auto* counts = new TLabel(&progress);
  counts->SetParent(&progress);
  counts->SetBounds(2, 60, 268, 22);
  auto* bar = new TProgressBar(&progress);
  bar->SetParent(&progress);
  auto* cancel = new TButton(&progress);
  cancel->SetParent(&progress);
  cancel->SetCaption("&Cancel");
  progress.Show();
  backend.FormShown(progress);
  counts->SetCaption("50 of 200 bytes received.");
  bar->SetPosition(25);
  backend.FormHidden(progress);
  EXPECT_NE(Screen().find("Downloading Update [#####...............]  25%  "
                          "50 of 200 bytes received\n"),
            std::string::npos)
      << Screen();

  // The read-me window: its text is printed and its OK button pressed, through the modal
  // loop of the form itself.
  TForm readMe(nullptr);
  readMe.SetCaption("Read Me");
  auto* memo = new TMemo(&readMe);
  memo->SetParent(&readMe);
  memo->Lines()->Add("Orvane Demo 1.1");
  memo->Lines()->Add("What is new");
  auto* ok = new TButton(&readMe);
  ok->SetParent(&readMe);
  ok->SetCaption("&Ok");
  ok->SetModalResult(mrOk);
  EXPECT_EQ(readMe.ShowModal(), mrOk);
  EXPECT_NE(Screen().find("Read Me\n    Orvane Demo 1.1\n    What is new\n"), std::string::npos);
}

}  // namespace
