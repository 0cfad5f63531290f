// Boxes, the save dialog and modal forms, driven through the scripted back-end.
#include "Host/Dialogs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "Host/ComCtrls.h"
#include "Host/Forms.h"
#include "Host/Screen.h"
#include "Host/StdCtrls.h"
#include "Host/VisualTestSupport.h"

namespace {

using DialogsTest = vtest::TVisualTest;

TEST_F(DialogsTest, BoxesTakeTheirLookFromTheStyleBitsAndAnswerTheScript) {
  Backend.AnswerBox(mrNo);
  EXPECT_EQ(Application->MessageBox("Download?\rNow", "Update Available", 0x24), IDNO);
  EXPECT_EQ(Application->MessageBox("Gone", "Error", 0x30), IDOK);  // unscripted: default
  EXPECT_EQ(Application->MessageBox("None", "", 0x40 | MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
  EXPECT_EQ(MessageDlg("404", mtCustom, {mbOK}, 0), mrOk);
  ASSERT_EQ(Backend.Boxes().size(), 4u);
  const auto& Ask = Backend.Boxes()[0];
  EXPECT_TRUE(Ask.Scripted);
  EXPECT_EQ(Ask.Request.Icon, miQuestion);
  EXPECT_EQ(Ask.Request.Buttons, (std::vector<TModalResult>{mrYes, mrNo}));
  EXPECT_EQ(Ask.Request.DefaultButton, 0);
  EXPECT_EQ(Ask.Request.EscapeResult, mrNone);  // a Yes/No box cannot be dismissed
  EXPECT_EQ(MessageLines(Ask.Request.Text), (std::vector<std::string>{"Download?", "Now"}));
  EXPECT_EQ(Backend.Boxes()[1].Request.Icon, miExclamation);
  EXPECT_FALSE(Backend.Boxes()[1].Scripted);
  EXPECT_EQ(Backend.Boxes()[2].Request.Caption, Application->Title());  // empty caption
  EXPECT_EQ(Backend.Boxes()[2].Request.Icon, miInformation);
  const auto& Plain = Backend.Boxes()[3].Request;
  EXPECT_EQ(Plain.Caption, Application->Title());
  EXPECT_EQ(Plain.Icon, miNone);
  EXPECT_EQ(Plain.Text, "404");
  EXPECT_EQ(MessageLines("a\r\nb\nc\r"), (std::vector<std::string>{"a", "b", "c", ""}));
  EXPECT_EQ(AccessKeyOf("&Cancel"), 'C');
  EXPECT_EQ(AccessKeyOf("Fish && &chips"), 'C');
  EXPECT_EQ(AccessKeyOf("A && B"), 0);
  EXPECT_EQ(StripAccessKey("Fish && &chips"), "Fish & chips");
}

TEST_F(DialogsTest, SaveDialogAsksBeforeReplacingAndRefusesMissingFolders) {
  char Dir[] = "/tmp/orv-dlg-XXXXXX";
  ASSERT_NE(::mkdtemp(Dir), nullptr);
  const std::string Existing = std::string(Dir) + "/setup.exe";
  std::ofstream(Existing) << "old";

  TSaveDialog Dialog(nullptr);
  Dialog.SetFilter("Application (*.EXE)|*.EXE|Zipped File|*.ZIP|All Files (*.*)|*.*");
  Dialog.SetOptions(ofOverwritePrompt | ofPathMustExist);
  Dialog.SetFileName("setup.exe");
  Dialog.SetInitialDir(Dir);
  // A missing folder, then the existing file refused, then accepted with the third filter.
  Backend.AnswerSaveDialog(std::string(Dir) + "/nowhere/setup.exe");
  Backend.AnswerBox(mrOk);
  Backend.AnswerSaveDialog("setup.exe");  // relative: taken from InitialDir
  Backend.AnswerBox(mrNo);
  Backend.AnswerSaveDialog("setup.exe", 3);
  Backend.AnswerBox(mrYes);
  ASSERT_TRUE(Dialog.Execute());
  EXPECT_EQ(Dialog.FileName(), Existing);
  EXPECT_EQ(Dialog.FilterIndex(), 3);
  ASSERT_EQ(Backend.Dialogs().size(), 3u);
  const auto& First = Backend.Dialogs()[0].Request;
  ASSERT_EQ(First.Filters.size(), 3u);
  EXPECT_EQ(First.Filters[1], (std::pair<std::string, std::string>{"Zipped File", "*.ZIP"}));
  EXPECT_EQ(First.FilterIndex, 1);
  EXPECT_EQ(First.FileName, "setup.exe");
  EXPECT_EQ(First.Title, "Save As");
  ASSERT_EQ(Backend.Boxes().size(), 3u);
  EXPECT_NE(Backend.Boxes()[0].Request.Text.find("does not exist"), std::string::npos);
  EXPECT_EQ(Backend.Boxes()[1].Request.DefaultButton, 1);  // replacing needs a deliberate Yes
  EXPECT_EQ(Backend.UnusedAnswers(), 0u);

  Backend.CancelSaveDialog();
  EXPECT_FALSE(Dialog.Execute());
  EXPECT_EQ(Dialog.FileName(), Existing);  // a cancelled run changes nothing
  std::remove(Existing.c_str());
  ::rmdir(Dir);
}

// A form built the way the update checker builds its own.
struct TProgressLikeForm {
  TForm* Form = new TForm(nullptr);
  TProgressBar* Bar = new TProgressBar(Form);
  TButton* Button = new TButton(Form);
  TProgressLikeForm() {
    Form->SetPosition(poScreenCenter);
    Form->SetBorderStyle(bsDialog);
    Form->SetBorderIcons({});
    Form->SetClientWidth(272);
    Form->SetClientHeight(123);
    Form->SetCursor(crHourGlass);
    Bar->SetParent(Form);
    Button->SetParent(Form);
    Button->SetCaption("&Cancel");
  }
};

TEST_F(DialogsTest, ModalFormsRunUntilAResultAndSurviveBeingFreedInside) {
  Backend.SetScreenSize(1000, 700);
  TProgressLikeForm P;
  int Passes = 0;
  std::vector<int> BarPositions;
  vtest::TRecordingWindow Waker;  // gives the loop a message to wake up for
  Backend.OnControlChanged = [&](TControl& C) {
    if (&C == P.Bar) BarPositions.push_back(P.Bar->Position());
  };
  P.Button->OnClick = [&](TObject*) { P.Form->SetModalResult(mrAbort); };
  Backend.OnModalPass = [&](TCustomForm& F) {
    ASSERT_EQ(&F, P.Form);
    if (++Passes == 1) {
      P.Bar->SetPosition(40);
      P.Bar->SetPosition(140);  // clamped to the maximum
      Waker.Post(plat::WM_USER);
    } else {
      P.Button->Click();
    }
  };
  EXPECT_EQ(P.Form->ShowModal(), mrAbort);
  EXPECT_EQ(BarPositions, (std::vector<int>{40, 100}));
  EXPECT_FALSE(P.Form->Visible());
  ASSERT_EQ(Backend.FormsShown().size(), 1u);
  const auto& Shot = Backend.FormsShown()[0];
  EXPECT_EQ(Shot.Left, 364);  // (1000 - 272) / 2
  EXPECT_EQ(Shot.Top, 288);
  EXPECT_EQ(Shot.ClientWidth, 272);
  EXPECT_EQ(Shot.BorderStyle, bsDialog);
  EXPECT_TRUE(Shot.BorderIcons.Empty());
  EXPECT_EQ(Shot.Cursor, crHourGlass);
  ASSERT_EQ(Backend.FormsHidden().size(), 1u);
  EXPECT_EQ(Backend.FormsHidden()[0].Find("TProgressBar")->Position, 100);
  EXPECT_TRUE(Backend.FormsHidden()[0].Find("TButton")->HasOnClick);
  EXPECT_THROW(
      {
        P.Form->Show();
        P.Form->ShowModal();
      },
      EInvalidOperation);
  P.Form->Hide();

  // A button with a modal result closes the form by itself; a handler that frees the
  // form through Release does not pull the floor from under the loop.
  Backend.OnModalPass = [&](TCustomForm&) { P.Button->Click(); };
  P.Button->SetModalResult(mrOk);
  P.Button->OnClick = [&](TObject*) { P.Form->Release(); };
  bool Gone = false;
  struct TWatch : TComponent {
    bool* Flag;
    TWatch(bool* F) : TComponent(nullptr), Flag(F) {}
    void Notification(TComponent*, TOperation Op) override {
      if (Op == opRemove) *Flag = true;
    }
  } Watch(&Gone);
  Watch.FreeNotification(P.Form);
  EXPECT_EQ(P.Form->ShowModal(), mrOk);
  EXPECT_TRUE(vtest::PumpUntil([&] { return Gone; }));

  // A form freed inside its own loop still answers the result it was given.
  TProgressLikeForm Q;
  Backend.OnModalPass = [&](TCustomForm& F) {
    F.SetModalResult(mrRetry);
    delete &F;
  };
  EXPECT_EQ(Q.Form->ShowModal(), mrRetry);
}

TEST_F(DialogsTest, AQuitRequestEndsAModalFormAndStaysVisibleOutside) {
  vtest::TApplicationSwap Swap;
  TProgressLikeForm P;
  Backend.OnModalPass = [&](TCustomForm&) { Swap.App().Terminate(); };
  EXPECT_EQ(P.Form->ShowModal(), mrCancel);
  EXPECT_TRUE(Swap.App().Terminated());
  delete P.Form;
}

}  // namespace
