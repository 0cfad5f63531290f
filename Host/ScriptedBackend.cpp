#include "Host/ScriptedBackend.h"

#include <algorithm>

#include "Host/Graphics.h"

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
}
