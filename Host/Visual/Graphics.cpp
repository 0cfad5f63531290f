#include "Host/Graphics.h"

#include "Host/SysUtils.h"
#include "Host/UIBackend.h"

void TPen::Assign(const TPersistent* Source) {
  if (auto* pen = dynamic_cast<const TPen*>(Source)) {
    FColor = pen->FColor;
    FWidth = pen->FWidth;
    return;
  }
  TPersistent::Assign(Source);
}

void TPen::SetWidth(int Value) {
  if (Value < 0) throw Exception(Format("Invalid pen width %d", Value));
  FWidth = Value;
}

void TBrush::Assign(const TPersistent* Source) {
  if (auto* brush = dynamic_cast<const TBrush*>(Source)) {
    FColor = brush->FColor;
    return;
  }
  TPersistent::Assign(Source);
}

TCanvas::TCanvas(TControl* Control)
    : FControl(Control),
      FPen(std::make_unique<TPen>()),
      FBrush(std::make_unique<TBrush>()),
      FFont(std::make_unique<TFont>()) {}

TCanvas::~TCanvas() = default;

void TCanvas::Rectangle(int X1, int Y1, int X2, int Y2) {
  UIBackend().Rectangle(*this, X1, Y1, X2, Y2);
}

void TCanvas::FillRect(const TRect& Rect) {
  UIBackend().FillRect(*this, Rect);
}

void TCanvas::TextOut(int X, int Y, const std::string& Text) {
  UIBackend().TextOut(*this, X, Y, Text);
}
