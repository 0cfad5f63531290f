#include "Host/Font.h"

#include <cstdlib>

#include "Host/Published.h"

namespace {

// a * b / c rounded half away from zero, as the system's own does.
int MulDiv(int a, int b, int c) {
  long long n = static_cast<long long>(a) * b;
  long long q = (std::llabs(n) * 2 + c) / (2LL * c);
  return static_cast<int>(n < 0 ? -q : q);
}

}  // namespace

const TPublishedClass& TFont::PublishedClass() {
  static const TPublishedClass* cls = [] {
    auto* c = new TPublishedClass("TFont", nullptr);
    TPublish<TFont>(*c)
        .Integer("Color", &TFont::Color, &TFont::SetColor)
        .Idents(
            [](std::int64_t v, std::string& s) { return ColorToIdent(static_cast<TColor>(v), s); },
            [](const std::string& s, std::int64_t& v) {
              TColor color = 0;
              if (!IdentToColor(s, color)) return false;
              v = color;
              return true;
            })
        .Integer("Height", &TFont::Height, &TFont::SetHeight)
        .String("Name", &TFont::Name, &TFont::SetName)
        .Enum("Pitch", "TFontPitch", {"fpDefault", "fpVariable", "fpFixed"}, &TFont::Pitch,
              &TFont::SetPitch)
        .Default(fpDefault)
        .Integer("Size", &TFont::Size, &TFont::SetSize)
        .NotStored()
        .Set("Style", "TFontStyles", {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"},
             &TFont::Style, &TFont::SetStyle)
        .Default(TFontStyles{});
    RegisterClass(c);
    return c;
  }();
  return *cls;
}

const TPublishedClass* TFont::Published() const {
  return &PublishedClass();
}

void TFont::Assign(const TPersistent* Source) {
  if (const auto* src = dynamic_cast<const TFont*>(Source)) {
    if (src == this) return;
    FName = src->FName;
    FHeight = src->FHeight;
    FPitch = src->FPitch;
    FStyle = src->FStyle;
    FColor = src->FColor;
    Changed();
    return;
  }
  TPersistent::Assign(Source);
}

void TFont::SetName(const std::string& Value) {
  if (Value.empty() || Value == FName) return;
  FName = Value;
  Changed();
}

int TFont::Size() const {
  return -MulDiv(FHeight, 72, PixelsPerInch);
}

void TFont::SetSize(int Value) {
  SetHeight(-MulDiv(Value, PixelsPerInch, 72));
}

void TFont::SetHeight(int Value) {
  if (Value == FHeight) return;
  FHeight = Value;
  Changed();
}

void TFont::SetPitch(TFontPitch Value) {
  if (Value == FPitch) return;
  FPitch = Value;
  Changed();
}

void TFont::SetStyle(TFontStyles Value) {
  if (Value == FStyle) return;
  FStyle = Value;
  Changed();
}

void TFont::SetColor(TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  Changed();
}

void TFont::Changed() {
  // Through a copy: the handler may free the control that owns this font.
  if (const TNotifyEvent handler = OnChange) handler(this);
}
