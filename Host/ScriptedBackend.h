// A UI back-end for tests: shows nothing, and records every paint, drawing call, beep and
// message so that a test can assert on them.
#pragma once

#include <string>
#include <vector>

#include "Host/Colors.h"
#include "Host/Font.h"
#include "Host/UIBackend.h"

class TScriptedBackend : public TUIBackend {
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

  void BeginPaint(TControl& Control) override;
  void EndPaint(TControl& Control) override;
  void Rectangle(TCanvas& Canvas, int X1, int Y1, int X2, int Y2) override;
  void FillRect(TCanvas& Canvas, const TRect& Rect) override;
  void TextOut(TCanvas& Canvas, int X, int Y, const std::string& Text) override;
  void Beep(plat::UINT Type) override;
  void ShowMessage(const std::string& Title, const std::string& Text) override;

  const std::vector<TDrawCall>& Calls() const { return FCalls; }
  // The drawing calls (not the paint brackets) made on Control's canvas, in order.
  std::vector<TDrawCall> DrawingsOf(const TControl* Control) const;
  // How many times Control was painted.
  int PaintCount(const TControl* Control) const;
  const std::vector<plat::UINT>& Beeps() const { return FBeeps; }
  const std::vector<TShownMessage>& Messages() const { return FMessages; }
  // Forgets everything recorded so far.
  void Clear();

 private:
  void Record(TDrawKind Kind, TCanvas& Canvas, int X1, int Y1, int X2, int Y2,
              const std::string& Text);

  std::vector<TDrawCall> FCalls;
  std::vector<plat::UINT> FBeeps;
  std::vector<TShownMessage> FMessages;
};
