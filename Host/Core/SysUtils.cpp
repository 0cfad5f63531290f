#include "Host/SysUtils.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <limits>
#include <vector>

Exception::Exception(std::string message, int helpContext)
    : FMessage(std::move(message)), FHelpContext(helpContext) {}

Exception::~Exception() = default;

namespace {

bool IsBlank(char c) {
  return c == ' ';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads the whole of s as an integer; false when s is not one or does not fit.
bool TryStrToInt(const std::string& s, std::int32_t& out) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  if (i >= s.size()) return false;
  std::uint64_t value = 0;
  if (s[i] == '$') {
    // Hexadecimal reads the 32 bits as they stand: $FFFFFFFF is -1.
    ++i;
    if (i >= s.size()) return false;
    for (; i < s.size(); ++i) {
      int d = HexDigit(s[i]);
      if (d < 0) return false;
      value = value * 16 + static_cast<unsigned>(d);
      if (value > 0xFFFFFFFFull) return false;
    }
    std::uint32_t bits = static_cast<std::uint32_t>(value);
    if (negative) bits = 0u - bits;
    out = static_cast<std::int32_t>(bits);
    return true;
  }
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    value = value * 10 + static_cast<unsigned>(s[i] - '0');
    if (value > 0x80000000ull) return false;
  }
  if (!negative && value > 0x7FFFFFFFull) return false;
  out = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(value))
                 : static_cast<std::int32_t>(value);
  return true;
}

constexpr int kDaysBeforeMonth[2][13] = {
    {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
    {0, 0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335}};

int DaysInMonth(int year, int month) {
  static constexpr int kDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month];
}

// Days from 0001-01-01 to 1899-12-30.
constexpr std::int64_t kDateDelta = 693594;
constexpr std::int64_t kMSecsPerDay = 86400000;

std::int64_t DaysFromCivil(int year, int month, int day) {
  std::int64_t y = year - 1;
  return y * 365 + y / 4 - y / 100 + y / 400 + kDaysBeforeMonth[IsLeapYear(year)][month] + day;
}

}  // namespace

std::int32_t StrToInt(const std::string& s) {
  std::int32_t value = 0;
  if (!TryStrToInt(s, value)) throw EConvertError("'" + s + "' is not a valid integer value");
  return value;
}

std::int32_t StrToIntDef(const std::string& s, std::int32_t def) {
  std::int32_t value = 0;
  return TryStrToInt(s, value) ? value : def;
}

std::string IntToStr(std::int64_t value) {
  return std::to_string(value);
}

std::string TrimLeft(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) <= 32) ++i;
  return s.substr(i);
}

std::string TrimRight(const std::string& s) {
  size_t n = s.size();
  while (n > 0 && static_cast<unsigned char>(s[n - 1]) <= 32) --n;
  return s.substr(0, n);
}

std::string Trim(const std::string& s) {
  return TrimLeft(TrimRight(s));
}

std::string UpperCase(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

std::string LowerCase(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

bool SameText(const std::string& a, const std::string& b) {
  // Letter by letter: callers compare in loops over names, where copies would add up.
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

bool IsValidIdent(const std::string& s) {
  const auto start = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
  };
  if (s.empty() || !start(s[0])) return false;
  return std::all_of(s.begin() + 1, s.end(),
                     [&](char c) { return start(c) || (c >= '0' && c <= '9'); });
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (n < 0) {
    va_end(again);
    throw EConvertError(std::string("Format '") + format +
                        "' invalid or incompatible with argument");
  }
  std::vector<char> buf(static_cast<size_t>(n) + 1);
  std::vsnprintf(buf.data(), buf.size(), format, again);
  va_end(again);
  return std::string(buf.data(), static_cast<size_t>(n));
}

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

TDateTime EncodeDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    throw EConvertError("Invalid argument to date encode");
  return static_cast<TDateTime>(DaysFromCivil(year, month, day) - kDateDelta);
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 || msec > 999)
    throw EConvertError("Invalid argument to time encode");
  return static_cast<TDateTime>(((hour * 60 + min) * 60 + sec) * 1000 + msec) /
         static_cast<TDateTime>(kMSecsPerDay);
}

void DecodeDate(TDateTime date, std::uint16_t& year, std::uint16_t& month, std::uint16_t& day) {
  year = month = day = 0;
  // Outside 0001-01-01 .. 9999-12-31 (and NaN) there is no date to answer.
  const double first = -static_cast<double>(kDateDelta) + 1;
  const double last = static_cast<double>(DaysFromCivil(9999, 12, 31) - kDateDelta) + 1;
  if (!(date >= first && date < last)) return;
  // The whole part is the day, before 1899-12-30 too, where the size of the fraction is the
  // time of day (-1.25 is 1899-12-29 06:00), as DecodeTime reads it.
  std::int64_t t =
      static_cast<std::int64_t>(std::trunc(date)) + kDateDelta - 1;  // days since 1/1/1
  // 400-, 100-, 4- and 1-year cycles, as the Gregorian calendar repeats.
  std::int64_t y = 1;
  y += (t / 146097) * 400;
  t %= 146097;
  std::int64_t c = t / 36524;
  if (c == 4) c = 3;
  y += c * 100;
  t -= c * 36524;
  y += (t / 1461) * 4;
  t %= 1461;
  std::int64_t one = t / 365;
  if (one == 4) one = 3;
  y += one;
  t -= one * 365;
  int yr = static_cast<int>(y);
  int m = 1;
  const bool leap = IsLeapYear(yr);
  while (m < 12 && t >= kDaysBeforeMonth[leap][m + 1]) ++m;
  year = static_cast<std::uint16_t>(yr);
  month = static_cast<std::uint16_t>(m);
  day = static_cast<std::uint16_t>(t - kDaysBeforeMonth[leap][m] + 1);
}

void DecodeTime(TDateTime time, std::uint16_t& hour, std::uint16_t& min, std::uint16_t& sec,
                std::uint16_t& msec) {
  hour = min = sec = msec = 0;
  if (!std::isfinite(time)) return;
  double frac = std::fabs(time - std::trunc(time));
  std::int64_t ms = std::llround(frac * static_cast<double>(kMSecsPerDay));
  if (ms >= kMSecsPerDay) ms = kMSecsPerDay - 1;
  hour = static_cast<std::uint16_t>(ms / 3600000);
  min = static_cast<std::uint16_t>(ms / 60000 % 60);
  sec = static_cast<std::uint16_t>(ms / 1000 % 60);
  msec = static_cast<std::uint16_t>(ms % 1000);
}

int DayOfWeek(TDateTime date) {
  // Beyond 2^53 days a double no longer tells the days apart, and NaN, the infinities and
  // values past 64 bits cannot become a day count at all.
  if (!(std::fabs(date) <= 9007199254740992.0)) return 0;
  std::int64_t days = static_cast<std::int64_t>(std::trunc(date)) + kDateDelta;
  return static_cast<int>(((days % 7) + 7) % 7) + 1;
}

TDateTime Now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm local{};
  localtime_r(&ts.tv_sec, &local);
  return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
         EncodeTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec,
                    static_cast<int>(ts.tv_nsec / 1000000));
}
