#include "Orvane/PageEntries.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace {

// A name or a content ends at a double quote within this many characters, or is empty.
constexpr std::size_t kMaxPiece = 1000;

// The characters of Line from Start up to the next double quote within kMaxPiece of
// them; empty when there is none.
std::string QuotedPiece(const std::string& Line, std::size_t Start) {
  if (Start >= Line.size()) return {};
  const std::size_t quote = Line.find('"', Start);
  if (quote == std::string::npos || quote - Start >= kMaxPiece) return {};
  return Line.substr(Start, quote - Start);
}

// Where the marker first stands in Line, letters of Line in either case; npos when
// nowhere. Every line of a page is searched, so the line is not copied to fold it.
std::size_t FindMarker(const std::string& Line) {
  static constexpr std::string_view marker = "META HTTP-EQUIV";
  const auto it =
      std::search(Line.begin(), Line.end(), marker.begin(), marker.end(), [](char c, char k) {
        return (c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c) == k;
      });
  return it == Line.end() ? std::string::npos : static_cast<std::size_t>(it - Line.begin());
}

}  // namespace

std::string EntryContent(const std::string& Line) {
  // Without the marker the content is read from the ninth character, as if the marker
  // stood at position 0.
  const std::size_t marker = Line.find("CONTENT=");
  return QuotedPiece(Line, marker == std::string::npos ? 8 : marker + 9);
}

bool ReadEntryName(const std::string& Line, std::string& Name) {
  const std::size_t marker = FindMarker(Line);
  if (marker == std::string::npos) return false;
  // 15 characters of the marker and two more (normally =").
  Name = QuotedPiece(Line, marker + 17);
  return true;
}

std::map<std::string, std::string> ReadPageEntries(const std::string& Body) {
  std::map<std::string, std::string> entries;
  std::size_t start = 0;
  while (start <= Body.size()) {
    std::size_t end = Body.find_first_of("\r\n", start);
    if (end == std::string::npos) end = Body.size();
    const std::string line = Body.substr(start, end - start);
    if (std::string name; ReadEntryName(line, name)) entries[name] = EntryContent(line);
    if (end == Body.size()) break;
    // CR LF is one line end.
    start = end + (Body.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return entries;
}

bool ReadByteCount(const std::string& Text, std::uint64_t& Size) {
  if (Text.empty() || Text.size() > 18 || (Text.size() > 1 && Text[0] == '0')) return false;
  std::uint64_t n = 0;
  for (const char c : Text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
  }
  Size = n;
  return true;
}

std::string HashHex(const std::string& Text) {
  if (Text.size() != 64) return {};
  std::string hex;
  for (const char c : Text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
    hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return hex;
}
