#include <gtest/gtest.h>

#include "Orvane/Orvane.h"

namespace {

bool Newer(TOrvVersionFormat format, const std::string& current, const std::string& offered) {
  TOrvane o(nullptr);
  o.SetVersionFormat(format);
  o.SetCurrentVersion(current);
  // The offered version normally comes from the page.
  struct TSetter : TOrvane {
    static void Set(TOrvane& t, const std::string& v) {
      static_cast<TSetter&>(t).FProductVersion = v;
    }
  };
  TSetter::Set(o, offered);
  return o.IsUpdateAvailable();
}

TDateTime Date(const std::string& text, TOrvDateFormat format = orvdZelDate) {
  TOrvane o(nullptr);
  o.SetDateFormat(format);
  return o.ConvertProductDate(text);
}

}  // namespace

TEST(VersionCompare, BuildNumbersCompareComponentByComponent) {
  const struct {
    const char* Current;
    const char* Offered;
    bool Newer;
  } cases[] = {
      {"1.2.0.7", "1.2.0.10", true},
      {"1.10", "1.9", false},
      {"2.0", "1.99", false},
      {"1.02", "1.2", false},
      {"", "", false},
      {"", "1.0", true},
      {"1.0", "", false},
      {"1.0.0.9", "1.0.1.0", true},
      {"1.0.beta", "1.0.1", true},
      {"1.2.3", "1.3", true},
      {"1.3", "1.2.9", false},
      {" 1.2", "1.3", true},
      {"1.$A", "1.11", true},
      {"1.-1", "1.0", true},
      {"1.2 ", "1.1", true},
      // Parts of any length compare exactly, as numbers: no wrap, no overflow to 0.
      {"1.99999999999", "1.1", false},
      {"1.20240101120", "1.20250101120", true},
      {"1.20250101120", "1.20240101120", false},
      {"1.4294967297", "1.1", false},  // 2^32 + 1 must not wrap to 1
      {"1.2147483648", "1.2147483647", false},
      {"1.000000000000000000000000007", "1.7", false},  // leading zeros do not count
      {"1.-99999999999999999999", "1.0", true},
      {"2.0", "1.99999999999999999999999999999999999999", false},
      {"1.$FFFFFFFF", "1.0", true},  // hexadecimal keeps its 32 bits: -1
      // Fewer components count the missing ones as 0.
      {"1.2", "1.2.1", true},
      {"1.2.1", "1.2", false},
      {"1.2", "1.2.0", false},
      {"1.2.0", "1.2", false},
      {"1.2", "1.2.0.0.1", true},
      {"1.", "1.5", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Newer(orvvBuildNumber, c.Current, c.Offered), c.Newer)
        << c.Current << " against " << c.Offered;
  // A current version of ten thousand nines is offered no downgrade to 2.0, and one more
  // digit is newer.
  const std::string nines(10000, '9');
  EXPECT_FALSE(Newer(orvvBuildNumber, nines, "2.0"));
  EXPECT_TRUE(Newer(orvvBuildNumber, nines, "1" + std::string(10000, '0')));
  EXPECT_FALSE(Newer(orvvBuildNumber, "1." + nines, "1." + nines));
}

TEST(VersionCompare, SimpleStringsCompareByteWise) {
  EXPECT_TRUE(Newer(orvvSimpleString, "1.0", "1.0a"));
  EXPECT_FALSE(Newer(orvvSimpleString, "1.0a", "1.0"));
  EXPECT_TRUE(Newer(orvvSimpleString, "B", "a"));
  EXPECT_FALSE(Newer(orvvSimpleString, "1.9", "1.10"));
  EXPECT_FALSE(Newer(orvvSimpleString, "x", "x"));
  EXPECT_TRUE(Newer(orvvSimpleString, "z", "\xe9"));  // bytes count as unsigned
  EXPECT_FALSE(Newer(static_cast<TOrvVersionFormat>(7), "1", "2"));
}

TEST(ProductDate, MonthNameDayCommaYear) {
  EXPECT_EQ(Date("jan 01, 1999"), EncodeDate(1999, 1, 1));
  EXPECT_EQ(Date("Mar 5, 1998"), EncodeDate(1998, 3, 5));
  EXPECT_EQ(Date("December 25, 1998"), EncodeDate(1998, 12, 25));
  EXPECT_EQ(Date("UGS 01, 1999"), EncodeDate(1999, 8, 1));  // within AUG's slot
  EXPECT_EQ(Date("Feb 29, 2000"), EncodeDate(2000, 2, 29));
  EXPECT_EQ(Date("anything at all", orvdNone), 0.0);
  EXPECT_EQ(Date("", orvdNone), 0.0);
}

TEST(ProductDate, TextsThatAreNoDateRaise) {
  for (const char* bad : {"Feb 29, 1999", "Xyz 01, 1999", "Apr 31, 2000", "Mar 5, 98",
                          "Mar 05 1998", "Mar xx, 1998", "", "Mar 5, 19 8", "1999"})
    EXPECT_THROW(Date(bad), EConvertError) << bad;
}
