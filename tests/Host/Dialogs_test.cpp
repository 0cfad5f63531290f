// Boxes, the save dialog and modal forms, driven through the scripted back-end.
#include "Host/Dialogs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "Host/Backends/FormReading.h"
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
  const auto& ask = Backend.Boxes()[0];
  EXPECT_TRUE(ask.Scripted);
  EXPECT_EQ(ask.Request.Icon, miQuestion);
  EXPECT_EQ(ask.Request.Buttons, (std::vector<TModalResult>{mrYes, mrNo}));
  EXPECT_EQ(ask.Request.DefaultButton, 0);
  EXPECT_EQ(ask.Request.EscapeResult, mrNone);  // a Yes/No box cannot be dismissed
  EXPECT_EQ(MessageLines(ask.Request.Text), (std::vector<std::string>{"Download?", "Now"}));
  EXPECT_EQ(Backend.Boxes()[1].Request.Icon, miExclamation);
  EXPECT_FALSE(Backend.Boxes()[1].Scripted);
  EXPECT_EQ(Backend.Boxes()[2].Request.Caption, Application->Title());  // empty caption
  EXPECT_EQ(Backend.Boxes()[2].Request.Icon, miInformation);
  const auto& plain = Backend.Boxes()[3].Request;
  EXPECT_EQ(plain.Caption, Application->Title());
  EXPECT_EQ(plain.Icon, miNone);
  EXPECT_EQ(plain.Text, "404");
  EXPECT_EQ(MessageLines("a\r\nb\nc\r"), (std::vector<std::string>{"a", "b", "c", ""}));
  EXPECT_EQ(AccessKeyOf("&Cancel"), 'C');
  EXPECT_EQ(AccessKeyOf("Fish && &chips"), 'C');
  EXPECT_EQ(AccessKeyOf("A && B"), 0);
  EXPECT_EQ(StripAccessKey("Fish && &chips"), "Fish & chips");
}

TEST_F(DialogsTest, SaveDialogAsksBeforeReplacingAndRefusesMissingFolders) {
  char dir[] = "/tmp/orv-dlg-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string existing = std::string(dir) + "/setup.exe";
  std::ofstream(existing) << "old";

  TSaveDialog dialog(nullptr);
  dialog.SetFilter("Application (*.EXE)|*.EXE|Zipped File|*.ZIP|All Files (*.*)|*.*");
  dialog.SetOptions(ofOverwritePrompt | ofPathMustExist);
  dialog.SetFileName("setup.exe");
  dialog.SetInitialDir(dir);
  // A missing folder, then the existing file refused, then accepted with the third filter.
  Backend.AnswerSaveDialog(std::string(dir) + "/nowhere/setup.exe");
  Backend.AnswerBox(mrOk);
  Backend.AnswerSaveDialog("setup.exe");  // relative: taken from InitialDir
  Backend.AnswerBox(mrNo);
  Backend.AnswerSaveDialog("setup.exe", 3);
  Backend.AnswerBox(mrYes);
  ASSERT_TRUE(dialog.Execute());
  EXPECT_EQ(dialog.FileName(), existing);
  EXPECT_EQ(dialog.FilterIndex(), 3);
  ASSERT_EQ(Backend.Dialogs().size(), 3u);
  const auto& first = Backend.Dialogs()[0].Request;
  ASSERT_EQ(first.Filters.size(), 3u);
  EXPECT_EQ(first.Filters[1], (std::pair<std::string, std::string>{"Zipped File", "*.ZIP"}));
  EXPECT_EQ(first.FilterIndex, 1);
  EXPECT_EQ(first.FileName, "setup.exe");
  EXPECT_EQ(first.Title, "Save As");
  ASSERT_EQ(Backend.Boxes().size(), 3u);
  EXPECT_NE(Backend.Boxes()[0].Request.Text.find("does not exist"), std::string::npos);
  EXPECT_EQ(Backend.Boxes()[1].Request.DefaultButton, 1);  // replacing needs a deliberate Yes
  EXPECT_EQ(Backend.UnusedAnswers(), 0u);

  Backend.CancelSaveDialog();
  EXPECT_FALSE(dialog.Execute());
  EXPECT_EQ(dialog.FileName(), existing);  // a cancelled run changes nothing
  std::remove(existing.c_str());
  ::rmdir(dir);
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
  TProgressLikeForm p;
  int passes = 0;
  std::vector<int> barPositions;
  vtest::TRecordingWindow waker;  // gives the loop a message to wake up for
  Backend.OnControlChanged = [&](TControl& C) {
    if (&C == p.Bar) barPositions.push_back(p.Bar->Position());
  };
  p.Button->OnClick = [&](TObject*) { p.Form->SetModalResult(mrAbort); };
  Backend.OnModalPass = [&](TCustomForm& F) {
    ASSERT_EQ(&F, p.Form);
    if (++passes == 1) {
      p.Bar->SetPosition(40);
      p.Bar->SetPosition(140);  // clamped to the maximum
      waker.Post(plat::WM_USER);
    } else {
      p.Button->Click();
    }
  };
  EXPECT_EQ(p.Form->ShowModal(), mrAbort);
  EXPECT_EQ(barPositions, (std::vector<int>{40, 100}));
  EXPECT_FALSE(p.Form->Visible());
  ASSERT_EQ(Backend.FormsShown().size(), 1u);
  const auto& shot = Backend.FormsShown()[0];
  EXPECT_EQ(shot.Left, 364);  // (1000 - 272) / 2
  EXPECT_EQ(shot.Top, 288);
  EXPECT_EQ(shot.ClientWidth, 272);
  EXPECT_EQ(shot.BorderStyle, bsDialog);
  EXPECT_TRUE(shot.BorderIcons.Empty());
  EXPECT_EQ(shot.Cursor, crHourGlass);
  ASSERT_EQ(Backend.FormsHidden().size(), 1u);
  EXPECT_EQ(Backend.FormsHidden()[0].Find("TProgressBar")->Position, 100);
  EXPECT_TRUE(Backend.FormsHidden()[0].Find("TButton")->HasOnClick);
  EXPECT_THROW(
      {
        p.Form->Show();
        p.Form->ShowModal();
      },
      EInvalidOperation);
  p.Form->Hide();

  // A button with a modal result closes the form by itself; a handler that frees the
  // form through Release does not pull the floor from under the loop.
  Backend.OnModalPass = [&](TCustomForm&) { p.Button->Click(); };
  p.Button->SetModalResult(mrOk);
  p.Button->OnClick = [&](TObject*) { p.Form->Release(); };
  bool gone = false;
  struct TWatch : TComponent {
    bool* Flag;
    TWatch(bool* F) : TComponent(nullptr), Flag(F) {}
    void Notification(TComponent*, TOperation Op) override {
      if (Op == opRemove) *Flag = true;
    }
  } watch(&gone);
  watch.FreeNotification(p.Form);
  EXPECT_EQ(p.Form->ShowModal(), mrOk);
  EXPECT_TRUE(vtest::PumpUntil([&] { return gone; }));

  // A form freed inside its own loop still answers the result it was given.
  TProgressLikeForm q;
  Backend.OnModalPass = [&](TCustomForm& F) {
    F.SetModalResult(mrRetry);
    delete &F;
  };
  EXPECT_EQ(q.Form->ShowModal(), mrRetry);
}

