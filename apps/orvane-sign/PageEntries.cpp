#include "PageEntries.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr std::size_t kMaxPiece = 1000;

std::string QuotedPiece(const std::string& Line, std::size_t Start) {
  if (Start >= Line.size()) return {};
  const std::size_t quote = Line.find('"', Start);
  if (quote == std::string::npos || quote - Start >= kMaxPiece) return {};
  return Line.substr(Start, quote - Start);
}

std::size_t FindMarker(const std::string& Line) {
  static constexpr std::string_view marker = "META HTTP-EQUIV";
  const auto it =
      std::search(Line.begin(), Line.end(), marker.begin(), marker.end(), [](char c, char k) {
        return (c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c) == k;
      });
  return it == Line.end() ? std::string::npos : static_cast<std::size_t>(it - Line.begin());
}

}  // namespace

std::map<std::string, std::string> ReadPageEntries(const std::string& Body) {
  std::map<std::string, std::string> entries;
  std::size_t start = 0;
  while (start <= Body.size()) {
    std::size_t end = Body.find_first_of("\r\n", start);
    if (end == std::string::npos) end = Body.size();
    const std::string line = Body.substr(start, end - start);
    const std::size_t marker = FindMarker(line);
    if (marker != std::string::npos) {
      const std::size_t content = line.find("CONTENT=");
      entries[QuotedPiece(line, marker + 17)] =
          QuotedPiece(line, content == std::string::npos ? 8 : content + 9);
    }
    if (end == Body.size()) break;
    // CR LF is one line end.
    start = end + (Body.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return entries;
}
