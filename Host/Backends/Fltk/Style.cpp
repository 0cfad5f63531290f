#include <FL/Fl.H>

#include <cctype>
#include <cstdlib>

#include "Host/Backends/Fltk/FltkParts.h"
#include "Host/Font.h"

namespace fltkparts {

Fl_Color ToFlColor(TColor Color) {
  if (Color == clNone || Color == clDefault) return FL_BACKGROUND_COLOR;
  if (IsSystemColor(Color)) {
    if (Color == clWindow || Color == clInfoBk) return FL_BACKGROUND2_COLOR;
    if (Color == clWindowText || Color == clBtnText || Color == clMenuText ||
        Color == clCaptionText || Color == clInfoText)
      return FL_FOREGROUND_COLOR;
    if (Color == clHighlight) return fl_rgb_color(0x33, 0x66, 0xCC);
    if (Color == clHighlightText) return FL_WHITE;
    if (Color == clGrayText || Color == clBtnShadow) return FL_DARK3;
    return FL_BACKGROUND_COLOR;
  }
  const auto c = static_cast<std::uint32_t>(Color);
  return fl_rgb_color(static_cast<uchar>(c & 0xFF), static_cast<uchar>((c >> 8) & 0xFF),
                      static_cast<uchar>((c >> 16) & 0xFF));
}

std::string Lower(std::string S) {
  for (char& c : S) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return S;
}

std::string Upper(std::string S) {
  for (char& c : S) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return S;
}

TFlFont ToFlFont(const TFont* Font) {
  TFlFont f;
  if (Font == nullptr) return f;
  const std::string name = Lower(Font->Name());
  Fl_Font base = FL_HELVETICA;
  if (Font->Pitch() == fpFixed || name.find("courier") != std::string::npos ||
      name.find("mono") != std::string::npos)
    base = FL_COURIER;
  else if (name.find("times") != std::string::npos ||
           (name.find("serif") != std::string::npos && name.find("sans") == std::string::npos))
    base = FL_TIMES;
  if (Font->Style().Contains(fsBold)) base += FL_BOLD;
  if (Font->Style().Contains(fsItalic)) base += FL_ITALIC;
  f.Face = base;
  // Height is the character height in pixels (negative: without the internal leading).
  const int px = std::abs(Font->Height());
  f.Size = px > 0 ? px + 1 : 12;
  f.Color = ToFlColor(Font->Color());
  if (f.Color == FL_BACKGROUND_COLOR) f.Color = FL_FOREGROUND_COLOR;
  return f;
}

std::string FlText(const std::string& Text, bool AccessKeys) {
  std::string out;
  out.reserve(Text.size());
  for (char c : Text) {
    if (c == '@') out += '@';
    if (c == '&' && !AccessKeys) out += '&';
    if (c == '\r') continue;
    out += c;
  }
  return out;
}

std::string JoinLines(const std::vector<std::string>& Lines) {
  std::string out;
  for (size_t i = 0; i < Lines.size(); ++i) {
    if (i) out += '\n';
    out += Lines[i];
  }
  return out;
}

}  // namespace fltkparts
