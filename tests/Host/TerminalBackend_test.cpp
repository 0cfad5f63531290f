// The terminal back-end with a pipe for a keyboard and a file for a screen: keys as the
// terminal sends them, the progress line, and questions answered without a terminal.
#include "Host/TerminalBackend.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "Host/Application.h"
#include "Host/ComCtrls.h"
#include "Host/Forms.h"
#include "Host/StdCtrls.h"
#include "Host/TerminalProgress.h"

namespace {

TEST(TerminalProgressTest, OneLineWithTitleBarCountsRateAndTimeLeft) {
  TProgressView View;
  View.Title = "Downloading Update";
  View.Percent = 45;
  View.Counts = "1,234 of 56,789 bytes received.";
  ASSERT_TRUE(ReadByteCounts(View.Counts, View.Received, View.Total));
  EXPECT_EQ(View.Received, 1234);
  EXPECT_EQ(View.Total, 56789);
  View.Seconds = 2;
  EXPECT_EQ(FormatProgressLine(View, 0),
            "Downloading Update [#########...........]  45%  1,234 of 56,789 bytes received  "
            "617 B/s  1:30 left");
  EXPECT_EQ(FormatProgressLine(View, 30).size(), 29u);  // never wraps the terminal's line

  // No size announced: no percentage, no time left, the count alone.
  ASSERT_TRUE(ReadByteCounts("3,000,000 bytes received.", View.Received, View.Total));
  EXPECT_EQ(View.Total, -1);
  View.Percent = -1;
  View.Counts = "3,000,000 bytes received.";
  EXPECT_EQ(FormatProgressLine(View, 0),
            "Downloading Update [....................]   ?%  3,000,000 bytes received  1.4 MiB/s");
  EXPECT_EQ(FormatDuration(3723), "1:02:03");
}

TEST(TerminalInputTest, KeysOneAtATimeWithSequencesSwallowed) {
  int Pipe[2];
  ASSERT_EQ(::pipe(Pipe), 0);
  TTerminalInput Input(Pipe[0]);
  EXPECT_FALSE(Input.IsTerminal());
  EXPECT_EQ(Input.ReadKey(), KeyNone);  // nothing typed: no wait
  const char Typed[] = "y\x1b[A\x1bOP\x1b\r\n\x7f";
  ASSERT_EQ(::write(Pipe[1], Typed, sizeof Typed - 1), static_cast<ssize_t>(sizeof Typed - 1));
  std::vector<int> Keys;
  for (int Key = Input.ReadKey(), I = 0; Key != KeyNone && I < 20; Key = Input.ReadKey(), ++I)
    Keys.push_back(Key);
  // The cursor key and the function key are gone without a trace.
  EXPECT_EQ(Keys, (std::vector<int>{'y', KeyEscape, KeyEnter, KeyEnter, KeyBackspace}));
  ::close(Pipe[1]);
  EXPECT_EQ(Input.ReadKey(), KeyClosed);
  ::close(Pipe[0]);
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
    TTerminalBackend::TSettings S;
    S.InputFd = FKeys[0];
    S.Output = FScreen;
    S.AnswerYes = AnswerYes;
    return S;
  }
  std::string Screen() {
    std::fflush(FScreen);
    std::rewind(FScreen);
    std::string Text;
    char Buffer[4096];
    for (std::size_t N; (N = std::fread(Buffer, 1, sizeof Buffer, FScreen)) > 0;)
      Text.append(Buffer, N);
    return Text;
  }

  int FKeys[2] = {-1, -1};
  std::FILE* FScreen = nullptr;
};

TEST_F(TerminalBackendTest, WithoutATerminalQuestionsTakeTheirDefaultAndNothingWaits) {
  TTerminalBackend Backend(Settings());
  EXPECT_FALSE(Backend.Interactive());
  TMessageBoxRequest Ask;
  Ask.Caption = "Update Available";
  Ask.Text = "Current version is 1.0.\rVersion 1.1 is available.\rDownload the update?";
  Ask.Icon = miQuestion;
  Ask.Buttons = {mrYes, mrNo};
  EXPECT_EQ(Backend.MessageBox(Ask), mrYes);
  Ask.DefaultButton = 1;
  EXPECT_EQ(Backend.MessageBox(Ask), mrNo);
  TTerminalBackend YesToAll(Settings(true));
  EXPECT_EQ(YesToAll.MessageBox(Ask), mrYes);
  const std::string Shown = Screen();
  EXPECT_NE(Shown.find("[?] Update Available\n    Current version is 1.0.\n"
                       "    Version 1.1 is available.\n    Download the update?\n"
                       "    Yes/No [Yes]: Yes\n"),
            std::string::npos)
      << Shown;

  // The save dialog proposes its folder and name; asked again with the same proposal (the
  // framework refused it), it gives up instead of going round for ever.
  TSaveDialogRequest Save;
  Save.Title = "Save As";
  Save.Filters = {{"Application (*.EXE)", "*.EXE"}, {"All Files (*.*)", "*.*"}};
  Save.InitialDir = "/tmp/updates";
  Save.FileName = "setup.sh";
  TSaveDialogRequest First = Save;
  ASSERT_TRUE(Backend.SaveDialog(First));
  EXPECT_EQ(First.FileName, "/tmp/updates/setup.sh");
  TSaveDialogRequest Again = Save;
  Again.FileName = First.FileName;
  EXPECT_FALSE(Backend.SaveDialog(Again));
  EXPECT_NE(Screen().find("File types: 1 Application (*.EXE), 2 All Files (*.*)"),
            std::string::npos);
}

TEST_F(TerminalBackendTest, FormsBecomeAProgressLineAndAPagedText) {
  TTerminalBackend Backend(Settings());
  TUIBackendScope Scope(Backend);

  // A download's form: title, counts and bar, redrawn as they change, ending on its line.
  TForm Progress(nullptr);
  auto* Title = new TLabel(&Progress);
  Title->SetParent(&Progress);
  Title->SetBounds(2, 10, 268, 18);
  Title->SetCaption("Downloading Update");
  auto* Counts = new TLabel(&Progress);
  Counts->SetParent(&Progress);
  Counts->SetBounds(2, 60, 268, 22);
  auto* Bar = new TProgressBar(&Progress);
  Bar->SetParent(&Progress);
  auto* Cancel = new TButton(&Progress);
  Cancel->SetParent(&Progress);
  Cancel->SetCaption("&Cancel");
  Progress.Show();
  Backend.FormShown(Progress);
  Counts->SetCaption("50 of 200 bytes received.");
  Bar->SetPosition(25);
  Backend.FormHidden(Progress);
  EXPECT_NE(Screen().find("Downloading Update [#####...............]  25%  "
                          "50 of 200 bytes received\n"),
            std::string::npos)
      << Screen();

  // The read-me window: its text is printed and its OK button pressed, through the modal
  // loop of the form itself.
  TForm ReadMe(nullptr);
  ReadMe.SetCaption("Read Me");
  auto* Memo = new TMemo(&ReadMe);
  Memo->SetParent(&ReadMe);
  Memo->Lines()->Add("Orvane Demo 1.1");
  Memo->Lines()->Add("What is new");
  auto* Ok = new TButton(&ReadMe);
  Ok->SetParent(&ReadMe);
  Ok->SetCaption("&Ok");
  Ok->SetModalResult(mrOk);
  EXPECT_EQ(ReadMe.ShowModal(), mrOk);
  EXPECT_NE(Screen().find("Read Me\n    Orvane Demo 1.1\n    What is new\n"), std::string::npos);
}

}  // namespace
