#include <algorithm>
#include <vector>

#include "Orvane/Orvane.h"

namespace {

// One component's value, exact whatever its length: its sign and its decimal digits
// without leading zeros (none for 0).
struct TVersionNumber {
  bool Negative = false;
  std::string Digits;
};

// The value of a component as the host's integer conversion reads it (leading blanks, a
// sign, "$" for hexadecimal), except that decimal digits are taken however many there
// are: a version part the page chose to make long must not wrap or become 0. A component
// that is no integer counts as 0; hexadecimal keeps the conversion's 32 bits.
TVersionNumber ComponentValue(const std::string& Text) {
  TVersionNumber n;
  std::size_t i = 0;
  while (i < Text.size() && Text[i] == ' ') ++i;
  bool negative = false;
  if (i < Text.size() && (Text[i] == '+' || Text[i] == '-')) negative = Text[i++] == '-';
  const std::size_t first = i;
  while (i < Text.size() && Text[i] >= '0' && Text[i] <= '9') ++i;
  if (i == Text.size() && i > first) {
    std::size_t lead = first;
    while (lead < Text.size() && Text[lead] == '0') ++lead;
    n.Digits = Text.substr(lead);
    n.Negative = negative && !n.Digits.empty();
    return n;
  }
  const std::int64_t value = StrToIntDef(Text, 0);
  n.Negative = value < 0;
  n.Digits = value == 0 ? std::string() : std::to_string(value < 0 ? -value : value);
  return n;
}

// -1, 0 or 1 as A is smaller than, equal to or greater than B.
int Compare(const TVersionNumber& A, const TVersionNumber& B) {
  if (A.Negative != B.Negative) return A.Negative ? -1 : 1;
  int magnitude = 0;
  if (A.Digits.size() != B.Digits.size())
    magnitude = A.Digits.size() < B.Digits.size() ? -1 : 1;
  else
    magnitude = A.Digits.compare(B.Digits) < 0 ? -1 : (A.Digits == B.Digits ? 0 : 1);
  return A.Negative ? -magnitude : magnitude;
}

// The dot-separated components; an empty version is one component, 0.
std::vector<TVersionNumber> VersionNumbers(const std::string& version) {
  std::vector<TVersionNumber> result;
  size_t start = 0;
  while (true) {
    const size_t dot = version.find('.', start);
    result.push_back(ComponentValue(version.substr(start, dot - start)));
    if (dot == std::string::npos) return result;
    start = dot + 1;
  }
}

bool BuildNumberNewer(const std::string& current, const std::string& offered) {
  const std::vector<TVersionNumber> cur = VersionNumbers(current);
  const std::vector<TVersionNumber> offer = VersionNumbers(offered);
  // Missing components count as 0, so 1.2 and 1.2.0 are the same version.
  const size_t n = std::max(cur.size(), offer.size());
  const TVersionNumber zero;
  for (size_t i = 0; i < n; ++i) {
    const int c = Compare(i < cur.size() ? cur[i] : zero, i < offer.size() ? offer[i] : zero);
    if (c != 0) return c < 0;
  }
  return false;
}

}  // namespace

bool TOrvane::IsUpdateAvailable() const {
  switch (FVersionFormat) {
    case orvvBuildNumber:
      return BuildNumberNewer(FCurrentVersion, FPage.Version);
    case orvvSimpleString:
      // Byte by byte as unsigned values, a longer text after its own beginning.
      return FPage.Version.compare(FCurrentVersion) > 0;
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
