// Pens, brushes and the canvas that controls paint on.
//
// A canvas draws nothing itself: each call goes to the installed UI back-end together
// with the canvas, whose pen, brush and font describe how to draw.
#pragma once

#include <memory>
#include <string>

#include "Host/Component.h"
#include "Host/Font.h"
#include "Host/Visual/Colors.h"
#include "Platform/Export.h"

class TControl;

// Right and Bottom are exclusive.
struct ORV_API TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  bool operator==(const TRect&) const = default;
};

class ORV_API TPen : public TPersistent {
 public:
  std::string ClassName() const override { return "TPen"; }
  void Assign(const TPersistent* Source) override;

  TColor Color() const { return FColor; }
  void SetColor(TColor Value) { FColor = Value; }
  // In pixels; 0 draws the thinnest line the back-end can.
  int Width() const { return FWidth; }
  void SetWidth(int Value);

 private:
  TColor FColor = clBlack;
  int FWidth = 1;
};

class ORV_API TBrush : public TPersistent {
 public:
  std::string ClassName() const override { return "TBrush"; }
  void Assign(const TPersistent* Source) override;

  TColor Color() const { return FColor; }
  void SetColor(TColor Value) { FColor = Value; }

 private:
  TColor FColor = clWhite;
};

class ORV_API TCanvas : public TPersistent {
 public:
  // Control is the control painted on (not owned; may be nullptr for a detached canvas).
  explicit TCanvas(TControl* Control = nullptr);
  ~TCanvas() override;
  std::string ClassName() const override { return "TCanvas"; }

  TControl* Control() const { return FControl; }

  // The canvas owns its pen, brush and font; the setters copy the given object's state.
  TPen* Pen() const { return FPen.get(); }
  TBrush* Brush() const { return FBrush.get(); }
  TFont* Font() const { return FFont.get(); }
  void SetPen(const TPen* Value) { FPen->Assign(Value); }
  void SetBrush(const TBrush* Value) { FBrush->Assign(Value); }
  void SetFont(const TFont* Value) { FFont->Assign(Value); }

  // Outline with the pen, inside filled with the brush; (X2, Y2) is exclusive.
  void Rectangle(int X1, int Y1, int X2, int Y2);
  // Fills with the brush, no outline.
  void FillRect(const TRect& Rect);
  // Text in the font, on the brush's colour, its top left corner at (X, Y).
  void TextOut(int X, int Y, const std::string& Text);

 private:
  TControl* FControl;
  std::unique_ptr<TPen> FPen;
  std::unique_ptr<TBrush> FBrush;
  std::unique_ptr<TFont> FFont;
};
