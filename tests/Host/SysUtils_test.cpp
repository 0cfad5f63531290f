#include "Host/SysUtils.h"

#include <gtest/gtest.h>

#include <limits>

TEST(StrToInt, ReadsDecimalHexSignAndLeadingBlanks) {
  EXPECT_EQ(StrToInt("123"), 123);
  EXPECT_EQ(StrToInt("   -42"), -42);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("007"), 7);
  EXPECT_EQ(StrToInt("$FF"), 255);
  EXPECT_EQ(StrToInt("$ff"), 255);
  EXPECT_EQ(StrToInt("-$10"), -16);
  EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
}

TEST(StrToInt, RefusesAnythingElseQuotingTheText) {
  for (const char* bad : {"", " ", "12 ", "abc", "1.5", "2147483648", "-2147483649", "$",
                          "$100000000", "+", "- 1", "1e3", "99999999999999999999"}) {
    try {
      StrToInt(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), std::string("'") + bad + "' is not a valid integer value");
    }
  }
  EXPECT_EQ(StrToIntDef("beta", -3), -3);
  EXPECT_EQ(StrToIntDef(" 9", -3), 9);
}

TEST(Conversions, TrimCaseAndFormat) {
  EXPECT_EQ(Trim("\t a b \r\n"), "a b");
  EXPECT_EQ(TrimLeft("  x "), "x ");
  EXPECT_EQ(TrimRight("  x \x01"), "  x");
  EXPECT_EQ(Trim(std::string("\0a\0", 3)), "a");
  EXPECT_EQ(UpperCase("abc\xe9Z1"), "ABC\xe9Z1");
  EXPECT_EQ(LowerCase("ABC\xc9z1"), "abc\xc9z1");
  EXPECT_EQ(IntToStr(-9000000000LL), "-9000000000");
  EXPECT_EQ(Format("%s-%03d", "a", 5), "a-005");
  std::string big(5000, 'x');
  EXPECT_EQ(Format("<%s>", big.c_str()), "<" + big + ">");
}

TEST(Conversions, SameTextFoldsOnlyAsciiLettersAndIdentsAreStrict) {
  EXPECT_TRUE(SameText("ClWindowTEXT", "clWindowText"));
  EXPECT_FALSE(SameText("abc", "abcd"));
  EXPECT_FALSE(SameText("\xe9", "\xc9"));  // bytes beyond ASCII compare as they are
  EXPECT_FALSE(SameText("a[", "A{"));      // neighbours of the letters are not folded
  EXPECT_TRUE(SameText("", ""));
  EXPECT_TRUE(IsValidIdent("_Orv1"));
  EXPECT_FALSE(IsValidIdent(""));
  EXPECT_FALSE(IsValidIdent("1abc"));
  EXPECT_FALSE(IsValidIdent("a.b"));
  EXPECT_FALSE(IsValidIdent("a b"));
}

TEST(Dates, EncodeCountsDaysFrom18991230) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
  EXPECT_EQ(EncodeDate(1998, 3, 5), 35859.0);
  EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
  EXPECT_EQ(EncodeDate(2000, 2, 29), 36585.0);
}

TEST(Dates, InvalidDatesRaise) {
  const int bad[][3] = {{1999, 2, 29}, {1900, 2, 29}, {2000, 2, 30}, {2000, 4, 31}, {2000, 0, 1},
                        {2000, 13, 1}, {2000, 1, 0},  {0, 1, 1},     {10000, 1, 1}, {2000, 1, -1}};
  for (const auto& d : bad)
    EXPECT_THROW(EncodeDate(d[0], d[1], d[2]), EConvertError) << d[0] << "-" << d[1] << "-" << d[2];
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 60, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 0, 1000), EConvertError);
}

TEST(Dates, DecodeRoundTripsEveryDayOfFourCenturies) {
  int checked = 0;
  for (int y = 1700; y <= 2100; ++y)
    for (int m = 1; m <= 12; ++m)
      for (int d = 1; d <= 31; ++d) {
        TDateTime t;
        try {
          t = EncodeDate(y, m, d);
        } catch (const EConvertError&) {
          continue;
        }
        std::uint16_t yy, mm, dd;
        // The time of day changes nothing; before day 0 it counts away from zero.
        DecodeDate(t < 0 ? t - 0.75 : t + 0.75, yy, mm, dd);
        ASSERT_EQ(yy, y);
        ASSERT_EQ(mm, m);
        ASSERT_EQ(dd, d);
        ++checked;
      }
  EXPECT_EQ(checked, 146462);
  // Consecutive days, including across year ends.
  EXPECT_EQ(EncodeDate(2000, 1, 1) - EncodeDate(1999, 12, 31), 1.0);
}

TEST(Dates, DecodeOutsideTheCalendarGivesZeros) {
  std::uint16_t y = 1, m = 1, d = 1;
  DecodeDate(-700000.0, y, m, d);
  EXPECT_EQ(y + m + d, 0);
  DecodeDate(1e12, y, m, d);
  EXPECT_EQ(y + m + d, 0);
  DecodeDate(EncodeDate(9999, 12, 31), y, m, d);
  EXPECT_EQ(y, 9999);
  EXPECT_EQ(d, 31);
}

TEST(Dates, TimeOfDayAndWeekday) {
  TDateTime t = EncodeDate(2001, 7, 4) + EncodeTime(13, 45, 30, 250);
  std::uint16_t h, mi, s, ms;
  DecodeTime(t, h, mi, s, ms);
  EXPECT_EQ(h, 13);
  EXPECT_EQ(mi, 45);
  EXPECT_EQ(s, 30);
  EXPECT_EQ(ms, 250);
  // Before 1899-12-30 the fraction still counts forward from midnight.
  DecodeTime(-1.25, h, mi, s, ms);
  EXPECT_EQ(h, 6);
  std::uint16_t y, mo, d;
  DecodeDate(-1.25, y, mo, d);  // and the day is the whole part
  EXPECT_EQ(d, 29);
  EXPECT_EQ(DayOfWeek(-1.25), 6);                     // Friday 1899-12-29
  EXPECT_EQ(DayOfWeek(0), 7);                         // a Saturday
  EXPECT_EQ(DayOfWeek(EncodeDate(2024, 1, 1)), 2);    // a Monday
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 24)), 1);  // a Sunday, before day 0
  EXPECT_EQ(DayOfWeek(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(DayOfWeek(-std::numeric_limits<double>::infinity()), 0);
  EXPECT_EQ(DayOfWeek(1e300), 0);
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_GT(Now(), EncodeDate(2020, 1, 1));
}
