// A UI back-end for tests: shows nothing, answers boxes and save dialogs from a script,
// and records every paint, drawing call, beep, message, box, dialog and form shown, so
// that a test can drive every branch and assert on what the user would have seen.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "Host/Font.h"
#include "Host/Forms.h"
#include "Host/UIBackend.h"
#include "Host/Visual/Colors.h"
#include "Platform/Export.h"

class ORV_API TScriptedBackend : public TUIBackend {
 public:
  enum TDrawKind { dkBeginPaint, dkEndPaint, dkRectangle, dkFillRect, dkTextOut };

  // One call as the back-end saw it, with the canvas's state at that moment.
  struct TDrawCall {
    TDrawKind Kind = dkBeginPaint;
    const TControl* Control = nullptr;   // compared only, never followed
    int X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;  // TextOut: (X1, Y1) only
    std::string Text;
    TColor PenColor = 0;
    int PenWidth = 0;
    TColor BrushColor = 0;
    std::string FontName;
    int FontSize = 0;
    TFontPitch FontPitch = fpDefault;
    TColor FontColor = 0;
  };

  struct TShownMessage {
    std::string Title;
    std::string Text;
  };

  // A box as it was shown and answered.
  struct TShownBox {
    TMessageBoxRequest Request;
    TModalResult Answer = mrNone;
    bool Scripted = false;  // false: nobody had scripted an answer; the default was taken
  };

  // A save dialog as it was shown and answered.
  struct TShownDialog {
    TSaveDialogRequest Request;
    bool Accepted = false;
    std::string FileName;
    int FilterIndex = 0;
  };

  // A control on a form at one moment.
  struct TControlShot {
    std::string ClassName;
    std::string Name;
    std::string Text;
    int Left = 0, Top = 0, Width = 0, Height = 0;
    bool Visible = true;
    TCursor Cursor = crDefault;
    std::string FontName;
    int FontSize = 0;
    int Alignment = 0;                     // TLabel
    int Min = 0, Max = 0, Position = 0;    // TProgressBar
    int TabOrder = -1;                     // TButton, TProgressBar
    bool Default = false, Cancel = false;  // TButton
    TModalResult ModalResult = mrNone;     // TButton
    int ScrollBars = 0;                    // TMemo
    std::vector<std::string> Lines;        // TMemo
    bool HasOnClick = false;               // TButton
  };

  // A form at one moment, with its controls in the order they were placed.
  struct TFormShot {
    std::string ClassName;
    std::string Caption;
    int Left = 0, Top = 0, ClientWidth = 0, ClientHeight = 0;
    TPosition Position = poDesigned;
    TFormBorderStyle BorderStyle = bsSizeable;
    TBorderIcons BorderIcons;
    TCursor Cursor = crDefault;
    std::string FontName;
    int FontSize = 0;
    bool Modal = false;
    TModalResult ModalResult = mrNone;
    std::vector<TControlShot> Controls;
    // The first control of that class (nullptr for none).
    const TControlShot* Find(const std::string& ControlClass) const;
  };

  // TUIBackend.
  void BeginPaint(TControl& Control) override;
  void EndPaint(TControl& Control) override;
  void Rectangle(TCanvas& Canvas, int X1, int Y1, int X2, int Y2) override;
  void FillRect(TCanvas& Canvas, const TRect& Rect) override;
  void TextOut(TCanvas& Canvas, int X, int Y, const std::string& Text) override;
  void Beep(plat::UINT Type) override;
  void ShowMessage(const std::string& Title, const std::string& Text) override;
  TModalResult MessageBox(const TMessageBoxRequest& Request) override;
  bool SaveDialog(TSaveDialogRequest& Request) override;
  void FormShown(TCustomForm& Form) override;
  void FormHidden(TCustomForm& Form) override;
  void ControlChanged(TControl& Control) override;
  void ModalPass(TCustomForm& Form) override;
  int ScreenWidth() override { return FScreenWidth; }
  int ScreenHeight() override { return FScreenHeight; }
  void ScreenCursorChanged(int Cursor) override { FCursorChanges.push_back(Cursor); }

  // The script. Boxes take the queued answers in order; with none left a box takes its
  // default button. Dialogs likewise; with none left a dialog is cancelled.
  void AnswerBox(TModalResult Answer) { FBoxAnswers.push_back(Answer); }
  // FilterIndex 0 keeps the dialog's own.
  void AnswerSaveDialog(const std::string& FileName, int FilterIndex = 0);
  void CancelSaveDialog();
  void SetScreenSize(int Width, int Height);
  // Acts for the user on every pass of a modal form's loop (click a button, close it).
  std::function<void(TCustomForm& Form)> OnModalPass;
  // Sees every change of a showing control (a progress bar moving, a label's text).
  std::function<void(TControl& Control)> OnControlChanged;
  // The user pressing Enter or Escape on Form, read as the interactive back-ends read it:
  // clicks the button the key presses (Host/Backends/FormReading.h); false when the form
  // has none.
  static bool PressEnter(TCustomForm& Form);
  static bool PressEscape(TCustomForm& Form);

  // What was recorded.
  const std::vector<TDrawCall>& Calls() const { return FCalls; }
  // The drawing calls (not the paint brackets) made on Control's canvas, in order.
  std::vector<TDrawCall> DrawingsOf(const TControl* Control) const;
  // How many times Control was painted.
  int PaintCount(const TControl* Control) const;
  const std::vector<plat::UINT>& Beeps() const { return FBeeps; }
  const std::vector<TShownMessage>& Messages() const { return FMessages; }
  const std::vector<TShownBox>& Boxes() const { return FBoxes; }
  const std::vector<TShownDialog>& Dialogs() const { return FDialogs; }
  // Each form as it came into view, and as it was when it went.
  const std::vector<TFormShot>& FormsShown() const { return FFormsShown; }
  const std::vector<TFormShot>& FormsHidden() const { return FFormsHidden; }
  const std::vector<int>& CursorChanges() const { return FCursorChanges; }
  // Scripted answers nobody asked for.
  size_t UnusedAnswers() const { return FBoxAnswers.size() + FDialogAnswers.size(); }
  // Forgets everything recorded so far, and the script.
  void Clear();

  static TFormShot Snapshot(const TCustomForm& Form);

 private:
  struct TDialogAnswer {
    bool Accept = false;
    std::string FileName;
    int FilterIndex = 0;
  };

  void Record(TDrawKind Kind, TCanvas& Canvas, int X1, int Y1, int X2, int Y2,
              const std::string& Text);

  std::vector<TDrawCall> FCalls;
  std::vector<plat::UINT> FBeeps;
  std::vector<TShownMessage> FMessages;
  std::vector<TShownBox> FBoxes;
  std::vector<TShownDialog> FDialogs;
  std::vector<TFormShot> FFormsShown;
  std::vector<TFormShot> FFormsHidden;
  std::vector<int> FCursorChanges;
  std::deque<TModalResult> FBoxAnswers;
  std::deque<TDialogAnswer> FDialogAnswers;
  int FScreenWidth = 1024;
  int FScreenHeight = 768;
};
