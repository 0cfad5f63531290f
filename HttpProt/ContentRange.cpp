#include "HttpProt/ContentRange.h"

namespace {

// Digits from Text[At] on, at least one and at most 18 (so that no value overflows).
bool ReadNumber(std::string_view Text, std::size_t& At, std::int64_t& Value) {
  const std::size_t start = At;
  std::int64_t v = 0;
  while (At < Text.size() && Text[At] >= '0' && Text[At] <= '9') {
    if (At - start == 18) return false;
    v = v * 10 + (Text[At++] - '0');
  }
  Value = v;
  return At > start;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

THttpContentRange ParseContentRange(std::string_view Text) {
  while (!Text.empty() && IsBlank(Text.front())) Text.remove_prefix(1);
  while (!Text.empty() && IsBlank(Text.back())) Text.remove_suffix(1);
  constexpr std::string_view unit = "bytes ";
  if (Text.size() < unit.size()) return {};
  for (std::size_t i = 0; i < unit.size(); ++i) {
    const char c = Text[i] >= 'A' && Text[i] <= 'Z' ? static_cast<char>(Text[i] + 32) : Text[i];
    if (c != unit[i]) return {};
  }
  std::size_t at = unit.size();
  THttpContentRange r;
  if (!ReadNumber(Text, at, r.First) || at >= Text.size() || Text[at++] != '-' ||
      !ReadNumber(Text, at, r.Last) || at >= Text.size() || Text[at++] != '/')
    return {};
  if (Text.substr(at) == "*") {
    r.Total = -1;
  } else if (!ReadNumber(Text, at, r.Total) || at != Text.size() || r.Last >= r.Total) {
    return {};
  }
  if (r.First > r.Last) return {};
  return r;
}
