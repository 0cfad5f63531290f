#include <algorithm>
#include <vector>

#include "Orvane/Orvane.h"

namespace {

// The dot-separated components as numbers; a component that is no integer counts as 0.
// An empty version is one component, 0.
std::vector<std::int32_t> VersionNumbers(const std::string& version) {
  std::vector<std::int32_t> result;
  size_t start = 0;
  while (true) {
    const size_t dot = version.find('.', start);
    result.push_back(StrToIntDef(version.substr(start, dot - start), 0));
    if (dot == std::string::npos) return result;
    start = dot + 1;
  }
}

bool BuildNumberNewer(const std::string& current, const std::string& offered) {
  const std::vector<std::int32_t> cur = VersionNumbers(current);
  const std::vector<std::int32_t> offer = VersionNumbers(offered);
  // Missing components count as 0, so 1.2 and 1.2.0 are the same version.
  const size_t n = std::max(cur.size(), offer.size());
  for (size_t i = 0; i < n; ++i) {
    const std::int32_t x = i < cur.size() ? cur[i] : 0;
    const std::int32_t y = i < offer.size() ? offer[i] : 0;
    if (x != y) return x < y;
  }
  return false;
}

}  // namespace

bool TOrvane::IsUpdateAvailable() const {
  switch (FVersionFormat) {
    case orvvBuildNumber:
      return BuildNumberNewer(FCurrentVersion, FProductVersion);
    case orvvSimpleString:
      // Byte by byte as unsigned values, a longer text after its own beginning.
      return FProductVersion.compare(FCurrentVersion) > 0;
  }
  return false;
}

TDateTime TOrvane::ConvertProductDate(const std::string& DateText) const {
  if (FDateFormat != orvdZelDate) return 0;
  static const std::string kMonths = "JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC";
  // Three letters that are no month but occur in the table give the month their match
  // starts in; letters that do not occur give month 0, which is no date.
  const std::string m3 = UpperCase(DateText.substr(0, 3));
  const size_t at = m3.empty() ? std::string::npos : kMonths.find(m3);
  const int month = at == std::string::npos ? 0 : static_cast<int>(at + 3) / 3;
  // The two characters just before the first comma (the first two without a comma).
  const size_t comma = DateText.find(',');
  const size_t dayStart = comma == std::string::npos || comma < 2 ? 0 : comma - 2;
  const int day = StrToInt(DateText.substr(dayStart, 2));
  const int year = StrToInt(DateText.size() < 4 ? DateText : DateText.substr(DateText.size() - 4));
  return EncodeDate(year, month, day);
}