// Every back-end reads a form through the same rules: buttons count on the form and inside
// its windowed controls, hidden ones (and what a hidden control holds) never.
TEST_F(DialogsTest, EnterAndEscapePressTheButtonsEveryBackEndReads) {
  TForm form(nullptr);
  std::vector<std::string> clicks;
  auto button = [&](TWinControl* Parent, const std::string& Caption) {
    auto* b = new TButton(&form);
    b->SetParent(Parent);
    b->SetCaption(Caption);
    b->OnClick = [&clicks, Caption](TObject*) { clicks.push_back(Caption); };
    return b;
  };
  // Hidden, although flagged: neither key reaches it.
  TButton* hiddenDefault = button(&form, "&Hidden");
  hiddenDefault->SetDefault(true);
  hiddenDefault->SetCancel(true);
  hiddenDefault->Hide();
  auto* hiddenPanel = new TWinControl(&form);
  hiddenPanel->SetParent(&form);
  hiddenPanel->Hide();
  button(hiddenPanel, "Cancel")->SetCancel(true);
  auto* panel = new TWinControl(&form);
  panel->SetParent(&form);
  TButton* yes = button(panel, "&Yes");
  TButton* no = button(panel, "&No");

  // Nothing flagged: Enter takes the first button; Escape has no button to press, there
  // being two and none of them a Cancel.
  EXPECT_EQ(formreading::ButtonsOf(form), (std::vector<TButton*>{yes, no}));
  EXPECT_TRUE(TScriptedBackend::PressEnter(form));
  EXPECT_FALSE(TScriptedBackend::PressEscape(form));
  // Flags win over places; a caption of "&Cancel" serves when nothing is flagged.
  no->SetDefault(true);
  button(panel, "&Cancel");
  EXPECT_TRUE(TScriptedBackend::PressEnter(form));
  EXPECT_TRUE(TScriptedBackend::PressEscape(form));
  yes->SetCancel(true);
  EXPECT_TRUE(TScriptedBackend::PressEscape(form));
  EXPECT_EQ(clicks, (std::vector<std::string>{"&Yes", "&No", "&Cancel", "&Yes"}));
  // A lone button is what both keys press.
  delete panel;
  clicks.clear();
  hiddenPanel->Show();
  EXPECT_EQ(formreading::ShownControls(form).size(), 2u);  // the panel and its button
  EXPECT_TRUE(TScriptedBackend::PressEnter(form));
  EXPECT_TRUE(TScriptedBackend::PressEscape(form));
  EXPECT_EQ(clicks, (std::vector<std::string>{"Cancel", "Cancel"}));

  // The watch hears of a freed component once, and not of one it stopped watching.
  std::vector<std::string> freed;
  TFreeWatch watch([&](TComponent* C) { freed.push_back(C->Name()); });
  auto* first = new TButton(nullptr);
  first->SetName("First");
  auto* second = new TButton(nullptr);
  second->SetName("Second");
  watch.Watch(*first);
  watch.Watch(*second);
  watch.Unwatch(*second);
  delete first;
  delete second;
  EXPECT_EQ(freed, std::vector<std::string>{"First"});
}

TEST_F(DialogsTest, AQuitRequestEndsAModalFormAndStaysVisibleOutside) {
  vtest::TApplicationSwap swap;
  TProgressLikeForm p;
  Backend.OnModalPass = [&](TCustomForm&) { swap.App().Terminate(); };
  EXPECT_EQ(p.Form->ShowModal(), mrCancel);
  EXPECT_TRUE(swap.App().Terminated());
  delete p.Form;
}

}  // namespace
