// A UI back-end for a text terminal: boxes and the save dialog become questions on the
// terminal, a form with a progress bar becomes one line redrawn in place, a form without
// buttons a spinner, a form with a text box a pager.
//
// Keys are read without waiting: while a form shows or a question waits, a timer of the
// back-end wakes the message loop every few milliseconds to look for them, so the
// application's sockets keep being served meanwhile. When the input is not a terminal (or
// the back-end is told to answer for the user), every question takes its default answer
// at once and nothing waits for a key.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Host/UIBackend.h"
#include "Platform/Export.h"

class TComponent;
class TTerminalInput;

class ORV_API TTerminalBackend : public TUIBackend {
 public:
  struct TSettings {
    int InputFd = 0;
    std::FILE* Output = stdout;
    // Answer every question without asking: each box takes its default button (Yes for
    // the questions that go on, No where going on would replace something), the save
    // dialog the name proposed.
    bool AnswerYes = false;
    // Run the read-me through this program instead of $PAGER (empty: $PAGER, and the
    // built-in pager when that is not set either).
    std::string Pager;
  };

  TTerminalBackend();
  explicit TTerminalBackend(const TSettings& Settings);
  ~TTerminalBackend() override;

  // Whether questions are put to the user (the input is a terminal, nobody answers for
  // the user).
  bool Interactive() const;
  // Whether the user pressed Ctrl-C (or the program was asked to end): every question
  // from then on is refused.
  bool Interrupted() const;

  void BeginPaint(TControl&) override {}
  void EndPaint(TControl&) override {}
  void Rectangle(TCanvas&, int, int, int, int) override {}
  void FillRect(TCanvas&, const TRect&) override {}
  void TextOut(TCanvas&, int, int, const std::string&) override {}
  void Beep(plat::UINT Type) override;
  void ShowMessage(const std::string& Title, const std::string& Text) override;
  TModalResult MessageBox(const TMessageBoxRequest& Request) override;
  bool SaveDialog(TSaveDialogRequest& Request) override;
  void FormShown(TCustomForm& Form) override;
  void FormHidden(TCustomForm& Form) override;
  void ControlChanged(TControl& Control) override;
  void ModalPass(TCustomForm& Form) override;
  int ScreenWidth() override { return 1024; }
  int ScreenHeight() override { return 768; }
  void ScreenCursorChanged(int) override {}

  // One tick of the back-end's timer: keys for the showing form, and a redraw when due.
  void Tick();
  // A form the back-end knows was destroyed.
  void FormDestroyed(TComponent* Form);

 private:
  enum TFormKind { fkPlain, fkWait, fkProgress, fkReadMe };
  struct TShownForm;

  // Waits for a key while the message loop runs; KeyClosed when the input ended or the
  // application is terminating.
  int WaitKey();
  // Reads a line with simple editing, up to Enter (not echoed); false on Escape, Ctrl-C or
  // the end of the input.
  bool ReadLine(std::string& Line);
  // Ctrl-C: the program is asked to end, and every question from now on is refused.
  void Interrupt();
  void StartTicking();
  void StopTicking();
  void Print(const std::string& Text);
  // Clears the line the spinner or progress line is drawn on.
  void ClearStatusLine();
  void Draw(TShownForm& Shown, bool Final);
  void PageText(const std::vector<std::string>& Lines);
  void BuiltInPager(const std::vector<std::string>& Lines);
  int Columns() const;
  int Rows() const;
  TShownForm* Find(const TCustomForm* Form);

  TSettings FSettings;
  std::unique_ptr<TTerminalInput> FInput;
  bool FOutputIsTerminal = false;
  std::vector<std::unique_ptr<TShownForm>> FForms;
  std::unique_ptr<TComponent> FWatch;
  plat::HWND FWindow = 0;
  int FTicking = 0;
  int FAsking = 0;
  bool FStatusDrawn = false;
  bool FInterrupted = false;
  std::string FLastAutoName;
};
