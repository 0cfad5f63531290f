#include "JsonResult.h"

#include <cstdio>

namespace {

// The length of the UTF-8 sequence at Text[I], or 0 when none starts there.
std::size_t Utf8SequenceLength(const std::string& Text, std::size_t I) {
  const auto byte = [&](std::size_t K) { return static_cast<unsigned char>(Text[K]); };
  const unsigned char c = byte(I);
  std::size_t n = c < 0x80             ? 1
                  : (c & 0xE0) == 0xC0 ? 2
                  : (c & 0xF0) == 0xE0 ? 3
                  : (c & 0xF8) == 0xF0 ? 4
                                       : 0;
  if (n == 0 || I + n > Text.size() || (n == 2 && c < 0xC2) || (n == 4 && c > 0xF4)) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((byte(I + k) & 0xC0) != 0x80) return 0;
  // Overlong forms, surrogates and values past U+10FFFF.
  if (n == 3 && ((c == 0xE0 && byte(I + 1) < 0xA0) || (c == 0xED && byte(I + 1) > 0x9F))) return 0;
  if (n == 4 && ((c == 0xF0 && byte(I + 1) < 0x90) || (c == 0xF4 && byte(I + 1) > 0x8F))) return 0;
  return n;
}

std::string JsonQuoted(const std::string& Text) {
  if (Text.empty()) return "null";
  std::string out = "\"";
  for (std::size_t i = 0; i < Text.size();) {
    const unsigned char c = static_cast<unsigned char>(Text[i]);
    const std::size_t n = Utf8SequenceLength(Text, i);
    if (n == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out.append(Text, i, n);
    }
    i += n;
  }
  return out + "\"";
}

}  // namespace

std::string JsonText(const TJsonResult& R) {
  return "{\"result\":" + JsonQuoted(R.Result) + ",\"product\":" + JsonQuoted(R.Product) +
         ",\"version_offered\":" + JsonQuoted(R.VersionOffered) +
         ",\"current_version\":" + JsonQuoted(R.CurrentVersion) +
         ",\"saved_file\":" + JsonQuoted(R.SavedFile) +
         ",\"signature_verified\":" + (R.SignatureVerified ? "true" : "false") +
         ",\"failure_kind\":" + JsonQuoted(R.FailureKind) +
         ",\"failure_text\":" + JsonQuoted(R.FailureText) + "}";
}
