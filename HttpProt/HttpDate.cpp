#include "HttpProt/HttpDate.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

constexpr char kDays[] = "MonTueWedThuFriSatSun";
constexpr char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
constexpr std::int64_t kMSecsPerDay = 86400000;
// 9999-12-31 as a day number.
constexpr std::int64_t kLastDay = 2958465;

}  // namespace

std::string RFC1123_Date(TDateTime D) {
  // The whole value goes to milliseconds first, so that a time a hair below midnight that
  // rounds up lands on the next day for the date, the weekday and the clock alike. A
  // negative value counts its days backwards but its time of day forwards, hence the
  // magnitude.
  const double mag = std::fabs(D);
  if (!(mag <= static_cast<double>(kLastDay + 1))) return std::string();
  const std::int64_t total = std::llround(mag * static_cast<double>(kMSecsPerDay));
  std::int64_t day = total / kMSecsPerDay;
  const std::int64_t msOfDay = total % kMSecsPerDay;
  if (D < 0) day = -day;

  // A day outside the years 1 to 9999 decodes to zeros.
  std::uint16_t year = 0, month = 0, dayOfMonth = 0;
  DecodeDate(static_cast<TDateTime>(day), year, month, dayOfMonth);
  if (month < 1 || month > 12) return std::string();

  // Day 2 (1900-01-01) is a Monday; a floored remainder keeps earlier days right too.
  const int w = static_cast<int>(((day - 2) % 7 + 7) % 7);
  const int secs = static_cast<int>(msOfDay / 1000);

  char buf[64];
  const int n = std::snprintf(buf, sizeof buf, "%.3s, %2.2d %.3s %4.4d %2.2d:%2.2d:%2.2d",
                              kDays + 3 * w, dayOfMonth, kMonths + 3 * (month - 1), year,
                              secs / 3600, secs / 60 % 60, secs % 60);
  return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}
