#include "HttpProt/HttpDate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "PythonPeer.h"

namespace {

// Days from 1899-12-30 to 1970-01-01.
constexpr double kUnixEpoch = 25569.0;

// Before 1899-12-30 a date-time counts its days backwards and its time of day forwards.
TDateTime Combine(TDateTime date, TDateTime time) {
  return date < 0 ? date - time : date + time;
}

TDateTime At(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
  return Combine(EncodeDate(y, mo, d), EncodeTime(h, mi, s, ms));
}

TDateTime FromUnixTime(std::int64_t t) {
  const std::int64_t secs = ((t % 86400) + 86400) % 86400;
  const std::int64_t days = (t - secs) / 86400;
  return Combine(kUnixEpoch + static_cast<double>(days), static_cast<double>(secs) / 86400.0);
}

TEST(RFC1123DateTest, FormatsWithoutZone) {
  EXPECT_EQ(RFC1123_Date(At(1994, 11, 6, 8, 49, 37)), "Sun, 06 Nov 1994 08:49:37");
  EXPECT_EQ(RFC1123_Date(At(2000, 2, 29, 23, 59, 59)), "Tue, 29 Feb 2000 23:59:59");
  EXPECT_EQ(RFC1123_Date(At(1900, 1, 1, 0, 0, 0)), "Mon, 01 Jan 1900 00:00:00");
  EXPECT_EQ(RFC1123_Date(At(2038, 1, 19, 3, 14, 8)), "Tue, 19 Jan 2038 03:14:08");
  // Short fields are zero-padded, years to four digits.
  EXPECT_EQ(RFC1123_Date(At(5, 7, 3, 4, 5, 6)), "Sun, 03 Jul 0005 04:05:06");
  EXPECT_EQ(RFC1123_Date(At(9999, 12, 31, 23, 59, 59)), "Fri, 31 Dec 9999 23:59:59");
}

TEST(RFC1123DateTest, MillisecondsAreDroppedNotRounded) {
  EXPECT_EQ(RFC1123_Date(At(1994, 11, 6, 8, 49, 37, 999)), "Sun, 06 Nov 1994 08:49:37");
  EXPECT_EQ(RFC1123_Date(At(1999, 12, 31, 23, 59, 59, 999)), "Fri, 31 Dec 1999 23:59:59");
}

// Before 1900-01-01 the weekday is the true one of the proleptic Gregorian calendar.
TEST(RFC1123DateTest, WeekdaysBefore1900) {
  EXPECT_EQ(RFC1123_Date(0.0), "Sat, 30 Dec 1899 00:00:00");
  EXPECT_EQ(RFC1123_Date(1.5), "Sun, 31 Dec 1899 12:00:00");
  // A negative value counts its days backwards and its time of day forwards.
  EXPECT_EQ(RFC1123_Date(-1.25), "Fri, 29 Dec 1899 06:00:00");
  EXPECT_EQ(RFC1123_Date(-0.5), "Sat, 30 Dec 1899 12:00:00");
  EXPECT_EQ(RFC1123_Date(At(1582, 10, 15, 0, 0, 0)), "Fri, 15 Oct 1582 00:00:00");
  EXPECT_EQ(RFC1123_Date(At(1, 1, 1, 0, 0, 0)), "Mon, 01 Jan 0001 00:00:00");
  EXPECT_EQ(RFC1123_Date(At(1776, 7, 4, 12, 0, 0)), "Thu, 04 Jul 1776 12:00:00");
}

TEST(RFC1123DateTest, NoDateGivesEmptyText) {
  EXPECT_EQ(RFC1123_Date(std::numeric_limits<double>::quiet_NaN()), "");
  EXPECT_EQ(RFC1123_Date(std::numeric_limits<double>::infinity()), "");
  EXPECT_EQ(RFC1123_Date(-std::numeric_limits<double>::infinity()), "");
  EXPECT_EQ(RFC1123_Date(1e300), "");
  EXPECT_EQ(RFC1123_Date(3e6), "");
  EXPECT_EQ(RFC1123_Date(-7e5), "");
  // The first and last days of the calendar and their outer neighbours.
  EXPECT_EQ(RFC1123_Date(2958465.5), "Fri, 31 Dec 9999 12:00:00");
  EXPECT_EQ(RFC1123_Date(2958466.0), "");
  EXPECT_EQ(RFC1123_Date(-693593.0), "Mon, 01 Jan 0001 00:00:00");
  EXPECT_EQ(RFC1123_Date(-693594.0), "");
}

// Whole seconds from 1900 to 2100, and a stretch before 1900, against Python's mail date
// formatter in GMT.
TEST(RFC1123DateTest, AgreesWithPython) {
  std::mt19937_64 rng(1994);
  const std::int64_t from1900 = -2208988800, to2100 = 4102444800, from1600 = -11676096000;
  std::vector<std::int64_t> times = {from1900, to2100 - 1, 0, 784111777};
  for (int i = 0; i < 2000; ++i)
    times.push_back(from1900 + static_cast<std::int64_t>(rng() % (to2100 - from1900)));
  for (int i = 0; i < 300; ++i)
    times.push_back(from1600 + static_cast<std::int64_t>(rng() % (from1900 - from1600)));
  std::vector<std::string> lines;
  for (std::int64_t t : times) lines.push_back(std::to_string(t));
  const std::vector<std::string> expected = RunPython(
      "import sys, email.utils\n"
      "for line in sys.stdin:\n"
      "    print(email.utils.formatdate(int(line), usegmt=True))\n",
      lines);
  ASSERT_EQ(expected.size(), times.size());
  for (size_t i = 0; i < times.size(); ++i) {
    ASSERT_EQ(RFC1123_Date(FromUnixTime(times[i])) + " GMT", expected[i])
        << "unix time " << times[i];
  }
}

}  // namespace
