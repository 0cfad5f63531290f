#include "Host/ScriptedBackend.h"

#include <algorithm>

#include "Host/Backends/FormReading.h"
#include "Host/ComCtrls.h"
#include "Host/Graphics.h"
#include "Host/StdCtrls.h"

void TScriptedBackend::BeginPaint(TControl& Control) {
  TDrawCall call;
  call.Kind = dkBeginPaint;
  call.Control = &Control;
  FCalls.push_back(std::move(call));
}

void TScriptedBackend::EndPaint(TControl& Control) {
  TDrawCall call;
  call.Kind = dkEndPaint;
  call.Control = &Control;
  FCalls.push_back(std::move(call));
}

void TScriptedBackend::Record(TDrawKind Kind, TCanvas& Canvas, int X1, int Y1, int X2, int Y2,
                              const std::string& Text) {
  TDrawCall call;
  call.Kind = Kind;
  call.Control = Canvas.Control();
  call.X1 = X1;
  call.Y1 = Y1;
  call.X2 = X2;
  call.Y2 = Y2;
  call.Text = Text;
  call.PenColor = Canvas.Pen()->Color();
  call.PenWidth = Canvas.Pen()->Width();
  call.BrushColor = Canvas.Brush()->Color();
  call.FontName = Canvas.Font()->Name();
  call.FontSize = Canvas.Font()->Size();
  call.FontPitch = Canvas.Font()->Pitch();
  call.FontColor = Canvas.Font()->Color();
  FCalls.push_back(std::move(call));
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
  std::vector<TDrawCall> result;
  for (const TDrawCall& call : FCalls)
    if (call.Control == Control && call.Kind != dkBeginPaint && call.Kind != dkEndPaint)
      result.push_back(call);
  return result;
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
  TShownBox shown;
  shown.Request = Request;
  if (!FBoxAnswers.empty()) {
    shown.Answer = FBoxAnswers.front();
    shown.Scripted = true;
    FBoxAnswers.pop_front();
  } else {
    const auto index = static_cast<size_t>(Request.DefaultButton);
    shown.Answer = index < Request.Buttons.size() ? Request.Buttons[index] : Request.EscapeResult;
  }
  FBoxes.push_back(shown);
  return shown.Answer;
}

void TScriptedBackend::AnswerSaveDialog(const std::string& FileName, int FilterIndex) {
  FDialogAnswers.push_back({true, FileName, FilterIndex});
}

void TScriptedBackend::CancelSaveDialog() {
  FDialogAnswers.push_back({false, {}, 0});
}

bool TScriptedBackend::SaveDialog(TSaveDialogRequest& Request) {
  TShownDialog shown;
  shown.Request = Request;
  if (!FDialogAnswers.empty()) {
    const TDialogAnswer answer = FDialogAnswers.front();
    FDialogAnswers.pop_front();
    if (answer.Accept) {
      shown.Accepted = true;
      Request.FileName = answer.FileName;
      if (answer.FilterIndex != 0) Request.FilterIndex = answer.FilterIndex;
      shown.FileName = Request.FileName;
      shown.FilterIndex = Request.FilterIndex;
    }
  }
  FDialogs.push_back(shown);
  return shown.Accepted;
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
    auto handler = OnControlChanged;
    handler(Control);
  }
}

void TScriptedBackend::ModalPass(TCustomForm& Form) {
  if (OnModalPass) {
    // A copy: the action may replace the script.
    auto action = OnModalPass;
    action(Form);
  }
}

bool TScriptedBackend::PressEnter(TCustomForm& Form) {
  TButton* button = formreading::DefaultButtonOf(Form);
  if (button) button->Click();
  return button != nullptr;
}

bool TScriptedBackend::PressEscape(TCustomForm& Form) {
  TButton* button = formreading::CancelButtonOf(Form);
  if (button) button->Click();
  return button != nullptr;
}

const TScriptedBackend::TControlShot* TScriptedBackend::TFormShot::Find(
    const std::string& ControlClass) const {
  for (const TControlShot& c : Controls)
    if (c.ClassName == ControlClass) return &c;
  return nullptr;
}

TScriptedBackend::TFormShot TScriptedBackend::Snapshot(const TCustomForm& Form) {
  TFormShot shot;
  shot.ClassName = Form.ClassName();
  shot.Caption = Form.Caption();
  shot.Left = Form.Left();
  shot.Top = Form.Top();
  shot.ClientWidth = Form.ClientWidth();
  shot.ClientHeight = Form.ClientHeight();
  shot.Position = Form.Position();
  shot.BorderStyle = Form.BorderStyle();
  shot.BorderIcons = Form.BorderIcons();
  shot.Cursor = Form.Cursor();
  shot.FontName = Form.Font()->Name();
  shot.FontSize = Form.Font()->Size();
  shot.Modal = Form.Modal();
  shot.ModalResult = Form.ModalResult();
  for (int i = 0; i < Form.ControlCount(); ++i) {
    const TControl* control = Form.Controls(i);
    TControlShot c;
    c.ClassName = control->ClassName();
    c.Name = control->Name();
    c.Text = control->Text();
    c.Left = control->Left();
    c.Top = control->Top();
    c.Width = control->Width();
    c.Height = control->Height();
    c.Visible = control->Visible();
    c.Cursor = control->Cursor();
    c.FontName = control->Font()->Name();
    c.FontSize = control->Font()->Size();
    if (auto* label = dynamic_cast<const TLabel*>(control)) c.Alignment = label->Alignment();
    if (auto* bar = dynamic_cast<const TProgressBar*>(control)) {
      c.Min = bar->Min();
      c.Max = bar->Max();
      c.Position = bar->Position();
      c.TabOrder = bar->TabOrder();
    }
    if (auto* button = dynamic_cast<const TButton*>(control)) {
      c.Default = button->Default();
      c.Cancel = button->Cancel();
      c.ModalResult = button->ModalResult();
      c.TabOrder = button->TabOrder();
      c.HasOnClick = static_cast<bool>(button->OnClick);
    }
    if (auto* memo = dynamic_cast<const TMemo*>(control)) {
      c.ScrollBars = memo->ScrollBars();
      for (int l = 0; l < memo->Lines()->Count(); ++l) c.Lines.push_back(memo->Lines()->Strings(l));
    }
    shot.Controls.push_back(std::move(c));
  }
  return shot;
}
