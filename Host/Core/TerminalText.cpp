#include "Host/TerminalText.h"

#include <cstdint>
#include <cstdio>

namespace {

const char Replacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The length of the valid UTF-8 sequence at Text[At], and its code point; 0 when the
// bytes there are no valid sequence (a stray continuation byte, an overlong form, a
// surrogate, a value beyond U+10FFFF, a sequence cut short).
std::size_t SequenceAt(const std::string& Text, std::size_t At, std::uint32_t& Code) {
  const auto byte = [&](std::size_t I) { return static_cast<unsigned char>(Text[I]); };
  const unsigned char lead = byte(At);
  std::size_t length = 0;
  std::uint32_t min = 0;
  if (lead < 0x80) {
    Code = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    Code = lead & 0x1F;
    min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    Code = lead & 0x0F;
    min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    Code = lead & 0x07;
    min = 0x10000;
  } else {
    return 0;
  }
  if (At + length > Text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(At + i) & 0xC0) != 0x80) return 0;
    Code = (Code << 6) | (byte(At + i) & 0x3F);
  }
  if (Code < min || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string TerminalSafeText(const std::string& Text) {
  std::string out;
  out.reserve(Text.size());
  char escape[16];
  for (std::size_t i = 0; i < Text.size();) {
    std::uint32_t code = 0;
    const std::size_t length = SequenceAt(Text, i, code);
    if (length == 0) {
      out += Replacement;
      ++i;
      continue;
    }
    if ((code < 0x20 && code != '\n' && code != '\t') || code == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(code));
      out += escape;
    } else if (code >= 0x80 && code <= 0x9F) {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
      out += escape;
    } else {
      out.append(Text, i, length);
    }
    i += length;
  }
  return out;
}

std::string CutAtCharacter(const std::string& Text, std::size_t MaxBytes) {
  if (Text.size() <= MaxBytes) return Text;
  std::size_t end = MaxBytes;
  // Back to the first byte of the character that would be split.
  while (end > 0 && (static_cast<unsigned char>(Text[end]) & 0xC0) == 0x80) --end;
  return Text.substr(0, end);
}
