// The font of forms and controls: a value object that owners hold and copy with Assign.
#pragma once

#include <cstdint>
#include <string>

#include "Host/Component.h"
#include "Host/EnumSet.h"
#include "Host/Visual/Colors.h"
#include "Platform/Export.h"

enum TFontPitch : std::uint8_t { fpDefault, fpVariable, fpFixed };
enum TFontStyle : std::uint8_t { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = TEnumSet<TFontStyle>;

class ORV_API TFont : public TPersistent {
 public:
  // Screen resolution that Size and Height convert with.
  static constexpr int PixelsPerInch = 96;

  TFont() = default;
  std::string ClassName() const override { return "TFont"; }
  const TPublishedClass* Published() const override;
  static const TPublishedClass& PublishedClass();

  // Copies name, height, pitch, style and colour of another TFont, then fires OnChange once.
  void Assign(const TPersistent* Source) override;

  const std::string& Name() const { return FName; }
  void SetName(const std::string& Value);
  // Points; Height is the same in pixels, negative for the character height.
  int Size() const;
  void SetSize(int Value);
  int Height() const { return FHeight; }
  void SetHeight(int Value);
  TFontPitch Pitch() const { return FPitch; }
  void SetPitch(TFontPitch Value);
  TFontStyles Style() const { return FStyle; }
  void SetStyle(TFontStyles Value);
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);

  // Fired after every change.
  TNotifyEvent OnChange;

  friend bool operator==(const TFont& a, const TFont& b) {
    return a.FName == b.FName && a.FHeight == b.FHeight && a.FPitch == b.FPitch &&
           a.FStyle == b.FStyle && a.FColor == b.FColor;
  }

 protected:
  virtual void Changed();

 private:
  std::string FName = "Sans";
  int FHeight = -11;  // 8 points
  TFontPitch FPitch = fpDefault;
  TFontStyles FStyle;
  TColor FColor = clWindowText;
};
