#include "CommandLine.h"

namespace cli {

TApply StoreIn(std::string& Into) {
  return [&Into](const std::string& Text) {
    Into = Text;
    return std::string();
  };
}

TApply SetTrue(bool& Into) {
  return [&Into](const std::string&) {
    Into = true;
    return std::string();
  };
}

std::string ReadWholeNumber(const std::string& Text, std::int64_t Most, std::int64_t& Value) {
  const std::string fault =
      "needs a whole number from 0 to " + std::to_string(Most) + ", not \"" + Text + "\"";
  // More digits than Most has could overflow before the comparison.
  if (Text.empty() || Text.size() > std::to_string(Most).size()) return fault;
  std::int64_t v = 0;
  for (const char c : Text) {
    if (c < '0' || c > '9') return fault;
    v = v * 10 + (c - '0');
  }
  if (v > Most) return fault;
  Value = v;
  return {};
}

}  // namespace cli
