#include "Orvane/EntryChecks.h"

#include <cctype>

#include "Host/TerminalText.h"
#include "HttpProt/Url.h"

namespace {

// The longest file name the usual file systems take, in bytes.
constexpr std::size_t MaxFileNameBytes = 255;

bool IsControl(unsigned char C) {
  return C < 0x20 || C == 0x7F;
}

}  // namespace

std::string UrlFault(const std::string& Url) {
  if (Url.empty()) return "no address";
  for (const char c : Url)
    if (IsControl(static_cast<unsigned char>(c)) || c == ' ')
      return "a blank or control character in the address";
  // A C1 control (U+009B starts terminal commands) or bytes that are no UTF-8 would be
  // shown and logged as they are.
  if (TerminalSafeText(Url) != Url) return "a control character or no UTF-8 in the address";
  const std::size_t colon = Url.find(':');
  const std::size_t slash = Url.find('/');
  if (colon != std::string::npos && (slash == std::string::npos || colon < slash)) {
    std::string scheme = Url.substr(0, colon);
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (scheme != "http" && scheme != "https")
      return "unsupported protocol: " + Url.substr(0, colon);
  }
  std::string head = Url.substr(0, 8);
  for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (head.compare(0, 7, "http://") != 0 && head != "https://")
    return "not an absolute http:// or https:// address";
  std::string proto, user, pass, host, port, path;
  ParseURL(Url, proto, user, pass, host, port, path);
  if (host.empty()) return "no host name";
  return {};
}

std::string FileNameFault(const std::string& Name) {
  if (Name.empty()) return "the address names no file (it ends with \"/\")";
  if (Name == "." || Name == "..") return "\"" + Name + "\" names a folder, not a file";
  if (Name[0] == '.') return "a name starting with \".\" would be a hidden file";
  for (const char c : Name) {
    if (IsControl(static_cast<unsigned char>(c))) return "the name holds a control character";
    if (c == '\\') return "the name holds a backslash";
  }
  // A name a terminal would not show as it is (a C1 control, bytes that are no UTF-8)
  // would play tricks in every listing of the folder.
  if (TerminalSafeText(Name) != Name) return "the name holds a control character or no UTF-8";
  if (Name.size() > MaxFileNameBytes)
    return "the name is longer than " + std::to_string(MaxFileNameBytes) + " bytes";
  return {};
}
