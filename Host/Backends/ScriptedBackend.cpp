#include "Host/ScriptedBackend.h"

#include <algorithm>

#include "Host/ComCtrls.h"
#include "Host/Graphics.h"
#include "Host/StdCtrls.h"

void TScriptedBackend::BeginPaint(TControl& Control) {
  TDrawCall Call;
  Call.Kind = dkBeginPaint;
  Call.Control = &Control;
  FCalls.push_back(std::move(Call));
}

void TScriptedBackend::EndPaint(TControl& Control) {
  TDrawCall Call;
  Call.Kind = dkEndPaint;
  Call.Control = &Control;
  FCalls.push_back(std::move(Call));
}

void TScriptedBackend::Record(TDrawKind Kind, TCanvas& Canvas, int X1, int Y1, int X2, int Y2,
                              const std::string& Text) {
  TDrawCall Call;
  Call.Kind = Kind;
  Call.Control = Canvas.Control();
  Call.X1 = X1;
  Call.Y1 = Y1;
  Call.X2 = X2;
  Call.Y2 = Y2;
  Call.Text = Text;
  Call.PenColor = Canvas.Pen()->Color();
  Call.PenWidth = Canvas.Pen()->Width();
  Call.BrushColor = Canvas.Brush()->Color();
  Call.FontName = Canvas.Font()->Name();
  Call.FontSize = Canvas.Font()->Size();
  Call.FontPitch = Canvas.Font()->Pitch();
  Call.FontColor = Canvas.Font()->Color();
  FCalls.push_back(std::move(Call));
}

void TScriptedBackend::Rectangle(TCanvas& Canvas, int X1, int Y1, int X2, int Y2) {
  Record(dkRectangle, Canvas, X1, Y1, X2, Y2, {});
}

void TScriptedBackend::FillRect(TCanvas& Canvas, const TRect& Rect) {
  Record(dkFillRect, Canvas, Rect.Left, Rect.Top, Rect.Right, Rect.Bottom, {});
}

void TScriptedBackend::TextOut(TCanvas& Canvas, int X, int Y, const std::string& Text) {
  Record(dkTextOut, Canvas, X, Y, 0, 0, Text);
}

void TScriptedBackend::Beep(plat::UINT Type) {
  FBeeps.push_back(Type);
}

void TScriptedBackend::ShowMessage(const std::string& Title, const std::string& Text) {
  FMessages.push_back({Title, Text});
}

std::vector<TScriptedBackend::TDrawCall> TScriptedBackend::DrawingsOf(
    const TControl* Control) const {
  std::vector<TDrawCall> Result;
  for (const TDrawCall& Call : FCalls)
    if (Call.Control == Control && Call.Kind != dkBeginPaint && Call.Kind != dkEndPaint)
      Result.push_back(Call);
  return Result;
}

int TScriptedBackend::PaintCount(const TControl* Control) const {
  return static_cast<int>(std::count_if(FCalls.begin(), FCalls.end(), [&](const TDrawCall& C) {
    return C.Kind == dkBeginPaint && C.Control == Control;
  }));
}

void TScriptedBackend::Clear() {
  FCalls.clear();
  FBeeps.clear();
  FMessages.clear();
  FBoxes.clear();
  FDialogs.clear();
  FFormsShown.clear();
  FFormsHidden.clear();
  FCursorChanges.clear();
  FBoxAnswers.clear();
  FDialogAnswers.clear();
}

TModalResult TScriptedBackend::MessageBox(const TMessageBoxRequest& Request) {
  TShownBox Shown;
  Shown.Request = Request;
  if (!FBoxAnswers.empty()) {
    Shown.Answer = FBoxAnswers.front();
    Shown.Scripted = true;
    FBoxAnswers.pop_front();
  } else {
    const auto Index = static_cast<size_t>(Request.DefaultButton);
    Shown.Answer = Index < Request.Buttons.size() ? Request.Buttons[Index] : Request.EscapeResult;
  }
  FBoxes.push_back(Shown);
  return Shown.Answer;
}

void TScriptedBackend::AnswerSaveDialog(const std::string& FileName, int FilterIndex) {
  FDialogAnswers.push_back({true, FileName, FilterIndex});
}

void TScriptedBackend::CancelSaveDialog() {
  FDialogAnswers.push_back({false, {}, 0});
}

bool TScriptedBackend::SaveDialog(TSaveDialogRequest& Request) {
  TShownDialog Shown;
  Shown.Request = Request;
  if (!FDialogAnswers.empty()) {
    const TDialogAnswer Answer = FDialogAnswers.front();
    FDialogAnswers.pop_front();
    if (Answer.Accept) {
      Shown.Accepted = true;
      Request.FileName = Answer.FileName;
      if (Answer.FilterIndex != 0) Request.FilterIndex = Answer.FilterIndex;
      Shown.FileName = Request.FileName;
      Shown.FilterIndex = Request.FilterIndex;
    }
  }
  FDialogs.push_back(Shown);
  return Shown.Accepted;
}

void TScriptedBackend::SetScreenSize(int Width, int Height) {
  FScreenWidth = Width;
  FScreenHeight = Height;
}

void TScriptedBackend::FormShown(TCustomForm& Form) {
  FFormsShown.push_back(Snapshot(Form));
}

void TScriptedBackend::FormHidden(TCustomForm& Form) {
  FFormsHidden.push_back(Snapshot(Form));
}

void TScriptedBackend::ControlChanged(TControl& Control) {
  if (OnControlChanged) {
    auto Handler = OnControlChanged;
    Handler(Control);
  }
}

void TScriptedBackend::ModalPass(TCustomForm& Form) {
  if (OnModalPass) {
    // A copy: the action may replace the script.
    auto Action = OnModalPass;
    Action(Form);
  }
}

const TScriptedBackend::TControlShot* TScriptedBackend::TFormShot::Find(
    const std::string& ControlClass) const {
  for (const TControlShot& C : Controls)
    if (C.ClassName == ControlClass) return &C;
  return nullptr;
}

TScriptedBackend::TFormShot TScriptedBackend::Snapshot(const TCustomForm& Form) {
  TFormShot Shot;
  Shot.ClassName = Form.ClassName();
  Shot.Caption = Form.Caption();
  Shot.Left = Form.Left();
  Shot.Top = Form.Top();
  Shot.ClientWidth = Form.ClientWidth();
  Shot.ClientHeight = Form.ClientHeight();
  Shot.Position = Form.Position();
  Shot.BorderStyle = Form.BorderStyle();
  Shot.BorderIcons = Form.BorderIcons();
  Shot.Cursor = Form.Cursor();
  Shot.FontName = Form.Font()->Name();
  Shot.FontSize = Form.Font()->Size();
  Shot.Modal = Form.Modal();
  Shot.ModalResult = Form.ModalResult();
  for (int I = 0; I < Form.ControlCount(); ++I) {
    const TControl* Control = Form.Controls(I);
    TControlShot C;
    C.ClassName = Control->ClassName();
    C.Name = Control->Name();
    C.Text = Control->Text();
    C.Left = Control->Left();
    C.Top = Control->Top();
    C.Width = Control->Width();
    C.Height = Control->Height();
    C.Visible = Control->Visible();
    C.Cursor = Control->Cursor();
    C.FontName = Control->Font()->Name();
    C.FontSize = Control->Font()->Size();
    if (auto* Label = dynamic_cast<const TLabel*>(Control)) C.Alignment = Label->Alignment();
    if (auto* Bar = dynamic_cast<const TProgressBar*>(Control)) {
      C.Min = Bar->Min();
      C.Max = Bar->Max();
      C.Position = Bar->Position();
      C.TabOrder = Bar->TabOrder();
    }
    if (auto* Button = dynamic_cast<const TButton*>(Control)) {
      C.Default = Button->Default();
      C.Cancel = Button->Cancel();
      C.ModalResult = Button->ModalResult();
      C.TabOrder = Button->TabOrder();
      C.HasOnClick = static_cast<bool>(Button->OnClick);
    }
    if (auto* Memo = dynamic_cast<const TMemo*>(Control)) {
      C.ScrollBars = Memo->ScrollBars();
      for (int L = 0; L < Memo->Lines()->Count(); ++L) C.Lines.push_back(Memo->Lines()->Strings(L));
    }
    Shot.Controls.push_back(std::move(C));
  }
  return Shot;
}
